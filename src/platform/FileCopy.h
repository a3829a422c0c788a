#pragma once

#include <QString>

namespace platform {

// CopyFileW: data, permission bits and both times, as far as the destination can hold them
// (a file system that cannot hold modes, as FAT, is no error); a link is followed. The
// content goes to a temporary file in the target's folder that is published as the target
// once complete, so a failure never leaves a partial file nor damages the file it was to
// replace. With failIfExists an existing target (even one appearing meanwhile) is never
// replaced (EEXIST): where the file system has neither hard links nor renameat2, the target
// is looked up right before the rename, and only a file made in that moment could be lost.
// The content is moved by the kernel (copy_file_range, a reflink where it can); holes of a
// sparse file stay holes; a FUSE destination gets writes of 1 MiB. The temporary file has
// no name until it is complete where the file system has unnamed files; a temporary's name
// tells a sweep of the folder whether its writer still lives (see Temporaries.h). What a
// destination folder's file system can do is learnt on the first files copied there. The
// source is opened once, without blocking, and only a regular file is read (EACCES for a
// FIFO, a device ..., EISDIR for a folder). The set-user and set-group bits are not carried
// over. A link at the target is replaced, not written through. A missing destination folder
// gives ENOTDIR (the path, not the file, cannot be found). Where the file system sets a
// file's times at its last close, they are set again by name after it.
// Returns 0 or an errno value; on success bytes, when given, receives the size written.
int copyFile(
    const QString &source, const QString &target, bool failIfExists, qint64 *bytes = nullptr);

// The same copy through a named temporary file (O_EXCL, mode 0600) that is removed on
// failure: what copyFile does where the file system has no unnamed files.
int copyFileWithNamedTemporary(
    const QString &source, const QString &target, bool failIfExists, qint64 *bytes = nullptr);

// Writes out to its storage what is cached for the file system that holds folder (syncfs),
// and asks the folder's FUSE server, if any, to do the same (fsync of the folder). Waits
// until it is done. 0 or errno (EIO when the device failed to take it).
int flushFileSystem(const QString &folder);

// Reads the copy back from the storage (its cached pages written out and dropped first) and
// compares it byte for byte with the source: same tells whether they match. Returns 0 or
// the errno of a failed open or read.
int compareWithCopy(const QString &source, const QString &target, bool &same);

} // namespace platform
