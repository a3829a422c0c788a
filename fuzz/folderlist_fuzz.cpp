// Folder-list files: any bytes decode to entries without line breaks, and what was decoded
// is written and read back as the same list; any list the encodings can hold is read back
// as it was written.
#include "FuzzSupport.h"

#include "settings/FolderList.h"

#include <cstddef>
#include <cstdint>

namespace {

bool hasLineBreak(const QString &text)
{
    return text.contains(u'\r') || text.contains(u'\n');
}

void checkDecoded(const QByteArray &bytes)
{
    const FolderList list = decodeFolderList(bytes);
    for (const QString &entry : list.entries)
        FUZZ_CHECK(!hasLineBreak(entry));

    // A list read from a file is written back as the same list, in the same encoding.
    TextEncoding written = TextEncoding::Ansi;
    const QByteArray encoded = encodeFolderList(list, &written);
    FUZZ_CHECK(written == list.encoding);
    const FolderList again = decodeFolderList(encoded);
    FUZZ_CHECK(again == list);
    FUZZ_CHECK(encodeFolderList(again) == encoded);

    // Without a mark the bytes come back as they were, every line then ending with CR LF.
    if (list.encoding == TextEncoding::Ansi) {
        QByteArray expected;
        for (qsizetype i = 0; i < bytes.size(); ++i) {
            if (bytes[i] == '\r' || bytes[i] == '\n') {
                expected += "\r\n";
                if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
                    ++i;
            } else {
                expected += bytes[i];
            }
        }
        if (!expected.isEmpty() && !expected.endsWith("\r\n"))
            expected += "\r\n";
        FUZZ_CHECK(encoded == expected);
    }
}

void checkWritten(const char *data, qsizetype size)
{
    if (size < 1)
        return;
    FolderList list;
    list.encoding = TextEncoding(static_cast<unsigned char>(data[0]) % 4);
    const QString units = fuzz::utf16Units(data + 1, size - 1);
    // Entries cannot hold a line break: the breaks in the input separate the entries.
    qsizetype start = 0;
    for (qsizetype i = 0; i <= units.size(); ++i) {
        if (i == units.size() || units.at(i) == u'\r' || units.at(i) == u'\n') {
            list.entries.append(units.mid(start, i - start));
            start = i + 1;
        }
    }
    if (static_cast<unsigned char>(data[0]) & 0x80)
        list.entries.clear();

    TextEncoding written = TextEncoding::Ansi;
    const QByteArray encoded = encodeFolderList(list, &written);
    if (list.encoding != TextEncoding::Ansi)
        FUZZ_CHECK(written == list.encoding);
    else
        FUZZ_CHECK(written == TextEncoding::Ansi || written == TextEncoding::Utf8);
    const FolderList read = decodeFolderList(encoded);
    FUZZ_CHECK(read.encoding == written);

    // UTF-16 holds any code unit; UTF-8 and the code page hold whole characters only.
    const bool utf16 = written == TextEncoding::Utf16LE || written == TextEncoding::Utf16BE;
    bool holdable = utf16;
    if (!utf16) {
        holdable = true;
        for (const QString &entry : list.entries)
            holdable = holdable && entry.isValidUtf16();
    }
    if (holdable)
        FUZZ_CHECK(read.entries == list.entries);
    else
        FUZZ_CHECK(read.entries.size() == list.entries.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const auto *chars = reinterpret_cast<const char *>(data);
    checkDecoded(QByteArray(chars, qsizetype(size)));
    checkWritten(chars, qsizetype(size));
    return 0;
}
