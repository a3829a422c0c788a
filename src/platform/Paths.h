#pragma once

#include <QByteArray>
#include <QString>

// Path helpers. The delimiter is '/', and only '/' counts as one.
namespace platform {

// Appends '/' unless the text already ends with it; an empty text becomes "/".
QString includeTrailingDelimiter(const QString &path);

// The text without its leading and trailing characters of code 32 or less.
QString trimText(const QString &text);

// Absolute against the current directory, "." and ".." resolved as text; links are not
// resolved. Returns 0 or an errno value (ENAMETOOLONG for a path the platform cannot hold).
int fullPathName(const QString &path, QString &full);

// stat() (following links) succeeds and names a directory. Missing for ENOENT, ENOTDIR,
// ENAMETOOLONG, ELOOP and ENOMEDIUM; any other error counts as existing. "" is missing.
bool directoryExists(const QString &path);

// stat() succeeds and the entry is not a directory.
bool fileExists(const QString &path);

// Creates the folder and every missing parent; true when the folder exists afterwards.
bool forceDirectories(const QString &path);

// The part after the last '/'.
QString extractFileName(const QString &path);

// The part up to and including the last '/' (empty when there is none).
QString extractFilePath(const QString &path);

// Replaces the extension (from the last dot after the last '/'), or appends it.
QString changeFileExt(const QString &path, const QString &extension);

// The absolute path the running executable was installed at: the place a launcher or a
// restart starts. It stays right after the file was replaced (an upgrade) or removed while the
// program runs, when the kernel reports the old file as "<path> (deleted)".
QString executablePath();

// A path that opens the running program's own file: the image that is running, also after its
// file was replaced or removed. For reading what the program carries (its version resource).
QString runningExecutableImage();

// The bytes the file system sees for a path (the locale's encoding, UTF-8 here).
QByteArray encodePath(const QString &path);
QString decodePath(const QByteArray &bytes);

} // namespace platform
