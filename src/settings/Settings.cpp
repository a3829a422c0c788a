#include "settings/Settings.h"

#include "platform/Error.h"
#include "platform/Paths.h"
#include "platform/ProfileFile.h"
#include "platform/SpecialFolders.h"
#include "settings/uLibFolders.h"

#include <limits>

namespace {

const QString kSection = QStringLiteral("ACME");
const QString kDontReplace = QStringLiteral("DontReplace");
const QString kAdaptatFiltre = QStringLiteral("AdaptatFiltre");
const QString kWithTimestamp = QStringLiteral("WithTimestamp");
const QString kLogFile = QStringLiteral("LogFile");
const QString kExtendedView = QStringLiteral("ExtendedView");

int hexDigit(QChar c)
{
    if (c >= u'0' && c <= u'9')
        return c.unicode() - u'0';
    if (c >= u'a' && c <= u'f')
        return c.unicode() - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c.unicode() - u'A' + 10;
    return -1;
}

// A sign, then decimal digits or "$" / "0x" and hexadecimal digits; anything else, or a
// number outside the signed 32-bit range, is no integer.
bool parseInteger(QStringView text, int &value)
{
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    int base = 10;
    if (i < text.size() && text[i] == u'$') {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == u'0'
        && (text[i + 1] == u'x' || text[i + 1] == u'X')) {
        base = 16;
        i += 2;
    }
    if (i == text.size())
        return false;
    const qint64 limit = negative ? -qint64(std::numeric_limits<int>::min())
                                  : qint64(std::numeric_limits<int>::max());
    qint64 magnitude = 0;
    for (; i < text.size(); ++i) {
        const int digit = hexDigit(text[i]);
        if (digit < 0 || digit >= base)
            return false;
        magnitude = magnitude * base + digit;
        if (magnitude > limit)
            return false;
    }
    value = int(negative ? -magnitude : magnitude);
    return true;
}

// The value as the platform's reader hands it over: in a buffer that ends at its first NUL,
// so that a NUL byte in the file ends the value there.
QString readValue(
    const platform::ProfileDocument &document, const QString &key, const QString &defaultValue)
{
    QString value = document.readString(kSection, key, defaultValue);
    const qsizetype nul = value.indexOf(QChar(0));
    if (nul >= 0)
        value.truncate(nul);
    return value;
}

int readInteger(const platform::ProfileDocument &document, const QString &key, int defaultValue)
{
    int value = 0;
    return parseInteger(readValue(document, key, QString()), value) ? value : defaultValue;
}

bool readBool(const platform::ProfileDocument &document, const QString &key, bool defaultValue)
{
    return readInteger(document, key, defaultValue ? 1 : 0) != 0;
}

QString boolText(bool value)
{
    return value ? QStringLiteral("1") : QStringLiteral("0");
}

[[noreturn]] void raiseWriteError(int code, const QString &fichConfig)
{
    throw InOutError(code, QStringLiteral("Impossible d'écrire dans ") + fichConfig);
}

} // namespace

SettingsPaths settingsPaths()
{
    QString folder = platform::includeTrailingDelimiter(SpecialFolderPath(platform::CSIDL_APPDATA));
    folder = platform::includeTrailingDelimiter(folder + QStringLiteral("Orvane"));
    folder = platform::includeTrailingDelimiter(folder + QStringLiteral("quillSift"));
    return { folder, folder + QStringLiteral("Options.ini") };
}

SettingsPaths locateSettingsFolder()
{
    const SettingsPaths paths = settingsPaths();
    // A failure shows at the first write of the settings file.
    if (!platform::directoryExists(paths.FRepConfig))
        platform::forceDirectories(paths.FRepConfig);
    return paths;
}

tyConfig readConfig(const QString &fichConfig)
{
    // An unreadable file reads like a missing one: every key takes its default.
    tyConfig config;
    readConfigStrict(fichConfig, config);
    return config;
}

int readConfigStrict(const QString &fichConfig, tyConfig &config)
{
    platform::ProfileDocument document;
    if (const int error = document.load(fichConfig))
        return error;
    const tyConfig defaults;
    config.DontReplace = readBool(document, kDontReplace, defaults.DontReplace);
    config.AdaptatFiltre = readInteger(document, kAdaptatFiltre, defaults.AdaptatFiltre);
    config.WithTimestamp = readBool(document, kWithTimestamp, defaults.WithTimestamp);
    config.LogFile = readValue(document, kLogFile, defaults.LogFile);
    config.ExtendedView = readBool(document, kExtendedView, defaults.ExtendedView);
    return 0;
}

void writeConfig(const tyConfig &config, const QString &fichConfig)
{
    platform::ProfileDocument document;
    // A file that exists but cannot be read is not replaced by one that lacks its other lines.
    int rc = document.load(fichConfig);
    if (rc != 0)
        raiseWriteError(rc, fichConfig);
    const std::pair<const QString &, QString> values[] = {
        { kDontReplace, boolText(config.DontReplace) },
        { kAdaptatFiltre, QString::number(config.AdaptatFiltre) },
        { kWithTimestamp, boolText(config.WithTimestamp) },
        { kLogFile, config.LogFile },
        { kExtendedView, boolText(config.ExtendedView) },
    };
    for (const auto &[key, value] : values) {
        rc = document.setValue(kSection, key, value);
        if (rc != 0)
            raiseWriteError(rc, fichConfig);
    }
    rc = document.save(fichConfig);
    if (rc != 0)
        raiseWriteError(rc, fichConfig);
}
