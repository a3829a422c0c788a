#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QPair>
#include <QString>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// A small HTTPS server on 127.0.0.1 for the download tests: a certificate made at start for
// 127.0.0.1 (self-signed, written as a PEM file to trust), canned answers by path, and a record
// of every request line it received. It serves one connection at a time on its own thread.
namespace testinfo {

struct Response
{
    int status = 200;
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers;
    // Without it the body simply runs until the connection closes.
    bool withContentLength = true;
    // The request is read and recorded, then nothing is sent until the client goes away.
    bool silent = false;
};

struct Request
{
    QByteArray method;
    QByteArray target; // path and query, as sent
};

class HttpsServer
{
public:
    // The certificate's PEM file goes into folder.
    explicit HttpsServer(const QString &folder);
    ~HttpsServer();
    HttpsServer(const HttpsServer &) = delete;
    HttpsServer &operator=(const HttpsServer &) = delete;

    bool isListening() const { return m_listenFd >= 0; }
    quint16 port() const { return m_port; }
    QString url() const; // "https://127.0.0.1:{port}"
    QString caFile() const { return m_caFile; }

    // The answer for a path (the target without its query); 404 for any other.
    void setResponse(const QByteArray &path, const Response &response);
    QList<Request> requests() const;

private:
    struct Tls;
    void run();
    void serve(int client);
    // Until the client closes its end, or the server stops.
    void waitUntilGone(int client);

    std::unique_ptr<Tls> m_tls;
    QString m_caFile;
    int m_listenFd = -1;
    int m_stopFd = -1;
    quint16 m_port = 0;
    mutable std::mutex m_mutex;
    QMap<QByteArray, Response> m_responses;
    QList<Request> m_requests;
    std::thread m_thread;
};

// A plain TCP listener on 127.0.0.1 that never answers; it only tells whether anyone came.
class PlainListener
{
public:
    PlainListener();
    ~PlainListener();
    PlainListener(const PlainListener &) = delete;
    PlainListener &operator=(const PlainListener &) = delete;

    quint16 port() const { return m_port; }
    // Connections accepted so far (it accepts what is pending, without waiting).
    int connections();

private:
    int m_fd = -1;
    quint16 m_port = 0;
    int m_count = 0;
};

// A port of 127.0.0.1 on which nothing listens.
quint16 closedPort();

// A listener of 127.0.0.1 whose queue of connections is full and never emptied: the kernel
// drops every further attempt, so a connection to it hangs as one to an address whose packets
// a firewall drops.
class FullListener
{
public:
    FullListener();
    ~FullListener();
    FullListener(const FullListener &) = delete;
    FullListener &operator=(const FullListener &) = delete;

    // False when the queue could not be seen to be full.
    bool isReady() const { return m_ready; }
    quint16 port() const { return m_port; }

private:
    int m_fd = -1;
    std::vector<int> m_fillers;
    quint16 m_port = 0;
    bool m_ready = false;
};

} // namespace testinfo
