#include "platform/Temporaries.h"

#include "platform/Paths.h"

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::temporaries {

namespace {

constexpr char kPrefix[] = ".qs-";
constexpr size_t kPrefixLength = sizeof kPrefix - 1;
constexpr size_t kRandomLength = 10;

bool isLetterOrDigit(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// Opens the entry for locking, never through a link, never blocking on a FIFO. A file
// without read permission may still be opened for writing (nothing is written).
int openEntry(int dirFd, const char *name)
{
    constexpr int kFlags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    int fd = ::openat(dirFd, name, O_RDONLY | kFlags);
    if (fd < 0 && errno == EACCES)
        fd = ::openat(dirFd, name, O_WRONLY | kFlags);
    return fd;
}

// One candidate: true when it was dead and is gone.
bool sweepEntry(int dirFd, const char *name)
{
    const int fd = openEntry(dirFd, name);
    if (fd < 0)
        return false;
    bool removed = false;
    struct stat held = {};
    if (::fstat(fd, &held) == 0 && S_ISREG(held.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
        // The name may have been renamed over or replaced since it was opened: only the
        // file this lock holds is removed.
        struct stat named = {};
        if (::fstatat(dirFd, name, &named, AT_SYMLINK_NOFOLLOW) == 0 && named.st_dev == held.st_dev
            && named.st_ino == held.st_ino)
            removed = ::unlinkat(dirFd, name, 0) == 0;
    }
    ::close(fd);
    return removed;
}

} // namespace

bool isTemporaryName(const char *name)
{
    if (std::strncmp(name, kPrefix, kPrefixLength) != 0)
        return false;
    const char *rest = name + kPrefixLength;
    for (size_t i = 0; i < kRandomLength; ++i) {
        if (!isLetterOrDigit(rest[i]))
            return false;
    }
    return rest[kRandomLength] == '\0';
}

int holdLock(int fd)
{
    while (::flock(fd, LOCK_EX) != 0) {
        if (errno == EINTR)
            continue;
        if (errno == ENOLCK || errno == EOPNOTSUPP || errno == EINVAL)
            return 0;
        return errno;
    }
    return 0;
}

int sweep(int dirFd)
{
    // A descriptor of its own: closedir closes it, and the listing starts at the beginning.
    const int listFd = ::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listFd < 0)
        return 0;
    DIR *const listing = ::fdopendir(listFd);
    if (!listing) {
        ::close(listFd);
        return 0;
    }
    int removed = 0;
    while (const dirent *entry = ::readdir(listing)) {
        if (entry->d_name[0] != '.' || !isTemporaryName(entry->d_name))
            continue;
        if (entry->d_type != DT_REG && entry->d_type != DT_UNKNOWN)
            continue;
        if (sweepEntry(dirFd, entry->d_name))
            ++removed;
    }
    ::closedir(listing);
    return removed;
}

int sweep(const QString &folder)
{
    if (folder.isEmpty() || folder.contains(QChar(0)))
        return 0;
    const int dirFd = ::open(encodePath(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return 0;
    const int removed = sweep(dirFd);
    ::close(dirFd);
    return removed;
}

} // namespace platform::temporaries
