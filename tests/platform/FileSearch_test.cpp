#include "platform/FileSearch.h"

#include "platform/Paths.h"
#include "support/Fixtures.h"
#include "support/RawNames.h"

#include <QFile>
#include <QScopeGuard>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace platform;
using namespace Qt::StringLiterals;

namespace {

struct MaskCase
{
    const char16_t *pattern;
    const char16_t *name;
    bool selected;
};

TEST(MatchesMaskTest, windowsRules_selectAsOnAVolumeWithoutShortNames)
{
    const MaskCase cases[] = {
        // "*.*" selects every name, with or without a dot.
        { u"*.*", u"rapport", true },
        { u"*.*", u"a.b", true },
        { u"*.*", u".bashrc", true },
        { u"*", u".bashrc", true },
        { u"*.*.", u"sans-point", true },
        { u"rapport*.*", u"rapport", true },
        { u"rapport*.*", u"rapport1", true },
        { u"rapport*.*", u"rapport.doc", true },
        { u"rapport*.*", u"rapport1.txt", true },
        { u"rapport*.*", u"rap.doc", false },
        // "*." selects the names without a dot.
        { u"*.", u"abc", true },
        { u"*.", u"a.b", false },
        { u"*.", u".bashrc", false },
        { u"*.", u"a.", true },
        { u"abc.", u"abc", true },
        // "?" takes one character, never a dot, and nothing at a dot or at the end.
        { u"??.txt", u"a.txt", true },
        { u"??.txt", u"ab.txt", true },
        { u"??.txt", u"abc.txt", false },
        { u"??.txt", u".txt", true },
        { u"a?c", u"abc", true },
        { u"a?c", u"a.c", false },
        { u"a?c", u"ac", false },
        { u"a??", u"a", true },
        { u"a??", u"abcd", false },
        { u"?", u".", true },
        { u"?", u"a.", false },
        { u"*.tx?", u"y.tx", true },
        { u"*.tx?", u"y.txt", true },
        { u"*.tx?", u"y.txtb", false },
        { u"*.?", u"a", true },
        { u"*.?", u"a.b", true },
        { u"*.?", u"a.bc", false },
        // No short names: an extension is the whole rest of the name.
        { u"*.txt", u"x.txtbak", false },
        { u"*.txt", u"x.txt", true },
        { u"*.txt", u"a.b.txt", true },
        { u"*.txt", u"txt", false },
        { u"*.c", u"a.b.c", true },
        { u"*.b", u"a.b.c", false },
        { u"*..txt", u"a..txt", true },
        // Letters compare upper-cased.
        { u"*.TXT", u"x.txt", true },
        { u"RAPPORT*", u"rapport1", true },
        { u"été*", u"ÉTÉ.doc", true },
        { u"straße", u"STRASSE", false },
        // Blanks: inside and in front they count, trailing ones of the pattern are dropped.
        { u"a b*", u"a b.txt", true },
        { u"a b*", u"ab.txt", false },
        { u"*.txt  ", u"x.txt", true },
        { u"a ", u"a", true },
        { u" a", u"a", false },
        // Every other character stands for itself.
        { u"[a]*", u"[a]1.txt", true },
        { u"[a]*", u"a1.txt", false },
        { u"~$*", u"~$doc.docx", true },
        { u"*~", u"notes.txt~", true },
        { u"a<b", u"a<b", true },
        { u"a<b", u"a.b", false },
        { u"a>b", u"axb", false },
        { u"a\"b", u"a.b", false },
        // A pattern left empty selects nothing.
        { u"...", u"a", false },
        { u"", u"a", false },
    };
    for (const auto &c : cases) {
        const QString pattern = QString::fromUtf16(c.pattern);
        const QString name = QString::fromUtf16(c.name);
        EXPECT_EQ(matchesMask(pattern, name), c.selected)
            << "pattern \"" << pattern.toStdString() << "\" name \"" << name.toStdString() << '"';
    }
}

// Found by fuzzing: a filter line of many wildcards overflowed the stack.
TEST(MatchesMaskTest, filterLineOfManyWildcards_isMatchedWithoutRecursion)
{
    const QString name = u"rapport.txt"_s;
    EXPECT_TRUE(matchesMask(QString(100000, u'*'), name));
    EXPECT_TRUE(matchesMask(u'*' + u".*"_s.repeated(50000), name));
    EXPECT_FALSE(matchesMask(u"*.?"_s.repeated(50000) + u'x', name));
    EXPECT_TRUE(matchesMask(QString(100000, u'?'), u"rapport"_s));
    EXPECT_FALSE(matchesMask(QString(100000, u'a'), QString(255, u'a')));
}

class FileSearchTest : public testsupport::TempDirTest
{
protected:
    struct Entry
    {
        QString name;
        std::uint32_t attributes;
        bool operator==(const Entry &) const = default;
    };
    friend void PrintTo(const Entry &e, std::ostream *os)
    {
        *os << e.name.toStdString() << " 0x" << std::hex << e.attributes;
    }

    // Every entry the search reports, in order.
    std::vector<Entry> search(const QString &mask)
    {
        std::vector<Entry> entries;
        FileSearch search;
        FindData data;
        if (!search.findFirst(path() + u'/' + mask, data))
            return entries;
        do
            entries.push_back({ data.name, data.attributes });
        while (search.findNext(data));
        search.close();
        return entries;
    }

    void link(const char *target, const QString &name)
    {
        ASSERT_EQ(::symlink(target, QFile::encodeName(file(name)).constData()), 0);
    }
};

TEST_F(FileSearchTest, entries_comeSortedByUpperCasedName)
{
    for (const auto &name : { u"b.txt"_s, u"_x.txt"_s, u"a.txt"_s, u"A.txt"_s, u"Z.txt"_s,
             u"é.txt"_s, u"10.txt"_s, u"9.txt"_s })
        writeFile(name, "x");
    std::vector<QString> names;
    for (const auto &entry : search(u"*.txt"_s))
        names.push_back(entry.name);
    // '_' comes after the capitals: names are upper-cased, not lower-cased, for the order.
    const std::vector<QString> expected { u"10.txt"_s, u"9.txt"_s, u"A.txt"_s, u"a.txt"_s,
        u"b.txt"_s, u"Z.txt"_s, u"_x.txt"_s, u"é.txt"_s };
    EXPECT_EQ(names, expected);
}

TEST_F(FileSearchTest, attributes_followLinksAndMarkHiddenFoldersAndSystemEntries)
{
    writeFile(u"file.txt"_s, "x");
    writeFile(u".hidden"_s, "x");
    const QString readOnly = writeFile(u"readonly"_s, "x");
    ASSERT_EQ(::chmod(QFile::encodeName(readOnly).constData(), 0444), 0);
    writeFile(u"folder/inner.txt"_s, "x");
    link("folder", u"linkdir"_s);
    link("file.txt", u"linkfile"_s);
    link("nowhere", u"dangling"_s);
    link("/dev/null", u"devlink"_s);
    ASSERT_EQ(::mkfifo(QFile::encodeName(file(u"fifo"_s)).constData(), 0644), 0);

    // The FIFO has no writer: had the search opened it, this would never return.
    const std::vector<Entry> expected {
        { u"."_s, faHidden | faDirectory },
        { u".."_s, faHidden | faDirectory },
        { u".hidden"_s, faHidden | faArchive },
        { u"dangling"_s, faArchive },
        { u"devlink"_s, faSysFile },
        { u"fifo"_s, faSysFile },
        { u"file.txt"_s, faArchive },
        { u"folder"_s, faDirectory },
        { u"linkdir"_s, faDirectory },
        { u"linkfile"_s, faArchive },
        { u"readonly"_s, faArchive | faReadOnly },
    };
    EXPECT_EQ(search(u"*"_s), expected);
}

TEST_F(FileSearchTest, search_staysInTheFolderAndReportsOnlyMatches)
{
    writeFile(u"a.txt"_s, "x");
    writeFile(u"b.doc"_s, "x");
    writeFile(u"sub/c.txt"_s, "x");
    EXPECT_EQ(search(u"*.txt"_s), (std::vector<Entry> { { u"a.txt"_s, faArchive } }));
}

TEST_F(FileSearchTest, findFirst_failsWithoutMatchOrFolder)
{
    writeFile(u"a.txt"_s, "x");
    FileSearch search;
    FindData data;
    EXPECT_FALSE(search.findFirst(path() + u"/*.doc"_s, data));
    EXPECT_FALSE(search.findFirst(path() + u"/missing/*.*"_s, data));
    EXPECT_FALSE(search.findFirst(path() + u"/a.txt/*.*"_s, data));
    EXPECT_FALSE(search.findFirst(path() + u"/"_s, data));
    EXPECT_FALSE(search.findNext(data));

    ASSERT_TRUE(search.findFirst(path() + u"/A.TXT"_s, data));
    EXPECT_EQ(data.name, u"a.txt"_s);
    EXPECT_FALSE(search.findNext(data));
    EXPECT_FALSE(search.findNext(data));
}

TEST_F(FileSearchTest, entryVanishedAfterListing_isReportedAsOrdinary)
{
    writeFile(u"a.txt"_s, "x");
    writeFile(u"b.txt"_s, "x");
    FileSearch search;
    FindData data;
    ASSERT_TRUE(search.findFirst(path() + u"/*.txt"_s, data));
    ASSERT_TRUE(QFile::remove(file(u"b.txt"_s)));
    ASSERT_TRUE(search.findNext(data));
    EXPECT_EQ(data.name, u"b.txt"_s);
    EXPECT_EQ(data.attributes, std::uint32_t(faArchive));
}

// Names are bytes: two Latin-1 names and a real U+FFFD are three entries, each of which
// names its own file again; an undecodable byte is one character for the mask.
TEST_F(FileSearchTest, namesThatAreNotUtf8_areDistinctEntriesKeepingTheirBytes)
{
    const QByteArray folder = encodePath(path());
    const QByteArray names[] = { "caf\xE9.txt", "caf\xE8.txt", "caf\xEF\xBF\xBD.txt" };
    const auto remove = qScopeGuard([&] {
        for (const QByteArray &name : names)
            testsupport::removeRawTree(folder + '/' + name);
        testsupport::removeRawTree(folder + "/dossier\xE9.txt");
    });
    for (const QByteArray &name : names)
        ASSERT_TRUE(testsupport::writeRawFile(folder + '/' + name, name));
    ASSERT_EQ(::mkdir(QByteArray(folder + "/dossier\xE9.txt").constData(), 0755), 0);

    std::vector<QByteArray> found;
    for (const auto &entry : search(u"caf?.txt"_s)) {
        found.push_back(encodePath(entry.name));
        EXPECT_EQ(entry.attributes, std::uint32_t(faArchive)) << found.back().toHex().data();
        EXPECT_EQ(testsupport::readRawFile(folder + '/' + found.back()), found.back());
    }
    // In code-unit order of the texts: U+DCE8, U+DCE9, then U+FFFD.
    EXPECT_EQ(found, (std::vector<QByteArray> { names[1], names[0], names[2] }));

    // The folder's attributes were looked up under its own name.
    const std::vector<Entry> folders = search(u"dossier*"_s);
    ASSERT_EQ(folders.size(), 1u);
    EXPECT_EQ(encodePath(folders[0].name), QByteArray("dossier\xE9.txt"));
    EXPECT_EQ(folders[0].attributes, std::uint32_t(faDirectory));
}

} // namespace
