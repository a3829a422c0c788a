// Faults met by a copy run on real files: a destination that fills up, a source that changes
// or is replaced between its selection and its copy, a destination folder that goes away,
// links and special entries, names with control characters. After each: the run goes on or
// ends as it should, the log says what happened, nothing that was there is damaged and no
// temporary file is left (hidden names included).
#include "CopyRunFixture.h"
#include "copy/CopyEngine.h"
#include "platform/ErrorText.h"
#include "settings/Settings.h"
#include "support/Fixtures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace copytest;
using testsupport::readBytes;

namespace {

const QString kNoPath = u"Impossible de trouver le chemin spécifié"_s;
const QString kNoFile = u"Impossible de trouver le fichier spécifié"_s;

// Every entry of a folder, hidden ones (the copy's temporaries) included, by name.
QStringList entriesOf(const QString &folder)
{
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

QByteArray pattern(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char((i * 7919) >> 5);
    return bytes;
}

class CopyFaultsTest : public CopyRunFixture
{
protected:
    void SetUp() override
    {
        CopyRunFixture::SetUp();
        other = makeDir(u"other"_s) + u'/';
    }

    void resetFolders()
    {
        for (const QString &name : { u"src"_s, u"dst"_s, u"other"_s })
            QDir(file(name)).removeRecursively();
        src = makeDir(u"src"_s) + u'/';
        dst = makeDir(u"dst"_s) + u'/';
        other = makeDir(u"other"_s) + u'/';
    }

    static void symlink(const QString &target, const QString &name)
    {
        ASSERT_EQ(
            ::symlink(QFile::encodeName(target).constData(), QFile::encodeName(name).constData()),
            0)
            << name.toStdString();
    }

    QString other;
};

TEST_F(
    CopyFaultsTest, destinationFillingUpMidFile_failsThatFileOnly_keepsOldTargetLeavesNoTemporary)
{
    const QByteArray big = pattern(256 * 1024);
    for (const bool dontReplace : { false, true }) {
        SCOPED_TRACE(dontReplace ? "don't replace, new target" : "replace an existing target");
        resetFolders();
        writeFile(u"src/a.bin"_s, big);
        writeFile(u"src/b.txt"_s, "small");
        if (!dontReplace)
            writeFile(u"dst/a.bin"_s, "old");
        config.DontReplace = dontReplace;

        // The log comes back one line per line: no log line holds a line feed.
        const QString log = inChildWithFileSizeLimit(
            64 * 1024, [this] { return QStringList(run({ u"*"_s })).join(u'\n'); });

        QStringList expected { filterLine(u"*"_s) };
        if (!dontReplace)
            expected << replaceLine(dst + u"a.bin"_s);
        expected << copyLine(src + u"a.bin"_s, dst + u"a.bin"_s) << errorLine(EFBIG)
                 << copyLine(src + u"b.txt"_s, dst + u"b.txt"_s);
        EXPECT_EQ(log, expected.join(u'\n'));
        EXPECT_EQ(readBytes(dst + u"a.bin"_s), dontReplace ? QByteArray() : QByteArray("old"));
        EXPECT_EQ(readBytes(dst + u"b.txt"_s), "small");
        EXPECT_EQ(entriesOf(dst),
            dontReplace ? QStringList { u"b.txt"_s } : (QStringList { u"a.bin"_s, u"b.txt"_s }));
        EXPECT_EQ(readBytes(src + u"a.bin"_s), big);
    }
}

TEST_F(CopyFaultsTest, sourceChangedBetweenSelectionAndCopy_isCopiedAsItIsNowOrFailsAlone)
{
    const QByteArray big = pattern(1024 * 1024);
    // What happens to b.bin once the run has selected it, and what the run makes of it.
    const struct
    {
        const char *what;
        bool byThePump; // after a.txt's copy (replace branch); otherwise right before its own
        std::function<void(const QString &)> change;
        QByteArray copied; // the copy's content; null: no copy, the error below
        QString error;
    } cases[] = {
        { "shrunk by the pump", true,
            [](const QString &b) {
                ASSERT_EQ(::truncate(QFile::encodeName(b).constData(), 100), 0);
            },
            big.left(100), {} },
        { "emptied right before its copy", false,
            [](const QString &b) { ASSERT_EQ(::truncate(QFile::encodeName(b).constData(), 0), 0); },
            QByteArray(""), {} },
        { "removed by the pump", true, [](const QString &b) { QFile::remove(b); }, {}, kNoFile },
        { "replaced by a folder", false,
            [](const QString &b) {
                QFile::remove(b);
                QDir().mkdir(b);
            },
            {}, kNoFile },
        // Opening a FIFO the ordinary way would wait for a writer for ever.
        { "replaced by a FIFO", false,
            [](const QString &b) {
                QFile::remove(b);
                ::mkfifo(QFile::encodeName(b).constData(), 0644);
            },
            {}, platform::sysErrorMessage(EACCES) },
        // Read as a file, it would fill the destination without end.
        { "replaced by a link to /dev/zero", false,
            [](const QString &b) {
                QFile::remove(b);
                QFile::link(u"/dev/zero"_s, b);
            },
            {}, platform::sysErrorMessage(EACCES) },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        resetFolders();
        writeFile(u"src/a.txt"_s, "alpha");
        const QString b = writeFile(u"src/b.bin"_s, big);
        writeFile(u"src/c.txt"_s, "gamma");

        bool changed = false;
        const auto change = [&] {
            if (!changed)
                c.change(b);
            changed = true;
        };
        const QList<QString> log = run(
            { u"*"_s },
            [&] {
                if (c.byThePump)
                    change();
            },
            [&](const QString &line) {
                if (!c.byThePump && line == copyLine(b, dst + u"b.bin"_s))
                    change();
            });

        QList<QString> expected { filterLine(u"*"_s), copyLine(src + u"a.txt"_s, dst + u"a.txt"_s),
            copyLine(b, dst + u"b.bin"_s) };
        if (c.copied.isNull())
            expected << errorLine(c.error);
        expected << copyLine(src + u"c.txt"_s, dst + u"c.txt"_s);
        EXPECT_EQ(log, expected);
        EXPECT_EQ(readBytes(dst + u"a.txt"_s), "alpha");
        EXPECT_EQ(readBytes(dst + u"c.txt"_s), "gamma");
        if (c.copied.isNull()) {
            EXPECT_EQ(entriesOf(dst), (QStringList { u"a.txt"_s, u"c.txt"_s }));
        } else {
            EXPECT_EQ(readBytes(dst + u"b.bin"_s), c.copied);
            EXPECT_EQ(entriesOf(dst), (QStringList { u"a.txt"_s, u"b.bin"_s, u"c.txt"_s }));
        }
    }
}

TEST_F(CopyFaultsTest, destinationFolderGoneMidRun_everyLaterFileLogsTheMissingPath_runGoesOn)
{
    const struct
    {
        const char *what;
        bool byAFile; // a regular file takes the folder's name
    } cases[] = { { "removed", false }, { "replaced by a file", true } };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        resetFolders();
        for (const char *name : { "a.txt", "b.txt", "c.txt" })
            writeFile(u"src/"_s + QLatin1StringView(name), name);

        bool gone = false;
        const QList<QString> log = run({ u"*"_s, u"c*"_s }, [&] {
            if (gone)
                return;
            gone = true;
            QDir(dst).removeRecursively();
            if (c.byAFile)
                testsupport::writeBytes(dst.chopped(1), "squatter");
        });

        EXPECT_EQ(log,
            (QList<QString> { filterLine(u"*"_s), copyLine(src + u"a.txt"_s, dst + u"a.txt"_s),
                copyLine(src + u"b.txt"_s, dst + u"b.txt"_s), errorLine(kNoPath),
                copyLine(src + u"c.txt"_s, dst + u"c.txt"_s), errorLine(kNoPath),
                filterLine(u"c*"_s), copyLine(src + u"c.txt"_s, dst + u"c.txt"_s),
                errorLine(kNoPath) }));
        if (c.byAFile)
            EXPECT_EQ(readBytes(dst.chopped(1)), "squatter");
        else
            EXPECT_FALSE(QFileInfo::exists(dst.chopped(1)));
        EXPECT_EQ(entriesOf(src), (QStringList { u"a.txt"_s, u"b.txt"_s, u"c.txt"_s }));
        EXPECT_EQ(readBytes(src + u"b.txt"_s), "b.txt");
    }
}

TEST_F(CopyFaultsTest, sameFolderUnderAnotherName_replaceBranchKeepsEveryContent)
{
    const QByteArray big = pattern(3 * 1024 * 1024 + 5);
    const struct
    {
        const char *what;
        QString destination; // ends with '/'
    } cases[] = {
        { "through a dot", src + u"./"_s },
        { "through a link to the folder", file(u"alias"_s) + u'/' },
    };
    symlink(src.chopped(1), file(u"alias"_s));
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        QDir(src).removeRecursively();
        QDir().mkpath(src);
        writeFile(u"src/big.bin"_s, big);
        writeFile(u"src/empty.txt"_s, {});
        const QString readOnly = writeFile(u"src/ro.txt"_s, "lecture seule");
        ::chmod(QFile::encodeName(readOnly).constData(), 0444);
        dst = c.destination;

        EXPECT_EQ(run({ u"*"_s }),
            (QList<QString> { filterLine(u"*"_s), replaceLine(dst + u"big.bin"_s),
                copyLine(src + u"big.bin"_s, dst + u"big.bin"_s), replaceLine(dst + u"empty.txt"_s),
                copyLine(src + u"empty.txt"_s, dst + u"empty.txt"_s),
                replaceLine(dst + u"ro.txt"_s), copyLine(src + u"ro.txt"_s, dst + u"ro.txt"_s),
                errorLine(EACCES) }));
        EXPECT_EQ(readBytes(src + u"big.bin"_s), big);
        EXPECT_TRUE(QFileInfo::exists(src + u"empty.txt"_s));
        EXPECT_EQ(readBytes(src + u"empty.txt"_s), QByteArray());
        EXPECT_EQ(readBytes(readOnly), "lecture seule");
        EXPECT_EQ(entriesOf(src), (QStringList { u"big.bin"_s, u"empty.txt"_s, u"ro.txt"_s }));
    }
}

// A link at the target is replaced by the copy, like any other entry of that name: writing
// through it would change a file outside the destination folder (or create one where a
// dangling link points), which the user never chose as a target.
TEST_F(CopyFaultsTest, destinationEntryThatIsALink_isReplacedByTheCopy_neverWrittenThrough)
{
    for (const bool dontReplace : { false, true }) {
        SCOPED_TRACE(dontReplace ? "don't replace" : "replace");
        resetFolders();
        const QString precious = writeFile(u"other/precious.txt"_s, "precious");
        for (const char *name : { "a.txt", "b.txt", "c.txt" })
            writeFile(u"src/"_s + QLatin1StringView(name), QByteArray("new ") + name);
        symlink(precious, dst + u"a.txt"_s); // to another file
        symlink(other + u"created.txt"_s, dst + u"b.txt"_s); // dangling
        symlink(src + u"c.txt"_s, dst + u"c.txt"_s); // to the source itself
        config.DontReplace = dontReplace;

        const QList<QString> log = run({ u"*"_s });

        const auto copy = [this](const char *name) {
            return copyLine(src + QLatin1StringView(name), dst + QLatin1StringView(name));
        };
        if (dontReplace) {
            // A dangling link is no file, but it holds the name, which is not taken over.
            EXPECT_EQ(log,
                (QList<QString> { filterLine(u"*"_s), existsLine(dst + u"a.txt"_s), copy("b.txt"),
                    errorLine(EEXIST), existsLine(dst + u"c.txt"_s) }));
            for (const char *name : { "a.txt", "b.txt", "c.txt" })
                EXPECT_TRUE(QFileInfo(dst + QLatin1StringView(name)).isSymLink()) << name;
        } else {
            EXPECT_EQ(log,
                (QList<QString> { filterLine(u"*"_s), replaceLine(dst + u"a.txt"_s), copy("a.txt"),
                    copy("b.txt"), replaceLine(dst + u"c.txt"_s), copy("c.txt") }));
            for (const char *name : { "a.txt", "b.txt", "c.txt" }) {
                const QString target = dst + QLatin1StringView(name);
                EXPECT_FALSE(QFileInfo(target).isSymLink()) << name;
                EXPECT_EQ(readBytes(target), QByteArray("new ") + name);
            }
        }
        EXPECT_EQ(readBytes(precious), "precious");
        EXPECT_EQ(entriesOf(other), QStringList { u"precious.txt"_s });
        EXPECT_EQ(readBytes(src + u"c.txt"_s), "new c.txt");
        EXPECT_EQ(entriesOf(dst), (QStringList { u"a.txt"_s, u"b.txt"_s, u"c.txt"_s }));
        EXPECT_EQ(entriesOf(src), (QStringList { u"a.txt"_s, u"b.txt"_s, u"c.txt"_s }));
    }
}

TEST_F(CopyFaultsTest, fifoSocketDanglingLinkAndDeviceInTheSource_areSkippedOrFailAlone)
{
    writeFile(u"src/a.txt"_s, "alpha");
    ASSERT_EQ(::mkfifo(QFile::encodeName(src + u"fifo.txt"_s).constData(), 0644), 0);
    symlink(u"nowhere.txt"_s, src + u"dangling.txt"_s);
    symlink(u"/dev/zero"_s, src + u"zero.txt"_s);
    writeFile(u"src/z.txt"_s, "zulu");
    {
        // Bound by a relative name: the temporary folder's path may be longer than a socket
        // address can hold.
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        ASSERT_GE(fd, 0);
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, "sock.txt");
        const QString before = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(src));
        const int bound = ::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address);
        QDir::setCurrent(before);
        ::close(fd);
        ASSERT_EQ(bound, 0);
    }
    const QStringList sourceBefore = entriesOf(src);

    for (const bool dontReplace : { false, true }) {
        SCOPED_TRACE(dontReplace ? "don't replace" : "replace");
        QDir(dst).removeRecursively();
        QDir().mkpath(dst);
        config.DontReplace = dontReplace;

        // The FIFO, the socket and the device are system entries: never selected, never
        // opened. The dangling link is an ordinary entry whose file is missing.
        EXPECT_EQ(run({ u"*.txt"_s }),
            (QList<QString> { filterLine(u"*.txt"_s), copyLine(src + u"a.txt"_s, dst + u"a.txt"_s),
                copyLine(src + u"dangling.txt"_s, dst + u"dangling.txt"_s), errorLine(kNoFile),
                copyLine(src + u"z.txt"_s, dst + u"z.txt"_s) }));
        EXPECT_EQ(entriesOf(dst), (QStringList { u"a.txt"_s, u"z.txt"_s }));
        EXPECT_EQ(readBytes(dst + u"z.txt"_s), "zulu");
    }
    EXPECT_EQ(entriesOf(src), sourceBefore);
}

// A name may hold any character but '/' and NUL. In the log each control character (and the
// line and paragraph separators) stands as '?', the substitute the log file already uses for
// what its code page lacks: one character for one, so the line keeps its shape, and no
// escape that a backslash in a real name could be taken for. The file keeps its own name.
TEST_F(CopyFaultsTest, controlCharactersInAName_showAsQuestionMarks_fileKeepsItsName)
{
    const struct
    {
        QString name;
        QString shown;
    } cases[] = {
        { u"ligne\nsuite.txt"_s, u"ligne?suite.txt"_s },
        { u"retour\r\nchariot.txt"_s, u"retour??chariot.txt"_s },
        { u"tab\tulation.txt"_s, u"tab?ulation.txt"_s },
        { u"couleur\x1b[31m.txt"_s, u"couleur?[31m.txt"_s },
        { u"suppr\x7f.txt"_s, u"suppr?.txt"_s },
        { u"nel\u0085.txt"_s, u"nel?.txt"_s },
        { u"separateur\u2028\u2029.txt"_s, u"separateur??.txt"_s },
        { u"\nen tête.txt"_s, u"?en tête.txt"_s },
    };
    const QString logFile = file(u"journal.log"_s);
    const QString savedLog = file(u"journal.txt"_s);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        resetFolders();
        writeFile(u"src/"_s + c.name, "contenu");
        QFile::remove(logFile);
        config.LogFile = logFile;

        HookedLog log;
        CopyRun copy(config, src, dst, log, {});
        copy.runFilters({ u"*"_s });
        copy.appendLogFile();
        saveLogToFile(savedLog, log);

        const QList<QString> expected { filterLine(u"*"_s),
            copyLine(src + c.shown, dst + c.shown) };
        EXPECT_EQ(log.lines, expected);
        const QByteArray lines = "Filtre: \"*\"  (\"*\")\r\nCopie du fichier \""
            + QFile::encodeName(src) + c.shown.toLatin1() + "\" vers \"" + QFile::encodeName(dst)
            + c.shown.toLatin1() + "\"\r\n";
        EXPECT_EQ(readBytes(logFile), lines);
        EXPECT_EQ(readBytes(savedLog), lines);
        EXPECT_EQ(entriesOf(dst), QStringList { c.name });
        EXPECT_EQ(readBytes(dst + c.name), "contenu");
    }
}

} // namespace
