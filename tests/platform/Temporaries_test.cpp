#include "platform/Temporaries.h"

#include "platform/AtomicFile.h"
#include "platform/FileCopy.h"
#include "support/Fixtures.h"
#include "support/OtherProcess.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace platform;
using namespace Qt::StringLiterals;
using testsupport::readBytes;

namespace {

using testsupport::OtherProcess;

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

// The name's fields: ".qs-" HOST "-" BOOT "-" PID "-" START "-" RANDOM.
enum Field { Host, Boot, Pid, Start, Random };

QList<QByteArray> fieldsOf(const QByteArray &name)
{
    return name.mid(4).split('-');
}

// The same name with one field changed.
QByteArray withField(const QByteArray &name, Field field, const QByteArray &value)
{
    QList<QByteArray> fields = fieldsOf(name);
    fields[field] = value;
    return ".qs-" + fields.join('-');
}

TEST(TemporaryName, onlyOurPatternMatches)
{
    const QByteArray ours = temporaries::newName();
    ASSERT_EQ(fieldsOf(ours).size(), 5) << ours.constData();
    EXPECT_EQ(fieldsOf(ours)[Pid], QByteArray::number(::getpid()));
    EXPECT_NE(temporaries::newName(), ours);
    const struct
    {
        QByteArray name;
        bool matches;
    } cases[] = {
        { ours, true },
        { ".qs-abcDEF-012345-1-1-ZZZZZZ", true },
        { ".qs-abcDEF-012345-4194304-18446744073709551615-ZZZZZZ", true },
        // What earlier versions, and users, name such files.
        { ".qs-abcDEF0189", false },
        { ".qs-notes12345", false },
        { withField(ours, Host, "abcDE"), false },
        { withField(ours, Boot, "abcDEFG"), false },
        { withField(ours, Random, "abc.EF"), false },
        { withField(ours, Pid, ""), false },
        { withField(ours, Pid, "0"), false },
        { withField(ours, Pid, "012"), false },
        { withField(ours, Pid, "99999999999"), false },
        { withField(ours, Start, "12a"), false },
        { withField(ours, Start, "123456789012345678901"), false },
        { ours + ".txt", false },
        { ours + "-abcdef", false },
        { ours.mid(1), false },
        { "x" + ours, false },
        { ".QS-" + ours.mid(4), false },
        { ".qs-", false },
        { "", false },
    };
    for (const auto &c : cases)
        EXPECT_EQ(temporaries::isTemporaryName(c.name.constData()), c.matches)
            << c.name.constData();
}

TEST(TemporaryName, writerIsGone_onlyForAWriterProvablyGone)
{
    OtherProcess live;
    OtherProcess ended;
    ended.finish();
    ASSERT_FALSE(live.name().isEmpty());
    ASSERT_FALSE(ended.name().isEmpty());
    const QByteArray laterStart
        = QByteArray::number(fieldsOf(live.name())[Start].toULongLong() + 1);
    const struct
    {
        const char *what;
        QByteArray name;
        bool gone;
    } cases[] = {
        { "this process", temporaries::newName(), false },
        { "a live process", live.name(), false },
        { "a process that ended", ended.name(), true },
        { "a live process's number, at another start", withField(live.name(), Start, laterStart),
            true },
        { "an earlier start of this machine", withField(live.name(), Boot, "zzzzzz"), true },
        { "another machine or process namespace", withField(ended.name(), Host, "zzzzzz"), false },
        { "a writer whose start time was not known", withField(ended.name(), Start, "0"), false },
        { "a number that no process has", withField(ended.name(), Pid, "2147483647"), true },
        { "not one of ours", ".qs-notes12345", false },
    };
    for (const auto &c : cases)
        EXPECT_EQ(temporaries::writerIsGone(c.name.constData()), c.gone)
            << c.what << ": " << c.name.constData();
}

TEST_F(TemporariesTest, sweep_removesOnlyRegularFilesOfGoneWriters)
{
    OtherProcess live;
    OtherProcess ended(5);
    ended.finish();
    ASSERT_EQ(ended.names().size(), 5);
    const auto put = [this](const QByteArray &name, const QByteArray &content) {
        return writeFile(QString::fromLatin1(name), content);
    };
    const auto at = [this](const QByteArray &name) {
        return QFile::encodeName(file(QString::fromLatin1(name)));
    };
    put(ended.names()[0], "left by a killed run");
    put(ended.names()[1], "");
    ASSERT_EQ(::chmod(at(ended.names()[1]).constData(), 0), 0);
    put(withField(live.name(), Boot, "zzzzzz"), "left before the machine started again");
    const QString living = put(live.name(), "being written");
    const QByteArray own = temporaries::newName();
    put(own, "this process's");
    const QByteArray elsewhere = withField(ended.names()[0], Host, "zzzzzz");
    put(elsewhere, "another machine's");
    put(".qs-dead000001", "an earlier version's, or the user's");
    put(".qs-notes12345", "the user's");
    put("notes.txt", "the user's");
    makeDir(QString::fromLatin1(ended.names()[2]));
    const QString pointed = put("pointed.txt", "pointed to");
    ASSERT_EQ(::symlink("pointed.txt", at(ended.names()[3]).constData()), 0);
    ASSERT_EQ(::mkfifo(at(ended.names()[4]).constData(), 0600), 0);

    EXPECT_EQ(temporaries::sweep(path()), 3);

    QStringList kept;
    for (const QByteArray &name : { ended.names()[2], ended.names()[3], ended.names()[4],
             live.name(), own, elsewhere, QByteArray(".qs-dead000001"),
             QByteArray(".qs-notes12345"), QByteArray("notes.txt"), QByteArray("pointed.txt") })
        kept << QString::fromLatin1(name);
    kept.sort();
    EXPECT_EQ(entries(), kept);
    EXPECT_EQ(readBytes(living), "being written");
    EXPECT_EQ(readBytes(pointed), "pointed to");
}

// On some network file systems a second open of a file being written breaks the writer:
// the sweep tells by the names alone, and opens no entry of the folder.
TEST_F(TemporariesTest, sweep_opensNoEntry)
{
    OtherProcess live;
    OtherProcess ended;
    ended.finish();
    writeFile(QString::fromLatin1(live.name()), "being written");
    writeFile(QString::fromLatin1(ended.name()), "left by a killed run");
    writeFile(u".qs-abcdefghij"_s, "an earlier version's");

    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, QFile::encodeName(path()).constData(), IN_OPEN), 0);
    EXPECT_EQ(temporaries::sweep(path()), 1);
    alignas(inotify_event) char events[4096];
    QStringList opened;
    for (ssize_t n; (n = ::read(watch, events, sizeof events)) > 0;) {
        for (const char *at = events; at < events + n;) {
            const auto *event = reinterpret_cast<const inotify_event *>(at);
            if (event->len > 0)
                opened << QString::fromLocal8Bit(event->name);
            at += sizeof(inotify_event) + event->len;
        }
    }
    ::close(watch);
    EXPECT_EQ(opened, QStringList()) << opened.join(u", ").toStdString();
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
    // finds the live one's writer running.
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

// The copy's temporary has its writer's name from the start: a sweep from another process
// during a replace never removes it, and the replace completes.
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
