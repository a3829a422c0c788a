// Windows-1252: every byte string survives a trip through text, and every text the code
// page can hold survives a trip through bytes.
#include "FuzzSupport.h"

#include "platform/Ansi.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const auto *chars = reinterpret_cast<const char *>(data);
    const QByteArrayView bytes(chars, qsizetype(size));

    // Bytes to text and back: one character per byte, the same bytes again.
    const QString text = platform::fromAnsi(bytes);
    FUZZ_CHECK(text.size() == bytes.size());
    FUZZ_CHECK(platform::ansiCanHold(text));
    FUZZ_CHECK(platform::toAnsi(text) == bytes);

    // Any code units to bytes: one byte per character (a surrogate pair is one character),
    // '?' for what the code page lacks.
    const QString units = fuzz::utf16Units(chars, qsizetype(size));
    const QByteArray encoded = platform::toAnsi(units);
    qsizetype characters = 0;
    for (qsizetype i = 0; i < units.size(); ++i, ++characters) {
        if (units.at(i).isHighSurrogate() && i + 1 < units.size()
            && units.at(i + 1).isLowSurrogate())
            ++i;
    }
    FUZZ_CHECK(encoded.size() == characters);
    const QString decoded = platform::fromAnsi(encoded);
    if (platform::ansiCanHold(units)) {
        FUZZ_CHECK(decoded == units);
    } else {
        FUZZ_CHECK(encoded.contains('?'));
        FUZZ_CHECK(decoded != units);
    }
    // What the code page kept, it keeps character by character; the rest became '?'.
    qsizetype at = 0;
    for (qsizetype i = 0; i < units.size(); ++i, ++at) {
        const bool pair = units.at(i).isHighSurrogate() && i + 1 < units.size()
            && units.at(i + 1).isLowSurrogate();
        if (pair) {
            FUZZ_CHECK(decoded.at(at) == u'?');
            ++i;
        } else if (platform::ansiCanHold(QStringView(units).mid(i, 1))) {
            FUZZ_CHECK(decoded.at(at) == units.at(i));
        } else {
            FUZZ_CHECK(decoded.at(at) == u'?');
        }
    }
    return 0;
}
