#include "platform/Paths.h"

#include "support/Fixtures.h"
#include "support/RawNames.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QStringDecoder>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace platform;
using namespace Qt::StringLiterals;
using testsupport::TempDirTest;

namespace {

struct TextCase
{
    QString input;
    QString expected;
};

TEST(PathsTest, includeTrailingDelimiter_appendsSlashOnlyWhenMissing)
{
    const TextCase cases[] = {
        { u""_s, u"/"_s }, { u"/data"_s, u"/data/"_s }, { u"/data/"_s, u"/data/"_s },
        { u"/"_s, u"/"_s },
        { u"C:\\data\\"_s, u"C:\\data\\/"_s }, // a backslash is an ordinary character here
    };
    for (const auto &c : cases)
        EXPECT_EQ(includeTrailingDelimiter(c.input), c.expected) << c.input.toStdString();
}

TEST(PathsTest, trimText_dropsControlsAndBlanksButNotOtherSpaces)
{
    const TextCase cases[] = {
        { u""_s, u""_s },
        { u" \t\r\n"_s, u""_s },
        { u"  *.txt \t"_s, u"*.txt"_s },
        { u"a b"_s, u"a b"_s },
        { QString(QChar(1)) + u"x"_s + QChar(0x1F), u"x"_s },
        { QString(QChar(0xA0)) + u"x"_s, QString(QChar(0xA0)) + u"x"_s },
    };
    for (const auto &c : cases)
        EXPECT_EQ(trimText(c.input), c.expected) << c.input.toStdString();
}

TEST(PathsTest, fileNameParts_splitAtLastSlash)
{
    struct Case
    {
        QString path, name, folder;
    };
    const Case cases[] = {
        { u"/a/b/c.txt"_s, u"c.txt"_s, u"/a/b/"_s },
        { u"/a/b/"_s, u""_s, u"/a/b/"_s },
        { u"c.txt"_s, u"c.txt"_s, u""_s },
        { u"/c"_s, u"c"_s, u"/"_s },
        { u""_s, u""_s, u""_s },
    };
    for (const auto &c : cases) {
        EXPECT_EQ(extractFileName(c.path), c.name) << c.path.toStdString();
        EXPECT_EQ(extractFilePath(c.path), c.folder) << c.path.toStdString();
    }
}

TEST(PathsTest, changeFileExt_replacesOnlyAnExtensionOfTheLastName)
{
    const TextCase cases[] = {
        { u"/tmp/journal.log"_s, u"/tmp/journal.txt"_s },
        { u"/tmp/journal"_s, u"/tmp/journal.txt"_s },
        { u"/tmp/projet.old/journal"_s, u"/tmp/projet.old/journal.txt"_s },
        { u"/tmp/a.b.c"_s, u"/tmp/a.b.txt"_s },
        { u"/tmp/journal."_s, u"/tmp/journal.txt"_s },
        { u"/tmp/.bashrc"_s, u"/tmp/.txt"_s },
    };
    for (const auto &c : cases)
        EXPECT_EQ(changeFileExt(c.input, u".txt"_s), c.expected) << c.input.toStdString();
}

TEST(PathsTest, fullPathName_resolvesDotsAsTextAgainstCurrentFolder)
{
    const QString cwd = QDir::currentPath();
    const QString base = cwd == u"/" ? QString() : cwd;
    const TextCase cases[] = {
        { u"/a/b/../c"_s, u"/a/c"_s },
        { u"/a/./b/"_s, u"/a/b/"_s },
        { u"/a//b"_s, u"/a/b"_s },
        { u"/a/b/.."_s, u"/a"_s },
        { u"/../.."_s, u"/"_s },
        { u"/"_s, u"/"_s },
        { u"x/y"_s, base + u"/x/y"_s },
        { u"."_s, cwd },
        { u"a:b/*.txt"_s, base + u"/a:b/*.txt"_s },
    };
    for (const auto &c : cases) {
        QString full;
        EXPECT_EQ(fullPathName(c.input, full), 0) << c.input.toStdString();
        EXPECT_EQ(full, c.expected) << c.input.toStdString();
    }
}

TEST(PathsTest, fullPathName_refusesWhatThePlatformCannotHold)
{
    QString full = u"unchanged"_s;
    EXPECT_EQ(fullPathName(u"/"_s + QString(5000, u'a'), full), ENAMETOOLONG);
    EXPECT_EQ(fullPathName(u"/a"_s + QChar(0) + u"b"_s, full), EINVAL);
    EXPECT_EQ(full, u"unchanged"_s);
}

class PathsFsTest : public TempDirTest
{
};

TEST_F(PathsFsTest, directoryExists_followsLinksAndTreatsLookupFailuresAsMissing)
{
    const QString folder = makeDir(u"dir"_s);
    const QString plain = writeFile(u"file"_s, "x");
    ASSERT_EQ(::symlink("dir", QFile::encodeName(file(u"link"_s)).constData()), 0);
    ASSERT_EQ(::symlink("nowhere", QFile::encodeName(file(u"dangling"_s)).constData()), 0);
    ASSERT_EQ(::symlink("loop", QFile::encodeName(file(u"loop"_s)).constData()), 0);

    struct Case
    {
        QString path;
        bool isDirectory, isFile;
    };
    const Case cases[] = {
        { folder, true, false },
        { folder + u'/', true, false },
        { file(u"link"_s), true, false },
        { plain, false, true },
        { plain + u"/sub"_s, false, false }, // ENOTDIR
        { file(u"missing"_s), false, false },
        { file(u"dangling"_s), false, false },
        { file(u"loop"_s), false, false }, // ELOOP
        { u"/"_s + QString(300, u'n'), false, false }, // ENAMETOOLONG
        { u""_s, false, false },
    };
    for (const auto &c : cases) {
        EXPECT_EQ(directoryExists(c.path), c.isDirectory) << c.path.toStdString();
        EXPECT_EQ(fileExists(c.path), c.isFile) << c.path.toStdString();
    }
}

TEST_F(PathsFsTest, forceDirectories_createsEveryMissingParent)
{
    const QString deep = file(u"a/b/c/"_s);
    EXPECT_TRUE(forceDirectories(deep));
    EXPECT_TRUE(directoryExists(deep));
    EXPECT_TRUE(forceDirectories(deep)); // already there

    const QString plain = writeFile(u"file"_s, "x");
    EXPECT_FALSE(forceDirectories(plain));
    EXPECT_FALSE(forceDirectories(plain + u"/sub"_s));
}

TEST(PathsTest, encodePath_roundTripsNonAsciiNames)
{
    const QString name = u"/tmp/été ✓"_s;
    EXPECT_EQ(encodePath(name), QByteArray("/tmp/\xC3\xA9t\xC3\xA9 \xE2\x9C\x93"));
    EXPECT_EQ(decodePath(encodePath(name)), name);
}

// The text of the given code units.
QString units(std::initializer_list<char16_t> codeUnits)
{
    QString text;
    for (const char16_t unit : codeUnits)
        text.append(QChar(unit));
    return text;
}

// A name is bytes: each decodes to its own text, which encodes to the same bytes again.
TEST(PathsTest, decodePath_keepsEveryByteOfNamesThatAreNotUtf8)
{
    const struct
    {
        const char *what;
        QByteArray bytes;
        QString text;
    } cases[] = {
        { "empty", "", u""_s },
        { "ASCII", "/src/a.txt", u"/src/a.txt"_s },
        { "UTF-8", "caf\xC3\xA9", u"café"_s },
        { "Latin-1", "caf\xE9.txt", u"caf"_s + units({ 0xDCE9 }) + u".txt"_s },
        { "another Latin-1 byte", "caf\xE8.txt", u"caf"_s + units({ 0xDCE8 }) + u".txt"_s },
        { "a real U+FFFD", "caf\xEF\xBF\xBD.txt", u"caf\uFFFD.txt"_s },
        { "a leading byte-order mark is part of the name", "\xEF\xBB\xBFx", u"\uFEFFx"_s },
        { "noncharacter", "\xEF\xBF\xBE", units({ 0xFFFE }) },
        { "smallest two-byte form", "\xC2\x80", units({ 0x80 }) },
        { "four bytes", "\xF0\x9F\x98\x80", u"😀"_s },
        { "U+10FFFF", "\xF4\x8F\xBF\xBF", units({ 0xDBFF, 0xDFFF }) },
        { "overlong NUL", "\xC0\x80", units({ 0xDCC0, 0xDC80 }) },
        { "overlong two-byte lead", "\xC1\xBF", units({ 0xDCC1, 0xDCBF }) },
        { "overlong '/' in three bytes", "\xE0\x80\xAF", units({ 0xDCE0, 0xDC80, 0xDCAF }) },
        { "overlong in four bytes", "\xF0\x82\x82\xAC", units({ 0xDCF0, 0xDC82, 0xDC82, 0xDCAC }) },
        { "encoded surrogate", "\xED\xA0\x80", units({ 0xDCED, 0xDCA0, 0xDC80 }) },
        { "encoded surrogate pair", "\xED\xA0\xBD\xED\xB8\x80",
            units({ 0xDCED, 0xDCA0, 0xDCBD, 0xDCED, 0xDCB8, 0xDC80 }) },
        { "above U+10FFFF", "\xF4\x90\x80\x80", units({ 0xDCF4, 0xDC90, 0xDC80, 0xDC80 }) },
        { "lead byte F5", "\xF5\x80\x80\x80", units({ 0xDCF5, 0xDC80, 0xDC80, 0xDC80 }) },
        { "five-byte form", "\xF8\x88\x80\x80\x80",
            units({ 0xDCF8, 0xDC88, 0xDC80, 0xDC80, 0xDC80 }) },
        { "FF and FE", "\xFF\xFE", units({ 0xDCFF, 0xDCFE }) },
        { "lone continuation byte", "a\x80z", u"a"_s + units({ 0xDC80 }) + u"z"_s },
        { "truncated at the end", "\xE2\x82", units({ 0xDCE2, 0xDC82 }) },
        { "truncated before ASCII", "\xE2\x82/x", units({ 0xDCE2, 0xDC82 }) + u"/x"_s },
        { "truncated before a valid sequence", "\xF0\x9F\xC3\xA9",
            units({ 0xDCF0, 0xDC9F }) + u"é"_s },
        { "folders and name alike", "/d\xE9/s\xC3\xA9/\xFF",
            u"/d"_s + units({ 0xDCE9 }) + u"/sé/"_s + units({ 0xDCFF }) },
    };
    for (const auto &c : cases) {
        const QString text = decodePath(c.bytes);
        EXPECT_EQ(text, c.text) << c.what;
        EXPECT_EQ(encodePath(text), c.bytes) << c.what;
        EXPECT_EQ(decodePath(encodePath(text)), text) << c.what;
    }
}

// Every string of up to two bytes, and every three- and four-byte string with a lead byte of a
// longer form: each one survives the round trip, and where Qt finds valid UTF-8 the text is
// Qt's.
TEST(PathsTest, encodePathOfDecodePath_isEveryByteStringItself)
{
    qsizetype failures = 0;
    const auto check = [&failures](const QByteArray &bytes) {
        const QString text = decodePath(bytes);
        QStringDecoder utf8(QStringConverter::Utf8,
            QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
        const QString qt = utf8.decode(bytes);
        const bool same = encodePath(text) == bytes && (utf8.hasError() || text == qt);
        if (!same && ++failures <= 10)
            ADD_FAILURE() << "bytes " << bytes.toHex(' ').toStdString();
    };
    check({});
    for (int a = 0; a < 256; ++a) {
        check(QByteArray(1, char(a)));
        for (int b = 0; b < 256; ++b) {
            const char pair[] = { char(a), char(b) };
            check(QByteArray(pair, 2));
            if (a < 0xE0)
                continue;
            for (int c = 0x70; c < 0xD0; ++c) {
                const char three[] = { char(a), char(b), char(c) };
                check(QByteArray(three, 3));
                if (a >= 0xF0)
                    check(QByteArray(three, 3) + '\xBF');
            }
        }
    }
    EXPECT_EQ(failures, 0);
}

TEST(PathsTest, displayText_showsUndecodableBytesAsReplacementCharacters)
{
    const TextCase cases[] = {
        { u"/src/café 😀"_s, u"/src/café 😀"_s },
        { decodePath("/src/caf\xE9.txt"), u"/src/caf\uFFFD.txt"_s },
        { decodePath("\xFF\xFE"), u"\uFFFD\uFFFD"_s },
        { u"a"_s + units({ 0xD800 }) + u"b"_s, u"a\uFFFDb"_s }, // a lone surrogate of a text
        { units({ 0xDFFF, 0xD800 }), u"\uFFFD\uFFFD"_s },
    };
    for (const auto &c : cases) {
        EXPECT_EQ(displayText(c.input), c.expected);
        EXPECT_FALSE(displayText(c.input).toUtf8().contains('?'));
    }
    // A lone surrogate that no name decodes to is written as U+FFFD, never as a byte.
    EXPECT_EQ(encodePath(u"a"_s + units({ 0xD800 })), QByteArray("a\xEF\xBF\xBD"));
    EXPECT_EQ(encodePath(units({ 0xDC41 })), QByteArray("\xEF\xBF\xBD"));
}

TEST_F(PathsFsTest, pathsHoldingUndecodableBytes_reachTheFileSystemAsTheirBytes)
{
    const QByteArray folder = encodePath(path()) + "/dossier\xE9";
    ASSERT_EQ(::mkdir(folder.constData(), 0755), 0);
    const auto remove = qScopeGuard([&folder] { testsupport::removeRawTree(folder); });
    ASSERT_TRUE(testsupport::writeRawFile(folder + "/caf\xE9.txt", "x"));
    const QString text = decodePath(folder);

    EXPECT_TRUE(directoryExists(text));
    EXPECT_TRUE(fileExists(text + decodePath("/caf\xE9.txt")));
    EXPECT_FALSE(fileExists(text + decodePath("/caf\xE8.txt")));
    EXPECT_FALSE(directoryExists(displayText(text))); // the name as shown is another name
    EXPECT_TRUE(forceDirectories(text + decodePath("/sous\xFF/")));
    EXPECT_EQ(
        testsupport::rawEntries(folder), (std::vector<QByteArray> { "caf\xE9.txt", "sous\xFF" }));

    // A relative path is completed against a current folder whose name is not UTF-8 either.
    const QString before = QDir::currentPath();
    ASSERT_EQ(::chdir(folder.constData()), 0);
    QString full;
    const int error = fullPathName(decodePath("caf\xE9.txt"), full);
    ASSERT_EQ(::chdir(encodePath(before).constData()), 0);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(encodePath(full), folder + "/caf\xE9.txt");
}

TEST(PathsTest, executablePath_namesThisTestProgram)
{
    const QString path = executablePath();
    EXPECT_TRUE(path.startsWith(u'/'));
    EXPECT_TRUE(path.endsWith(u"platform_Paths_test"_s)) << path.toStdString();
}

} // namespace
