#pragma once

#include <QString>

#include <sys/types.h>

// The downloads of the About box and of the usage ping (URLDownloadToFileW): libcurl,
// synchronous, HTTPS only, certificates checked, at most 5 redirections (HTTPS too), an HTTP
// error status is a failure, connect time-out 10 s, whole transfer 30 s, at most 1 MiB stored.
namespace info {

inline constexpr qint64 kMaxDownloadBytes = 1 << 20;

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

// Fetches url and stores the response body in file, replacing what it held. True only on
// complete success; on failure the file is left empty. Never raises.
bool DownloadUrlToFile(const QString &url, TempFile &file);

// Tests only: trust the certificates of this PEM file instead of the system's ones ("" ends it).
void setDownloadCaFileForTesting(const QString &caFile);

} // namespace info
