#pragma once

#include "info/VersionResource.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <compare>
#include <cstdint>

// A four-part version number: major, minor, release, build.
struct TVersionNumber
{
    std::uint16_t V1 = 0;
    std::uint16_t V2 = 0;
    std::uint16_t V3 = 0;
    std::uint16_t V4 = 0;

    // "%d.%d.%d.%d", for example "1.4.2018.209".
    QString toString() const;
    operator QString() const { return toString(); }

    // Compares V1, then V2, V3, V4 as unsigned numbers; the first pair that differs decides
    // and gives its difference (negative: this one is lower). 0 when all four are equal.
    int compare(const TVersionNumber &other) const;

    friend bool operator==(const TVersionNumber &a, const TVersionNumber &b)
    {
        return a.compare(b) == 0;
    }
    friend std::strong_ordering operator<=>(const TVersionNumber &a, const TVersionNumber &b)
    {
        return a.compare(b) <=> 0;
    }
};

// Reads the version resource of an executable file, by default the running program: its fixed
// part, its translation table and its string items. Nothing here raises: a file without a
// version resource gives empty texts and zero numbers.
class TVersionInfoReader : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString FileName READ FileName WRITE setFileName)
    Q_PROPERTY(bool HaveInfo READ HaveInfo)
    Q_PROPERTY(uint FileOS READ FileOS)
    Q_PROPERTY(uint FileType READ FileType)
    Q_PROPERTY(uint FileSubType READ FileSubType)
    Q_PROPERTY(uint FileFlagsMask READ FileFlagsMask)
    Q_PROPERTY(uint FileFlags READ FileFlags)
    Q_PROPERTY(QString Comments READ Comments)
    Q_PROPERTY(QString CompanyName READ CompanyName)
    Q_PROPERTY(QString FileDescription READ FileDescription)
    Q_PROPERTY(QString FileVersion READ FileVersion)
    Q_PROPERTY(QString InternalName READ InternalName)
    Q_PROPERTY(QString LegalCopyright READ LegalCopyright)
    Q_PROPERTY(QString LegalTrademarks READ LegalTrademarks)
    Q_PROPERTY(QString OriginalFileName READ OriginalFileName)
    Q_PROPERTY(QString PrivateBuild READ PrivateBuild)
    Q_PROPERTY(QString ProductName READ ProductName)
    Q_PROPERTY(QString ProductVersion READ ProductVersion)
    Q_PROPERTY(QString SpecialBuild READ SpecialBuild)
    Q_PROPERTY(QString Language READ Language)
    Q_PROPERTY(QString CharSet READ CharSet)
    Q_PROPERTY(ushort LanguageCode READ LanguageCode)
    Q_PROPERTY(ushort CharSetCode READ CharSetCode)
    Q_PROPERTY(int NumTranslations READ NumTranslations)
    Q_PROPERTY(int CurrentTranslation READ CurrentTranslation WRITE setCurrentTranslation)

public:
    // Reads the running executable at once (an empty FileName).
    explicit TVersionInfoReader(QObject *owner = nullptr);
    ~TVersionInfoReader() override;

    QString FileName() const { return fFileName; }
    // Empty selects the running executable's full path; its resource is then read from the
    // running image itself, which stays right when an upgrade replaces the file meanwhile.
    // Every assignment reads the file again.
    void setFileName(const QString &fileName);

    bool HaveInfo() const { return fHaveInfo; }
    const info::VS_FIXEDFILEINFO &FixedFileInfo() const { return fFixedFileInfo; }
    TVersionNumber FileVersionNumber() const;
    TVersionNumber ProductVersionNumber() const;

    std::uint32_t FileOS() const { return GetFixedFileInfoItem(0); }
    std::uint32_t FileType() const { return GetFixedFileInfoItem(1); }
    std::uint32_t FileSubType() const { return GetFixedFileInfoItem(2); }
    std::uint32_t FileFlagsMask() const { return GetFixedFileInfoItem(3); }
    std::uint32_t FileFlags() const { return GetFixedFileInfoItem(4); }

    QString Comments() const { return GetVersionInfoString(0); }
    QString CompanyName() const { return GetVersionInfoString(1); }
    QString FileDescription() const { return GetVersionInfoString(2); }
    QString FileVersion() const { return GetVersionInfoString(3); }
    QString InternalName() const { return GetVersionInfoString(4); }
    QString LegalCopyright() const { return GetVersionInfoString(5); }
    QString LegalTrademarks() const { return GetVersionInfoString(6); }
    QString OriginalFileName() const { return GetVersionInfoString(7); }
    QString PrivateBuild() const { return GetVersionInfoString(8); }
    QString ProductName() const { return GetVersionInfoString(9); }
    QString ProductVersion() const { return GetVersionInfoString(10); }
    QString SpecialBuild() const { return GetVersionInfoString(11); }

    QString Language() const;
    QString CharSet() const;
    std::uint16_t LanguageCode() const;
    std::uint16_t CharSetCode() const;

    int NumTranslations() const { return fNumTranslations; }
    // -1 whenever there is no information.
    int CurrentTranslation() const { return fHaveInfo ? fCurrentTranslation : -1; }
    // 0 .. NumTranslations - 1 is stored; anything else stores -1.
    void setCurrentTranslation(int index);

    // "%4.4x%4.4x" of the current translation in upper case ("040904E4"); empty without one.
    QString TranslationKey() const;

    QString StringFileInfo(const QString &name) const { return GetStringFileInfo(name); }
    // The string item of that name for the current translation; empty when absent.
    QString GetStringFileInfo(const QString &name) const;

    // The twelve names of the string-item properties, by index (Comments ... SpecialBuild).
    static QString StringItemName(int index);
    // The indexed getters behind the properties; 0 or empty outside their range.
    std::uint32_t GetFixedFileInfoItem(int index) const;
    QString GetVersionInfoString(int index) const;

protected:
    virtual void ResetInfo();
    virtual void LoadInfo();

private:
    QString fFileName;
    bool fRunningImage = false;
    bool fHaveInfo = false;
    int fNumTranslations = 0;
    int fCurrentTranslation = -1;
    info::VS_FIXEDFILEINFO fFixedFileInfo;
    QByteArray fPInfoBuffer;
    QList<std::uint32_t> fPTransBuffer;
};

namespace info {

// Our counterparts of VerLanguageNameW and of GetCPInfoExW's code-page name, from small tables
// of our own: "Language Neutral" for an unknown language; empty for an unknown code page.
// Code page 0 stands for the system's ANSI code page, Windows-1252 here.
QString languageName(std::uint16_t languageId);
QString codePageName(std::uint32_t codePage);

} // namespace info
