#include "CopyRunFixture.h"
#include "copy/CopyEngine.h"
#include "platform/Error.h"
#include "platform/LocalTime.h"
#include "platform/Paths.h"
#include "platform/SystemCalls.h"
#include "settings/Settings.h"
#include "support/Fixtures.h"
#include "support/OtherProcess.h"
#include "support/RawNames.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QScopeGuard>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace copytest;
using testsupport::readBytes;

namespace {

const QString kTooLong = QStringLiteral("Le chemin spécifié est trop long");
const QString kInvalid = QStringLiteral("Caractères non valides dans le chemin");
const QString kNoPath = QStringLiteral("Impossible de trouver le chemin spécifié");
const QString kNoFile = QStringLiteral("Impossible de trouver le fichier spécifié");

// An absolute path of exactly `bytes` bytes in UTF-8, made of names of at most 200 bytes,
// each character `unit` (of one or two bytes).
QString pathOfBytes(qsizetype bytes, QChar unit = u'a')
{
    const qsizetype unitBytes = unit.unicode() < 0x80 ? 1 : 2;
    QString path;
    qsizetype length = 0;
    while (length < bytes) {
        path += u'/';
        ++length;
        qsizetype name = 0;
        while (length + unitBytes <= bytes && name + unitBytes <= 200) {
            path += unit;
            length += unitBytes;
            name += unitBytes;
        }
        if (length + unitBytes > bytes && length < bytes) {
            path += u'b'; // an odd byte left over
            ++length;
        }
    }
    return path;
}

QString errorOf(const std::function<void()> &action)
{
    try {
        action();
    } catch (const AppError &error) {
        return error.message();
    }
    return {};
}

class CopyEngineTest : public CopyRunFixture
{
protected:
    // A run whose message pumps are counted.
    QList<QString> run(const QStringList &filters)
    {
        return CopyRunFixture::run(filters, [this] { ++pumps; });
    }

    QString inSrc(const QString &name, const QByteArray &content = "data")
    {
        return writeFile(u"src/" + name, content);
    }

    int pumps = 0;
};

TEST(AdaptFilter, widensByModeAndTakesOtherModesAsTyped)
{
    const struct
    {
        const char16_t *filter;
        int mode;
        const char16_t *adapted;
    } cases[] = {
        { u"facture", 0, u"facture" },
        { u"facture", 1, u"*facture" },
        { u"facture", 2, u"facture*.*" },
        { u"facture", 3, u"*facture*.*" },
        { u"facture", 4, u"facture" },
        { u"facture", 7, u"facture" },
        { u"facture", -1, u"facture" },
        { u"*.txt", 3, u"**.txt*.*" },
        { u"", 3, u"**.*" },
    };
    for (const auto &c : cases) {
        EXPECT_EQ(AdaptFilter(QString::fromUtf16(c.filter), c.mode), QString::fromUtf16(c.adapted))
            << "mode " << c.mode;
    }
}

TEST_F(CopyEngineTest, selection_keepsFilesOnly_inNameOrder_withoutEnteringSubFolders)
{
    inSrc(QStringLiteral("b.txt"));
    inSrc(QStringLiteral("A.txt"));
    inSrc(QStringLiteral("c.TXT"));
    inSrc(QStringLiteral(".hidden.txt"));
    inSrc(QStringLiteral("dir.txt/inner.txt"));
    const QString readOnly = inSrc(QStringLiteral("ro.txt"), "read-only");
    ASSERT_EQ(::chmod(QFile::encodeName(readOnly).constData(), 0444), 0);
    ASSERT_EQ(::symlink("A.txt", QFile::encodeName(src + u"link.txt").constData()), 0);
    ASSERT_EQ(::symlink("dir.txt", QFile::encodeName(src + u"dirlink.txt").constData()), 0);
    ASSERT_EQ(::symlink("gone", QFile::encodeName(src + u"dangling.txt").constData()), 0);
    ASSERT_EQ(::mkfifo(QFile::encodeName(src + u"pipe.txt").constData(), 0644), 0);

    const QList<QString> log = run({ QStringLiteral("*.txt") });

    const QList<QString> expected = {
        filterLine(QStringLiteral("*.txt"), QStringLiteral("*.txt")),
        copyLine(src + u"A.txt", dst + u"A.txt"),
        copyLine(src + u"b.txt", dst + u"b.txt"),
        copyLine(src + u"c.TXT", dst + u"c.TXT"),
        copyLine(src + u"dangling.txt", dst + u"dangling.txt"),
        errorLine(kNoFile),
        copyLine(src + u"link.txt", dst + u"link.txt"),
        copyLine(src + u"ro.txt", dst + u"ro.txt"),
    };
    EXPECT_EQ(log, expected);
    EXPECT_EQ(readFile(QStringLiteral("dst/ro.txt")), "read-only");
    EXPECT_EQ(readFile(QStringLiteral("dst/link.txt")), "data");
    EXPECT_FALSE(QFileInfo::exists(dst + u"inner.txt"));
    EXPECT_FALSE(QFileInfo::exists(dst + u"dir.txt"));
    EXPECT_FALSE(QFileInfo::exists(dst + u".hidden.txt"));
}

TEST_F(CopyEngineTest, hiddenFileNamedExactly_isNotSelected)
{
    inSrc(QStringLiteral(".profile"));
    EXPECT_EQ(run({ QStringLiteral(".profile") }),
        QList<QString> { filterLine(QStringLiteral(".profile"), QStringLiteral(".profile")) });
}

TEST_F(CopyEngineTest, filterLines_blankOnesSkipped_othersTrimmedWidenedAndPumped)
{
    config.AdaptatFiltre = 2;
    config.DontReplace = true;
    inSrc(QStringLiteral("rapport"));
    inSrc(QStringLiteral("rapport1.txt"));
    inSrc(QStringLiteral("autre.txt"));

    const QList<QString> log = run({ QString(), QStringLiteral(" \t "),
        QStringLiteral("  rapport \r"), QStringLiteral("\tnulle-part") });

    const QList<QString> expected = {
        filterLine(QStringLiteral("rapport*.*"), QStringLiteral("rapport")),
        copyLine(src + u"rapport", dst + u"rapport"),
        copyLine(src + u"rapport1.txt", dst + u"rapport1.txt"),
        filterLine(QStringLiteral("nulle-part*.*"), QStringLiteral("nulle-part")),
    };
    EXPECT_EQ(log, expected);
    // After each of the two files, and after each non-empty filter line.
    EXPECT_EQ(pumps, 4);
}

TEST_F(CopyEngineTest, emptyFilterList_logsNothing)
{
    EXPECT_TRUE(run({}).isEmpty());
    EXPECT_TRUE(run({ QStringLiteral("  "), QString() }).isEmpty());
    EXPECT_EQ(pumps, 0);
}

TEST_F(CopyEngineTest, perFileStep_logsEachBranchWordForWord)
{
    const struct
    {
        const char *name;
        bool dontReplace;
        bool targetExists;
        bool copied;
        int pumps;
    } cases[] = {
        // Both branches pump after the file, a file left alone included, and after the
        // filter line.
        { "don't replace, new target", true, false, true, 2 },
        { "don't replace, existing target", true, true, false, 2 },
        { "replace, new target", false, false, true, 2 },
        { "replace, existing target", false, true, true, 2 },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QDir(dst).removeRecursively();
        QDir().mkpath(dst);
        inSrc(QStringLiteral("f.txt"), "new");
        if (c.targetExists)
            writeFile(QStringLiteral("dst/f.txt"), "old");
        config.DontReplace = c.dontReplace;
        pumps = 0;

        const QString source = src + u"f.txt";
        const QString target = dst + u"f.txt";
        QList<QString> expected = { filterLine(QStringLiteral("f.txt"), QStringLiteral("f.txt")) };
        if (c.dontReplace && c.targetExists) {
            expected << existsLine(target);
        } else {
            if (c.targetExists)
                expected << replaceLine(target);
            expected << copyLine(source, target);
        }

        EXPECT_EQ(run({ QStringLiteral("f.txt") }), expected);
        EXPECT_EQ(readFile(QStringLiteral("dst/f.txt")), c.copied ? "new" : "old");
        EXPECT_EQ(pumps, c.pumps);
    }
}

TEST_F(CopyEngineTest, fileMatchedByTwoFilters_isHandledOnceForEach)
{
    inSrc(QStringLiteral("abc.txt"));
    const QString source = src + u"abc.txt";
    const QString target = dst + u"abc.txt";
    const QStringList filters = { QStringLiteral("*.txt"), QStringLiteral("a*") };

    config.DontReplace = true;
    EXPECT_EQ(run(filters),
        (QList<QString> { filterLine(QStringLiteral("*.txt"), QStringLiteral("*.txt")),
            copyLine(source, target), filterLine(QStringLiteral("a*"), QStringLiteral("a*")),
            existsLine(target) }));

    QFile::remove(target);
    config.DontReplace = false;
    EXPECT_EQ(run(filters),
        (QList<QString> { filterLine(QStringLiteral("*.txt"), QStringLiteral("*.txt")),
            copyLine(source, target), filterLine(QStringLiteral("a*"), QStringLiteral("a*")),
            replaceLine(target), copyLine(source, target) }));
}

TEST_F(CopyEngineTest, stop_endsTheRunOnceTheFileInProgressIsCopied_inEitherBranch)
{
    for (const char *name : { "a.txt", "b.txt", "c.txt", "d.doc" })
        inSrc(QString::fromLatin1(name), QByteArray("content of ") + name);
    const QString stopped = QStringLiteral("Copie arrêtée par l'utilisateur.");
    const QStringList filters = { QStringLiteral("*.txt"), QStringLiteral("*.doc") };
    for (const bool dontReplace : { false, true }) {
        SCOPED_TRACE(dontReplace ? "don't replace" : "replace");
        QDir(dst).removeRecursively();
        QDir().mkpath(dst);
        config.DontReplace = dontReplace;

        // Asked for while b.txt is about to be copied.
        HookedLog log;
        CopyRun copy(config, src, dst, log, {});
        log.onLine = [&](const QString &line) {
            if (line == copyLine(src + u"b.txt", dst + u"b.txt"))
                copy.requestStop();
        };
        copy.runFilters(filters);

        EXPECT_TRUE(copy.isStopped());
        EXPECT_EQ(log.lines,
            (QList<QString> { filterLine(QStringLiteral("*.txt")),
                copyLine(src + u"a.txt", dst + u"a.txt"), copyLine(src + u"b.txt", dst + u"b.txt"),
                stopped }));
        // b.txt whole, and nothing else: no later file, no temporary.
        EXPECT_EQ(QDir(dst).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
            (QStringList { QStringLiteral("a.txt"), QStringLiteral("b.txt") }));
        EXPECT_EQ(readFile(QStringLiteral("dst/b.txt")), "content of b.txt");
        EXPECT_EQ(copy.tally().copied, 2);
    }

    // Asked for before the first file (while the window counts them): the line alone.
    LogLines log;
    CopyRun copy(config, src, dst, log, {});
    copy.requestStop();
    copy.runFilters(filters);
    EXPECT_EQ(log.lines, QList<QString> { stopped });
}

TEST_F(CopyEngineTest, countSelected_isWhatTheRunThenVisits_andLogsNothing)
{
    for (const char *name : { "a.txt", "abc.txt", "B.TXT", "c.doc", ".hidden.txt", "sub/in.txt" })
        inSrc(QString::fromLatin1(name));
    makeDir(QStringLiteral("src/dir.txt"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(src + u"pipe.txt").constData(), 0644), 0);
    // abc.txt is selected by two filters; the line with a folder part selects nothing.
    const QStringList filters = { QStringLiteral("*.txt"), QStringLiteral(" "),
        QStringLiteral("a*"), QStringLiteral("sub/*"), QStringLiteral("rien*") };

    for (const bool dontReplace : { false, true }) {
        SCOPED_TRACE(dontReplace ? "don't replace" : "replace");
        QDir(dst).removeRecursively();
        QDir().mkpath(dst);
        config.DontReplace = dontReplace;
        LogLines log;
        pumps = 0;
        CopyRun copy(config, src, dst, log, [this] { ++pumps; });
        const qint64 counted = copy.countSelected(filters);
        EXPECT_EQ(counted, 5);
        EXPECT_TRUE(log.lines.isEmpty());
        EXPECT_TRUE(QDir(dst).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
        // After each non-empty line, as in the run.
        EXPECT_EQ(pumps, 4);

        copy.runFilters(filters);
        EXPECT_EQ(copy.tally().visited, counted);
    }

    LogLines log;
    CopyRun missing(config, src + u"absent/", dst, log, {});
    EXPECT_EQ(missing.countSelected(filters), 0);
}

TEST_F(CopyEngineTest, missingDestination_logsErrorForEveryFileAndGoesOn)
{
    config.DontReplace = true;
    inSrc(QStringLiteral("a.txt"));
    inSrc(QStringLiteral("b.txt"));
    dst = file(QStringLiteral("nowhere")) + u'/';

    EXPECT_EQ(run({ QStringLiteral("*.txt"), QStringLiteral("b*") }),
        (QList<QString> { filterLine(QStringLiteral("*.txt"), QStringLiteral("*.txt")),
            copyLine(src + u"a.txt", dst + u"a.txt"), errorLine(kNoPath),
            copyLine(src + u"b.txt", dst + u"b.txt"), errorLine(kNoPath),
            filterLine(QStringLiteral("b*"), QStringLiteral("b*")),
            copyLine(src + u"b.txt", dst + u"b.txt"), errorLine(kNoPath) }));
}

TEST_F(CopyEngineTest, missingSource_logsOnlyTheFilterLines)
{
    src = file(QStringLiteral("nowhere")) + u'/';
    EXPECT_EQ(run({ QStringLiteral("*"), QStringLiteral("a") }),
        (QList<QString> { filterLine(QStringLiteral("*"), QStringLiteral("*")),
            filterLine(QStringLiteral("a"), QStringLiteral("a")) }));
}

TEST_F(CopyEngineTest, tooLongTarget_failsThatFileOnly)
{
    // A destination folder deep enough that a long name takes its path past 4096 bytes.
    QString deep = dst;
    while (QFile::encodeName(deep).size() < 3800)
        deep += QString(200, u'd') + u'/';
    ASSERT_TRUE(QDir().mkpath(deep));
    dst = deep;
    const QString longName = QString(250, u'n') + u".txt";
    inSrc(QStringLiteral("court.txt"));
    inSrc(longName);

    EXPECT_EQ(run({ QStringLiteral("*.txt") }),
        (QList<QString> { filterLine(QStringLiteral("*.txt"), QStringLiteral("*.txt")),
            copyLine(src + u"court.txt", dst + u"court.txt"),
            copyLine(src + longName, dst + longName), errorLine(kTooLong) }));
    EXPECT_EQ(readBytes(dst + u"court.txt"), "data");
}

// Names are bytes: two Latin-1 names and a real U+FFFD are three files, each copied under its
// own name and counted, as is a name of 255 undecodable bytes (NAME_MAX); the log, and so the
// log file, shows each undecodable byte as U+FFFD ('?' in the code page).
TEST_F(CopyEngineTest, namesThatAreNotUtf8_areCopiedUnderTheirOwnBytesAndCounted)
{
    const QByteArray srcBytes = platform::encodePath(src);
    const QByteArray dstBytes = platform::encodePath(dst);
    // In the order of the search: U+DCE8, U+DCE9 and U+FFFD after "CAF", then U+DCE9 first.
    const std::vector<QByteArray> names { "caf\xE8.txt", "caf\xE9.txt", "caf\xEF\xBF\xBD.txt",
        QByteArray(251, '\xE9') + ".txt" };
    const QList<QString> shown { QStringLiteral("caf\uFFFD.txt"), QStringLiteral("caf\uFFFD.txt"),
        QStringLiteral("caf\uFFFD.txt"), QString(251, QChar(0xFFFD)) + u".txt" };
    const auto remove = qScopeGuard([&] {
        testsupport::removeRawTree(srcBytes);
        testsupport::removeRawTree(dstBytes);
    });
    for (const QByteArray &name : names)
        ASSERT_TRUE(testsupport::writeRawFile(srcBytes + name, "contenu " + name));
    config.LogFile = file(QStringLiteral("journal.log"));

    const struct
    {
        const char *branch;
        bool dontReplace;
        qint64 copied, skipped;
    } cases[] = { { "replace", false, 4, 0 }, { "don't replace", true, 0, 4 } };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.branch);
        QFile::remove(config.LogFile);
        config.DontReplace = c.dontReplace;
        LogLines log;
        CopyRun copy(config, src, dst, log, {});
        copy.runFilters({ QStringLiteral("*.txt") });
        copy.appendLogFile();

        QList<QString> expected { filterLine(QStringLiteral("*.txt")) };
        for (const QString &name : shown)
            expected.append(
                c.dontReplace ? existsLine(dst + name) : copyLine(src + name, dst + name));
        EXPECT_EQ(log.lines, expected);
        EXPECT_EQ(copy.tally().copied, c.copied);
        EXPECT_EQ(copy.tally().skipped, c.skipped);
        EXPECT_EQ(copy.tally().errors, 0);

        QByteArray logFile;
        for (const QString &line : expected)
            logFile += QString(line).replace(QChar(0xFFFD), u'?').toLatin1() + "\r\n";
        EXPECT_EQ(readBytes(config.LogFile), logFile);

        std::vector<QByteArray> sorted = names;
        std::sort(sorted.begin(), sorted.end());
        EXPECT_EQ(testsupport::rawEntries(dstBytes), sorted);
        for (const QByteArray &name : names)
            EXPECT_EQ(testsupport::readRawFile(dstBytes + name), "contenu " + name);
    }
}

TEST_F(CopyEngineTest, copyFileChecked_testsSourceThenTargetInOrder)
{
    const QString ok = inSrc(QStringLiteral("ok.txt"));
    makeDir(QStringLiteral("src/folder"));
    writeFile(QStringLiteral("dst/there.txt"), "old");
    const QString target = dst + u"new.txt";
    const QString name255 = QString(255, u'n');
    const QString name256 = QString(256, u'n');

    const struct
    {
        const char *what;
        QString source;
        QString target;
        bool replace;
        QString message; // empty: the copy succeeds
    } cases[] = {
        { "source of 4096 bytes", pathOfBytes(4096), target, true, kTooLong },
        { "source of 4096 bytes in two-byte characters", pathOfBytes(4096, QChar(0xE9)), target,
            true, kTooLong },
        { "source of 4095 bytes passes the length test", pathOfBytes(4095), target, true, kNoPath },
        { "source name of 256 bytes", src + name256, target, true, kTooLong },
        { "source name of 255 bytes passes the length test", src + name255, target, true, kNoFile },
        { "4096 blanks: the length test comes first", QString(4096, u' '), target, true, kTooLong },
        { "empty source", QString(), target, true, kInvalid },
        { "blank source", QStringLiteral(" \t\r\n"), target, true, kInvalid },
        { "source holding U+0000", src + u"a" + QChar(0) + u"b", target, true, kInvalid },
        { "source in a missing folder", src + u"nowhere/a.txt", target, true, kNoPath },
        { "source under a regular file", ok + u"/a.txt", target, true, kNoPath },
        { "source that is a folder", src + u"folder", target, true, kNoFile },
        { "missing source", src + u"none.txt", target, true, kNoFile },
        { "the source is checked before the target", src + u"none.txt", pathOfBytes(4096), true,
            kNoFile },
        { "target of 4096 bytes", ok, pathOfBytes(4096), true, kTooLong },
        { "target name of 256 bytes", ok, dst + name256, true, kTooLong },
        { "blank target", ok, QStringLiteral("  "), true, kInvalid },
        { "target in a missing folder", ok, dst + u"nowhere/new.txt", true, kNoPath },
        { "existing target without replace", ok, dst + u"there.txt", false,
            QStringLiteral("Le fichier spécifié existe déjà") },
        { "existing target with replace", ok, dst + u"there.txt", true, QString() },
        { "colon, quotes, bars and wildcards are ordinary characters", ok, dst + u"a:b\"<>|*?.txt",
            false, QString() },
    };
    for (const auto &c : cases) {
        EXPECT_EQ(errorOf([&] { CopyFileChecked(c.source, c.target, c.replace); }), c.message)
            << c.what;
    }
    EXPECT_EQ(readFile(QStringLiteral("dst/there.txt")), "data");
    EXPECT_EQ(readBytes(dst + u"a:b\"<>|*?.txt"), "data");
    EXPECT_FALSE(QFileInfo::exists(target));
}

TEST_F(CopyEngineTest, copyOntoAFolder_isACopyErrorAndTheFolderStays)
{
    inSrc(QStringLiteral("x.txt"));
    makeDir(QStringLiteral("dst/x.txt"));
    const QList<QString> log = run({ QStringLiteral("x.txt") });
    ASSERT_EQ(log.size(), 3);
    EXPECT_EQ(log.at(1), copyLine(src + u"x.txt", dst + u"x.txt"));
    EXPECT_TRUE(log.at(2).startsWith(u"Erreur: ")) << log.at(2).toStdString();
    EXPECT_TRUE(QFileInfo(dst + u"x.txt").isDir());
}

TEST_F(CopyEngineTest, sourceEqualsDestination_losesNothingInEitherBranch)
{
    inSrc(QStringLiteral("a.txt"), "alpha");
    inSrc(QStringLiteral("b.txt"), "beta");
    dst = src;

    config.DontReplace = true;
    EXPECT_EQ(run({ QStringLiteral("*") }),
        (QList<QString> { filterLine(QStringLiteral("*"), QStringLiteral("*")),
            existsLine(src + u"a.txt"), existsLine(src + u"b.txt") }));

    config.DontReplace = false;
    const QList<QString> log = run({ QStringLiteral("*") });
    EXPECT_EQ(log.size(), 5);
    EXPECT_EQ(readFile(QStringLiteral("src/a.txt")), "alpha");
    EXPECT_EQ(readFile(QStringLiteral("src/b.txt")), "beta");
    EXPECT_EQ(QDir(src).entryList(QDir::Files | QDir::Hidden | QDir::System),
        (QStringList { QStringLiteral("a.txt"), QStringLiteral("b.txt") }));
}

TEST_F(CopyEngineTest, sourceVanishingBeforeItsCopy_givesOneErrorLineAndTheRunGoesOn)
{
    inSrc(QStringLiteral("a.txt"));
    const QString victim = inSrc(QStringLiteral("b.txt"));
    inSrc(QStringLiteral("c.txt"));
    // b.txt is removed as the run announces its copy: after selection, before the copy.
    const QList<QString> log
        = CopyRunFixture::run({ QStringLiteral("*.txt") }, {}, [&victim](const QString &line) {
              if (line.startsWith(u"Copie du fichier \"" + victim + u'"'))
                  QFile::remove(victim);
          });

    EXPECT_EQ(log,
        (QList<QString> { filterLine(QStringLiteral("*.txt"), QStringLiteral("*.txt")),
            copyLine(src + u"a.txt", dst + u"a.txt"), copyLine(victim, dst + u"b.txt"),
            errorLine(kNoFile), copyLine(src + u"c.txt", dst + u"c.txt") }));
    EXPECT_EQ(readFile(QStringLiteral("dst/c.txt")), "data");
}

TEST_F(CopyEngineTest, fifoInTheSource_isNeverOpened)
{
    inSrc(QStringLiteral("a.txt"));
    const QByteArray fifo = QFile::encodeName(src + u"pipe.txt");
    ASSERT_EQ(::mkfifo(fifo.constData(), 0644), 0);
    ASSERT_EQ(::symlink("pipe.txt", QFile::encodeName(src + u"pipelink.txt").constData()), 0);

    // Whoever opens the FIFO for reading lets a non-blocking writer in; the writer then
    // also releases it, so that a faulty run cannot hang the test.
    std::atomic<bool> done { false };
    std::atomic<bool> opened { false };
    std::thread watcher([&] {
        while (!done) {
            const int fd = ::open(fifo.constData(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) {
                opened = true;
                ::close(fd);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    const QList<QString> log = run({ QStringLiteral("*.txt") });
    done = true;
    watcher.join();

    EXPECT_FALSE(opened);
    EXPECT_EQ(log,
        (QList<QString> { filterLine(QStringLiteral("*.txt"), QStringLiteral("*.txt")),
            copyLine(src + u"a.txt", dst + u"a.txt") }));
    EXPECT_FALSE(QFileInfo::exists(dst + u"pipe.txt"));
}

TEST_F(CopyEngineTest, filterWithAFolderPart_selectsNothing)
{
    inSrc(QStringLiteral("a.txt"), "top");
    inSrc(QStringLiteral("sub/a.txt"), "sub");
    const QList<QString> log = run({ QStringLiteral("sub/*.txt") });
    EXPECT_EQ(log,
        (QList<QString> { filterLine(QStringLiteral("sub/*.txt"), QStringLiteral("sub/*.txt")),
            QStringLiteral("Erreur: Un filtre ne peut pas contenir le caractère \"/\"") }));
    EXPECT_FALSE(QFileInfo::exists(dst + u"a.txt"));
}

TEST_F(CopyEngineTest, errorOutsideTheCopy_endsTheRunAtOnce)
{
    LogLines log;
    CopyRun copy(config, src, dst, log, [] { throw AppError(QStringLiteral("panne")); });
    EXPECT_EQ(errorOf([&] {
        copy.runFilters({ QStringLiteral("a"), QStringLiteral("b") });
    }),
        QStringLiteral("panne"));
    EXPECT_EQ(log.lines, QList<QString> { filterLine(QStringLiteral("a"), QStringLiteral("a")) });
}

TEST_F(CopyEngineTest, timestamp_prefixesEveryLine_andDropsTheTimeAtMidnight)
{
    config.WithTimestamp = true;
    inSrc(QStringLiteral("a.txt"));
    const QDate day(2024, 3, 5);
    const QString date = QLocale::system().toString(day, QLocale::ShortFormat);
    const QString line = filterLine(QStringLiteral("a.txt"), QStringLiteral("a.txt"));

    const struct
    {
        QTime time;
        bool withTime;
    } cases[] = {
        { QTime(14, 7, 9, 250), true },
        { QTime(0, 0, 0, 0), false },
        { QTime(0, 0, 0, 1), true },
    };
    for (const auto &c : cases) {
        const QDateTime now(day, c.time);
        QFile::remove(dst + u"a.txt");
        LogLines log;
        CopyRun copy(config, src, dst, log, {}, [now] { return now; });
        copy.runFilters({ QStringLiteral("a.txt") });
        ASSERT_EQ(log.lines.size(), 2);
        const QString prefix = platform::formatTimestamp(now) + u" - ";
        EXPECT_EQ(log.lines.at(0), prefix + line);
        EXPECT_EQ(log.lines.at(1), prefix + copyLine(src + u"a.txt", dst + u"a.txt"));
        if (c.withTime)
            EXPECT_TRUE(prefix.startsWith(date + u' ')) << prefix.toStdString();
        else
            EXPECT_EQ(prefix, date + u" - ");
    }
}

TEST_F(CopyEngineTest, settingsAreReadWhenEachValueIsNeeded)
{
    inSrc(QStringLiteral("a.txt"));
    const QDateTime now(QDate(2024, 3, 5), QTime(12, 0));
    const QString stamp = platform::formatTimestamp(now) + u" - ";
    LogLines log;
    int pump = 0;
    // Between the filter lines the settings change, as the options could meanwhile.
    CopyRun copy(
        config, src, dst, log,
        [&] {
            if (++pump == 1) {
                config.WithTimestamp = true;
                config.AdaptatFiltre = 1;
                config.DontReplace = true;
            }
        },
        [now] { return now; });
    copy.runFilters({ QStringLiteral("a.txt"), QStringLiteral(".txt") });
    EXPECT_EQ(log.lines,
        (QList<QString> { filterLine(QStringLiteral("a.txt"), QStringLiteral("a.txt")),
            copyLine(src + u"a.txt", dst + u"a.txt"),
            stamp + filterLine(QStringLiteral("*.txt"), QStringLiteral(".txt")),
            stamp + existsLine(dst + u"a.txt") }));
}

TEST_F(CopyEngineTest, logFile_isAppendedInWindows1252WithCrLf)
{
    LogLines log;
    log.lines = { QStringLiteral("Copie de « é » 10 €"), QStringLiteral("日本 ő"), QString() };
    const QByteArray lines = "Copie de \xAB \xE9 \xBB 10 \x80\r\n?? ?\r\n\r\n";
    const QByteArray far(200, 'x');

    const struct
    {
        const char *what;
        bool exists;
        QByteArray before;
        QByteArray after;
    } cases[] = {
        { "missing file", false, {}, lines },
        { "empty file", true, {}, lines },
        { "lines are added at the end", true, "old\r\n", "old\r\n" + lines },
        { "cut at the first 0x1A of the last 128 bytes", true,
            "old\x1A"
            "a\x1A"
            "b",
            "old" + lines },
        { "an 0x1A further from the end stays", true, "x\x1A" + far, "x\x1A" + far + lines },
        { "an 0x1A exactly 128 bytes from the end cuts", true, "x\x1A" + QByteArray(127, 'y'),
            "x" + lines },
        { "an 0x1A 129 bytes from the end stays", true, "x\x1A" + QByteArray(128, 'y'),
            "x\x1A" + QByteArray(128, 'y') + lines },
    };
    for (const auto &c : cases) {
        const QString path = file(QStringLiteral("journal.log"));
        QFile::remove(path);
        if (c.exists)
            writeFile(QStringLiteral("journal.log"), c.before);
        appendLogToFile(path, log);
        EXPECT_EQ(readBytes(path), c.after) << c.what;
    }
}

TEST_F(CopyEngineTest, logFile_withAnEmptyLogIsCreatedOrLeftAsItIs)
{
    config.LogFile = file(QStringLiteral("new.log"));
    LogLines log;
    CopyRun copy(config, src, dst, log, {});
    copy.runFilters({ QStringLiteral("  ") });
    copy.appendLogFile();
    EXPECT_TRUE(QFileInfo::exists(config.LogFile));
    EXPECT_EQ(readBytes(config.LogFile), QByteArray());

    config.LogFile = writeFile(QStringLiteral("old.log"), "old\r\n");
    copy.appendLogFile();
    EXPECT_EQ(readBytes(config.LogFile), "old\r\n");
}

TEST_F(CopyEngineTest, logFile_errorsCarryTheirCodeAndATextByMeaning)
{
    const QString folder = makeDir(QStringLiteral("logs"));
    const QString regular = writeFile(QStringLiteral("plain"), "x");
    LogLines log;
    log.lines = { QStringLiteral("ligne") };

    const struct
    {
        const char *what;
        QString path;
        int code;
        QString message;
    } cases[] = {
        { "a folder", folder, EISDIR, QStringLiteral("Accès au fichier refusé") },
        { "a missing folder", file(QStringLiteral("nowhere/journal.log")), ENOENT, kNoPath },
        { "a path under a regular file", regular + u"/journal.log", ENOTDIR, kNoPath },
        { "a path of 4096 bytes", pathOfBytes(4096), ENAMETOOLONG, kNoPath },
    };
    for (const auto &c : cases) {
        try {
            appendLogToFile(c.path, log);
            ADD_FAILURE() << c.what << ": no error";
        } catch (const InOutError &error) {
            EXPECT_EQ(error.code(), c.code) << c.what;
            EXPECT_EQ(error.message(), c.message) << c.what;
        }
    }
}

TEST_F(CopyEngineTest, writeFailures_areReportedAndStopTheWriting)
{
    LogLines log;
    for (int i = 0; i < 5000; ++i)
        log.lines.append(QStringLiteral("ligne %1 du journal").arg(i));
    const QString logFile = file(QStringLiteral("journal.log"));
    const QString saved = file(QStringLiteral("journal.txt"));

    EXPECT_EQ(inChildWithFileSizeLimit(1000,
                  [&]() -> QString {
                      try {
                          appendLogToFile(logFile, log);
                      } catch (const InOutError &error) {
                          return QString::number(error.code()) + u' ' + error.message();
                      }
                      return QStringLiteral("no error");
                  }),
        QStringLiteral("27 Erreur E/S 27"));
    EXPECT_EQ(QFileInfo(logFile).size(), 1000);

    EXPECT_EQ(
        inChildWithFileSizeLimit(1000, [&] { return errorOf([&] { saveLogToFile(saved, log); }); }),
        QStringLiteral("Erreur d'écriture dans le flux"));
}

TEST(SavedLog, nameGetsTheTxtExtension)
{
    const struct
    {
        const char16_t *chosen;
        const char16_t *saved;
    } cases[] = {
        { u"/tmp/journal.log", u"/tmp/journal.txt" },
        { u"/tmp/journal", u"/tmp/journal.txt" },
        { u"/tmp/journal.txt", u"/tmp/journal.txt" },
        { u"/tmp/journal.", u"/tmp/journal.txt" },
        { u"/tmp/a.b.c", u"/tmp/a.b.txt" },
        { u"/tmp/projet.old/journal", u"/tmp/projet.old/journal.txt" },
        { u"/tmp/c:journal", u"/tmp/c:journal.txt" },
    };
    for (const auto &c : cases)
        EXPECT_EQ(savedLogName(QString::fromUtf16(c.chosen)), QString::fromUtf16(c.saved));
}

TEST_F(CopyEngineTest, savedLog_replacesTheFileWithEveryLine)
{
    LogLines log;
    log.lines = { QStringLiteral("première"), QStringLiteral("ő") };
    const QString path = writeFile(QStringLiteral("journal.txt"), QByteArray(1000, 'z'));
    saveLogToFile(path, log);
    EXPECT_EQ(readBytes(path), "premi\xE8re\r\n?\r\n");
}

TEST_F(CopyEngineTest, savedLog_creationFailureNamesTheFullPath)
{
    const QString folder = makeDir(QStringLiteral("journal.txt"));
    LogLines log;
    log.lines = { QStringLiteral("ligne") };
    EXPECT_EQ(errorOf([&] { saveLogToFile(folder, log); }),
        u"Impossible de créer le fichier \"" + folder + u"\". Accès refusé");
    const QString missing = file(QStringLiteral("nowhere/journal.txt"));
    EXPECT_EQ(errorOf([&] { saveLogToFile(missing, log); }),
        u"Impossible de créer le fichier \"" + missing + u"\". " + kNoFile);
}

} // namespace

namespace {

using testsupport::OtherProcess;

TEST_F(CopyEngineTest, runThatCopies_removesWhatDeadRunsLeftInTheDestination_silently)
{
    for (const bool dontReplace : { false, true }) {
        SCOPED_TRACE(dontReplace ? "don't replace" : "replace");
        QDir(dst).removeRecursively();
        QDir().mkpath(dst);
        config.DontReplace = dontReplace;
        inSrc(QStringLiteral("a.txt"), "new");
        inSrc(QStringLiteral("b.txt"), "new b");
        writeFile(QStringLiteral("dst/a.txt"), "old");
        OtherProcess killedRun;
        killedRun.finish();
        const QString dead = QString::fromLatin1(killedRun.name());
        writeFile(u"dst/" + dead, "left by a killed run");
        writeFile(QStringLiteral("dst/.qs-notes12345"), "the user's");
        const OtherProcess otherInstance;
        const QString live = QString::fromLatin1(otherInstance.name());
        writeFile(u"dst/" + live, "a live run's");

        const QString a = dst + u"a.txt";
        const QString b = dst + u"b.txt";
        const QList<QString> expected = dontReplace
            ? QList<QString> { filterLine(QStringLiteral("*.txt")), existsLine(a),
                  copyLine(src + u"b.txt", b) }
            : QList<QString> { filterLine(QStringLiteral("*.txt")), replaceLine(a),
                  copyLine(src + u"a.txt", a), copyLine(src + u"b.txt", b) };
        EXPECT_EQ(run({ QStringLiteral("*.txt") }), expected);
        QStringList left { live, QStringLiteral(".qs-notes12345"), QStringLiteral("a.txt"),
            QStringLiteral("b.txt") };
        left.sort();
        EXPECT_EQ(QDir(dst).entryList(QDir::Files | QDir::Hidden, QDir::Name), left);
        EXPECT_EQ(readBytes(dst + live), "a live run's");
        EXPECT_EQ(readBytes(a), dontReplace ? "old" : "new");
        EXPECT_EQ(readBytes(b), "new b");
    }
}

TEST_F(CopyEngineTest, savedLog_replacesAtomically_keepingModeAndWritingThroughALink)
{
    LogLines log;
    log.lines = { QStringLiteral("ligne") };
    const QString real = writeFile(QStringLiteral("real.txt"), "old");
    ASSERT_EQ(::chmod(QFile::encodeName(real).constData(), 0640), 0);
    const QString link = file(QStringLiteral("journal.txt"));
    ASSERT_EQ(::symlink("real.txt", QFile::encodeName(link).constData()), 0);

    // A write that fails half-way leaves the old file whole and no temporary.
    EXPECT_EQ(
        inChildWithFileSizeLimit(2, [&] { return errorOf([&] { saveLogToFile(link, log); }); }),
        QStringLiteral("Erreur d'écriture dans le flux"));
    EXPECT_EQ(readBytes(real), "old");
    EXPECT_EQ(
        QDir(path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name),
        (QStringList { QStringLiteral("dst"), QStringLiteral("journal.txt"),
            QStringLiteral("real.txt"), QStringLiteral("src") }));

    saveLogToFile(link, log);
    EXPECT_EQ(readBytes(real), "ligne\r\n");
    struct stat st = {};
    ASSERT_EQ(::lstat(QFile::encodeName(link).constData(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(::stat(QFile::encodeName(real).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

} // namespace

namespace {

std::atomic<int> g_syncs = 0;
int g_syncError = 0;

// A slow device: the run waits for it without holding up its window's messages.
int slowSyncfs(int fd)
{
    ++g_syncs;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    if (g_syncError) {
        errno = g_syncError;
        return -1;
    }
    return platform::syscalls::real().syncfs(fd);
}

TEST_F(CopyEngineTest, flushDestination_writesOutOnceWhatTheRunCopied_whileThePumpRuns)
{
    platform::syscalls::Override device;
    device.calls().syncfs = slowSyncfs;
    inSrc(QStringLiteral("a.txt"), "a");
    const struct
    {
        const char *name;
        QString filter;
        bool dryRun;
        int error;
        int syncs;
        QString lastLine;
    } cases[] = {
        { "copies", QStringLiteral("*.txt"), false, 0, 1,
            copyLine(src + u"a.txt", dst + u"a.txt") },
        { "nothing selected", QStringLiteral("*.none"), false, 0, 0,
            filterLine(QStringLiteral("*.none")) },
        { "dry run", QStringLiteral("*.txt"), true, 0, 0,
            copyLine(src + u"a.txt", dst + u"a.txt") },
        { "a device that fails", QStringLiteral("*.txt"), false, EIO, 1,
            errorLine(QStringLiteral("L'écriture des fichiers copiés sur le support de "
                                     "destination a échoué : Erreur d'entrée/sortie sur le "
                                     "périphérique")) },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        g_syncs = 0;
        g_syncError = c.error;
        LogLines log;
        int pumped = 0;
        CopyRun copy(config, src, dst, log, [&pumped] { ++pumped; });
        copy.setDryRun(c.dryRun);
        copy.runFilters({ c.filter });
        const int pumpedBefore = pumped;
        EXPECT_EQ(copy.flushDestination(), c.error);
        EXPECT_EQ(copy.flushDestination(), 0); // nothing copied since
        EXPECT_EQ(g_syncs, c.syncs);
        EXPECT_EQ(log.lines.last(), c.lastLine);
        EXPECT_EQ(copy.tally().errors, c.error ? 1 : 0);
        if (c.syncs) {
            EXPECT_GE(pumped - pumpedBefore, 3);
        }
    }
}

} // namespace
