#include "platform/Paths.h"

#include <QFile>
#include <QStringList>

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

QByteArray encodePath(const QString &path)
{
    return QFile::encodeName(path);
}

QString decodePath(const QByteArray &bytes)
{
    return QFile::decodeName(bytes);
}

} // namespace platform
