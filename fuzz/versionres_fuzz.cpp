// The version-resource walker. The input is the content of the ".qs_version" section: it is
// walked as a resource block, and also put into a small ELF file of its own and read from
// there by the file functions and by TVersionInfoReader. An input that is itself an ELF file
// is read as one too. Besides finishing without fault, every value found lies inside the
// block, names compare without regard to case, and the file functions hand out exactly the
// section's leading bytes.
#include "FuzzSupport.h"

#include "info/VersionInfoReader.h"
#include "info/VersionResource.h"

#include <QtEndian>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

const std::array<QString, 8> kPaths = {
    QStringLiteral("\\"),
    QStringLiteral("\\VarFileInfo\\Translation"),
    QStringLiteral("\\StringFileInfo"),
    QStringLiteral("\\StringFileInfo\\040904E4\\ProductName"),
    QStringLiteral("\\StringFileInfo\\040C04E4\\FileVersion\\"),
    QStringLiteral("\\VarFileInfo\\\\Translation"),
    QStringLiteral("\\\\"),
    QStringLiteral("StringFileInfo"),
};

void checkBlock(QByteArrayView block)
{
    for (const QString &path : kPaths) {
        QByteArrayView value("x", 1);
        const bool found = info::verQueryValue(block, path, &value);
        if (!found) {
            FUZZ_CHECK(value.isEmpty());
        } else {
            FUZZ_CHECK(value.data() >= block.data());
            FUZZ_CHECK(value.data() + value.size() <= block.data() + block.size());
        }
        QByteArrayView lower;
        FUZZ_CHECK(info::verQueryValue(block, path.toLower(), &lower) == found);
        FUZZ_CHECK(lower.data() == value.data() && lower.size() == value.size());
    }
    FUZZ_CHECK(!info::verQueryValue(block, kPaths[0], nullptr));
}

template<typename T> void put(QByteArray &bytes, qsizetype at, T value)
{
    qToLittleEndian(value, bytes.data() + at);
}

// A 64-bit little-endian ELF file: header, section names, the section, section headers.
QByteArray elfWithSection(QByteArrayView section)
{
    const QByteArray names("\0.shstrtab\0.qs_version\0", 23);
    const qsizetype namesAt = 64;
    const qsizetype sectionAt = namesAt + names.size();
    const qsizetype headersAt = (sectionAt + section.size() + 7) & ~qsizetype(7);
    QByteArray elf(headersAt + 3 * 64, '\0');
    std::memcpy(elf.data(),
        "\x7f"
        "ELF\x02\x01\x01",
        7);
    put<quint16>(elf, 16, 2); // ET_EXEC
    put<quint16>(elf, 18, 62); // x86-64
    put<quint32>(elf, 20, 1);
    put<quint64>(elf, 40, quint64(headersAt));
    put<quint16>(elf, 52, 64);
    put<quint16>(elf, 58, 64);
    put<quint16>(elf, 60, 3);
    put<quint16>(elf, 62, 1);
    std::memcpy(elf.data() + namesAt, names.constData(), size_t(names.size()));
    std::memcpy(elf.data() + sectionAt, section.data(), size_t(section.size()));
    const auto header = [&](int index, quint32 name, quint32 type, qsizetype at, qsizetype size) {
        const qsizetype h = headersAt + index * 64;
        put<quint32>(elf, h, name);
        put<quint32>(elf, h + 4, type);
        put<quint64>(elf, h + 24, quint64(at));
        put<quint64>(elf, h + 32, quint64(size));
        put<quint64>(elf, h + 48, 1);
    };
    header(1, 1, 3, namesAt, names.size()); // SHT_STRTAB
    header(2, 11, 1, sectionAt, section.size()); // SHT_PROGBITS
    return elf;
}

TVersionInfoReader &reader()
{
    static TVersionInfoReader instance;
    return instance;
}

// Reads the file with the file functions and the reader. Returns the resource's length.
std::uint32_t checkFile(const QString &path)
{
    std::uint32_t handle = 1;
    const std::uint32_t size = info::getFileVersionInfoSize(path, &handle);
    FUZZ_CHECK(handle == 0);
    FUZZ_CHECK(size <= 0xFFFF);
    QByteArray copy(qsizetype(size) + 8, '\x5A');
    if (size > 0) {
        FUZZ_CHECK(info::getFileVersionInfo(path, handle, size, copy.data()));
        // Never a byte past the length asked for.
        FUZZ_CHECK(copy.endsWith(QByteArray(8, '\x5A')));
        checkBlock(QByteArrayView(copy).first(size));
    } else {
        FUZZ_CHECK(!info::getFileVersionInfo(path, handle, 64, copy.data()));
    }

    TVersionInfoReader &r = reader();
    r.setFileName(path);
    FUZZ_CHECK(r.HaveInfo() == (size > 0));
    FUZZ_CHECK(r.NumTranslations() >= 0);
    FUZZ_CHECK(r.CurrentTranslation() >= -1 && r.CurrentTranslation() < r.NumTranslations());
    if (!r.HaveInfo())
        FUZZ_CHECK(r.CurrentTranslation() == -1 && r.FixedFileInfo() == info::VS_FIXEDFILEINFO());
    for (int i = -1; i <= 12; ++i) {
        const QString text = r.GetVersionInfoString(i);
        if (i < 0 || i == 12 || !r.HaveInfo())
            FUZZ_CHECK(text.isEmpty());
    }
    for (int i = -1; i <= 5; ++i) {
        if (i < 0 || i == 5 || !r.HaveInfo())
            FUZZ_CHECK(r.GetFixedFileInfoItem(i) == 0);
    }
    for (int t = -1; t <= std::min(r.NumTranslations(), 4); ++t) {
        r.setCurrentTranslation(t);
        const bool valid = r.HaveInfo() && t >= 0 && t < r.NumTranslations();
        FUZZ_CHECK(r.CurrentTranslation() == (valid ? t : -1));
        const QString key = r.TranslationKey();
        FUZZ_CHECK(key.isEmpty() || key.size() == 8);
        (void)r.Language();
        (void)r.CharSet();
        (void)r.ProductName();
        (void)r.GetStringFileInfo(QStringLiteral("ProductVersion"));
    }
    (void)r.FileVersionNumber().toString();
    return size;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    checkBlock(bytes);

    static const QString wrapped = fuzz::scratchFile(QStringLiteral("wrapped"));
    fuzz::writeFile(wrapped, elfWithSection(bytes));
    const std::uint32_t length = checkFile(wrapped);
    // A resource is the section's leading bytes, as long as its root node says.
    FUZZ_CHECK(length <= size);
    if (length > 0) {
        QByteArray copy(qsizetype(length), '\0');
        FUZZ_CHECK(info::getFileVersionInfo(wrapped, 0, length, copy.data()));
        FUZZ_CHECK(copy == bytes.first(length));
        FUZZ_CHECK(length == qFromLittleEndian<quint16>(data));
    }

    if (bytes.startsWith("\x7f"
                         "ELF")) {
        static const QString raw = fuzz::scratchFile(QStringLiteral("raw"));
        fuzz::writeFile(raw, bytes);
        checkFile(raw);
    }
    return 0;
}
