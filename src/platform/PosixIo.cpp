#include "platform/PosixIo.h"

#include "platform/Temporaries.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::posixio {

int writeAll(int fd, const char *data, size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        data += written;
        size -= size_t(written);
    }
    return 0;
}

int readFull(int fd, char *data, size_t size, size_t &got, off_t offset)
{
    got = 0;
    while (got < size) {
        const ssize_t n = offset < 0 ? ::read(fd, data + got, size - got)
                                     : ::pread(fd, data + got, size - got, offset + off_t(got));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (n == 0)
            break;
        got += size_t(n);
    }
    return 0;
}

int createUniqueFile(int dirFd, QByteArray &name)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray candidate = temporaries::newName();
        const int fd = ::openat(dirFd, candidate.constData(),
            O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd >= 0) {
            name = candidate;
            return fd;
        }
        if (errno != EEXIST)
            return -1;
    }
    errno = EEXIST;
    return -1;
}

bool modeNotHeld(int error)
{
    return error == EPERM || error == ENOSYS || error == EOPNOTSUPP;
}

int closeChecked(int fd)
{
    if (::close(fd) != 0 && errno != EINTR)
        return errno;
    return 0;
}

mode_t currentUmask()
{
    // Everything runs on the one user-interface thread, so the short swap is harmless.
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
}

} // namespace platform::posixio
