#include "support/Bytes.h"

namespace testsupport {

QByteArray utf16(const QString &text, bool littleEndian)
{
    QByteArray bytes(littleEndian ? "\xFF\xFE" : "\xFE\xFF", 2);
    for (const QChar c : text) {
        const char low = char(c.unicode() & 0xFF);
        const char high = char(c.unicode() >> 8);
        bytes.append(littleEndian ? low : high);
        bytes.append(littleEndian ? high : low);
    }
    return bytes;
}

QByteArray utf8WithMark(const QString &text)
{
    return "\xEF\xBB\xBF" + text.toUtf8();
}

} // namespace testsupport
