#pragma once

#include <QByteArray>
#include <QString>

// Our temporary files, next to the file they become, and the removal of those a dead process
// left behind. A temporary's name tells who writes it:
//   ".qs-" HOST "-" BOOT "-" PID "-" START "-" RANDOM
// HOST stands for the machine and its process namespace, BOOT for the kernel's boot, START
// is the process's start time since that boot; the tags and RANDOM are six letters or
// digits. So a sweep tells a dead writer from a live one by the name and /proc alone: it
// never opens a temporary (on some network file systems a second open breaks the writer),
// and a file whose name does not parse is never ours to remove.
namespace platform::temporaries {

// A fresh name for a temporary of the calling process.
QByteArray newName();

// True for a name that one of our temporaries can have.
bool isTemporaryName(const char *name);

// True when the name is one of ours and its writer is provably gone: a process of this
// machine that no longer runs, or that ran before the machine last started. A writer of
// another machine or process namespace, or one that cannot be looked up, counts as alive.
bool writerIsGone(const char *name);

// Removes from the folder dirFd every regular file whose name is one of ours and whose
// writer is gone, without opening it; anything else, and every failure, is left alone.
// Returns the number removed.
int sweep(int dirFd);

// The same for a folder path; a folder that cannot be opened is left alone.
int sweep(const QString &folder);

} // namespace platform::temporaries
