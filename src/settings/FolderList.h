#pragma once

#include <QString>
#include <QStringList>

// An ordered list of folder texts and the encoding it was last read with.
enum class TextEncoding {
    Ansi, // the system's 8-bit code page, no mark
    Utf8, // EF BB BF
    Utf16LE, // FF FE
    Utf16BE, // FE FF
};

struct FolderList
{
    QStringList entries;
    TextEncoding encoding = TextEncoding::Ansi;

    bool operator==(const FolderList &) const = default;
};

// Decodes a whole file's bytes: the mark decides the encoding, lines end at CR, LF or CR LF,
// a break at the very end makes no empty last entry.
FolderList decodeFolderList(const QByteArray &bytes);

// Every entry followed by CR LF, in the list's encoding with its mark (even when empty). A
// list that Windows-1252 cannot hold is written as UTF-8 with its mark, and `encoding` says
// what was written.
QByteArray encodeFolderList(const FolderList &list, TextEncoding *written = nullptr);

// Raises AppError "Impossible d'ouvrir le fichier \"{path}\". {reason}".
FolderList readFolderListFile(const QString &path);

// Atomic. Raises AppError "Impossible de créer le fichier \"{path}\". {reason}". Returns
// the encoding written (it can become UTF-8, see encodeFolderList).
TextEncoding writeFolderListFile(const QString &path, const FolderList &list);
