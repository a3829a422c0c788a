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

// Reads a whole file. Returns 0 or an errno value.
int readWholeFile(const QString &path, QByteArray &data);

} // namespace platform
