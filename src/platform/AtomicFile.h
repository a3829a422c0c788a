#pragma once

#include <QByteArray>
#include <QString>

namespace platform {

// Replaces the file's whole content atomically: a temporary file in the same folder,
// written, flushed and renamed over it. An existing file keeps its permission bits.
// Returns 0 or an errno value; on failure the old file is untouched and no temporary
// file is left.
int writeFileAtomic(const QString &path, const QByteArray &data);

// The same, but the name itself receives a new file with exactly these permission bits: a
// link standing there is replaced, not written through, and what it points to stays as it
// was. Returns 0 or an errno value.
int replaceFileAtomic(const QString &path, const QByteArray &data, unsigned mode);

// The same replacement written in pieces: open, write as often as needed, commit. Until the
// commit succeeds the old file is untouched; a writer destroyed uncommitted removes its
// temporary. Its name keeps sweeps off it while the program lives (see Temporaries.h), and
// opening sweeps the folder of what dead writers left there.
class AtomicWriter
{
public:
    AtomicWriter() = default;
    ~AtomicWriter();
    AtomicWriter(const AtomicWriter &) = delete;
    AtomicWriter &operator=(const AtomicWriter &) = delete;

    // As writeFileAtomic: a link is written through, an existing file's permission bits and
    // owner carry over. 0 or errno.
    int open(const QString &path);
    // 0 or errno; after a failure the writer only waits to be destroyed.
    int write(const char *data, size_t size);
    // Flushes the content to the disk and renames it over the file. 0 or errno.
    int commit();

private:
    friend int replaceFileAtomic(const QString &, const QByteArray &, unsigned);
    int openAt(const QByteArray &target, bool keepOld, unsigned mode);
    void discard();

    int m_dir = -1;
    int m_fd = -1;
    QByteArray m_tempName;
    QByteArray m_name;
};

// Reads a whole file. Returns 0 or an errno value; EFBIG, without reading it, for a file
// larger than maxSize bytes when maxSize is not negative.
int readWholeFile(const QString &path, QByteArray &data, qint64 maxSize = -1);

} // namespace platform
