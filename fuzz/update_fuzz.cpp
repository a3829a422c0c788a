// The update file: any bytes as the downloaded file, read as the About box reads it, through
// getPrivateProfileString over a real file: "newversion" of [file1] and "descr" of [update].
// Values stay within 2047 characters, agree with the document in memory, and the version
// text parses to the version its own text form gives back.
#include "FuzzSupport.h"

#include "info/uAbout102.h"
#include "platform/ProfileFile.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    static const QString file = fuzz::scratchFile(QStringLiteral("QuillSift.INF"));
    fuzz::writeFile(file, bytes);

    const platform::ProfileDocument document(bytes);
    const struct
    {
        QString section;
        QString key;
    } values[] = {
        { QStringLiteral("file1"), QStringLiteral("newversion") },
        { QStringLiteral("update"), QStringLiteral("descr") },
    };
    for (const auto &v : values) {
        const QString text = platform::getPrivateProfileString(v.section, v.key, QString(), file);
        FUZZ_CHECK(text.size() <= platform::kProfileValueMax);
        FUZZ_CHECK(!text.contains(u'\r') && !text.contains(u'\n'));
        FUZZ_CHECK(text == document.readString(v.section, v.key, QString()));
        const TVersionNumber version = about::ParseVersionText(text);
        FUZZ_CHECK(about::ParseVersionText(version.toString()) == version);
    }
    return 0;
}
