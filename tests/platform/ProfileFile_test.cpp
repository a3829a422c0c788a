#include "platform/ProfileFile.h"

#include "support/Bytes.h"
#include "support/Fixtures.h"

#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <cerrno>
#include <sys/stat.h>

using namespace platform;
using namespace Qt::StringLiterals;
using testsupport::utf16;
using testsupport::utf8WithMark;

namespace {

class ProfileFileTest : public testsupport::TempDirTest
{
protected:
    QString ini() const { return file(u"Options.ini"_s); }
    ino_t inodeOf(const QString &p) const
    {
        struct stat st
        {
        };
        ::stat(QFile::encodeName(p).constData(), &st);
        return st.st_ino;
    }
};

// Each case reads section "ACME", key "Key" with the default "<default>".
TEST_F(ProfileFileTest, read_followsTheProfileRules)
{
    const QString longValue(3000, u'x');
    const struct
    {
        const char *name;
        QByteArray content;
        QString expected;
    } cases[] = {
        { "plain", "[ACME]\r\nKey=value\r\n", u"value"_s },
        { "other letter case", "[acme]\r\nkEY=value\r\n", u"value"_s },
        { "blanks and tabs dropped", " \t[ ACME\t] text after\r\n \t Key \t= \t v  w \t\r\n",
            u"v  w"_s },
        { "double quotes removed", "[ACME]\r\nKey = \" v \" \r\n", u" v "_s },
        { "single quotes removed", "[ACME]\r\nKey='v'\r\n", u"v"_s },
        { "only one pair removed", "[ACME]\r\nKey=\"\"v\"\"\r\n", u"\"v\""_s },
        { "unequal quotes kept", "[ACME]\r\nKey=\"v'\r\n", u"\"v'"_s },
        { "a lone quote kept", "[ACME]\r\nKey=\"\r\n", u"\""_s },
        { "inner quotes kept", "[ACME]\r\nKey=a \"b\" c\r\n", u"a \"b\" c"_s },
        { "empty value is empty", "[ACME]\r\nKey=\r\n", QString() },
        { "blank value is empty", "[ACME]\r\nKey=   \r\n", QString() },
        { "first key wins", "[ACME]\r\nKey=1\r\nkey=2\r\n", u"1"_s },
        { "first section wins", "[ACME]\r\nOther=1\r\n[B]\r\n[acme]\r\nKey=2\r\n", u"<default>"_s },
        { "comment", "[ACME]\r\n;Key=1\r\n  ; Key=2\r\n", u"<default>"_s },
        { "hash is ordinary", "[ACME]\r\n#Key=1\r\nKey=#2\r\n", u"#2"_s },
        { "line without ] is no header", "[ACME\r\nKey=1\r\n", u"<default>"_s },
        { "line without = is no key", "[ACME]\r\nKey\r\n", u"<default>"_s },
        { "key before any section", "Key=1\r\n[ACME]\r\n", u"<default>"_s },
        { "other section", "[ACME]\r\n[B]\r\nKey=1\r\n", u"<default>"_s },
        { "LF line ends", "[X]\nKey=0\n[ACME]\nKey=1\n", u"1"_s },
        { "CR line ends", "[X]\rKey=0\r[ACME]\rKey=1\r", u"1"_s },
        { "no final line end", "[ACME]\r\nKey=1", u"1"_s },
        { "value is everything after the first =", "[ACME]\r\nKey=a=b\r\n", u"a=b"_s },
        { "Windows-1252", "[ACME]\r\nKey=caf\xE9 \x80\r\n", u"café €"_s },
        { "UTF-8 mark", utf8WithMark(u"[ACME]\r\nKey=café ☃\r\n"_s), u"café ☃"_s },
        { "UTF-16LE mark", utf16(u"[ACME]\r\nKey=café ☃\r\n"_s, true), u"café ☃"_s },
        { "UTF-16BE mark", utf16(u"[ACME]\r\nKey=café ☃\r\n"_s, false), u"café ☃"_s },
        { "cut to 2047", "[ACME]\r\nKey=" + longValue.toLatin1() + "\r\n", longValue.left(2047) },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::writeBytes(ini(), c.content);
        EXPECT_EQ(getPrivateProfileString(u"ACME"_s, u"Key"_s, u"<default>"_s, ini()), c.expected);
    }
}

TEST_F(ProfileFileTest, read_missingOrUnreadableFile_givesTheDefault)
{
    EXPECT_EQ(getPrivateProfileString(u"ACME"_s, u"Key"_s, u"d"_s, file(u"none.ini"_s)), u"d"_s);
    makeDir(u"folder.ini"_s);
    EXPECT_EQ(getPrivateProfileString(u"ACME"_s, u"Key"_s, u"d"_s, file(u"folder.ini"_s)), u"d"_s);
}

// Each case writes section "ACME", key "Key" into the file and compares every byte.
TEST_F(ProfileFileTest, write_changesOnlyWhatItMust)
{
    const struct
    {
        const char *name;
        std::optional<QByteArray> before; // nothing: no file
        QString value;
        QByteArray after;
    } cases[] = {
        { "new file", std::nullopt, u"v"_s, "[ACME]\r\nKey=v\r\n" },
        { "empty file", QByteArray(), u"v"_s, "[ACME]\r\nKey=v\r\n" },
        { "replaced in place, file's spelling kept",
            "; top\r\n[Other]\r\nKey=1\r\n\r\n[acme]\r\n  kEY = old  \r\n# "
            "note\r\nz=2\r\n\r\n[Last]\r\n"
            "y=3",
            u"new"_s,
            "; top\r\n[Other]\r\nKey=1\r\n\r\n[acme]\r\n  kEY = new  \r\n# "
            "note\r\nz=2\r\n\r\n[Last]\r\n"
            "y=3" },
        { "quoted value replaced with its quotes", "[ACME]\r\nKey=\"old\"\r\n", u"new"_s,
            "[ACME]\r\nKey=new\r\n" },
        { "empty value filled", "[ACME]\nKey=\nz=1\n", u"v"_s, "[ACME]\nKey=v\nz=1\n" },
        { "LF file keeps its line ends", "[ACME]\nKey=old\n[B]\nx=1\n", u"new"_s,
            "[ACME]\nKey=new\n[B]\nx=1\n" },
        { "new key after the section's last line", "[ACME]\r\na=1\r\n; c\r\n\r\n\r\n[B]\r\nb=2\r\n",
            u"v"_s, "[ACME]\r\na=1\r\n; c\r\nKey=v\r\n\r\n\r\n[B]\r\nb=2\r\n" },
        { "new key in an empty section", "[ACME]\r\n[B]\r\n", u"v"_s,
            "[ACME]\r\nKey=v\r\n[B]\r\n" },
        { "new key after a last line without line end", "[ACME]\r\na=1", u"v"_s,
            "[ACME]\r\na=1\r\nKey=v\r\n" },
        { "new key goes into the first of equal sections", "[ACME]\r\na=1\r\n[acme]\r\nb=2\r\n",
            u"v"_s, "[ACME]\r\na=1\r\nKey=v\r\n[acme]\r\nb=2\r\n" },
        { "missing section appended", "[B]\r\nb=2\r\n", u"v"_s,
            "[B]\r\nb=2\r\n[ACME]\r\nKey=v\r\n" },
        { "missing section after a missing final line end", "[B]\nb=2", u"v"_s,
            "[B]\nb=2\r\n[ACME]\r\nKey=v\r\n" },
        { "value Windows-1252 holds stays Windows-1252", "[ACME]\r\nKey=a\r\nz=\xE9\r\n", u"café"_s,
            "[ACME]\r\nKey=caf\xE9\r\nz=\xE9\r\n" },
        { "value Windows-1252 lacks turns the file into UTF-16LE",
            "; \x80\r\n[ACME]\r\nKey=a\r\nz=\xE9\x81\r\n", u"日本"_s,
            utf16(u"; €\r\n[ACME]\r\nKey=日本\r\nz=é\u0081\r\n"_s, true) },
        { "UTF-8 kept", utf8WithMark(u"[ACME]\r\nKey=é\r\nz=1\r\n"_s), u"日本"_s,
            utf8WithMark(u"[ACME]\r\nKey=日本\r\nz=1\r\n"_s) },
        { "UTF-16LE kept", utf16(u"[ACME]\r\nKey=é\r\n"_s, true), u"☃"_s,
            utf16(u"[ACME]\r\nKey=☃\r\n"_s, true) },
        { "UTF-16BE kept, new key", utf16(u"[ACME]\r\nz=1\r\n"_s, false), u"☃"_s,
            utf16(u"[ACME]\r\nz=1\r\nKey=☃\r\n"_s, false) },
        { "outer blanks kept by quoting", "[ACME]\r\n", u" v "_s, "[ACME]\r\nKey=\" v \"\r\n" },
        { "enclosing quotes kept by quoting", "[ACME]\r\n", u"'v'"_s, "[ACME]\r\nKey=\"'v'\"\r\n" },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(ini());
        if (c.before)
            testsupport::writeBytes(ini(), *c.before);
        EXPECT_EQ(writePrivateProfileString(u"ACME"_s, u"Key"_s, c.value, ini()), 0);
        EXPECT_EQ(readFile(u"Options.ini"_s), c.after);
        EXPECT_EQ(getPrivateProfileString(u"ACME"_s, u"Key"_s, QString(), ini()), c.value);
    }
}

TEST_F(ProfileFileTest, write_valueAlreadyThere_leavesTheFileAlone)
{
    const QByteArray content = "[acme]\nkey = \"same\" \r\n";
    testsupport::writeBytes(ini(), content);
    const ino_t before = inodeOf(ini());

    EXPECT_EQ(writePrivateProfileString(u"ACME"_s, u"Key"_s, u"same"_s, ini()), 0);
    EXPECT_EQ(inodeOf(ini()), before); // a save would have renamed a new file over it
    EXPECT_EQ(readFile(u"Options.ini"_s), content);
}

TEST_F(ProfileFileTest, write_refusesWhatTheFileCannotHold)
{
    const QByteArray content = "[ACME]\r\nKey=old\r\n";
    testsupport::writeBytes(ini(), content);
    const struct
    {
        QString section;
        QString key;
        QString value;
    } cases[] = {
        { u"ACME"_s, u"Key"_s, u"a\r\nInjected=1"_s },
        { u"ACME"_s, u"Key"_s, u"a\nb"_s },
        { u"ACME"_s, u"K=ey"_s, u"v"_s },
        { u"ACME"_s, QString(), u"v"_s },
        { u"AC]ME"_s, u"Key"_s, u"v"_s },
        { QString(), u"Key"_s, u"v"_s },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.value.toStdString());
        EXPECT_EQ(writePrivateProfileString(c.section, c.key, c.value, ini()), EINVAL);
        EXPECT_EQ(readFile(u"Options.ini"_s), content);
    }
}

// Found by fuzzing: UTF-8 wrote half of a surrogate pair as '?', and reported success.
TEST_F(ProfileFileTest, write_halfOfASurrogatePair_refusedOnlyWhereTheFileCannotHoldIt)
{
    const QString value = u"C:/journal"_s + QChar(char16_t(0xD83D));
    const struct
    {
        QByteArray content;
        int rc;
    } cases[] = {
        { utf8WithMark(u"[ACME]\r\nLogFile=old\r\n"_s), EINVAL },
        { utf16(u"[ACME]\r\nLogFile=old\r\n"_s, true), 0 },
        { "[ACME]\r\nLogFile=old\r\n", 0 }, // becomes UTF-16LE
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.content.toHex().toStdString());
        testsupport::writeBytes(ini(), c.content);
        EXPECT_EQ(writePrivateProfileString(u"ACME"_s, u"LogFile"_s, value, ini()), c.rc);
        EXPECT_EQ(getPrivateProfileString(u"ACME"_s, u"LogFile"_s, QString(), ini()),
            c.rc == 0 ? value : u"old"_s);
        if (c.rc != 0) {
            EXPECT_EQ(readFile(u"Options.ini"_s), c.content);
        }
    }
}

TEST_F(ProfileFileTest, write_unreadableOrUnwritablePlace_returnsTheError)
{
    makeDir(u"folder.ini"_s);
    EXPECT_EQ(
        writePrivateProfileString(u"ACME"_s, u"Key"_s, u"v"_s, file(u"folder.ini"_s)), EISDIR);
    EXPECT_EQ(
        writePrivateProfileString(u"ACME"_s, u"Key"_s, u"v"_s, file(u"missing/a.ini"_s)), ENOENT);
    writeFile(u"plain"_s, "x");
    EXPECT_EQ(
        writePrivateProfileString(u"ACME"_s, u"Key"_s, u"v"_s, file(u"plain/a.ini"_s)), ENOTDIR);
}

TEST_F(ProfileFileTest, document_severalWrites_oneSave)
{
    testsupport::writeBytes(ini(), "[ACME]\r\nb=old\r\n");
    ProfileDocument document;
    ASSERT_EQ(document.load(ini()), 0);
    EXPECT_EQ(document.setValue(u"ACME"_s, u"a"_s, u"1"_s), 0);
    EXPECT_EQ(document.setValue(u"ACME"_s, u"b"_s, u"2"_s), 0);
    EXPECT_EQ(document.setValue(u"New"_s, u"c"_s, u"3"_s), 0);
    EXPECT_EQ(readFile(u"Options.ini"_s), QByteArray("[ACME]\r\nb=old\r\n"));
    EXPECT_EQ(document.value(u"acme"_s, u"B"_s), u"2"_s);

    EXPECT_EQ(document.save(ini()), 0);
    EXPECT_FALSE(document.isModified());
    EXPECT_EQ(readFile(u"Options.ini"_s), QByteArray("[ACME]\r\nb=2\r\na=1\r\n[New]\r\nc=3\r\n"));
}

// A document edited several times reads every key as a fresh reading of its bytes does: the
// edits parse again only the lines they touch, whatever the line ends and the encoding.
TEST_F(ProfileFileTest, document_afterEdits_readsAsItsBytesRead)
{
    const struct
    {
        const char *name;
        QByteArray content;
    } cases[] = {
        { "CR LF", "; c\r\n[ACME]\r\nb=old\r\n\r\n[B]\r\nx=1\r\n" },
        { "LF, blank lines", "[ACME]\n\nb=old\n\n\n[B]\nx=1\n" },
        { "CR only", "[B]\rx=1\r[ACME]\rb=old\r" },
        { "no final line end", "[ACME]\r\nb=old\r\n[B]\r\nx=1" },
        { "no section yet, no final line end", "[B]\nx=1" },
        { "empty", QByteArray() },
        { "UTF-8", utf8WithMark(u"[ACME]\r\nb=é\r\n[B]\r\nx=☃\r\n"_s) },
        { "UTF-16BE", utf16(u"[B]\nx=1\n[ACME]\nb=é\n"_s, false) },
    };
    const std::pair<QString, QString> edits[] = {
        { u"b"_s, u"much longer than before"_s },
        { u"a"_s, u"1"_s },
        { u"b"_s, u""_s },
        { u"c"_s, u" blanks "_s },
        { u"a"_s, u"日本"_s }, // Windows-1252 lacks it: the file turns into UTF-16
        { u"d"_s, u"4"_s },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        ProfileDocument document(c.content);
        for (const auto &[key, value] : edits) {
            ASSERT_EQ(document.setValue(u"ACME"_s, key, value), 0);
            EXPECT_EQ(document.setValue(u"New"_s, key, value), 0);
            const ProfileDocument reread(document.bytes());
            for (const QString &section : { u"ACME"_s, u"B"_s, u"New"_s }) {
                for (const QString &name : { u"a"_s, u"b"_s, u"c"_s, u"d"_s, u"x"_s })
                    EXPECT_EQ(document.value(section, name), reread.value(section, name))
                        << section.toStdString() << "/" << name.toStdString();
            }
        }
        EXPECT_EQ(document.value(u"ACME"_s, u"a"_s), u"日本"_s);
        EXPECT_EQ(document.value(u"ACME"_s, u"c"_s), u" blanks "_s);
    }
}

// No settings file reaches a mebibyte: a larger one is not read at all (a sparse file of
// 512 MiB included, which would otherwise be read whole), and never written over.
TEST_F(ProfileFileTest, fileAboveAMebibyte_isNotReadNorWritten)
{
    const QByteArray atTheBound
        = "[ACME]\r\nKey=v\r\n;" + QByteArray(kProfileFileMax - 18, 'c') + "\r\n";
    ASSERT_EQ(atTheBound.size(), kProfileFileMax);
    testsupport::writeBytes(ini(), atTheBound);
    ProfileDocument document;
    EXPECT_EQ(document.load(ini()), 0);
    EXPECT_EQ(document.value(u"ACME"_s, u"Key"_s), u"v"_s);

    for (const qint64 size : { kProfileFileMax + 1, qint64(512) * 1024 * 1024 }) {
        SCOPED_TRACE(size);
        testsupport::writeBytes(ini(), "[ACME]\r\nKey=v\r\n");
        QFile file(ini());
        ASSERT_TRUE(file.resize(size)); // the rest is a hole
        EXPECT_EQ(document.load(ini()), EFBIG);
        EXPECT_FALSE(document.value(u"ACME"_s, u"Key"_s).has_value());
        EXPECT_EQ(getPrivateProfileString(u"ACME"_s, u"Key"_s, u"d"_s, ini()), u"d"_s);
        EXPECT_EQ(writePrivateProfileString(u"ACME"_s, u"Key"_s, u"w"_s, ini()), EFBIG);
        EXPECT_EQ(QFileInfo(ini()).size(), size);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_EQ(file.read(15), QByteArray("[ACME]\r\nKey=v\r\n"));
    }
}

} // namespace
