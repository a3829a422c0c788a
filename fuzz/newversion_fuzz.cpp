// The "newversion" parse of the update file. Input: the text in UTF-8 (an input that starts
// with FF FE is UTF-16LE instead). Any text gives a version; the rule's reading is checked
// against a plain one, and a version's own text form parses back to the same version.
#include "FuzzSupport.h"

#include "info/uAbout102.h"

#include <cstddef>
#include <cstdint>

namespace {

// Three parts up to a dot each, the rest is the build; a part that is no integer counts 0;
// each is taken modulo 65536.
TVersionNumber plainReading(const QString &text)
{
    const auto number = [](QStringView part) {
        bool ok = false;
        const int value = part.toInt(&ok);
        return std::uint16_t(ok ? value : 0);
    };
    std::uint16_t parts[4] = {};
    QStringView rest = text;
    int filled = 0;
    while (filled < 3) {
        const qsizetype dot = rest.indexOf(u'.');
        if (dot < 0)
            break;
        parts[filled++] = number(rest.first(dot));
        rest = rest.sliced(dot + 1);
    }
    parts[3] = number(rest);
    return { parts[0], parts[1], parts[2], parts[3] };
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const auto *chars = reinterpret_cast<const char *>(data);
    const QString text = size >= 2 && data[0] == 0xFF && data[1] == 0xFE
        ? fuzz::utf16Units(chars + 2, qsizetype(size) - 2)
        : QString::fromUtf8(chars, qsizetype(size));

    const TVersionNumber version = about::ParseVersionText(text);
    const TVersionNumber plain = plainReading(text);
    FUZZ_CHECK(version.V1 == plain.V1 && version.V2 == plain.V2 && version.V3 == plain.V3
        && version.V4 == plain.V4);
    FUZZ_CHECK(about::ParseVersionText(version.toString()) == version);

    // The order is the parts' order in turn, and compare() agrees with it.
    const TVersionNumber other = about::ParseVersionText(text.mid(text.size() / 2));
    const int c = version.compare(other);
    FUZZ_CHECK((c == 0) == (version == other));
    FUZZ_CHECK(c == -other.compare(version));
    const auto tuple = [](const TVersionNumber &v) {
        return std::uint64_t(v.V1) << 48 | std::uint64_t(v.V2) << 32 | std::uint64_t(v.V3) << 16
            | v.V4;
    };
    FUZZ_CHECK((c < 0) == (tuple(version) < tuple(other)));
    FUZZ_CHECK((version < other) == (c < 0));
    return 0;
}
