#include "platform/Temporaries.h"

#include "platform/AtomicFile.h"
#include "platform/FileCopy.h"
#include "support/Fixtures.h"
#include "support/LockHolder.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace platform;
using namespace Qt::StringLiterals;
using testsupport::readBytes;

namespace {

using Holder = testsupport::LockHolder;

// Runs f in a child that ends without unwinding, as a killed program does.
template<typename F> void inChildThatDies(F f)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        f();
        ::_exit(0);
    }
    ::waitpid(pid, nullptr, 0);
}

class TemporariesTest : public testsupport::TempDirTest
{
protected:
    QStringList entries(const QString &folder) const
    {
        return QDir(folder).entryList(
            QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    }
    QStringList entries() const { return entries(path()); }
};

TEST(TemporaryName, onlyOurPatternMatches)
{
    const struct
    {
        const char *name;
        bool ours;
    } cases[] = {
        { ".qs-abcDEF0189", true },
        { ".qs-ABCDEFGHIJ", true },
        { ".qs-abcdefghi", false },
        { ".qs-abcdefghijk", false },
        { ".qs-abcdefgh-j", false },
        { ".qs-abcdefgh.j", false },
        { "qs-abcdefghij", false },
        { "x.qs-abcdefghij", false },
        { ".QS-abcdefghij", false },
        { ".qs-", false },
        { "", false },
    };
    for (const auto &c : cases)
        EXPECT_EQ(temporaries::isTemporaryName(c.name), c.ours) << c.name;
}

TEST_F(TemporariesTest, sweep_removesOnlyDeadTemporariesOfOurs)
{
    const QString dead = writeFile(u".qs-dead000001"_s, "left by a killed run");
    const QString readOnly = writeFile(u".qs-dead000002"_s, "");
    ASSERT_EQ(::chmod(QFile::encodeName(readOnly).constData(), 0), 0);
    const QString live = writeFile(u".qs-live000001"_s, "being written");
    writeFile(u".qs-short"_s, "not ours");
    writeFile(u"notes.txt"_s, "the user's");
    writeFile(u"x.qs-abcdefghij"_s, "the user's");
    makeDir(u".qs-folder0001"_s);
    const QString pointed = writeFile(u"pointed.txt"_s, "pointed to");
    ASSERT_EQ(
        ::symlink("pointed.txt", QFile::encodeName(file(u".qs-link000001"_s)).constData()), 0);
    ASSERT_EQ(::mkfifo(QFile::encodeName(file(u".qs-fifo000001"_s)).constData(), 0600), 0);

    const Holder holder(live);
    ASSERT_TRUE(holder.held());
    EXPECT_EQ(temporaries::sweep(path()), 2);

    EXPECT_EQ(entries(),
        (QStringList { u".qs-fifo000001"_s, u".qs-folder0001"_s, u".qs-link000001"_s,
            u".qs-live000001"_s, u".qs-short"_s, u"notes.txt"_s, u"pointed.txt"_s,
            u"x.qs-abcdefghij"_s }));
    EXPECT_EQ(readBytes(live), "being written");
    EXPECT_EQ(readBytes(pointed), "pointed to");
}

TEST_F(TemporariesTest, sweep_ofAFolderThatCannotBeOpened_removesNothing)
{
    EXPECT_EQ(temporaries::sweep(file(u"missing"_s)), 0);
    EXPECT_EQ(temporaries::sweep(writeFile(u"plain"_s, "x")), 0);
    EXPECT_EQ(temporaries::sweep(QString()), 0);
}

// A writer that dies before its rename leaves its temporary; the next save into the same
// folder removes it, and a save still under way in another process keeps its own.
TEST_F(TemporariesTest, atomicSave_removesWhatADeadSaveLeft_andSparesALiveOne)
{
    const QString target = writeFile(u"Options.ini"_s, "old");
    inChildThatDies([&] {
        static AtomicWriter writer;
        if (writer.open(target) == 0)
            writer.write("half", 4);
    });
    ASSERT_EQ(entries().size(), 2);
    EXPECT_EQ(readBytes(target), "old");

    AtomicWriter live;
    ASSERT_EQ(live.open(file(u"RepSrc.txt"_s)), 0);
    ASSERT_EQ(live.write("live", 4), 0);
    // The dead one went when the live writer opened; a save in another process now
    // finds the live one locked.
    ASSERT_EQ(entries().size(), 2);
    inChildThatDies([&] { writeFileAtomic(target, "new"); });
    EXPECT_EQ(readBytes(target), "new");
    EXPECT_EQ(live.commit(), 0);
    EXPECT_EQ(entries(), (QStringList { u"Options.ini"_s, u"RepSrc.txt"_s }));
    EXPECT_EQ(readBytes(file(u"RepSrc.txt"_s)), "live");
}

TEST_F(TemporariesTest, writerDestroyedUncommitted_leavesNothing)
{
    const QString target = writeFile(u"journal.txt"_s, "old");
    {
        AtomicWriter writer;
        ASSERT_EQ(writer.open(target), 0);
        ASSERT_EQ(writer.write("new", 3), 0);
    }
    EXPECT_EQ(entries(), QStringList { u"journal.txt"_s });
    EXPECT_EQ(readBytes(target), "old");
}

// The copy's named temporary holds its lock from before it has a name: a sweep from another
// process during a replace never removes it, and the replace completes.
TEST_F(TemporariesTest, replaceCopies_inBothWays_keepTheirTemporariesFromSweeps)
{
    const QString dst = makeDir(u"dst"_s);
    const QString source = writeFile(u"src/a.txt"_s, "new content");
    for (const bool named : { false, true }) {
        SCOPED_TRACE(named ? "named temporary" : "unnamed file");
        const QString target = writeFile(u"dst/a.txt"_s, "old");
        for (int round = 0; round < 50; ++round) {
            const pid_t sweeper = ::fork();
            if (sweeper == 0) {
                for (int i = 0; i < 200; ++i)
                    temporaries::sweep(dst);
                ::_exit(0);
            }
            const int result = named ? copyFileWithNamedTemporary(source, target, false)
                                     : copyFile(source, target, false);
            ::waitpid(sweeper, nullptr, 0);
            ASSERT_EQ(result, 0) << round;
            ASSERT_EQ(readBytes(target), "new content");
        }
        EXPECT_EQ(entries(dst), QStringList { u"a.txt"_s });
    }
}

} // namespace
