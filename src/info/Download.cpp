#include "info/Download.h"

#include "platform/Paths.h"

#include <QRandomGenerator>

#include <curl/curl.h>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace info {

namespace {

constexpr long kMaxRedirections = 5;
constexpr int kNameAttempts = 100;

QString testCaFile;
std::chrono::milliseconds testTimeoutCap { 0 };

struct Sink
{
    int fd = -1;
    qint64 written = 0;
    bool failed = false;
};

// libcurl's write callback: anything but the full size aborts the transfer.
size_t writeBody(char *data, size_t size, size_t count, void *userData)
{
    auto *sink = static_cast<Sink *>(userData);
    const size_t total = size * count;
    if (total > size_t(kMaxDownloadBytes - sink->written)) {
        sink->failed = true;
        return 0;
    }
    size_t done = 0;
    while (done < total) {
        const ssize_t n = ::pwrite(sink->fd, data + done, total - done, off_t(sink->written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            sink->failed = true;
            return 0;
        }
        done += size_t(n);
        sink->written += n;
    }
    return total;
}

// Whatever a failed transfer stored is dropped; the file itself goes with its TempFile.
void discardContent(int fd)
{
    if (::ftruncate(fd, 0) != 0) {
        // Nothing more to do: the caller removes the file in any case.
    }
}

bool curlReady()
{
    static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ready;
}

struct CurlDeleter
{
    void operator()(CURL *curl) const { curl_easy_cleanup(curl); }
};

DownloadResult fetch(const QByteArray &url, Sink &sink, std::chrono::milliseconds timeout)
{
    if (!curlReady())
        return DownloadResult::Failed;
    const std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
    if (!curl)
        return DownloadResult::Failed;
    if (testTimeoutCap.count() > 0)
        timeout = std::min(timeout, testTimeoutCap);
    // At least a millisecond: 0 would mean no time-out at all to libcurl.
    const long timeoutMs = long(std::max<std::chrono::milliseconds::rep>(timeout.count(), 1));
    CURL *c = curl.get();
    const QByteArray caFile = platform::encodePath(testCaFile);
    bool set = curl_easy_setopt(c, CURLOPT_URL, url.constData()) == CURLE_OK
        && curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "https") == CURLE_OK
        && curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "https") == CURLE_OK
        && curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK
        && curl_easy_setopt(c, CURLOPT_MAXREDIRS, kMaxRedirections) == CURLE_OK
        && curl_easy_setopt(c, CURLOPT_FAILONERROR, 1L) == CURLE_OK
        && curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L) == CURLE_OK
        && curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L) == CURLE_OK
        && curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, timeoutMs) == CURLE_OK
        && curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, timeoutMs) == CURLE_OK
        && curl_easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(kMaxDownloadBytes)) == CURLE_OK
        && curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L) == CURLE_OK
        && curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &writeBody) == CURLE_OK
        && curl_easy_setopt(c, CURLOPT_WRITEDATA, &sink) == CURLE_OK;
    if (set && !caFile.isEmpty())
        set = curl_easy_setopt(c, CURLOPT_CAINFO, caFile.constData()) == CURLE_OK;
    if (!set)
        return DownloadResult::Failed;
    const CURLcode code = curl_easy_perform(c);
    if (code == CURLE_OPERATION_TIMEDOUT)
        return DownloadResult::TimedOut;
    if (code != CURLE_OK || sink.failed)
        return DownloadResult::Failed;
    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    return status >= 200 && status < 300 ? DownloadResult::Succeeded : DownloadResult::Failed;
}

} // namespace

TempFile::~TempFile()
{
    remove();
}

TempFile::TempFile(TempFile &&other) noexcept
    : m_fileName(std::move(other.m_fileName))
    , m_fd(std::exchange(other.m_fd, -1))
    , m_device(other.m_device)
    , m_inode(other.m_inode)
{
}

TempFile &TempFile::operator=(TempFile &&other) noexcept
{
    if (this != &other) {
        remove();
        m_fileName = std::move(other.m_fileName);
        m_fd = std::exchange(other.m_fd, -1);
        m_device = other.m_device;
        m_inode = other.m_inode;
    }
    return *this;
}

void TempFile::remove()
{
    if (m_fd < 0)
        return;
    const QByteArray name = platform::encodePath(m_fileName);
    struct stat st
    {
    };
    // Someone may have put something else under the name meanwhile: that is not ours to delete.
    if (::lstat(name.constData(), &st) == 0 && st.st_dev == m_device && st.st_ino == m_inode)
        ::unlink(name.constData());
    ::close(m_fd);
    m_fd = -1;
}

TempFile MakeTempFileName(const QString &extension)
{
    TempFile file;
    // TMPDIR as it is: QDir::tempPath() would turn a missing folder into "" and so into "/".
    QString folder = qEnvironmentVariable("TMPDIR");
    if (folder.isEmpty())
        folder = u"/tmp"_s;
    folder = platform::includeTrailingDelimiter(folder);
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const QString name = folder
            + QString::number(QRandomGenerator::system()->generate(), 16)
                  .toUpper()
                  .rightJustified(8, u'0')
            + extension;
        const int fd = ::open(platform::encodePath(name).constData(),
            O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            return file;
        }
        struct stat st
        {
        };
        if (::fstat(fd, &st) != 0) {
            ::unlink(platform::encodePath(name).constData());
            ::close(fd);
            return file;
        }
        file.m_fileName = name;
        file.m_fd = fd;
        file.m_device = st.st_dev;
        file.m_inode = st.st_ino;
        return file;
    }
    return file;
}

DownloadResult DownloadUrlToFile(
    const QString &url, TempFile &file, std::chrono::milliseconds timeout)
{
    if (!file.isValid())
        return DownloadResult::Failed;
    try {
        if (::ftruncate(file.handle(), 0) != 0)
            return DownloadResult::Failed;
        Sink sink;
        sink.fd = file.handle();
        const DownloadResult result = fetch(url.toUtf8(), sink, timeout);
        if (result != DownloadResult::Succeeded)
            discardContent(file.handle());
        return result;
    } catch (...) {
        discardContent(file.handle());
        return DownloadResult::Failed;
    }
}

void setDownloadCaFileForTesting(const QString &caFile)
{
    testCaFile = caFile;
}

void setDownloadTimeoutCapForTesting(std::chrono::milliseconds cap)
{
    testTimeoutCap = cap;
}

} // namespace info
