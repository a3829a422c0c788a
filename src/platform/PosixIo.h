#pragma once

#include <QByteArray>

#include <sys/types.h>

// Small POSIX helpers shared by the atomic save, the file copy and the log-file writer.
namespace platform::posixio {

// Writes every byte, going on after short writes and interruptions. 0 or errno.
int writeAll(int fd, const char *data, size_t size);

// Reads until size bytes are in or the file ends, going on after short reads and
// interruptions; got receives how many came. From the file's offset, or at offset when it is
// not negative (the file's offset then stays where it was). 0 or errno.
int readFull(int fd, char *data, size_t size, size_t &got, off_t offset = -1);

// A fresh name ".qs-XXXXXX" (ten random letters and digits) for a temporary entry.
QByteArray uniqueName();

// Creates a new file of a unique name ".qs-XXXXXX" in the folder dirFd (O_EXCL, mode 0600,
// close-on-exec, write-only), locked against sweeps (see Temporaries.h) for as long as the
// returned descriptor, or a duplicate of it, stays open: keep one open until the file is
// renamed or removed. Returns the descriptor and sets name, or -1 with errno set.
int createUniqueFile(int dirFd, QByteArray &name);

// close() that reports errno, and never retries (Linux frees the descriptor anyway).
int closeChecked(int fd);

// The process's umask, read without leaving it changed.
mode_t currentUmask();

} // namespace platform::posixio
