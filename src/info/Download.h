#pragma once

#include <QString>

#include <chrono>
#include <sys/types.h>

// The downloads of the About box and of the usage ping (URLDownloadToFileW): libcurl,
// synchronous, HTTPS only, certificates checked, at most 5 redirections (HTTPS too), an HTTP
// error status is a failure, at most 1 MiB stored, and a time-out for the whole request.
namespace info {

inline constexpr qint64 kMaxDownloadBytes = 1 << 20;

// The calls hold a window while they run, so a server that accepts and never answers (a
// firewall that drops, a captive portal) must not hold it long. The usage ping delays the main
// window by at most this; a small request over a slow link needs well under a second.
inline constexpr std::chrono::milliseconds kPingTimeout { 3000 };
// The About box's fetches of the update file together: the box waits at most this in all.
inline constexpr std::chrono::milliseconds kUpdateFileTimeout { 5000 };

enum class DownloadResult {
    Succeeded,
    Failed, // refused, no such name, certificate, HTTP status, too large...
    TimedOut, // the time-out ran out: the server may be silent
};

// A fresh empty file in the user's temporary folder, made with O_EXCL, O_NOFOLLOW and mode 0600
// and kept open until the object goes, so that nobody else can take over its name between its
// making and its use: the download writes through the open descriptor, never by the name. The
// file is removed when the object goes (only if the name still names that same file).
class TempFile
{
public:
    TempFile() = default;
    ~TempFile();
    TempFile(TempFile &&other) noexcept;
    TempFile &operator=(TempFile &&other) noexcept;
    TempFile(const TempFile &) = delete;
    TempFile &operator=(const TempFile &) = delete;

    bool isValid() const { return m_fd >= 0; }
    const QString &fileName() const { return m_fileName; }
    int handle() const { return m_fd; }
    // Removes the file now; the object becomes invalid.
    void remove();

private:
    friend TempFile MakeTempFileName(const QString &extension);

    QString m_fileName;
    int m_fd = -1;
    dev_t m_device = 0;
    ino_t m_inode = 0;
};

// A unique file in the temporary folder ($TMPDIR, else /tmp), named by a
// random hexadecimal number and extension (".tmp"). Invalid when none could be made.
TempFile MakeTempFileName(const QString &extension);

// Fetches url and stores the response body in file, replacing what it held, giving up after
// timeout (connection and name look-up included). Succeeded only on complete success; on
// failure the file is left empty. Never raises.
DownloadResult DownloadUrlToFile(
    const QString &url, TempFile &file, std::chrono::milliseconds timeout);

// Tests only: trust the certificates of this PEM file instead of the system's ones ("" ends it).
void setDownloadCaFileForTesting(const QString &caFile);
// Tests only: no download waits longer than this (0 ends it), so that a silent server can be
// tried without waiting the real time-outs.
void setDownloadTimeoutCapForTesting(std::chrono::milliseconds cap);

} // namespace info
