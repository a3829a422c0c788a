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

// A file name is bytes; these map them to text and back without loss. Valid UTF-8 is
// decoded as such; every other byte becomes a code point of its own, the lone low surrogate
// U+DC80 + (byte - 0x80), which encodePath writes back as that byte. encodePath(decodePath(b))
// is b for every byte string, and decodePath(encodePath(t)) is t for every text decodePath
// gives. Any other lone surrogate (never decoded from a name) is written as U+FFFD.
QByteArray encodePath(const QString &path);
QString decodePath(QByteArrayView bytes);

// A code unit that stands for one undecodable byte of a name, when it is not the second
// half of a surrogate pair.
constexpr bool isEscapedByte(char16_t unit)
{
    return unit >= 0xDC80 && unit <= 0xDCFF;
}

// The text as it can be shown or written out: every lone surrogate (an undecodable byte of a
// name) becomes U+FFFD, so that a list, a message or a UTF-8 output holds only characters.
QString displayText(const QString &text);

} // namespace platform
