#include "platform/Ansi.h"

#include <array>

namespace platform {

namespace {

// Bytes 0x80 to 0x9F; the rest of the code page is Latin-1. The five bytes the code page
// leaves undefined stand for the C1 control of the same number, so every byte survives a
// round trip through text.
constexpr std::array<char16_t, 32> kHighBytes = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, //
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F, //
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, //
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178, //
};

// The byte for one UTF-16 code unit, or -1 when the code page lacks it.
int ansiByte(char16_t unit)
{
    if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF))
        return unit;
    for (std::size_t i = 0; i < kHighBytes.size(); ++i) {
        if (kHighBytes[i] == unit)
            return int(0x80 + i);
    }
    return -1;
}

} // namespace

QByteArray toAnsi(QStringView text)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i].unicode();
        // A character outside the basic plane is one character: one substitute.
        if (QChar::isHighSurrogate(unit) && i + 1 < text.size()
            && QChar::isLowSurrogate(text[i + 1].unicode())) {
            bytes.append('?');
            ++i;
            continue;
        }
        const int byte = ansiByte(unit);
        bytes.append(byte < 0 ? '?' : char(byte));
    }
    return bytes;
}

QString fromAnsi(QByteArrayView bytes)
{
    QString text(bytes.size(), Qt::Uninitialized);
    QChar *out = text.data();
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        *out++ = QChar(byte >= 0x80 && byte < 0xA0 ? kHighBytes[byte - 0x80] : char16_t(byte));
    }
    return text;
}

bool ansiCanHold(QStringView text)
{
    for (const QChar c : text) {
        if (ansiByte(c.unicode()) < 0)
            return false;
    }
    return true;
}

} // namespace platform
