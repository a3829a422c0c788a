#include "settings/Settings.h"

#include "platform/Error.h"
#include "support/Fixtures.h"

#include <QDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

class SettingsTest : public testsupport::TempDirTest
{
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        m_savedConfigHome = qgetenv("XDG_CONFIG_HOME");
    }
    void TearDown() override { qputenv("XDG_CONFIG_HOME", m_savedConfigHome); }

    QString ini() const { return file(u"Options.ini"_s); }

    // The section as a first save writes it, with the given line in place of its key's.
    static QByteArray sectionWith(const QByteArray &firstLine, const QByteArray &key)
    {
        QByteArray bytes = "[ACME]\r\n" + firstLine + "\r\n";
        for (const char *line : { "DontReplace=0", "AdaptatFiltre=2", "WithTimestamp=1",
                 "LogFile=", "ExtendedView=0" }) {
            if (!QByteArray(line).startsWith(QByteArray(key + "=")))
                bytes += QByteArray(line) + "\r\n";
        }
        return bytes;
    }

    QByteArray m_savedConfigHome;
};

QString fieldText(const tyConfig &config, const QByteArray &key)
{
    const auto truth = [](bool value) { return value ? u"true"_s : u"false"_s; };
    if (key == "DontReplace")
        return truth(config.DontReplace);
    if (key == "AdaptatFiltre")
        return QString::number(config.AdaptatFiltre);
    if (key == "WithTimestamp")
        return truth(config.WithTimestamp);
    if (key == "ExtendedView")
        return truth(config.ExtendedView);
    return config.LogFile;
}

// One stored line each: how it reads, and what the save straight after writes in its place.
TEST_F(SettingsTest, valueRules_readAndWrittenBack)
{
    const QByteArray longPath = "/" + QByteArray(2100, 'p');
    const struct
    {
        QByteArray key;
        QByteArray stored;
        QString read;
        QByteArray written;
    } cases[] = {
        { "DontReplace", "DontReplace=yes", u"false"_s, "DontReplace=0" },
        { "DontReplace", "DontReplace=true", u"false"_s, "DontReplace=0" },
        { "DontReplace", "DontReplace=1", u"true"_s, "DontReplace=1" },
        { "DontReplace", "DontReplace=0x0", u"false"_s, "DontReplace=0" },
        { "WithTimestamp", "WithTimestamp=abc", u"true"_s, "WithTimestamp=1" },
        { "WithTimestamp", "WithTimestamp=", u"true"_s, "WithTimestamp=1" },
        { "WithTimestamp", "WithTimestamp=0", u"false"_s, "WithTimestamp=0" },
        { "ExtendedView", "ExtendedView=2", u"true"_s, "ExtendedView=1" },
        { "ExtendedView", "ExtendedView=-1", u"true"_s, "ExtendedView=1" },
        { "ExtendedView", "ExtendedView=99999999999", u"false"_s, "ExtendedView=0" },
        { "AdaptatFiltre", "AdaptatFiltre=0x3", u"3"_s, "AdaptatFiltre=3" },
        { "AdaptatFiltre", "AdaptatFiltre=0X1f", u"31"_s, "AdaptatFiltre=31" },
        { "AdaptatFiltre", "AdaptatFiltre=$Ff", u"255"_s, "AdaptatFiltre=255" },
        { "AdaptatFiltre", "AdaptatFiltre=-$10", u"-16"_s, "AdaptatFiltre=-16" },
        { "AdaptatFiltre", "AdaptatFiltre=7", u"7"_s, "AdaptatFiltre=7" },
        { "AdaptatFiltre", "AdaptatFiltre=+1", u"1"_s, "AdaptatFiltre=1" },
        { "AdaptatFiltre", "AdaptatFiltre=-5", u"-5"_s, "AdaptatFiltre=-5" },
        { "AdaptatFiltre", "AdaptatFiltre=007", u"7"_s, "AdaptatFiltre=7" },
        { "AdaptatFiltre", "AdaptatFiltre=2147483647", u"2147483647"_s,
            "AdaptatFiltre=2147483647" },
        { "AdaptatFiltre", "AdaptatFiltre=-2147483648", u"-2147483648"_s,
            "AdaptatFiltre=-2147483648" },
        { "AdaptatFiltre", "AdaptatFiltre=2147483648", u"2"_s, "AdaptatFiltre=2" },
        { "AdaptatFiltre", "AdaptatFiltre=-2147483649", u"2"_s, "AdaptatFiltre=2" },
        { "AdaptatFiltre", "AdaptatFiltre=123456789012345678901234", u"2"_s, "AdaptatFiltre=2" },
        { "AdaptatFiltre", "AdaptatFiltre=$100000000", u"2"_s, "AdaptatFiltre=2" },
        { "AdaptatFiltre", "AdaptatFiltre=0x", u"2"_s, "AdaptatFiltre=2" },
        { "AdaptatFiltre", "AdaptatFiltre=-", u"2"_s, "AdaptatFiltre=2" },
        { "AdaptatFiltre", "AdaptatFiltre=1 2", u"2"_s, "AdaptatFiltre=2" },
        { "AdaptatFiltre", "AdaptatFiltre=1.0", u"2"_s, "AdaptatFiltre=2" },
        { "AdaptatFiltre", "AdaptatFiltre=0xG", u"2"_s, "AdaptatFiltre=2" },
        { "AdaptatFiltre", "AdaptatFiltre=", u"2"_s, "AdaptatFiltre=2" },
        // other letter case, blanks and quotes: read without them, the line kept as it is
        { "AdaptatFiltre", "  adaptatFILTRE \t=  0x3  ", u"3"_s, "  adaptatFILTRE \t=  3  " },
        { "AdaptatFiltre", "AdaptatFiltre=\"1\"", u"1"_s, "AdaptatFiltre=\"1\"" },
        { "LogFile", "LOGFILE = '/tmp/run.log' ", u"/tmp/run.log"_s, "LOGFILE = '/tmp/run.log' " },
        { "LogFile", "LogFile=\"  /tmp/a b.log \"", u"  /tmp/a b.log "_s,
            "LogFile=\"  /tmp/a b.log \"" },
        { "LogFile", "LogFile=/tmp/caf\xE9.log", u"/tmp/café.log"_s, "LogFile=/tmp/caf\xE9.log" },
        { "LogFile", "LogFile=" + longPath, QString::fromLatin1(longPath.left(2047)),
            "LogFile=" + longPath.left(2047) },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.stored.toStdString());
        testsupport::writeBytes(ini(), "[ACME]\r\n" + c.stored + "\r\n");
        const tyConfig config = readConfig(ini());
        EXPECT_EQ(fieldText(config, c.key), c.read);
        writeConfig(config, ini());
        EXPECT_EQ(readFile(u"Options.ini"_s), sectionWith(c.written, c.key));
    }
}

TEST_F(SettingsTest, firstStart_createsTheFolderAndExactlyTheFiveKeys)
{
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(path()));

    const SettingsPaths paths = locateSettingsFolder();
    EXPECT_EQ(paths.FRepConfig, path() + u"/Orvane/quillSift/"_s);
    EXPECT_EQ(paths.FFichConfig, path() + u"/Orvane/quillSift/Options.ini"_s);
    EXPECT_TRUE(QDir(paths.FRepConfig).exists());

    const tyConfig config = readConfig(paths.FFichConfig);
    EXPECT_FALSE(config.DontReplace);
    EXPECT_EQ(config.AdaptatFiltre, 2);
    EXPECT_TRUE(config.WithTimestamp);
    EXPECT_EQ(config.LogFile, QString());
    EXPECT_FALSE(config.ExtendedView);

    writeConfig(config, paths.FFichConfig);
    EXPECT_EQ(testsupport::readBytes(paths.FFichConfig),
        QByteArray("[ACME]\r\nDontReplace=0\r\nAdaptatFiltre=2\r\nWithTimestamp=1\r\n"
                   "LogFile=\r\nExtendedView=0\r\n"));
}

TEST_F(SettingsTest, save_keepsOtherKeysSectionsAndComments)
{
    const QByteArray before = "; réglages\n[Fenetre]\nDontReplace=5\n\n[acme]\nAutre = x\n"
                              "extendedview=1\n# fin\n\n[Z]\nk=v";
    testsupport::writeBytes(ini(), before);
    tyConfig config = readConfig(ini());
    EXPECT_TRUE(config.ExtendedView);
    EXPECT_FALSE(config.DontReplace); // the key of another section is not ours

    writeConfig(config, ini());
    const QByteArray afterFirst
        = "; réglages\n[Fenetre]\nDontReplace=5\n\n[acme]\nAutre = x\nextendedview=1\n# fin\n"
          "DontReplace=0\r\nAdaptatFiltre=2\r\nWithTimestamp=1\r\nLogFile=\r\n\n[Z]\nk=v";
    EXPECT_EQ(readFile(u"Options.ini"_s), afterFirst);

    config.DontReplace = true;
    config.AdaptatFiltre = -1;
    config.LogFile = u"/var/log/qs.log"_s;
    config.ExtendedView = false;
    writeConfig(config, ini());
    EXPECT_EQ(readFile(u"Options.ini"_s),
        QByteArray("; réglages\n[Fenetre]\nDontReplace=5\n\n[acme]\nAutre = x\n"
                   "extendedview=0\n# fin\nDontReplace=1\r\nAdaptatFiltre=-1\r\n"
                   "WithTimestamp=1\r\nLogFile=/var/log/qs.log\r\n\n[Z]\nk=v"));
}

TEST_F(SettingsTest, logFileWindows1252Lacks_isKeptByTurningTheFileIntoUtf16)
{
    testsupport::writeBytes(ini(), "[ACME]\r\nLogFile=/old\r\n");
    tyConfig config;
    config.LogFile = u"/journaux/日本.log"_s;
    writeConfig(config, ini());
    EXPECT_TRUE(readFile(u"Options.ini"_s).startsWith("\xFF\xFE"));
    EXPECT_EQ(readConfig(ini()).LogFile, config.LogFile);
}

TEST_F(SettingsTest, fileCannotBeWritten_raisesImpossibleDEcrire)
{
    writeFile(u"plain"_s, "not a folder");
    makeDir(u"Options.ini"_s);
    const QString places[] = {
        file(u"missing/Options.ini"_s), // the folder was never created
        file(u"plain/Options.ini"_s), // a file stands where the folder should be
        ini(), // a folder stands where the file should be
    };
    for (const QString &place : places) {
        SCOPED_TRACE(place.toStdString());
        const tyConfig config = readConfig(place);
        EXPECT_EQ(config.AdaptatFiltre, 2);
        try {
            writeConfig(config, place);
            ADD_FAILURE() << "no error";
        } catch (const AppError &error) {
            EXPECT_EQ(error.message(), u"Impossible d'écrire dans "_s + place);
        }
    }
}

TEST_F(SettingsTest, settingsFolderCannotBeCreated_noErrorUntilTheWrite)
{
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(path()));
    writeFile(u"Orvane"_s, "a file where the maker folder should be");

    const SettingsPaths paths = locateSettingsFolder();
    EXPECT_EQ(paths.FFichConfig, path() + u"/Orvane/quillSift/Options.ini"_s);
    EXPECT_THROW(writeConfig(readConfig(paths.FFichConfig), paths.FFichConfig), AppError);
    EXPECT_EQ(readFile(u"Orvane"_s), QByteArray("a file where the maker folder should be"));
}

} // namespace
