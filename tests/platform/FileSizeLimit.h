#pragma once

#include <functional>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

// Runs work in a forked child whose files may not grow beyond limit bytes, so that a write
// fails half-way even for root. Returns the child's exit status (work's result, at most
// 255), or -1 when it did not exit normally.
inline int runWithFileSizeLimit(rlim_t limit, const std::function<int()> &work)
{
    const pid_t child = ::fork();
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN); // the write then fails with EFBIG
        const rlimit rl { limit, limit };
        if (::setrlimit(RLIMIT_FSIZE, &rl) != 0)
            ::_exit(255);
        ::_exit(work() & 0xFF);
    }
    if (child < 0)
        return -1;
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) { }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
