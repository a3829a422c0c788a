#pragma once

#include "platform/Temporaries.h"

#include <QByteArray>
#include <QList>

#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

// Another process, as a second instance of the program is, that has made names for its
// temporaries; it runs until finish() or the object goes, and its names then are a dead
// writer's.
class OtherProcess
{
public:
    explicit OtherProcess(int names = 1)
    {
        int ready[2], release[2];
        if (::pipe(ready) != 0 || ::pipe(release) != 0)
            return;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::close(ready[0]);
            ::close(release[1]);
            QByteArray made;
            for (int i = 0; i < names; ++i)
                made += platform::temporaries::newName() + '\n';
            char c;
            if (::write(ready[1], made.constData(), size_t(made.size())) == made.size())
                (void)!::read(release[0], &c, 1);
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(release[0]);
        m_release = release[1];
        QByteArray got;
        char buffer[4096];
        while (got.count('\n') < names) {
            const ssize_t n = ::read(ready[0], buffer, sizeof buffer);
            if (n <= 0)
                break;
            got.append(buffer, n);
        }
        ::close(ready[0]);
        for (const QByteArray &name : got.split('\n')) {
            if (!name.isEmpty())
                m_names.append(name);
        }
    }
    ~OtherProcess() { finish(); }
    OtherProcess(const OtherProcess &) = delete;
    OtherProcess &operator=(const OtherProcess &) = delete;

    const QList<QByteArray> &names() const { return m_names; }
    QByteArray name() const { return m_names.value(0); }

    // Ends the process and waits for it.
    void finish()
    {
        if (m_pid > 0) {
            ::close(m_release);
            ::waitpid(m_pid, nullptr, 0);
            m_pid = -1;
        }
    }

private:
    pid_t m_pid = -1;
    int m_release = -1;
    QList<QByteArray> m_names;
};

} // namespace testsupport
