#include "platform/Paths.h"

#include "support/Fixtures.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

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

TEST(PathsTest, executablePath_namesThisTestProgram)
{
    const QString path = executablePath();
    EXPECT_TRUE(path.startsWith(u'/'));
    EXPECT_TRUE(path.endsWith(u"platform_Paths_test"_s)) << path.toStdString();
}

} // namespace
