#include "platform/FileCopy.h"

#include "platform/Paths.h"
#include "platform/PosixIo.h"
#include "platform/SystemCalls.h"
#include "platform/Temporaries.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <linux/magic.h>
#include <memory>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/vfs.h>
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

// What a link answers on a file system without hard links (vfat, exFAT, SMB, many FUSE).
bool noLinksHere(int error)
{
    return error == EPERM || error == EOPNOTSUPP || error == ENOSYS;
}

// What renameat2 answers where it cannot be told to replace nothing.
bool noReplaceRefused(int error)
{
    return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP;
}

// What O_TMPFILE answers on a file system without unnamed files.
bool unnamedRefused(int error)
{
    return error == EOPNOTSUPP || error == EISDIR || error == EINVAL || error == ENOSYS;
}

// What setting times answers where the file system cannot hold them, or not these ones (a
// FAT volume holds no time before 1980).
bool timesNotHeld(int error)
{
    return posixio::modeNotHeld(error) || error == EINVAL || error == EOVERFLOW || error == ERANGE;
}

enum class Times : unsigned char {
    Unchecked,
    Kept, // set on the descriptor before the last close, as on any local file system
    SetAfterClose, // the file system sets them itself at the last close (SMB through gvfs)
    NotHeld, // neither way holds them
};

// What the destination's file system was found to do, learnt on the first files copied
// there and kept for the thread's next copies into the same folder: probing costs the first
// file, not every one.
struct Destination
{
    QByteArray folder;
    unsigned generation = 0;
    dev_t device = 0;
    bool largeWrites = false; // FUSE: the kernel's sendfile reaches it 64 KiB at a time
    bool noUnnamed = false; // no O_TMPFILE, or its file cannot be given a name
    bool noRenameNoReplace = false;
    bool noLinks = false;
    Times times = Times::Unchecked;
};

thread_local Destination t_destination;

// What is known of the folder dirFd: learnt afresh for another folder, or after a test
// changed the system calls.
Destination &destinationFor(const QByteArray &folder, int dirFd)
{
    Destination &known = t_destination;
    const unsigned generation = syscalls::generation.load(std::memory_order_relaxed);
    if (known.folder == folder && known.generation == generation)
        return known;
    known = Destination();
    known.folder = folder;
    known.generation = generation;
    struct stat st = {};
    if (::fstat(dirFd, &st) == 0)
        known.device = st.st_dev;
    struct statfs fs = {};
    if (::fstatfs(dirFd, &fs) == 0)
        known.largeWrites = fs.f_type == FUSE_SUPER_MAGIC;
    return known;
}

// The new file is not on the file system learnt (something was mounted on the folder
// meanwhile): the next copy learns again.
void checkDevice(Destination &known, dev_t device)
{
    if (device != known.device)
        known.folder.clear();
}

int pwriteAll(int fd, const char *data, size_t size, off_t offset)
{
    while (size > 0) {
        const ssize_t written = ::pwrite(fd, data, size, offset);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        data += written;
        size -= size_t(written);
        offset += written;
    }
    return 0;
}

constexpr size_t kBufferSize = 1 << 20;

// The last resort, and the way to a FUSE file system, each write of which is one request to
// its server: plain reads and writes of 1 MiB from the current offsets.
int copyByBuffer(int in, int out, qint64 &written)
{
    const std::unique_ptr<char[]> buffer(new char[kBufferSize]);
    for (;;) {
        const ssize_t got = ::read(in, buffer.get(), kBufferSize);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (got == 0)
            return 0;
        if (const int error = posixio::writeAll(out, buffer.get(), size_t(got)))
            return error;
        written += got;
    }
}

// Copies the whole content from the current offsets. The kernel moves the data itself
// (copy_file_range, which also shares the blocks where the file system can); sendfile and
// then a buffer loop stand in where it cannot.
int copyDense(int in, int out, off_t size, bool largeWrites, qint64 &written)
{
    if (size <= 0) // maybe a file whose size the file system does not know in advance
        return copyByBuffer(in, out, written);

    bool kernelCopy = true;
    while (kernelCopy) {
        // Up to the size seen when the copy began, then on to the end if the file grew.
        const size_t chunk = written < size ? size_t(size - written) : size_t(1) << 30;
        const ssize_t done = ::copy_file_range(in, nullptr, out, nullptr, chunk, 0);
        if (done > 0) {
            written += done;
            if (written == size)
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
    while (!largeWrites) {
        const ssize_t done = ::sendfile(out, in, nullptr, size_t(1) << 30);
        if (done > 0) {
            written += done;
            continue;
        }
        if (done == 0)
            return 0;
        if (errno == EINTR)
            continue;
        if (!unsupported(errno))
            return errno;
        break;
    }
    return copyByBuffer(in, out, written);
}

// One data extent of a sparse file, put at the same offset of the copy. kernelCopy goes
// false for the file's other extents once the kernel cannot move the data itself.
int copyExtent(int in, int out, off_t offset, off_t length, bool &kernelCopy)
{
    off_t inOffset = offset;
    off_t outOffset = offset;
    off_t left = length;
    while (kernelCopy && left > 0) {
        const ssize_t done = ::copy_file_range(in, &inOffset, out, &outOffset, size_t(left), 0);
        if (done > 0) {
            left -= done;
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
    if (left == 0)
        return 0;
    const std::unique_ptr<char[]> buffer(new char[kBufferSize]);
    while (left > 0) {
        size_t got = 0;
        const size_t wanted = size_t(std::min<off_t>(left, off_t(kBufferSize)));
        if (const int error = posixio::readFull(in, buffer.get(), wanted, got, inOffset))
            return error;
        if (got == 0)
            return 0;
        if (const int error = pwriteAll(out, buffer.get(), got, outOffset))
            return error;
        inOffset += off_t(got);
        outOffset += off_t(got);
        left -= off_t(got);
    }
    return 0;
}

// Fewer blocks than its length needs: the file has holes. A file of one block is copied
// whole (a file system may keep a small file's data beside its inode, in no block at all).
bool hasHoles(const struct stat &st)
{
    return st.st_size > st.st_blksize && st.st_blocks * 512 < st.st_size;
}

// A file with holes, as cp copies it: only its data extents are copied, each at its own
// offset, so that the holes stay holes; the length is set last (a hole at the end). A file
// system that cannot tell holes from data has the whole file copied.
int copySparse(int in, int out, const struct stat &source, bool largeWrites, qint64 &written)
{
    bool kernelCopy = true;
    off_t offset = 0;
    for (;;) {
        const off_t data = ::lseek(in, offset, SEEK_DATA);
        if (data < 0) {
            if (errno == ENXIO) // no data after offset
                break;
            if (offset == 0 && unsupported(errno) && ::lseek(in, 0, SEEK_SET) == 0)
                return copyDense(in, out, source.st_size, largeWrites, written);
            return errno;
        }
        const off_t hole = ::lseek(in, data, SEEK_HOLE);
        if (hole < 0)
            return errno;
        if (const int error = copyExtent(in, out, data, hole - data, kernelCopy))
            return error;
        offset = hole;
    }
    const off_t end = ::lseek(in, 0, SEEK_END);
    if (end < 0)
        return errno;
    if (::ftruncate(out, end) != 0)
        return errno;
    written = qint64(end);
    return 0;
}

int copyContent(
    int in, int out, const struct stat &source, const Destination &known, qint64 &written)
{
    written = 0;
    if (hasHoles(source))
        return copySparse(in, out, source, known.largeWrites, written);
    return copyDense(in, out, source.st_size, known.largeWrites, written);
}

// Permission bits, and both times to the nanosecond: the access time too, as cp -p keeps
// it, and never UTIME_OMIT, which some file systems take as "now" for the other time (exFAT).
// The set-user and set-group bits are left out: the copy belongs to whoever makes it. A
// file system that cannot hold them keeps its own (as a FAT volume does).
int copyProperties(int out, const struct stat &made, const struct stat &source)
{
    // The mode the file was made with often is already the one wanted (no umask or
    // default ACL took anything away): a look costs less than a change.
    const mode_t mode = source.st_mode & 0777;
    if ((made.st_mode & 07777) != mode && syscalls::table.fchmod(out, mode) != 0
        && !posixio::modeNotHeld(errno))
        return errno;
    const timespec times[2] = { source.st_atim, source.st_mtim };
    if (syscalls::table.futimens(out, times) != 0 && !timesNotHeld(errno))
        return errno;
    return 0;
}

// Within the coarsest resolution of the file systems we meet (FAT's two seconds).
bool closeInTime(const timespec &a, const timespec &b)
{
    const qint64 nanoseconds = (qint64(a.tv_sec) - qint64(b.tv_sec)) * 1000000000
        + (qint64(a.tv_nsec) - qint64(b.tv_nsec));
    return nanoseconds >= -2000000000 && nanoseconds <= 2000000000;
}

// Some file systems set a file's times themselves when its last descriptor closes (SMB
// through gvfs): there the times are set again by name once the file is published and
// closed, as rsync does. Which kind the destination is, the first copies tell by reading
// the time back: a time equal to the nanosecond, or a source older than the resolution
// allows to mistake, decides.
int settleTimes(int dirFd, const QByteArray &name, const struct stat &source, Destination &known)
{
    if (known.times == Times::Kept || known.times == Times::NotHeld)
        return 0;
    const timespec times[2] = { source.st_atim, source.st_mtim };
    const auto setByName = [&] {
        if (syscalls::table.utimensat(dirFd, name.constData(), times, AT_SYMLINK_NOFOLLOW) != 0
            && !timesNotHeld(errno))
            return errno;
        return 0;
    };
    if (known.times == Times::SetAfterClose)
        return setByName();

    struct stat copy = {};
    if (::fstatat(dirFd, name.constData(), &copy, AT_SYMLINK_NOFOLLOW) != 0)
        return 0; // gone already, or not to be looked at: the next copy tells
    if (copy.st_mtim.tv_sec == source.st_mtim.tv_sec
        && copy.st_mtim.tv_nsec == source.st_mtim.tv_nsec) {
        known.times = Times::Kept;
        return 0;
    }
    timespec now = {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const bool recent = closeInTime(source.st_mtim, now);
    if (closeInTime(copy.st_mtim, source.st_mtim) && !recent) {
        known.times = Times::Kept;
        return 0;
    }
    if (const int error = setByName())
        return error;
    if (recent)
        return 0; // a time of now cannot tell: the next copy looks again
    if (::fstatat(dirFd, name.constData(), &copy, AT_SYMLINK_NOFOLLOW) == 0)
        known.times
            = closeInTime(copy.st_mtim, source.st_mtim) ? Times::SetAfterClose : Times::NotHeld;
    return 0;
}

// The new file's last close, which reports late write errors.
int closeOutput(int fd)
{
    if (syscalls::table.close(fd) != 0 && errno != EINTR)
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
        return syscalls::table.linkat(fds, number, dirFd, name, AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
    }
    std::snprintf(number, sizeof number, "/proc/self/fd/%d", fd);
    return syscalls::table.linkat(AT_FDCWD, number, dirFd, name, AT_SYMLINK_FOLLOW) == 0 ? 0
                                                                                         : errno;
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
    if (syscalls::table.linkat(fd, "", dirFd, name, AT_EMPTY_PATH) == 0) {
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

// Gives the unnamed file a temporary name of its own in the folder. 0 or errno.
int linkUnique(int fd, int dirFd, QByteArray &name)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray candidate = temporaries::newName();
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

// publishUnnamed's answer where the file system cannot name an unnamed file.
constexpr int kCannotName = -1;

// The content is in the unnamed file out: put it at the target, the entry name in dirFd.
int publishUnnamed(int out, int dirFd, const QByteArray &name, bool failIfExists, bool targetExists)
{
    if (!targetExists || failIfExists) {
        // Linking to the target's own name fails if anything is there: fail-if-exists is
        // atomic, and a new target is complete the moment it appears.
        const int error = linkDescriptor(out, dirFd, name.constData());
        if (error == 0)
            return 0;
        if (noLinksHere(error))
            return kCannotName;
        if (error != EEXIST)
            return folderError(error);
        if (failIfExists)
            return existsError(dirFd, name);
        // Appeared meanwhile, and may be replaced.
    }
    QByteArray tempName;
    if (const int error = linkUnique(out, dirFd, tempName))
        return noLinksHere(error) ? kCannotName : folderError(error);
    if (::renameat(dirFd, tempName.constData(), dirFd, name.constData()) != 0) {
        const int error = errno;
        ::unlinkat(dirFd, tempName.constData(), 0);
        return error;
    }
    return 0;
}

// The complete, closed temporary becomes the target. Replacing, one rename does it
// atomically. Otherwise nothing at the target may be replaced, and the first way that the
// file system offers is taken; moved tells whether the temporary's name is gone.
// 1. renameat2 with RENAME_NOREPLACE: atomic; the target appears complete or not at all,
//    and whatever stands there, even what appeared a moment before, is never replaced.
// 2. A link to the target's name, then the temporary's removal: the same guarantee, the
//    link failing if anything is there; killed in between, the temporary is a second name
//    of the complete target, which the next sweep removes.
// 3. Neither hard links nor renameat2 (FAT and exFAT through FUSE, SMB through gvfs): a
//    rename checked by a look at the target just before. The target still appears complete
//    or not at all, and a file found there is never replaced; only one that another program
//    creates in the moment between the look and the rename would be.
int publishNamed(int dirFd, const QByteArray &tempName, const QByteArray &name, bool failIfExists,
    Destination &known, bool &moved)
{
    moved = false;
    const char *from = tempName.constData();
    const char *to = name.constData();
    if (!failIfExists) {
        if (::renameat(dirFd, from, dirFd, to) != 0)
            return errno;
        moved = true;
        return 0;
    }
    if (!known.noRenameNoReplace) {
        if (syscalls::table.renameat2(dirFd, from, dirFd, to, RENAME_NOREPLACE) == 0) {
            moved = true;
            return 0;
        }
        const int error = errno;
        if (error == EEXIST)
            return existsError(dirFd, name);
        if (!noReplaceRefused(error))
            return error;
        known.noRenameNoReplace = true;
    }
    if (!known.noLinks) {
        if (syscalls::table.linkat(dirFd, from, dirFd, to, 0) == 0)
            return 0;
        const int error = errno;
        if (error == EEXIST)
            return existsError(dirFd, name);
        if (!noLinksHere(error))
            return error;
        known.noLinks = true;
    }
    struct stat st = {};
    if (::fstatat(dirFd, to, &st, AT_SYMLINK_NOFOLLOW) == 0)
        return existsError(dirFd, name);
    if (errno != ENOENT)
        return errno;
    if (::renameat(dirFd, from, dirFd, to) != 0)
        return errno;
    moved = true;
    return 0;
}

// Where the file system has no unnamed files: a named temporary (O_EXCL, 0600) that is
// removed again whatever goes wrong, closed before it is published (its close reports late
// write errors).
int copyThroughNamedTemp(int in, const struct stat &source, int dirFd, const QByteArray &name,
    bool failIfExists, Destination &known, qint64 *bytes)
{
    QByteArray tempName;
    Descriptor out(posixio::createUniqueFile(dirFd, tempName));
    if (out.get() < 0)
        return folderError(errno);

    qint64 written = 0;
    struct stat made = {};
    int error = ::fstat(out.get(), &made) == 0 ? 0 : errno;
    if (!error) {
        checkDevice(known, made.st_dev);
        error = copyContent(in, out.get(), source, known, written);
    }
    if (!error)
        error = copyProperties(out.get(), made, source);
    if (!error)
        error = closeOutput(out.release());
    bool moved = false;
    if (!error)
        error = publishNamed(dirFd, tempName, name, failIfExists, known, moved);
    if (!moved)
        ::unlinkat(dirFd, tempName.constData(), 0);
    if (!error)
        error = settleTimes(dirFd, name, source, known);
    if (!error && bytes)
        *bytes = written;
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
    Destination &known = destinationFor(folder, dir.get());

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
    if (strategy == Strategy::Named || known.noUnnamed || !procFdAvailable())
        return copyThroughNamedTemp(in.get(), st, dir.get(), name, failIfExists, known, bytes);
    // Made with the source's permission bits: nobody can reach the file before it is
    // complete and named.
    Descriptor out(syscalls::table.openat(
        dir.get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, st.st_mode & 0777));
    if (out.get() < 0) {
        const int error = errno;
        if (!unnamedRefused(error))
            return folderError(error);
        known.noUnnamed = true;
        return copyThroughNamedTemp(in.get(), st, dir.get(), name, failIfExists, known, bytes);
    }

    struct stat made = {};
    if (::fstat(out.get(), &made) != 0)
        return errno;
    checkDevice(known, made.st_dev);
    qint64 written = 0;
    if (const int error = copyContent(in.get(), out.get(), st, known, written))
        return error;
    if (const int error = copyProperties(out.get(), made, st))
        return error;
    const int published = publishUnnamed(out.get(), dir.get(), name, failIfExists, targetExists);
    if (published == kCannotName) {
        // Unnamed files that cannot be named: this one is dropped and the copy made again
        // the way this file system allows.
        known.noUnnamed = true;
        ::close(out.release());
        if (::lseek(in.get(), 0, SEEK_SET) != 0)
            return errno;
        return copyThroughNamedTemp(in.get(), st, dir.get(), name, failIfExists, known, bytes);
    }
    if (published != 0)
        return published;
    if (const int error = closeOutput(out.release()))
        return error;
    if (const int error = settleTimes(dir.get(), name, st, known))
        return error;
    if (bytes)
        *bytes = written;
    return 0;
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

int flushFileSystem(const QString &folder)
{
    if (folder.isEmpty() || folder.contains(QChar(0)))
        return ENOENT;
    const Descriptor dir(
        ::open(encodePath(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() < 0) {
        if (errno != EACCES)
            return errno;
        // A folder that may be written but not read: everything is written out instead.
        ::sync();
        return 0;
    }
    if (syscalls::table.syncfs(dir.get()) != 0)
        return errno;
    // syncfs stops at the kernel's cache: a FUSE file system's server writes its device out
    // when asked for its folder, if at all. Elsewhere this costs nothing more.
    if (::fsync(dir.get()) != 0 && errno != EINVAL && errno != EROFS && !unsupported(errno))
        return errno;
    return 0;
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
