#include "platform/Paths.h"

#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

QString includeTrailingDelimiter(const QString &path)
{
    if (path.endsWith(u'/'))
        return path;
    return path + u'/';
}

QString trimText(const QString &text)
{
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text.at(first).unicode() <= 0x20)
        ++first;
    while (last > first && text.at(last - 1).unicode() <= 0x20)
        --last;
    return text.mid(first, last - first);
}

namespace {

// The current directory as text; errno when it cannot be had (removed, too deep).
int currentDirectory(QString &cwd)
{
    QByteArray buffer(PATH_MAX, Qt::Uninitialized);
    while (::getcwd(buffer.data(), size_t(buffer.size())) == nullptr) {
        if (errno != ERANGE)
            return errno;
        buffer.resize(buffer.size() * 2);
    }
    cwd = decodePath(QByteArray(buffer.constData()));
    return 0;
}

} // namespace

int fullPathName(const QString &path, QString &full)
{
    if (path.isEmpty())
        return ENOENT;
    if (path.contains(QChar(0)))
        return EINVAL;

    QString joined = path;
    if (!path.startsWith(u'/')) {
        QString cwd;
        if (const int error = currentDirectory(cwd))
            return error;
        joined = includeTrailingDelimiter(cwd) + path;
    }

    // "." and ".." as text only: a link is a name like any other here.
    QStringList names;
    for (const QString &name : joined.split(u'/', Qt::SkipEmptyParts)) {
        if (name == u".")
            continue;
        if (name == u"..") {
            if (!names.isEmpty())
                names.removeLast();
            continue;
        }
        names.append(name);
    }
    QString result = u'/' + names.join(u'/');
    if (path.endsWith(u'/') && !names.isEmpty())
        result += u'/';
    if (encodePath(result).size() >= PATH_MAX)
        return ENAMETOOLONG;
    full = result;
    return 0;
}

namespace {

// stat() of a path given as text; errno on failure.
int statPath(const QString &path, struct stat &st)
{
    if (path.isEmpty())
        return ENOENT;
    if (path.contains(QChar(0)))
        return EINVAL;
    if (::stat(encodePath(path).constData(), &st) != 0)
        return errno;
    return 0;
}

} // namespace

bool directoryExists(const QString &path)
{
    if (path.isEmpty())
        return false;
    struct stat st = {};
    switch (const int error = statPath(path, st)) {
    case 0:
        return S_ISDIR(st.st_mode);
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
    case ENOMEDIUM:
    case EINVAL: // a name the file system cannot take
        return false;
    default:
        // The folder may well be there, only we may not look (EACCES, EIO ...).
        Q_UNUSED(error);
        return true;
    }
}

bool fileExists(const QString &path)
{
    struct stat st = {};
    return statPath(path, st) == 0 && !S_ISDIR(st.st_mode);
}

bool forceDirectories(const QString &path)
{
    if (path.isEmpty())
        return false;
    if (directoryExists(path))
        return true;
    QString folder = path;
    while (folder.size() > 1 && folder.endsWith(u'/'))
        folder.chop(1);
    const qsizetype slash = folder.lastIndexOf(u'/');
    if (slash > 0 && !forceDirectories(folder.left(slash)))
        return false;
    if (::mkdir(encodePath(folder).constData(), 0777) != 0 && errno != EEXIST)
        return false;
    struct stat st = {};
    return statPath(folder, st) == 0 && S_ISDIR(st.st_mode);
}

QString extractFileName(const QString &path)
{
    return path.mid(path.lastIndexOf(u'/') + 1);
}

QString extractFilePath(const QString &path)
{
    return path.left(path.lastIndexOf(u'/') + 1);
}

QString changeFileExt(const QString &path, const QString &extension)
{
    const qsizetype dot = path.lastIndexOf(u'.');
    if (dot < 0 || dot < path.lastIndexOf(u'/'))
        return path + extension;
    return path.left(dot) + extension;
}

namespace {

constexpr char kRunningImage[] = "/proc/self/exe";

// Both names lead to the same file (device and inode).
bool sameFile(const char *a, const char *b)
{
    struct stat first = {};
    struct stat second = {};
    return ::stat(a, &first) == 0 && ::stat(b, &second) == 0 && first.st_dev == second.st_dev
        && first.st_ino == second.st_ino;
}

} // namespace

QString executablePath()
{
    QByteArray buffer(PATH_MAX, Qt::Uninitialized);
    const ssize_t length = ::readlink(kRunningImage, buffer.data(), size_t(buffer.size()));
    if (length <= 0 || length >= buffer.size())
        return {};
    buffer.truncate(length);
    // Once its file is replaced or removed, the kernel names the running program
    // "<path> (deleted)". The text is kept as it stands while it still names the running file,
    // so that a program really called "... (deleted)" keeps its name.
    static constexpr QByteArrayView deleted(" (deleted)");
    if (buffer.endsWith(deleted) && !sameFile(buffer.constData(), kRunningImage))
        buffer.chop(deleted.size());
    return decodePath(buffer);
}

QString runningExecutableImage()
{
    return QString::fromLatin1(kRunningImage);
}

// Names are decoded here, once, into texts that keep every byte: the layers above pass paths
// as texts and join, split and compare them as texts, and with a lossless mapping they keep
// doing so, where a path type carrying the bytes would change every one of them. A text that
// holds an undecodable byte shows it only through displayText. Each readdir name is decoded
// once per search: an ASCII name costs one scan and Qt's Latin-1 conversion, a text without
// surrogates one scan and Qt's UTF-8 encoder.
namespace {

constexpr char16_t kReplacement = 0xFFFD;

constexpr bool isSurrogate(char16_t unit)
{
    return (unit & 0xF800) == 0xD800;
}

bool holdsSurrogate(QStringView text)
{
    return std::any_of(
        text.cbegin(), text.cend(), [](QChar c) { return isSurrogate(c.unicode()); });
}

// The length of the well-formed UTF-8 sequence that starts the bytes (Unicode's table of
// well-formed sequences: no overlong form, no surrogate, nothing above U+10FFFF), or 0 when
// none does.
int wellFormedLength(const unsigned char *bytes, qsizetype left)
{
    const unsigned char lead = bytes[0];
    const auto follows = [bytes, left](qsizetype at, unsigned char low, unsigned char high) {
        return at < left && bytes[at] >= low && bytes[at] <= high;
    };
    if (lead >= 0xC2 && lead <= 0xDF)
        return follows(1, 0x80, 0xBF) ? 2 : 0;
    if (lead >= 0xE0 && lead <= 0xEF) {
        const unsigned char low = lead == 0xE0 ? 0xA0 : 0x80;
        const unsigned char high = lead == 0xED ? 0x9F : 0xBF;
        return follows(1, low, high) && follows(2, 0x80, 0xBF) ? 3 : 0;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        const unsigned char low = lead == 0xF0 ? 0x90 : 0x80;
        const unsigned char high = lead == 0xF4 ? 0x8F : 0xBF;
        return follows(1, low, high) && follows(2, 0x80, 0xBF) && follows(3, 0x80, 0xBF) ? 4 : 0;
    }
    return 0;
}

void appendUtf8(QByteArray &bytes, char32_t c)
{
    if (c < 0x80) {
        bytes.append(char(c));
    } else if (c < 0x800) {
        bytes.append(char(0xC0 | (c >> 6)));
        bytes.append(char(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        bytes.append(char(0xE0 | (c >> 12)));
        bytes.append(char(0x80 | ((c >> 6) & 0x3F)));
        bytes.append(char(0x80 | (c & 0x3F)));
    } else {
        bytes.append(char(0xF0 | (c >> 18)));
        bytes.append(char(0x80 | ((c >> 12) & 0x3F)));
        bytes.append(char(0x80 | ((c >> 6) & 0x3F)));
        bytes.append(char(0x80 | (c & 0x3F)));
    }
}

} // namespace

QByteArray encodePath(const QString &path)
{
    if (!holdsSurrogate(path))
        return path.toUtf8();
    QByteArray bytes;
    bytes.reserve(path.size() * 3);
    const qsizetype size = path.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t unit = path.at(i).unicode();
        if (!isSurrogate(unit)) {
            appendUtf8(bytes, unit);
        } else if (QChar::isHighSurrogate(unit) && i + 1 < size
            && QChar::isLowSurrogate(path.at(i + 1).unicode())) {
            appendUtf8(bytes, QChar::surrogateToUcs4(unit, path.at(i + 1).unicode()));
            ++i;
        } else if (isEscapedByte(unit)) {
            bytes.append(char(unit - 0xDC00));
        } else {
            appendUtf8(bytes, kReplacement);
        }
    }
    return bytes;
}

QString decodePath(QByteArrayView bytes)
{
    const auto *data = reinterpret_cast<const unsigned char *>(bytes.data());
    const qsizetype size = bytes.size();
    const qsizetype ascii
        = std::find_if(data, data + size, [](unsigned char b) { return b >= 0x80; }) - data;
    if (ascii == size)
        return QString::fromLatin1(bytes);

    // Never more code units than bytes: 2, 3 and 4 bytes give 1, 1 and 2 units.
    QString text(size, Qt::Uninitialized);
    QChar *out = text.data();
    for (qsizetype i = 0; i < ascii; ++i)
        *out++ = QChar(char16_t(data[i]));
    for (qsizetype i = ascii; i < size;) {
        const unsigned char lead = data[i];
        if (lead < 0x80) {
            *out++ = QChar(char16_t(lead));
            ++i;
            continue;
        }
        switch (wellFormedLength(data + i, size - i)) {
        case 2:
            *out++ = QChar(char16_t(((lead & 0x1F) << 6) | (data[i + 1] & 0x3F)));
            i += 2;
            break;
        case 3:
            *out++ = QChar(char16_t(
                ((lead & 0x0F) << 12) | ((data[i + 1] & 0x3F) << 6) | (data[i + 2] & 0x3F)));
            i += 3;
            break;
        case 4: {
            const char32_t c = (char32_t(lead & 0x07) << 18) | (char32_t(data[i + 1] & 0x3F) << 12)
                | (char32_t(data[i + 2] & 0x3F) << 6) | char32_t(data[i + 3] & 0x3F);
            *out++ = QChar(QChar::highSurrogate(c));
            *out++ = QChar(QChar::lowSurrogate(c));
            i += 4;
            break;
        }
        default:
            *out++ = QChar(char16_t(0xDC00 + lead));
            ++i;
            break;
        }
    }
    text.truncate(out - text.constData());
    return text;
}

QString displayText(const QString &text)
{
    if (!holdsSurrogate(text))
        return text;
    QString shown = text;
    const qsizetype size = shown.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t unit = shown.at(i).unicode();
        if (QChar::isHighSurrogate(unit) && i + 1 < size
            && QChar::isLowSurrogate(shown.at(i + 1).unicode()))
            ++i;
        else if (isSurrogate(unit))
            shown[i] = QChar(kReplacement);
    }
    return shown;
}

} // namespace platform
