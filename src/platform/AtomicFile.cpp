#include "platform/AtomicFile.h"

#include "platform/Paths.h"
#include "platform/PosixIo.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// A link is written through (the settings folder may well be a link into a dotfiles
// repository); a dangling one is replaced by the file.
QByteArray resolveTarget(const QByteArray &path)
{
    struct stat st = {};
    if (::lstat(path.constData(), &st) != 0 || !S_ISLNK(st.st_mode))
        return path;
    char *real = ::realpath(path.constData(), nullptr);
    if (!real)
        return path;
    QByteArray resolved(real);
    std::free(real);
    return resolved;
}

struct Descriptor
{
    int fd = -1;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace

namespace {

// Writes data to a new file in the folder of `target` and renames it over `target`. With a
// mode, the new file has exactly that mode and a link at `target` counts as an entry like
// any other; without one, an existing file's permission bits and owner carry over.
int writeAndRename(const QByteArray &target, const QByteArray &data, std::optional<mode_t> mode)
{
    const qsizetype slash = target.lastIndexOf('/');
    const QByteArray folder = slash < 0
        ? QByteArrayLiteral(".")
        : (slash == 0 ? QByteArrayLiteral("/") : target.left(slash));
    const QByteArray name = target.mid(slash + 1);
    if (name.isEmpty())
        return EISDIR;

    Descriptor dir;
    dir.fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir.fd < 0)
        return errno;

    struct stat old = {};
    const bool exists
        = ::fstatat(dir.fd, name.constData(), &old, mode ? AT_SYMLINK_NOFOLLOW : 0) == 0;
    if (exists && S_ISDIR(old.st_mode))
        return EISDIR;

    QByteArray tempName;
    Descriptor temp;
    temp.fd = posixio::createUniqueFile(dir.fd, tempName);
    if (temp.fd < 0)
        return errno;

    int error = 0;
    if (mode) {
        if (::fchmod(temp.fd, *mode) != 0)
            error = errno;
    } else if (exists) {
        // The replacement keeps what the old file had: its permission bits and, where
        // allowed, its owner.
        if ((old.st_uid != ::geteuid() || old.st_gid != ::getegid())
            && ::fchown(temp.fd, old.st_uid, old.st_gid) != 0) {
            // Not ours to give away: the file simply becomes ours.
        }
        if (::fchmod(temp.fd, old.st_mode & 07777) != 0)
            error = errno;
    } else if (::fchmod(temp.fd, 0666 & ~posixio::currentUmask()) != 0) {
        error = errno;
    }
    if (!error)
        error = posixio::writeAll(temp.fd, data.constData(), size_t(data.size()));
    if (!error && ::fsync(temp.fd) != 0)
        error = errno;
    if (!error) {
        error = posixio::closeChecked(temp.fd);
        temp.fd = -1;
    }
    if (!error && ::renameat(dir.fd, tempName.constData(), dir.fd, name.constData()) != 0)
        error = errno;
    if (error) {
        ::unlinkat(dir.fd, tempName.constData(), 0);
        return error;
    }
    // The new name must survive a crash as well as the new content.
    ::fsync(dir.fd);
    return 0;
}

int checkedPath(const QString &path)
{
    if (path.isEmpty())
        return ENOENT;
    if (path.contains(QChar(0)))
        return EINVAL;
    return 0;
}

} // namespace

int writeFileAtomic(const QString &path, const QByteArray &data)
{
    if (const int error = checkedPath(path))
        return error;
    return writeAndRename(resolveTarget(encodePath(path)), data, std::nullopt);
}

int replaceFileAtomic(const QString &path, const QByteArray &data, unsigned mode)
{
    if (const int error = checkedPath(path))
        return error;
    return writeAndRename(encodePath(path), data, mode_t(mode & 07777));
}

int readWholeFile(const QString &path, QByteArray &data)
{
    if (path.isEmpty())
        return ENOENT;
    if (path.contains(QChar(0)))
        return EINVAL;
    // Non-blocking, so that a FIFO put in place of the file cannot hang the program.
    Descriptor file;
    file.fd = ::open(encodePath(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (file.fd < 0)
        return errno;
    struct stat st = {};
    if (::fstat(file.fd, &st) != 0)
        return errno;
    if (S_ISDIR(st.st_mode))
        return EISDIR;
    if (!S_ISREG(st.st_mode))
        return EINVAL;

    QByteArray content;
    content.resize(qsizetype(st.st_size) + 1);
    qsizetype used = 0;
    for (;;) {
        if (used == content.size())
            content.resize(content.size() * 2);
        const ssize_t got = ::read(file.fd, content.data() + used, size_t(content.size() - used));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (got == 0)
            break;
        used += got;
    }
    content.truncate(used);
    data = content;
    return 0;
}

} // namespace platform
