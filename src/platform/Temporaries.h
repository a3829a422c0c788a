#pragma once

#include <QByteArray>
#include <QString>

// Our temporary files (".qs-" and ten letters or digits, next to the file they become) and
// the removal of those a dead process left behind. A temporary is alive while a descriptor
// of it holds an flock: the kernel drops the lock with its last holder, however that holder
// ends, so a lock that can be taken proves the temporary dead, without trusting names, ages
// or process numbers.
namespace platform::temporaries {

// True for a name that one of our temporaries can have.
bool isTemporaryName(const char *name);

// Locks the file behind fd for as long as its open file description lives: a sweep then
// leaves it alone. Call it before the file gets a temporary name. A file system without
// such locks is not an error (a sweep cannot lock there either, and so removes nothing).
// 0 or errno.
int holdLock(int fd);

// Removes from the folder dirFd (opened for reading) every temporary of ours that nobody
// holds: only regular files of our name pattern, opened without following links, locked
// without waiting, and unlinked only while the name still leads to the locked file.
// Anything else, and every failure, is left alone. Returns the number removed.
int sweep(int dirFd);

// The same for a folder path; a folder that cannot be opened is left alone.
int sweep(const QString &folder);

} // namespace platform::temporaries
