#include "info/VersionResource.h"

#include "info/VersionResourceBuilder.h"
#include "platform/Paths.h"

#include <QByteArray>
#include <QList>
#include <QtEndian>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace info {

namespace {

// A section header table or name table beyond this is no executable of ours: refused rather
// than read into memory.
constexpr std::uint64_t kMaxTableBytes = 16u << 20;
// A VS_VERSIONINFO holds at most 65535 bytes; a larger section is not ours either.
constexpr std::uint64_t kMaxSectionBytes = 1u << 20;

constexpr std::uint32_t kShtNobits = 8;
constexpr std::uint16_t kShnXindex = 0xFFFF;

class FileDescriptor
{
public:
    explicit FileDescriptor(int fd)
        : m_fd(fd)
    {
    }
    ~FileDescriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

bool readExactly(int fd, void *buffer, std::uint64_t length, std::uint64_t offset)
{
    auto *out = static_cast<char *>(buffer);
    while (length > 0) {
        const ssize_t n = ::pread(fd, out, size_t(length), off_t(offset));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        out += n;
        length -= std::uint64_t(n);
        offset += std::uint64_t(n);
    }
    return true;
}

// begin + length fits inside [0, total).
bool fits(std::uint64_t begin, std::uint64_t length, std::uint64_t total)
{
    return begin <= total && length <= total - begin;
}

struct ElfLayout
{
    bool is64 = false;
    bool bigEndian = false;

    std::uint64_t u16(const uchar *p) const
    {
        return bigEndian ? qFromBigEndian<quint16>(p) : qFromLittleEndian<quint16>(p);
    }
    std::uint64_t u32(const uchar *p) const
    {
        return bigEndian ? qFromBigEndian<quint32>(p) : qFromLittleEndian<quint32>(p);
    }
    std::uint64_t u64(const uchar *p) const
    {
        return bigEndian ? qFromBigEndian<quint64>(p) : qFromLittleEndian<quint64>(p);
    }
    std::uint64_t word(const uchar *p) const { return is64 ? u64(p) : u32(p); }
    std::uint64_t headerSize() const { return is64 ? 64 : 52; }
    std::uint64_t sectionHeaderSize() const { return is64 ? 64 : 40; }
};

struct SectionHeader
{
    std::uint64_t name = 0;
    std::uint64_t type = 0;
    std::uint64_t offset = 0;
    std::uint64_t size = 0;
    std::uint64_t link = 0;
};

SectionHeader parseSectionHeader(const ElfLayout &elf, const uchar *p)
{
    SectionHeader h;
    h.name = elf.u32(p);
    h.type = elf.u32(p + 4);
    h.offset = elf.word(p + (elf.is64 ? 24 : 16));
    h.size = elf.word(p + (elf.is64 ? 32 : 20));
    h.link = elf.u32(p + (elf.is64 ? 40 : 24));
    return h;
}

// The content of the section named kSectionName. Returns 0 or an errno value.
int readVersionSection(const QString &fileName, QByteArray &content)
{
    if (fileName.isEmpty())
        return ENOENT;
    // O_NONBLOCK: a FIFO under that name must not hang the caller; regular files ignore it.
    const FileDescriptor fd(::open(
        platform::encodePath(fileName).constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (fd.get() < 0)
        return errno;
    struct stat st
    {
    };
    if (::fstat(fd.get(), &st) != 0)
        return errno;
    if (S_ISDIR(st.st_mode))
        return EISDIR;
    if (!S_ISREG(st.st_mode) || st.st_size < 0)
        return ENODATA;
    const auto fileSize = std::uint64_t(st.st_size);

    uchar header[64] = {};
    if (fileSize < 52 || !readExactly(fd.get(), header, std::min<std::uint64_t>(64, fileSize), 0))
        return ENODATA;
    if (std::memcmp(header,
            "\x7f"
            "ELF",
            4)
        != 0)
        return ENODATA;
    ElfLayout elf;
    if (header[4] != 1 && header[4] != 2)
        return ENODATA;
    if (header[5] != 1 && header[5] != 2)
        return ENODATA;
    elf.is64 = header[4] == 2;
    elf.bigEndian = header[5] == 2;
    if (fileSize < elf.headerSize())
        return ENODATA;

    const std::uint64_t shoff = elf.word(header + (elf.is64 ? 40 : 32));
    const std::uint64_t shentsize = elf.u16(header + (elf.is64 ? 58 : 46));
    std::uint64_t shnum = elf.u16(header + (elf.is64 ? 60 : 48));
    std::uint64_t shstrndx = elf.u16(header + (elf.is64 ? 62 : 50));
    if (shoff == 0 || shentsize < elf.sectionHeaderSize())
        return ENODATA;

    // Extended numbering: section 0 holds the real count and name-table index.
    if (shnum == 0 || shstrndx == kShnXindex) {
        QByteArray first(qsizetype(elf.sectionHeaderSize()), Qt::Uninitialized);
        if (!fits(shoff, elf.sectionHeaderSize(), fileSize)
            || !readExactly(fd.get(), first.data(), elf.sectionHeaderSize(), shoff))
            return ENODATA;
        const SectionHeader zero
            = parseSectionHeader(elf, reinterpret_cast<const uchar *>(first.constData()));
        if (shnum == 0)
            shnum = zero.size;
        if (shstrndx == kShnXindex)
            shstrndx = zero.link;
    }
    if (shnum == 0 || shstrndx >= shnum || shnum > kMaxTableBytes / shentsize)
        return ENODATA;
    const std::uint64_t tableBytes = shnum * shentsize;
    if (!fits(shoff, tableBytes, fileSize))
        return ENODATA;
    QByteArray table(qsizetype(tableBytes), Qt::Uninitialized);
    if (!readExactly(fd.get(), table.data(), tableBytes, shoff))
        return ENODATA;
    auto sectionAt = [&](std::uint64_t index) {
        return parseSectionHeader(
            elf, reinterpret_cast<const uchar *>(table.constData()) + index * shentsize);
    };

    const SectionHeader names = sectionAt(shstrndx);
    if (names.type == kShtNobits || names.size > kMaxTableBytes
        || !fits(names.offset, names.size, fileSize))
        return ENODATA;
    QByteArray nameTable(qsizetype(names.size), Qt::Uninitialized);
    if (!readExactly(fd.get(), nameTable.data(), names.size, names.offset))
        return ENODATA;

    const std::uint64_t wantedLength = sizeof verres::kSectionName; // its NUL included
    for (std::uint64_t i = 0; i < shnum; ++i) {
        const SectionHeader section = sectionAt(i);
        if (!fits(section.name, wantedLength, names.size)
            || std::memcmp(nameTable.constData() + section.name, verres::kSectionName, wantedLength)
                != 0)
            continue;
        if (section.type == kShtNobits || section.size > kMaxSectionBytes
            || !fits(section.offset, section.size, fileSize))
            return ENODATA;
        content.resize(qsizetype(section.size));
        if (!readExactly(fd.get(), content.data(), section.size, section.offset))
            return ENODATA;
        return 0;
    }
    return ENODATA;
}

std::uint16_t le16(QByteArrayView bytes, qsizetype at)
{
    return qFromLittleEndian<quint16>(bytes.data() + at);
}

qsizetype alignTo32Bits(qsizetype offset)
{
    return (offset + 3) & ~qsizetype(3);
}

// One node of the tree: header, NUL-terminated UTF-16 key, value, children.
struct Node
{
    qsizetype end = 0;
    QString key;
    qsizetype valueStart = 0;
    qsizetype valueSize = 0;
    qsizetype childrenStart = 0;
};

// Parses the node at start, which must lie wholly before limit.
bool parseNode(QByteArrayView block, qsizetype start, qsizetype limit, Node &node)
{
    if (start < 0 || start > limit - 6)
        return false;
    const qsizetype length = le16(block, start);
    const qsizetype valueLength = le16(block, start + 2);
    const std::uint16_t type = le16(block, start + 4);
    if (length < 6 || length > limit - start)
        return false;
    node.end = start + length;

    node.key.clear();
    qsizetype at = start + 6;
    for (;;) {
        if (at > node.end - 2)
            return false; // no terminating NUL inside the node
        const char16_t c = le16(block, at);
        at += 2;
        if (c == 0)
            break;
        node.key.append(QChar(c));
    }
    node.valueSize = type == 1 ? valueLength * 2 : valueLength;
    node.valueStart = std::min(alignTo32Bits(at), node.end);
    if (node.valueSize > node.end - node.valueStart)
        return false;
    node.childrenStart = alignTo32Bits(node.valueStart + node.valueSize);
    return true;
}

bool parseRoot(QByteArrayView block, Node &root)
{
    if (block.size() < 6)
        return false;
    return parseNode(block, 0, std::min<qsizetype>(block.size(), le16(block, 0)), root);
}

// The root node of a section: a VS_VERSION_INFO node that fits inside it. Returns its length.
std::uint32_t validResourceLength(const QByteArray &section)
{
    Node root;
    if (!parseRoot(section, root) || root.end != le16(section, 0)
        || root.key.compare(u"VS_VERSION_INFO", Qt::CaseInsensitive) != 0)
        return 0;
    return std::uint32_t(root.end);
}

} // namespace

std::uint32_t getFileVersionInfoSize(const QString &fileName, std::uint32_t *handle)
{
    if (handle)
        *handle = 0;
    QByteArray section;
    if (const int error = readVersionSection(fileName, section)) {
        errno = error;
        return 0;
    }
    const std::uint32_t length = validResourceLength(section);
    if (length == 0)
        errno = ENODATA;
    return length;
}

bool getFileVersionInfo(
    const QString &fileName, std::uint32_t /*handle*/, std::uint32_t length, void *data)
{
    if (!data || length == 0) {
        errno = EINVAL;
        return false;
    }
    QByteArray section;
    if (const int error = readVersionSection(fileName, section)) {
        errno = error;
        return false;
    }
    const std::uint32_t resourceLength = validResourceLength(section);
    if (resourceLength == 0) {
        errno = ENODATA;
        return false;
    }
    std::memcpy(data, section.constData(), std::min(length, resourceLength));
    return true;
}

bool verQueryValue(QByteArrayView block, QStringView subBlock, QByteArrayView *value)
{
    if (value)
        *value = {};
    if (!value || !subBlock.startsWith(u'\\'))
        return false;
    Node node;
    if (!parseRoot(block, node))
        return false;

    QList<QStringView> names = subBlock.mid(1).split(u'\\');
    if (!names.isEmpty() && names.constLast().isEmpty())
        names.removeLast(); // "\" and "\StringFileInfo\" name the block itself
    if (names.isEmpty()) {
        if (node.valueSize == 0)
            return false; // no fixed part
        *value = block.sliced(node.valueStart, node.valueSize);
        return true;
    }
    for (const QStringView name : names) {
        if (name.isEmpty())
            return false;
        bool found = false;
        qsizetype at = node.childrenStart;
        Node child;
        while (at < node.end && parseNode(block, at, node.end, child)) {
            if (child.key.compare(name, Qt::CaseInsensitive) == 0) {
                found = true;
                break;
            }
            at = alignTo32Bits(child.end);
        }
        if (!found)
            return false;
        node = child;
    }
    *value = block.sliced(node.valueStart, node.valueSize);
    return true;
}

} // namespace info
