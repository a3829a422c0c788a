#pragma once

#include <QString>

namespace platform {

// CopyFileW: data, permission bits and modification time; a link is followed. The content
// goes to a temporary file in the target's folder that is renamed over the target once
// complete, so a failure never leaves a partial file nor damages the file it was to
// replace. With failIfExists an existing target (even one appearing meanwhile) is never
// replaced (EEXIST). A target without write permission is refused (EACCES).
// The content is moved by the kernel, and the temporary file has no name until it is
// complete; a replaced target goes through a named temporary, locked from before it is
// named until it is renamed, so that a sweep of the folder removes it if the program died
// in between (see Temporaries.h). The source is opened once, without
// blocking, and only a regular file is read (EACCES for a FIFO, a device ..., EISDIR for a
// folder). The set-user and set-group bits are not carried over. A link at the target is
// replaced, not written through. A missing destination folder gives ENOTDIR (the path, not
// the file, cannot be found).
// Returns 0 or an errno value; on success bytes, when given, receives the size written.
int copyFile(
    const QString &source, const QString &target, bool failIfExists, qint64 *bytes = nullptr);

// The same copy through a named temporary file (O_EXCL, mode 0600) that is removed on
// failure: what copyFile does where the file system has no unnamed files.
int copyFileWithNamedTemporary(
    const QString &source, const QString &target, bool failIfExists, qint64 *bytes = nullptr);

// Reads the copy back from the storage (its cached pages written out and dropped first) and
// compares it byte for byte with the source: same tells whether they match. Returns 0 or
// the errno of a failed open or read.
int compareWithCopy(const QString &source, const QString &target, bool &same);

} // namespace platform
