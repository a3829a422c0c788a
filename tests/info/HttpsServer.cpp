#include "HttpsServer.h"

#include <QFile>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace testinfo {

struct HttpsServer::Tls
{
    EVP_PKEY *key = nullptr;
    X509 *certificate = nullptr;
    SSL_CTX *context = nullptr;

    ~Tls()
    {
        SSL_CTX_free(context);
        X509_free(certificate);
        EVP_PKEY_free(key);
    }
};

namespace {

void addExtension(X509 *certificate, int nid, const char *value)
{
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
    X509_EXTENSION *extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    if (!extension)
        throw std::runtime_error("X509V3_EXT_conf_nid");
    X509_add_ext(certificate, extension, -1);
    X509_EXTENSION_free(extension);
}

// A self-signed certificate for the address 127.0.0.1, valid from an hour ago for a day.
void makeCertificate(EVP_PKEY *&key, X509 *&certificate)
{
    key = EVP_EC_gen("P-256");
    certificate = X509_new();
    if (!key || !certificate)
        throw std::runtime_error("key or certificate");
    X509_set_version(certificate, 2);
    unsigned char serial[8];
    RAND_bytes(serial, sizeof serial);
    serial[0] &= 0x7F;
    BIGNUM *number = BN_bin2bn(serial, sizeof serial, nullptr);
    BN_to_ASN1_INTEGER(number, X509_get_serialNumber(certificate));
    BN_free(number);
    X509_gmtime_adj(X509_getm_notBefore(certificate), -3600);
    X509_gmtime_adj(X509_getm_notAfter(certificate), 86400);
    X509_set_pubkey(certificate, key);
    X509_NAME *name = X509_get_subject_name(certificate);
    X509_NAME_add_entry_by_txt(
        name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char *>("127.0.0.1"), -1, -1, 0);
    X509_set_issuer_name(certificate, name);
    addExtension(certificate, NID_basic_constraints, "critical,CA:TRUE");
    addExtension(certificate, NID_key_usage, "critical,digitalSignature,keyCertSign");
    addExtension(certificate, NID_subject_alt_name, "IP:127.0.0.1");
    addExtension(certificate, NID_subject_key_identifier, "hash");
    if (X509_sign(certificate, key, EVP_sha256()) == 0)
        throw std::runtime_error("X509_sign");
}

int listenOnLoopback(quint16 &port, int backlog = 16)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
        || ::listen(fd, backlog) != 0
        || ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        ::close(fd);
        return -1;
    }
    port = ntohs(address.sin_port);
    return fd;
}

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    default:
        return "Status";
    }
}

bool writeAll(SSL *ssl, const QByteArray &bytes)
{
    constexpr qsizetype chunk = 16 * 1024;
    for (qsizetype at = 0; at < bytes.size(); at += chunk) {
        const int length = int(std::min(chunk, bytes.size() - at));
        if (SSL_write(ssl, bytes.constData() + at, length) != length)
            return false;
    }
    return true;
}

} // namespace

void HttpsServer::waitUntilGone(int client)
{
    for (;;) {
        pollfd fds[2] = { { client, POLLIN, 0 }, { m_stopFd, POLLIN, 0 } };
        if (::poll(fds, 2, -1) < 0)
            continue;
        if (fds[1].revents != 0)
            return;
        char byte;
        if (fds[0].revents != 0 && ::recv(client, &byte, 1, MSG_DONTWAIT) <= 0)
            return;
    }
}

HttpsServer::HttpsServer(const QString &folder)
    : m_tls(std::make_unique<Tls>())
{
    // A client that gives up mid-answer must not kill the test program.
    std::signal(SIGPIPE, SIG_IGN);
    makeCertificate(m_tls->key, m_tls->certificate);
    m_tls->context = SSL_CTX_new(TLS_server_method());
    if (!m_tls->context || SSL_CTX_use_certificate(m_tls->context, m_tls->certificate) != 1
        || SSL_CTX_use_PrivateKey(m_tls->context, m_tls->key) != 1)
        throw std::runtime_error("SSL_CTX");

    m_caFile = folder + QStringLiteral("/server-certificate.pem");
    BIO *out = BIO_new_file(QFile::encodeName(m_caFile).constData(), "w");
    if (!out || PEM_write_bio_X509(out, m_tls->certificate) != 1)
        throw std::runtime_error("PEM_write_bio_X509");
    BIO_free(out);

    m_listenFd = listenOnLoopback(m_port);
    m_stopFd = ::eventfd(0, EFD_CLOEXEC);
    if (m_listenFd >= 0 && m_stopFd >= 0)
        m_thread = std::thread([this] { run(); });
}

HttpsServer::~HttpsServer()
{
    if (m_thread.joinable()) {
        const std::uint64_t one = 1;
        if (::write(m_stopFd, &one, sizeof one) != sizeof one)
            std::terminate();
        m_thread.join();
    }
    if (m_listenFd >= 0)
        ::close(m_listenFd);
    if (m_stopFd >= 0)
        ::close(m_stopFd);
}

QString HttpsServer::url() const
{
    return QStringLiteral("https://127.0.0.1:%1").arg(m_port);
}

void HttpsServer::setResponse(const QByteArray &path, const Response &response)
{
    const std::lock_guard lock(m_mutex);
    m_responses.insert(path, response);
}

QList<Request> HttpsServer::requests() const
{
    const std::lock_guard lock(m_mutex);
    return m_requests;
}

void HttpsServer::run()
{
    for (;;) {
        pollfd fds[2] = { { m_listenFd, POLLIN, 0 }, { m_stopFd, POLLIN, 0 } };
        if (::poll(fds, 2, -1) < 0)
            continue;
        if (fds[1].revents != 0)
            return;
        if (fds[0].revents & POLLIN) {
            const int client = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0) {
                serve(client);
                ::close(client);
            }
        }
    }
}

void HttpsServer::serve(int client)
{
    timeval timeout { 5, 0 };
    ::setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    ::setsockopt(client, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    SSL *ssl = SSL_new(m_tls->context);
    SSL_set_fd(ssl, client);
    if (SSL_accept(ssl) == 1) {
        QByteArray head;
        char buffer[4096];
        while (!head.contains("\r\n\r\n") && head.size() < 64 * 1024) {
            const int n = SSL_read(ssl, buffer, sizeof buffer);
            if (n <= 0)
                break;
            head.append(buffer, n);
        }
        const QList<QByteArray> requestLine = head.left(head.indexOf("\r\n")).split(' ');
        if (requestLine.size() == 3) {
            Request request { requestLine[0], requestLine[1] };
            const qsizetype query = request.target.indexOf('?');
            const QByteArray path = query < 0 ? request.target : request.target.left(query);
            Response response;
            {
                const std::lock_guard lock(m_mutex);
                m_requests.append(request);
                response = m_responses.value(path, Response { 404, "missing", {}, true });
            }
            if (response.silent) {
                waitUntilGone(client);
                SSL_free(ssl);
                ERR_clear_error();
                return;
            }
            QByteArray answer = "HTTP/1.1 " + QByteArray::number(response.status) + ' '
                + reasonPhrase(response.status) + "\r\n";
            for (const auto &[name, value] : response.headers)
                answer += name + ": " + value + "\r\n";
            if (response.withContentLength)
                answer += "Content-Length: " + QByteArray::number(response.body.size()) + "\r\n";
            answer += "Connection: close\r\n\r\n";
            if (writeAll(ssl, answer) && writeAll(ssl, response.body))
                SSL_shutdown(ssl);
        }
    }
    SSL_free(ssl);
    ERR_clear_error();
}

PlainListener::PlainListener()
{
    m_fd = listenOnLoopback(m_port);
    if (m_fd >= 0)
        ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK);
}

PlainListener::~PlainListener()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

int PlainListener::connections()
{
    for (;;) {
        const int client = ::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            return m_count;
        ::close(client);
        ++m_count;
    }
}

FullListener::FullListener()
{
    // With a backlog of 0 the queue holds one connection; the second filler makes sure.
    m_fd = listenOnLoopback(m_port, 0);
    if (m_fd < 0)
        return;
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(m_port);
    for (int i = 0; i < 2; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0)
            return;
        m_fillers.push_back(fd);
        if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
            && errno != EINPROGRESS)
            return;
    }
    // The first filler is in the queue once its connection is up.
    pollfd first { m_fillers.front(), POLLOUT, 0 };
    m_ready = ::poll(&first, 1, 5000) == 1 && (first.revents & POLLOUT) != 0;
}

FullListener::~FullListener()
{
    for (const int fd : m_fillers)
        ::close(fd);
    if (m_fd >= 0)
        ::close(m_fd);
}

quint16 closedPort()
{
    quint16 port = 0;
    const int fd = listenOnLoopback(port);
    if (fd >= 0)
        ::close(fd);
    return port;
}

} // namespace testinfo
