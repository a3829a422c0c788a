#include "settings/FolderList.h"

#include "platform/Ansi.h"
#include "platform/AtomicFile.h"
#include "platform/Error.h"
#include "platform/ErrorText.h"
#include "platform/Paths.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace {

struct Mark
{
    TextEncoding encoding;
    QByteArrayView bytes;
};

// Tested in this order.
constexpr Mark kMarks[] = {
    { TextEncoding::Utf8, QByteArrayView("\xEF\xBB\xBF", 3) },
    { TextEncoding::Utf16LE, QByteArrayView("\xFF\xFE", 2) },
    { TextEncoding::Utf16BE, QByteArrayView("\xFE\xFF", 2) },
};

QByteArrayView markOf(TextEncoding encoding)
{
    for (const Mark &mark : kMarks) {
        if (mark.encoding == encoding)
            return mark.bytes;
    }
    return {};
}

QStringConverter::Encoding converterOf(TextEncoding encoding)
{
    switch (encoding) {
    case TextEncoding::Utf16LE:
        return QStringConverter::Utf16LE;
    case TextEncoding::Utf16BE:
        return QStringConverter::Utf16BE;
    case TextEncoding::Utf8:
    case TextEncoding::Ansi:
        break;
    }
    return QStringConverter::Utf8;
}

QString fullPathForMessage(const QString &path)
{
    QString full;
    return platform::fullPathName(path, full) == 0 ? full : path;
}

} // namespace

FolderList decodeFolderList(const QByteArray &bytes)
{
    FolderList list;
    QByteArrayView body = bytes;
    for (const Mark &mark : kMarks) {
        if (body.startsWith(mark.bytes)) {
            list.encoding = mark.encoding;
            body = body.sliced(mark.bytes.size());
            break;
        }
    }
    QString text;
    if (list.encoding == TextEncoding::Ansi) {
        text = platform::fromAnsi(body);
    } else {
        // The mark was taken off above; a second one is part of the text. The whole file is
        // at hand: a sequence cut off by its end is no character, and shows as U+FFFD like
        // any other, rather than vanish and leave the entry naming another folder.
        QStringDecoder decoder(converterOf(list.encoding),
            QStringConverter::Flag::ConvertInitialBom | QStringConverter::Flag::Stateless);
        text = decoder(body);
    }

    qsizetype start = 0;
    const qsizetype size = text.size();
    while (start < size) {
        qsizetype end = start;
        while (end < size && text[end] != u'\r' && text[end] != u'\n')
            ++end;
        list.entries.append(text.mid(start, end - start));
        if (end < size)
            end += text[end] == u'\r' && end + 1 < size && text[end + 1] == u'\n' ? 2 : 1;
        start = end;
    }
    return list;
}

QByteArray encodeFolderList(const FolderList &list, TextEncoding *written)
{
    TextEncoding encoding = list.encoding;
    if (encoding == TextEncoding::Ansi) {
        for (const QString &entry : list.entries) {
            // Windows-1252 would turn the letters it lacks into '?', and the folder with them.
            if (!platform::ansiCanHold(entry)) {
                encoding = TextEncoding::Utf8;
                break;
            }
        }
        // A first folder that begins with "ï»¿", "ÿþ" or "þÿ" would read back as a mark.
        if (encoding == TextEncoding::Ansi && !list.entries.isEmpty()) {
            const QByteArray first = platform::toAnsi(list.entries.first());
            for (const Mark &mark : kMarks) {
                if (first.startsWith(mark.bytes))
                    encoding = TextEncoding::Utf8;
            }
        }
    }
    if (written)
        *written = encoding;

    QString text;
    for (const QString &entry : list.entries)
        text += entry + u"\r\n";
    QByteArray bytes = markOf(encoding).toByteArray();
    if (encoding == TextEncoding::Ansi) {
        bytes += platform::toAnsi(text);
    } else {
        QStringEncoder encoder(converterOf(encoding));
        bytes += QByteArray(encoder(text));
    }
    return bytes;
}

FolderList readFolderListFile(const QString &path)
{
    QByteArray bytes;
    const int rc = platform::readWholeFile(path, bytes);
    if (rc != 0)
        throw InOutError(rc,
            QStringLiteral("Impossible d'ouvrir le fichier \"") + fullPathForMessage(path)
                + QStringLiteral("\". ") + platform::sysErrorMessage(rc));
    return decodeFolderList(bytes);
}

TextEncoding writeFolderListFile(const QString &path, const FolderList &list)
{
    TextEncoding written = list.encoding;
    const QByteArray bytes = encodeFolderList(list, &written);
    const int rc = platform::writeFileAtomic(path, bytes);
    if (rc != 0)
        throw InOutError(rc,
            QStringLiteral("Impossible de créer le fichier \"") + fullPathForMessage(path)
                + QStringLiteral("\". ") + platform::sysErrorMessage(rc));
    return written;
}
