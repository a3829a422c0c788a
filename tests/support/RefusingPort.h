#pragma once

#include <QString>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

// A loopback port that is bound but never listens: a connection to it is refused at once, so
// requests to a server pointed there fail without waiting.
class RefusingPort
{
public:
    RefusingPort()
        : m_socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
    {
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (m_socket >= 0 && ::bind(m_socket, reinterpret_cast<sockaddr *>(&address), length) == 0
            && ::getsockname(m_socket, reinterpret_cast<sockaddr *>(&address), &length) == 0)
            m_port = ntohs(address.sin_port);
    }
    ~RefusingPort()
    {
        if (m_socket >= 0)
            ::close(m_socket);
    }
    RefusingPort(const RefusingPort &) = delete;
    RefusingPort &operator=(const RefusingPort &) = delete;

    bool isValid() const { return m_port != 0; }
    QString httpsUrl() const { return QStringLiteral("https://127.0.0.1:%1").arg(m_port); }

private:
    int m_socket;
    quint16 m_port = 0;
};

} // namespace testsupport
