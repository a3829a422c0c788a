#include "info/VersionInfoReader.h"

#include "platform/Paths.h"

#include <QtEndian>

#include <array>

using namespace Qt::StringLiterals;

QString TVersionNumber::toString() const
{
    return u"%1.%2.%3.%4"_s.arg(V1).arg(V2).arg(V3).arg(V4);
}

int TVersionNumber::compare(const TVersionNumber &other) const
{
    const std::array<int, 4> mine { V1, V2, V3, V4 };
    const std::array<int, 4> theirs { other.V1, other.V2, other.V3, other.V4 };
    for (std::size_t i = 0; i < mine.size(); ++i) {
        if (mine[i] != theirs[i])
            return mine[i] - theirs[i];
    }
    return 0;
}

namespace {

const std::array<QLatin1StringView, 12> kStringItemNames {
    "Comments"_L1,
    "CompanyName"_L1,
    "FileDescription"_L1,
    "FileVersion"_L1,
    "InternalName"_L1,
    "LegalCopyright"_L1,
    "LegalTrademarks"_L1,
    "OriginalFileName"_L1,
    "PrivateBuild"_L1,
    "ProductName"_L1,
    "ProductVersion"_L1,
    "SpecialBuild"_L1,
};

// The query path is bounded as the platform's 256-character buffer bounds it: a longer path
// names no item.
constexpr qsizetype kMaxQueryPath = 255;
constexpr qsizetype kMaxLanguageName = 255;

TVersionNumber versionFromHalves(std::uint32_t ms, std::uint32_t ls)
{
    return { std::uint16_t(ms >> 16), std::uint16_t(ms & 0xFFFF), std::uint16_t(ls >> 16),
        std::uint16_t(ls & 0xFFFF) };
}

// A text value up to its terminating NUL.
QString textOf(QByteArrayView value)
{
    QString text;
    for (qsizetype at = 0; at + 1 < value.size(); at += 2) {
        const char16_t c = qFromLittleEndian<quint16>(value.data() + at);
        if (c == 0)
            break;
        text.append(QChar(c));
    }
    return text;
}

} // namespace

TVersionInfoReader::TVersionInfoReader(QObject *owner)
    : QObject(owner)
{
    setFileName(QString());
}

TVersionInfoReader::~TVersionInfoReader() = default;

void TVersionInfoReader::setFileName(const QString &fileName)
{
    fRunningImage = fileName.isEmpty();
    fFileName = fRunningImage ? platform::executablePath() : fileName;
    ResetInfo();
    LoadInfo();
}

void TVersionInfoReader::ResetInfo()
{
    fHaveInfo = false;
}

void TVersionInfoReader::LoadInfo()
{
    fHaveInfo = false;
    fFixedFileInfo = {};
    fNumTranslations = 0;

    const QString source = fRunningImage ? platform::runningExecutableImage() : fFileName;
    std::uint32_t handle = 0;
    const std::uint32_t size = info::getFileVersionInfoSize(source, &handle);
    if (size == 0)
        return;
    fPInfoBuffer = QByteArray(qsizetype(size), '\0');
    if (!info::getFileVersionInfo(source, handle, size, fPInfoBuffer.data()))
        return;
    fHaveInfo = true;

    QByteArrayView value;
    if (info::verQueryValue(fPInfoBuffer, u"\\", &value)
        && value.size() >= qsizetype(sizeof(info::VS_FIXEDFILEINFO))) {
        std::array<std::uint32_t, 13> words {};
        for (std::size_t i = 0; i < words.size(); ++i)
            words[i] = qFromLittleEndian<quint32>(value.data() + 4 * i);
        auto &f = fFixedFileInfo;
        f = { words[0], words[1], words[2], words[3], words[4], words[5], words[6], words[7],
            words[8], words[9], words[10], words[11], words[12] };
    }

    fPTransBuffer.clear();
    if (info::verQueryValue(fPInfoBuffer, u"\\VarFileInfo\\Translation", &value)) {
        fNumTranslations = int(value.size() / 4);
        fPTransBuffer.reserve(fNumTranslations);
        for (int i = 0; i < fNumTranslations; ++i)
            fPTransBuffer.append(qFromLittleEndian<quint32>(value.data() + 4 * i));
    }
    setCurrentTranslation(0);
}

TVersionNumber TVersionInfoReader::FileVersionNumber() const
{
    return versionFromHalves(fFixedFileInfo.dwFileVersionMS, fFixedFileInfo.dwFileVersionLS);
}

TVersionNumber TVersionInfoReader::ProductVersionNumber() const
{
    return versionFromHalves(fFixedFileInfo.dwProductVersionMS, fFixedFileInfo.dwProductVersionLS);
}

std::uint32_t TVersionInfoReader::GetFixedFileInfoItem(int index) const
{
    switch (index) {
    case 0:
        return fFixedFileInfo.dwFileOS;
    case 1:
        return fFixedFileInfo.dwFileType;
    case 2:
        return fFixedFileInfo.dwFileSubtype;
    case 3:
        return fFixedFileInfo.dwFileFlagsMask;
    case 4:
        return fFixedFileInfo.dwFileFlags;
    default:
        return 0;
    }
}

QString TVersionInfoReader::StringItemName(int index)
{
    if (index < 0 || index >= int(kStringItemNames.size()))
        return {};
    return kStringItemNames[std::size_t(index)];
}

QString TVersionInfoReader::GetVersionInfoString(int index) const
{
    const QString name = StringItemName(index);
    return name.isEmpty() ? QString() : GetStringFileInfo(name);
}

void TVersionInfoReader::setCurrentTranslation(int index)
{
    fCurrentTranslation = index >= 0 && index < fNumTranslations ? index : -1;
}

std::uint16_t TVersionInfoReader::LanguageCode() const
{
    const int current = CurrentTranslation();
    if (current < 0)
        return 0;
    return std::uint16_t(fPTransBuffer.at(current) & 0xFFFF);
}

std::uint16_t TVersionInfoReader::CharSetCode() const
{
    const int current = CurrentTranslation();
    if (current < 0)
        return 0;
    return std::uint16_t(fPTransBuffer.at(current) >> 16);
}

QString TVersionInfoReader::TranslationKey() const
{
    if (CurrentTranslation() < 0)
        return {};
    return u"%1%2"_s.arg(uint(LanguageCode()), 4, 16, QChar(u'0'))
        .arg(uint(CharSetCode()), 4, 16, QChar(u'0'))
        .toUpper();
}

QString TVersionInfoReader::GetStringFileInfo(const QString &name) const
{
    if (!fHaveInfo)
        return {};
    const QString path = u"\\StringFileInfo\\"_s + TranslationKey() + u'\\' + name;
    if (path.size() > kMaxQueryPath)
        return {};
    QByteArrayView value;
    if (!info::verQueryValue(fPInfoBuffer, path, &value))
        return {};
    return textOf(value);
}

QString TVersionInfoReader::Language() const
{
    if (!fHaveInfo)
        return {};
    return info::languageName(LanguageCode()).left(kMaxLanguageName);
}

QString TVersionInfoReader::CharSet() const
{
    if (!fHaveInfo)
        return {};
    const std::uint16_t code = CharSetCode();
    switch (code) {
    case 1200:
        return u"%1 (Unicode UTF-16, little endian byte order)"_s.arg(code);
    case 1201:
        return u"%1 (Unicode UTF-16, big endian byte order)"_s.arg(code);
    case 12000:
        return u"%1 (Unicode UTF-32, little endian byte order)"_s.arg(code);
    case 12001:
        return u"%1 (Unicode UTF-32, big endian byte order)"_s.arg(code);
    default:
        break;
    }
    const QString name = info::codePageName(code);
    return name.isEmpty() ? u"%1 (Unknown Code Page)"_s.arg(code) : name;
}

namespace info {

namespace {

struct Named
{
    std::uint32_t code;
    const char *name;
};

constexpr Named kLanguages[] = {
    { 0x0000, "Language Neutral" },
    { 0x0401, "Arabic (Saudi Arabia)" },
    { 0x0403, "Catalan (Catalan)" },
    { 0x0404, "Chinese (Traditional, Taiwan)" },
    { 0x0405, "Czech (Czech Republic)" },
    { 0x0406, "Danish (Denmark)" },
    { 0x0407, "German (Germany)" },
    { 0x0408, "Greek (Greece)" },
    { 0x0409, "English (United States)" },
    { 0x040B, "Finnish (Finland)" },
    { 0x040C, "French (France)" },
    { 0x040E, "Hungarian (Hungary)" },
    { 0x0410, "Italian (Italy)" },
    { 0x0411, "Japanese (Japan)" },
    { 0x0412, "Korean (Korea)" },
    { 0x0413, "Dutch (Netherlands)" },
    { 0x0414, "Norwegian, Bokmål (Norway)" },
    { 0x0415, "Polish (Poland)" },
    { 0x0416, "Portuguese (Brazil)" },
    { 0x0419, "Russian (Russia)" },
    { 0x041D, "Swedish (Sweden)" },
    { 0x041F, "Turkish (Turkey)" },
    { 0x0804, "Chinese (Simplified, PRC)" },
    { 0x0807, "German (Switzerland)" },
    { 0x0809, "English (United Kingdom)" },
    { 0x080C, "French (Belgium)" },
    { 0x0813, "Dutch (Belgium)" },
    { 0x0816, "Portuguese (Portugal)" },
    { 0x0C0A, "Spanish (Spain, International Sort)" },
    { 0x0C0C, "French (Canada)" },
    { 0x100C, "French (Switzerland)" },
    { 0x140C, "French (Luxembourg)" },
};

constexpr Named kCodePages[] = {
    { 437, "437 (OEM - United States)" },
    { 850, "850 (OEM - Multilingual Latin I)" },
    { 874, "874 (ANSI/OEM - Thai)" },
    { 932, "932 (ANSI/OEM - Japanese Shift-JIS)" },
    { 936, "936 (ANSI/OEM - Simplified Chinese GBK)" },
    { 949, "949 (ANSI/OEM - Korean)" },
    { 950, "950 (ANSI/OEM - Traditional Chinese Big5)" },
    { 1250, "1250 (ANSI - Central Europe)" },
    { 1251, "1251 (ANSI - Cyrillic)" },
    { 1252, "1252 (ANSI - Latin I)" },
    { 1253, "1253 (ANSI - Greek)" },
    { 1254, "1254 (ANSI - Turkish)" },
    { 1255, "1255 (ANSI - Hebrew)" },
    { 1256, "1256 (ANSI - Arabic)" },
    { 1257, "1257 (ANSI - Baltic)" },
    { 1258, "1258 (ANSI/OEM - Viet Nam)" },
    { 20127, "20127 (US-ASCII)" },
    { 28591, "28591 (ISO 8859-1 Latin I)" },
    { 28605, "28605 (ISO 8859-15 Latin 9)" },
    { 65000, "65000 (UTF-7)" },
    { 65001, "65001 (UTF-8)" },
};

constexpr std::uint32_t kAnsiCodePage = 1252;

} // namespace

QString languageName(std::uint16_t languageId)
{
    for (const Named &entry : kLanguages) {
        if (entry.code == languageId)
            return QString::fromUtf8(entry.name);
    }
    return u"Language Neutral"_s;
}

QString codePageName(std::uint32_t codePage)
{
    if (codePage == 0)
        codePage = kAnsiCodePage;
    for (const Named &entry : kCodePages) {
        if (entry.code == codePage)
            return QString::fromUtf8(entry.name);
    }
    return {};
}

} // namespace info
