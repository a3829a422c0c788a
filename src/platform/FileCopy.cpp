#include "platform/FileCopy.h"

#include "platform/Paths.h"
#include "platform/PosixIo.h"
#include "platform/Temporaries.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

class Descriptor
{
public:
    explicit Descriptor(int fd = -1)
        : m_fd(fd)
    {
    }
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;

    int get() const { return m_fd; }
    int release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }

private:
    int m_fd;
};

// Errors by which the kernel says "not this way here", not "this copy failed".
bool unsupported(int error)
{
    return error == ENOSYS || error == EXDEV || error == EINVAL || error == EOPNOTSUPP
        || error == EBADF || error == ENOTSUP;
}

// The last resort: plain reads and writes through a large buffer.
int copyByBuffer(int in, int out)
{
    constexpr size_t bufferSize = 1 << 20;
    const std::unique_ptr<char[]> buffer(new char[bufferSize]);
    for (;;) {
        const ssize_t got = ::read(in, buffer.get(), bufferSize);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (got == 0)
            return 0;
        if (const int error = posixio::writeAll(out, buffer.get(), size_t(got)))
            return error;
    }
}

// How many bytes the copy wrote: the offset where the content ends. 0 or errno.
int writtenSize(int out, qint64 *bytes)
{
    if (!bytes)
        return 0;
    const off_t end = ::lseek(out, 0, SEEK_CUR);
    if (end < 0)
        return errno;
    *bytes = qint64(end);
    return 0;
}

// Copies the whole content from the current offsets. The kernel moves the data itself
// (copy_file_range, which also shares the blocks where the file system can); sendfile and
// then a buffer loop stand in where it cannot.
int copyContent(int in, int out, off_t size)
{
    if (size <= 0) // maybe a file whose size the file system does not know in advance
        return copyByBuffer(in, out);

    off_t copied = 0;
    bool kernelCopy = true;
    while (kernelCopy) {
        // Up to the size seen when the copy began, then on to the end if the file grew.
        const size_t chunk = copied < size ? size_t(size - copied) : size_t(1) << 30;
        const ssize_t done = ::copy_file_range(in, nullptr, out, nullptr, chunk, 0);
        if (done > 0) {
            copied += done;
            if (copied == size)
                return 0;
            continue;
        }
        if (done == 0)
            return 0;
        if (errno == EINTR)
            continue;
        if (!unsupported(errno))
            return errno;
        kernelCopy = false;
    }
    for (;;) {
        const ssize_t done = ::sendfile(out, in, nullptr, size_t(1) << 30);
        if (done > 0)
            continue;
        if (done == 0)
            return 0;
        if (errno == EINTR)
            continue;
        if (!unsupported(errno))
            return errno;
        break;
    }
    return copyByBuffer(in, out);
}

// Permission bits and modification time, to the nanosecond. The set-user and set-group
// bits are left out: the copy belongs to whoever makes it. A file system that cannot hold
// them keeps its own (as a FAT volume does).
int copyProperties(int out, const struct stat &source)
{
    // The mode the file was made with often is already the one wanted (no umask or
    // default ACL took anything away): a look costs less than a change.
    const mode_t mode = source.st_mode & 0777;
    struct stat made = {};
    const bool sameMode = ::fstat(out, &made) == 0 && (made.st_mode & 07777) == mode;
    if (!sameMode && ::fchmod(out, mode) != 0 && errno != EPERM && errno != EOPNOTSUPP)
        return errno;
    const timespec times[2] = { { 0, UTIME_OMIT }, source.st_mtim };
    if (::futimens(out, times) != 0 && errno != EPERM && errno != EOPNOTSUPP)
        return errno;
    return 0;
}

bool procFdAvailable()
{
    static const bool available = ::access("/proc/self/fd", X_OK) == 0;
    return available;
}

// Names the unnamed file fd as name in dirFd through its /proc entry. The folder
// /proc/self/fd is looked up once per process (a forked child looks up its own): walking
// to it for every file costs a quarter of the naming. 0 or errno.
int linkThroughProc(int fd, int dirFd, const char *name)
{
    static std::atomic<pid_t> openedBy = 0;
    static std::atomic<int> procFds = -1;
    const pid_t self = ::getpid();
    if (procFds < 0 || openedBy != self) {
        // A descriptor inherited from the parent names the parent's table: it is left as
        // it is, never used.
        procFds = ::open("/proc/self/fd", O_PATH | O_DIRECTORY | O_CLOEXEC);
        openedBy = self;
    }
    char number[32];
    if (const int fds = procFds; fds >= 0) {
        std::snprintf(number, sizeof number, "%d", fd);
        return ::linkat(fds, number, dirFd, name, AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
    }
    std::snprintf(number, sizeof number, "/proc/self/fd/%d", fd);
    return ::linkat(AT_FDCWD, number, dirFd, name, AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
}

// Names the unnamed file fd as name in dirFd. The descriptor itself is linked where the
// kernel allows it (recent kernels do for a file the process opened itself, older ones for
// root only), with no path to walk; a kernel that does not answers ENOENT, and /proc then
// does the naming and tells that refusal from a real ENOENT. 0 or errno.
int linkDescriptor(int fd, int dirFd, const char *name)
{
    enum { Unknown, Refused, Allowed };
    static std::atomic<int> emptyPath = Unknown;
    if (emptyPath == Refused)
        return linkThroughProc(fd, dirFd, name);
    if (::linkat(fd, "", dirFd, name, AT_EMPTY_PATH) == 0) {
        emptyPath = Allowed;
        return 0;
    }
    const int error = errno;
    if (error != ENOENT || emptyPath == Allowed)
        return error;
    const int throughProc = linkThroughProc(fd, dirFd, name);
    if (throughProc != ENOENT)
        emptyPath = Refused;
    return throughProc;
}

// Gives the unnamed file a name of its own, ".qs-XXXXXXXXXX" in the folder. 0 or errno.
int linkUnique(int fd, int dirFd, QByteArray &name)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray candidate = posixio::uniqueName();
        const int error = linkDescriptor(fd, dirFd, candidate.constData());
        if (error == 0) {
            name = candidate;
            return 0;
        }
        if (error != EEXIST)
            return error;
    }
    return EEXIST;
}

// The folder a path names its entry in, and the entry's name.
void splitPath(const QByteArray &path, QByteArray &folder, QByteArray &name)
{
    const qsizetype slash = path.lastIndexOf('/');
    folder = slash < 0 ? QByteArrayLiteral(".")
                       : (slash == 0 ? QByteArrayLiteral("/") : path.left(slash));
    name = path.mid(slash + 1);
}

// A missing destination folder is a path that cannot be found, not a missing file.
int folderError(int error)
{
    return error == ENOENT ? ENOTDIR : error;
}

// fail-if-exists found something at the target: a folder there is refused as such.
int existsError(int dirFd, const QByteArray &name)
{
    struct stat st = {};
    if (::fstatat(dirFd, name.constData(), &st, 0) == 0 && S_ISDIR(st.st_mode))
        return EISDIR;
    return EEXIST;
}

// The content is in the unnamed file out: put it at the target, the entry name in dirFd.
int publishUnnamed(int out, int dirFd, const QByteArray &name, bool failIfExists, bool targetExists)
{
    if (!targetExists || failIfExists) {
        // Linking to the target's own name fails if anything is there: fail-if-exists is
        // atomic, and a new target is complete the moment it appears.
        const int error = linkDescriptor(out, dirFd, name.constData());
        if (error == 0)
            return 0;
        if (error != EEXIST)
            return folderError(error);
        if (failIfExists)
            return existsError(dirFd, name);
        // Appeared meanwhile, and may be replaced.
    }
    // Locked while still unnamed, so that no sweep ever sees it unheld; the lock lives as
    // long as out, which stays open past the rename.
    if (const int error = temporaries::holdLock(out))
        return error;
    QByteArray tempName;
    if (const int error = linkUnique(out, dirFd, tempName))
        return folderError(error);
    if (::renameat(dirFd, tempName.constData(), dirFd, name.constData()) != 0) {
        const int error = errno;
        ::unlinkat(dirFd, tempName.constData(), 0);
        return error;
    }
    return 0;
}

// Where the file system has no unnamed files: a named temporary (O_EXCL, 0600) that is
// removed again whatever goes wrong.
int copyThroughNamedTemp(int in, const struct stat &source, int dirFd, const QByteArray &name,
    bool failIfExists, qint64 *bytes)
{
    QByteArray tempName;
    Descriptor out(posixio::createUniqueFile(dirFd, tempName));
    if (out.get() < 0)
        return folderError(errno);
    // Holds the temporary's lock after the writing descriptor is closed (its close reports
    // late write errors) until the temporary is renamed or removed.
    const Descriptor lock(::fcntl(out.get(), F_DUPFD_CLOEXEC, 0));
    if (lock.get() < 0) {
        const int error = errno;
        ::unlinkat(dirFd, tempName.constData(), 0);
        return error;
    }

    int error = copyContent(in, out.get(), source.st_size);
    if (!error)
        error = writtenSize(out.get(), bytes);
    if (!error)
        error = copyProperties(out.get(), source);
    if (!error)
        error = posixio::closeChecked(out.release());
    bool moved = false; // the temporary name is gone with the rename
    if (!error && !failIfExists) {
        moved = ::renameat(dirFd, tempName.constData(), dirFd, name.constData()) == 0;
        error = moved ? 0 : errno;
    } else if (!error) {
        moved = ::renameat2(dirFd, tempName.constData(), dirFd, name.constData(), RENAME_NOREPLACE)
            == 0;
        error = moved ? 0 : errno;
        if (unsupported(error)) {
            // No atomic rename here: a second name, which cannot replace anything.
            error = ::linkat(dirFd, tempName.constData(), dirFd, name.constData(), 0) == 0 ? 0
                                                                                           : errno;
        }
        if (error == EEXIST)
            error = existsError(dirFd, name);
    }
    if (!moved)
        ::unlinkat(dirFd, tempName.constData(), 0);
    return error;
}

enum class Strategy { Unnamed, Named };

int copyWith(Strategy strategy, const QString &source, const QString &target, bool failIfExists,
    qint64 *bytes)
{
    if (source.isEmpty() || target.isEmpty())
        return ENOENT;
    if (source.contains(QChar(0)) || target.contains(QChar(0)))
        return EINVAL;
    const QByteArray sourcePath = encodePath(source);
    const QByteArray targetPath = encodePath(target);
    QByteArray folder, name;
    splitPath(targetPath, folder, name);
    if (name.isEmpty())
        return EISDIR;

    // Opened once, without blocking and without becoming a terminal's process, then
    // checked: whatever has been put in the file's place, only a regular file is read.
    const Descriptor in(
        ::open(sourcePath.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (in.get() < 0)
        return errno;
    struct stat st = {};
    if (::fstat(in.get(), &st) != 0)
        return errno;
    if (S_ISDIR(st.st_mode))
        return EISDIR;
    if (!S_ISREG(st.st_mode))
        return EACCES;

    // The destination folder is looked up once; every later step names the target, the
    // temporary and the unnamed file relative to it.
    const Descriptor dir(::open(folder.constData(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0)
        return folderError(errno);

    bool targetExists = false;
    if (!failIfExists) {
        // A file without any write permission bit is protected, as the read-only mark
        // protects it on Windows. Root passes any access test, so the bits decide.
        struct stat old = {};
        if (::fstatat(dir.get(), name.constData(), &old, 0) == 0) {
            if (S_ISDIR(old.st_mode))
                return EISDIR;
            if ((old.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
                return EACCES;
            targetExists = true;
        } else if (errno == ENOTDIR) {
            return ENOTDIR;
        }
    }

    // An unnamed file in the destination folder: if anything fails, or the program dies,
    // it vanishes with its descriptor.
    // (Naming it afterwards may go through /proc/self/fd, which a bare chroot may lack.)
    if (strategy == Strategy::Named || !procFdAvailable())
        return copyThroughNamedTemp(in.get(), st, dir.get(), name, failIfExists, bytes);
    // Made with the source's permission bits: nobody can reach the file before it is
    // complete and named.
    Descriptor out(::openat(dir.get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, st.st_mode & 0777));
    if (out.get() < 0) {
        const int error = errno;
        if (error != EOPNOTSUPP && error != EISDIR && error != EINVAL)
            return folderError(error);
        return copyThroughNamedTemp(in.get(), st, dir.get(), name, failIfExists, bytes);
    }

    if (const int error = copyContent(in.get(), out.get(), st.st_size))
        return error;
    if (const int error = writtenSize(out.get(), bytes))
        return error;
    if (const int error = copyProperties(out.get(), st))
        return error;
    if (const int error = publishUnnamed(out.get(), dir.get(), name, failIfExists, targetExists))
        return error;
    return posixio::closeChecked(out.release());
}

} // namespace

int copyFile(const QString &source, const QString &target, bool failIfExists, qint64 *bytes)
{
    return copyWith(Strategy::Unnamed, source, target, failIfExists, bytes);
}

int copyFileWithNamedTemporary(
    const QString &source, const QString &target, bool failIfExists, qint64 *bytes)
{
    return copyWith(Strategy::Named, source, target, failIfExists, bytes);
}

int compareWithCopy(const QString &source, const QString &target, bool &same)
{
    same = false;
    if (source.contains(QChar(0)) || target.contains(QChar(0)))
        return EINVAL;
    const Descriptor in(
        ::open(encodePath(source).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (in.get() < 0)
        return errno;
    const Descriptor copy(
        ::open(encodePath(target).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (copy.get() < 0)
        return errno;
    struct stat st = {};
    if (::fstat(copy.get(), &st) != 0)
        return errno;
    if (!S_ISREG(st.st_mode))
        return EACCES;
    // The copy's pages are written out and dropped from the cache first, so that what is
    // compared is what the storage gives back, not what the copy left in memory.
    if (::fdatasync(copy.get()) != 0 && errno != EINVAL)
        return errno;
    ::posix_fadvise(copy.get(), 0, 0, POSIX_FADV_DONTNEED);
    ::posix_fadvise(copy.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    ::posix_fadvise(in.get(), 0, 0, POSIX_FADV_SEQUENTIAL);

    constexpr size_t bufferSize = 256 * 1024;
    const std::unique_ptr<char[]> buffers(new char[2 * bufferSize]);
    char *const left = buffers.get();
    char *const right = left + bufferSize;
    for (;;) {
        size_t gotLeft = 0;
        if (const int error = posixio::readFull(in.get(), left, bufferSize, gotLeft))
            return error;
        size_t gotRight = 0;
        if (const int error = posixio::readFull(copy.get(), right, bufferSize, gotRight))
            return error;
        if (gotLeft != gotRight || std::memcmp(left, right, gotLeft) != 0)
            return 0;
        if (gotLeft < bufferSize) {
            same = true;
            return 0;
        }
    }
}

} // namespace platform
