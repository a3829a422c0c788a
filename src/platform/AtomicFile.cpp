#include "platform/AtomicFile.h"

#include "platform/Paths.h"
#include "platform/PosixIo.h"
#include "platform/Temporaries.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
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

int checkedPath(const QString &path)
{
    if (path.isEmpty())
        return ENOENT;
    if (path.contains(QChar(0)))
        return EINVAL;
    return 0;
}

} // namespace

AtomicWriter::~AtomicWriter()
{
    discard();
}

void AtomicWriter::discard()
{
    if (m_fd >= 0) {
        ::unlinkat(m_dir, m_tempName.constData(), 0);
        ::close(m_fd);
        m_fd = -1;
    }
    if (m_dir >= 0) {
        ::close(m_dir);
        m_dir = -1;
    }
}

int AtomicWriter::open(const QString &path)
{
    discard();
    if (const int error = checkedPath(path))
        return error;
    return openAt(resolveTarget(encodePath(path)), true, 0);
}

// Makes the temporary in the folder of target. With keepOld, an existing file's permission
// bits and owner carry over, and a link at target counts by what it points to; otherwise
// the new file has exactly mode and a link at target is an entry like any other.
int AtomicWriter::openAt(const QByteArray &target, bool keepOld, unsigned mode)
{
    const qsizetype slash = target.lastIndexOf('/');
    const QByteArray folder = slash < 0
        ? QByteArrayLiteral(".")
        : (slash == 0 ? QByteArrayLiteral("/") : target.left(slash));
    m_name = target.mid(slash + 1);
    if (m_name.isEmpty())
        return EISDIR;

    m_dir = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_dir < 0)
        return errno;

    struct stat old = {};
    const bool exists
        = ::fstatat(m_dir, m_name.constData(), &old, keepOld ? 0 : AT_SYMLINK_NOFOLLOW) == 0;
    if (exists && S_ISDIR(old.st_mode))
        return EISDIR;

    // What a save killed before its rename left here goes now, before ours is made.
    temporaries::sweep(m_dir);

    m_fd = posixio::createUniqueFile(m_dir, m_tempName);
    if (m_fd < 0)
        return errno;

    // Where the file system cannot hold permission bits (a log saved to a USB stick), the
    // file has what it gives every file.
    if (!keepOld) {
        if (::fchmod(m_fd, mode_t(mode)) != 0 && !posixio::modeNotHeld(errno))
            return errno;
    } else if (exists) {
        // The replacement keeps what the old file had: its permission bits and, where
        // allowed, its owner.
        if ((old.st_uid != ::geteuid() || old.st_gid != ::getegid())
            && ::fchown(m_fd, old.st_uid, old.st_gid) != 0) {
            // Not ours to give away: the file simply becomes ours.
        }
        if (::fchmod(m_fd, old.st_mode & 07777) != 0 && !posixio::modeNotHeld(errno))
            return errno;
    } else if (::fchmod(m_fd, 0666 & ~posixio::currentUmask()) != 0
        && !posixio::modeNotHeld(errno)) {
        return errno;
    }
    return 0;
}

int AtomicWriter::write(const char *data, size_t size)
{
    if (m_fd < 0)
        return EBADF;
    return posixio::writeAll(m_fd, data, size);
}

int AtomicWriter::commit()
{
    if (m_fd < 0)
        return EBADF;
    if (::fsync(m_fd) != 0)
        return errno;
    if (::renameat(m_dir, m_tempName.constData(), m_dir, m_name.constData()) != 0)
        return errno;
    const int closeError = posixio::closeChecked(m_fd);
    m_fd = -1;
    // The new name must survive a crash as well as the new content.
    ::fsync(m_dir);
    ::close(m_dir);
    m_dir = -1;
    return closeError;
}

int writeFileAtomic(const QString &path, const QByteArray &data)
{
    AtomicWriter writer;
    int error = writer.open(path);
    if (!error)
        error = writer.write(data.constData(), size_t(data.size()));
    return error ? error : writer.commit();
}

int replaceFileAtomic(const QString &path, const QByteArray &data, unsigned mode)
{
    if (const int error = checkedPath(path))
        return error;
    AtomicWriter writer;
    int error = writer.openAt(encodePath(path), false, mode & 07777);
    if (!error)
        error = writer.write(data.constData(), size_t(data.size()));
    return error ? error : writer.commit();
}

int readWholeFile(const QString &path, QByteArray &data, qint64 maxSize)
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
    const bool bounded = maxSize >= 0;
    if (bounded && st.st_size > maxSize)
        return EFBIG;

    QByteArray content;
    // One byte more than the bound, so that a file that grows meanwhile shows it.
    content.resize(qsizetype(bounded ? std::min<qint64>(st.st_size, maxSize) : st.st_size) + 1);
    qsizetype used = 0;
    for (;;) {
        if (used == content.size()) {
            if (bounded && used > maxSize)
                return EFBIG;
            content.resize(
                bounded ? std::min<qint64>(content.size() * 2, maxSize + 1) : content.size() * 2);
        }
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
    if (bounded && used > maxSize)
        return EFBIG;
    content.truncate(used);
    data = content;
    return 0;
}

} // namespace platform
