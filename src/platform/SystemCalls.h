#pragma once

#include <atomic>
#include <ctime>
#include <sys/types.h>

// The calls by which the file copy finds out what a destination's file system can do. A test
// puts a function of its own in an entry to play a file system this machine cannot mount
// (the kernel's vfat answers fchmod and link with EPERM, many FUSE file systems have no
// O_TMPFILE nor renameat2), and puts the real one back after; the copy only ever calls
// through the table, so the indirection is all that the production build pays.
namespace platform::syscalls {

struct Table
{
    int (*openat)(int dirFd, const char *name, int flags, mode_t mode);
    int (*fchmod)(int fd, mode_t mode);
    int (*futimens)(int fd, const timespec times[2]);
    int (*utimensat)(int dirFd, const char *name, const timespec times[2], int flags);
    int (*linkat)(int fromDir, const char *from, int toDir, const char *to, int flags);
    int (*renameat2)(int fromDir, const char *from, int toDir, const char *to, unsigned flags);
    int (*close)(int fd);
    int (*syncfs)(int fd);
};

extern Table table;

// The table of the real calls.
const Table &real();

// Changes each time a test changes the table, so that what the copy learnt about a file
// system is learnt again.
extern std::atomic<unsigned> generation;

// A test's changes, undone when it goes.
class Override
{
public:
    Override();
    ~Override();
    Override(const Override &) = delete;
    Override &operator=(const Override &) = delete;

    // The table to change; what the copy learnt is learnt again after each change.
    Table &calls()
    {
        ++generation;
        return table;
    }

private:
    Table m_saved;
};

} // namespace platform::syscalls
