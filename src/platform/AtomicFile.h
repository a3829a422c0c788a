#pragma once

#include <QByteArray>
#include <QString>

namespace platform {

// Replaces the file's whole content atomically: a temporary file in the same folder,
// written, flushed and renamed over it. An existing file keeps its permission bits.
// Returns 0 or an errno value; on failure the old file is untouched and no temporary
// file is left.
int writeFileAtomic(const QString &path, const QByteArray &data);

// Reads a whole file. Returns 0 or an errno value.
int readWholeFile(const QString &path, QByteArray &data);

} // namespace platform
