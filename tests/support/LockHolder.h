#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

// Another process holding an flock on a file, as a second instance holds the temporary it is
// writing, until the object goes.
class LockHolder
{
public:
    explicit LockHolder(const QString &path)
    {
        const QByteArray name = QFile::encodeName(path);
        int ready[2], release[2];
        if (::pipe(ready) != 0 || ::pipe(release) != 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(ready[0]);
            ::close(release[1]);
            const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
            const char ok = fd >= 0 && ::flock(fd, LOCK_EX) == 0 ? 'y' : 'n';
            char c;
            if (::write(ready[1], &ok, 1) == 1)
                (void)!::read(release[0], &c, 1);
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(release[0]);
        char ok = 'n';
        m_held = ::read(ready[0], &ok, 1) == 1 && ok == 'y';
        ::close(ready[0]);
        m_release = release[1];
    }
    ~LockHolder()
    {
        if (m_pid > 0) {
            ::close(m_release);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    LockHolder(const LockHolder &) = delete;
    LockHolder &operator=(const LockHolder &) = delete;

    bool held() const { return m_held; }

private:
    pid_t m_pid = -1;
    int m_release = -1;
    bool m_held = false;
};

} // namespace testsupport
