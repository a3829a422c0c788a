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

// Creates a new file with a fresh temporary name (see Temporaries.h) in the folder dirFd
// (O_EXCL, mode 0600, close-on-exec, write-only). Its name keeps sweeps off it for as long
// as the process lives. Returns the descriptor and sets name, or -1 with errno set.
int createUniqueFile(int dirFd, QByteArray &name);

// What fchmod answers where the file system cannot hold permission bits (FAT, exFAT, many
// FUSE and network file systems): no failure of the file's own.
bool modeNotHeld(int error);

// close() that reports errno, and never retries (Linux frees the descriptor anyway).
int closeChecked(int fd);

// The process's umask, read without leaving it changed.
mode_t currentUmask();

} // namespace platform::posixio
