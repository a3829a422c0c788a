// The settings-file reader and writer. Input: one byte choosing the section, the key and
// how the value is read, one byte giving the value's length in bytes, the value, then the
// file's bytes. Any file reads without fault and gives values of at most 2047 characters;
// a write refuses exactly what the line format cannot hold, reads back as written, leaves
// every other value as it was and changes the bytes of one line only (or adds lines); the
// functions over a real file agree with the document in memory.
#include "FuzzSupport.h"

#include "platform/Ansi.h"
#include "platform/ProfileFile.h"

#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

using platform::ProfileDocument;

// Names a settings file holds or that the writer must refuse; the starting inputs use them.
const std::array<QString, 8> kSections = {
    QStringLiteral("ACME"),
    QStringLiteral("acme"),
    QStringLiteral("Section"),
    QStringLiteral("é"),
    QStringLiteral("a b"),
    QString(),
    QStringLiteral("x]"),
    QStringLiteral(" ACME"),
};
const std::array<QString, 8> kKeys = {
    QStringLiteral("DontReplace"),
    QStringLiteral("LogFile"),
    QStringLiteral("k"),
    QStringLiteral("K"),
    QStringLiteral("clé;#"),
    QStringLiteral("a=b"),
    QStringLiteral("[k"),
    QStringLiteral("k\n"),
};

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

bool hasLineBreak(const QString &text)
{
    return text.contains(u'\r') || text.contains(u'\n');
}

bool hasOuterBlank(const QString &text)
{
    return !text.isEmpty() && (isBlank(text.front()) || isBlank(text.back()));
}

bool refused(const QString &section, const QString &key, const QString &value,
    ProfileDocument::Encoding encoding)
{
    // UTF-8 has no form for half of a surrogate pair; UTF-16 has, and a Windows-1252 file
    // becomes UTF-16 for it.
    if (encoding == ProfileDocument::Encoding::Utf8
        && !QString(section + key + value).isValidUtf16())
        return true;
    return section.isEmpty() || hasLineBreak(section) || section.contains(u']')
        || hasOuterBlank(section) || key.isEmpty() || hasLineBreak(key) || key.contains(u'=')
        || key.front() == u'[' || key.front() == u';' || hasOuterBlank(key) || hasLineBreak(value);
}

// The file's code units after its mark: bytes for Windows-1252 and UTF-8 (a line break is
// one ASCII byte there), 16-bit units for UTF-16. An odd last byte is no unit.
std::vector<char16_t> unitsOf(const QByteArray &bytes, ProfileDocument::Encoding encoding)
{
    std::vector<char16_t> units;
    const auto byte = [&bytes](qsizetype i) { return char16_t(static_cast<uchar>(bytes[i])); };
    switch (encoding) {
    case ProfileDocument::Encoding::Utf16LE:
    case ProfileDocument::Encoding::Utf16BE:
        for (qsizetype i = 2; i + 1 < bytes.size(); i += 2)
            units.push_back(encoding == ProfileDocument::Encoding::Utf16LE
                    ? char16_t(byte(i) | byte(i + 1) << 8)
                    : char16_t(byte(i) << 8 | byte(i + 1)));
        break;
    case ProfileDocument::Encoding::Utf8:
    case ProfileDocument::Encoding::Ansi:
        for (qsizetype i = encoding == ProfileDocument::Encoding::Utf8 ? 3 : 0; i < bytes.size();
             ++i)
            units.push_back(byte(i));
        break;
    }
    return units;
}

bool isBreak(char16_t unit)
{
    return unit == u'\r' || unit == u'\n';
}

// Either units were only inserted, or the units that changed lie inside one line, on both
// sides, and the new ones hold no line break.
void checkOneLineChanged(const std::vector<char16_t> &before, const std::vector<char16_t> &after)
{
    std::size_t prefix = 0;
    while (prefix < before.size() && prefix < after.size() && before[prefix] == after[prefix])
        ++prefix;
    std::size_t suffix = 0;
    while (suffix < before.size() - prefix && suffix < after.size() - prefix
        && before[before.size() - 1 - suffix] == after[after.size() - 1 - suffix])
        ++suffix;
    if (prefix + suffix == before.size()) {
        FUZZ_CHECK(after.size() >= before.size());
        return;
    }
    for (std::size_t i = prefix; i < before.size() - suffix; ++i)
        FUZZ_CHECK(!isBreak(before[i]));
    for (std::size_t i = prefix; i < after.size() - suffix; ++i)
        FUZZ_CHECK(!isBreak(after[i]));
}

QString cut(const QString &value)
{
    if (value.size() <= platform::kProfileValueMax)
        return value;
    QString text = value.left(platform::kProfileValueMax);
    if (text.back().isHighSurrogate())
        text.chop(1);
    return text;
}

const QString &scratchFile()
{
    static const QString path = fuzz::scratchFile(QStringLiteral("Options.ini"));
    return path;
}

void checkReads(const ProfileDocument &document)
{
    const QString fallback = QStringLiteral("défaut");
    for (const QString &section : kSections) {
        for (const QString &key : kKeys) {
            const std::optional<QString> value = document.value(section, key);
            const QString read = document.readString(section, key, fallback);
            if (!value) {
                FUZZ_CHECK(read == fallback);
                continue;
            }
            FUZZ_CHECK(!hasLineBreak(*value));
            FUZZ_CHECK(read == cut(*value));
            FUZZ_CHECK(read.size() <= platform::kProfileValueMax);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const auto *chars = reinterpret_cast<const char *>(data);
    if (size < 2) {
        checkReads(ProfileDocument(QByteArray(chars, qsizetype(size))));
        return 0;
    }
    const unsigned choice = data[0];
    const QString &section = kSections[choice & 7];
    const QString &key = kKeys[choice >> 3 & 7];
    const qsizetype valueBytes = std::min<qsizetype>(data[1], qsizetype(size) - 2);
    const QString value = choice & 0x40 ? fuzz::utf16Units(chars + 2, valueBytes)
                                        : QString::fromUtf8(chars + 2, valueBytes);
    const QByteArray original(chars + 2 + valueBytes, qsizetype(size) - 2 - valueBytes);

    ProfileDocument document(original);
    checkReads(document);
    // The reader over a real file gives what the document gives.
    fuzz::writeFile(scratchFile(), original);
    FUZZ_CHECK(platform::getPrivateProfileString(section, key, value, scratchFile())
        == document.readString(section, key, value));

    std::vector<std::optional<QString>> others;
    for (const QString &s : kSections)
        for (const QString &k : kKeys)
            others.push_back(document.value(s, k));

    const bool isRefused = refused(section, key, value, document.encoding());
    const int rc = document.setValue(section, key, value);
    FUZZ_CHECK(rc == (isRefused ? EINVAL : 0));
    const int fileRc = platform::writePrivateProfileString(section, key, value, scratchFile());
    FUZZ_CHECK(fileRc == rc);
    // The file holds what the document holds (untouched when nothing changed).
    FUZZ_CHECK(
        fuzz::readFile(scratchFile()) == (document.isModified() ? document.bytes() : original));
    if (isRefused) {
        FUZZ_CHECK(document.bytes() == original);
        FUZZ_CHECK(!document.isModified());
        return 0;
    }

    FUZZ_CHECK(document.value(section, key) == value);
    FUZZ_CHECK(
        platform::getPrivateProfileString(section, key, QString(), scratchFile()) == cut(value));
    // A fresh parse of the new bytes agrees with the document that was edited.
    const ProfileDocument reread(document.bytes());
    FUZZ_CHECK(reread.value(section, key) == value);
    std::size_t index = 0;
    for (const QString &s : kSections) {
        for (const QString &k : kKeys) {
            const bool same = s.compare(section, Qt::CaseInsensitive) == 0
                && k.compare(key, Qt::CaseInsensitive) == 0;
            if (!same) {
                FUZZ_CHECK(document.value(s, k) == others[index]);
                FUZZ_CHECK(reread.value(s, k) == others[index]);
            }
            ++index;
        }
    }

    // Only one line changed, or lines were added; a file that moved from Windows-1252 to
    // UTF-16 holds the same text apart from that.
    const ProfileDocument::Encoding before = ProfileDocument(original).encoding();
    std::vector<char16_t> oldUnits = unitsOf(original, before);
    if (before != document.encoding()) {
        FUZZ_CHECK(before == ProfileDocument::Encoding::Ansi);
        FUZZ_CHECK(document.encoding() == ProfileDocument::Encoding::Utf16LE);
        FUZZ_CHECK(document.bytes().startsWith("\xFF\xFE"));
        oldUnits.clear();
        for (const QChar c : platform::fromAnsi(original))
            oldUnits.push_back(c.unicode());
    } else if (before == ProfileDocument::Encoding::Utf16LE
        || before == ProfileDocument::Encoding::Utf16BE) {
        // An odd last byte stays the last byte.
        FUZZ_CHECK(document.bytes().size() % 2 == original.size() % 2);
        if (original.size() % 2)
            FUZZ_CHECK(document.bytes().back() == original.back());
    }
    checkOneLineChanged(oldUnits, unitsOf(document.bytes(), document.encoding()));

    // Writing the value already there changes nothing.
    const QByteArray written = document.bytes();
    FUZZ_CHECK(document.setValue(section, key, value) == 0);
    FUZZ_CHECK(document.bytes() == written);
    return 0;
}
