#pragma once

#include <QByteArray>
#include <QString>

namespace testsupport {

// The text as UTF-16 in the given byte order, behind its byte-order mark (FF FE or FE FF).
QByteArray utf16(const QString &text, bool littleEndian);

// The text as UTF-8 behind its byte-order mark (EF BB BF).
QByteArray utf8WithMark(const QString &text);

} // namespace testsupport
