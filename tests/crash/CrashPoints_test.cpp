// The real code killed at chosen system calls: a run of the driver is traced once to its end
// to find every call that touches the watched files, then, for each such call, the run is
// started afresh and killed (strace's fault injection) as it enters that call. After each
// kill every watched file holds its old or its new content, whole, and only our own
// temporaries may be left; after the next complete run nothing is left but what the user
// asked for.
#include "platform/Temporaries.h"
#include "support/Fixtures.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sys/wait.h>

using namespace Qt::StringLiterals;
using testsupport::readBytes;
using testsupport::writeBytes;

namespace {

// Every call that the kill runs count: the protocols' own and the file-descriptor ones.
const char kTraced[] = "openat,copy_file_range,sendfile,utimensat,fchmod,fchown,flock,linkat,"
                       "renameat,renameat2,unlinkat,write,fsync,ftruncate";

// strace is what kills and holds the runs here: without it nothing can be tested.
constexpr const char *kNoStrace = "strace is not installed (Debian package strace)";

bool straceInstalled()
{
    return !QStandardPaths::findExecutable(u"strace"_s).isEmpty();
}

struct Call
{
    QString name;
    int index; // 1 for the first call of that name by the main thread
    QString line;
};

struct Result
{
    int exitCode = -1;
    bool killed = false;
    QByteArray errors;
};

Result run(const QString &program, const QStringList &arguments, const QString &config)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"XDG_CONFIG_HOME"_s, config);
    env.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
    // LeakSanitizer stops the world through ptrace, which a traced process cannot do.
    env.insert(u"ASAN_OPTIONS"_s, env.value(u"ASAN_OPTIONS"_s) + u":detect_leaks=0"_s);
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    Result result;
    if (!process.waitForStarted() || !process.waitForFinished(300000))
        return result;
    result.errors = process.readAllStandardError();
    result.exitCode = process.exitCode();
    // strace ends the way its tracee ended: by the same signal, or with 128 + its number.
    result.killed = process.exitStatus() == QProcess::CrashExit || result.exitCode == 128 + SIGKILL;
    return result;
}

// One scenario: a fixture under root, the driver's arguments, the folders whose every entry
// is checked, and optionally a file that runs only append to.
struct Scenario
{
    const char *name;
    std::function<void(const QString &root)> prepare;
    std::function<QStringList(const QString &root)> arguments;
    QStringList watched;
    QString appended;
};

using Folder = std::map<QString, QByteArray>;

Folder snapshot(const QString &folder)
{
    Folder entries;
    const QDir dir(folder);
    for (const QFileInfo &info :
        dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        entries[info.fileName()] = info.isSymLink() ? "<link>"
            : info.isDir()                          ? "<folder>"
                                                    : readBytes(info.filePath());
    }
    return entries;
}

QString describe(const Folder &folder)
{
    QStringList names;
    for (const auto &entry : folder)
        names << entry.first + u" (" + QString::number(entry.second.size()) + u" bytes)";
    return names.join(u", ");
}

// A log file after a kill: what it held before, whole, then the first lines of the run's.
bool isOldThenSomeNewLines(const QByteArray &now, const QByteArray &old, const QByteArray &full)
{
    if (now == old)
        return true;
    // The run first cuts the file at an end-of-file mark among its last bytes.
    const qsizetype mark = old.indexOf('\x1A', qMax<qsizetype>(0, old.size() - 128));
    const QByteArray kept = mark < 0 ? old : old.left(mark);
    if (!now.startsWith(kept) || !full.startsWith(kept))
        return false;
    const QByteArray added = now.mid(kept.size());
    return full.mid(kept.size()).startsWith(added) && (added.isEmpty() || added.endsWith("\r\n"));
}

class CrashPoints : public testsupport::TempDirTest, public ::testing::WithParamInterface<Scenario>
{
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        if (!straceInstalled())
            GTEST_SKIP() << kNoStrace;
    }

    QString root() const { return file(u"root"_s); }
    QString config() const { return root() + u"/config"_s; }

    void fresh()
    {
        QDir(root()).removeRecursively();
        QDir().mkpath(root());
        GetParam().prepare(root());
    }

    std::map<QString, Folder> state() const
    {
        std::map<QString, Folder> folders;
        for (const QString &folder : GetParam().watched)
            folders[folder] = snapshot(root() + u'/' + folder);
        return folders;
    }

    QByteArray appended() const
    {
        return GetParam().appended.isEmpty() ? QByteArray()
                                             : readBytes(root() + u'/' + GetParam().appended);
    }

    QStringList driverCall() const
    {
        return QStringList { QStringLiteral(QS_CRASH_DRIVER) } + GetParam().arguments(root());
    }

    // The run traced to its end: the calls of its main thread that name a watched path.
    std::vector<Call> callsOnWatchedFiles()
    {
        const QString trace = file(u"trace.txt"_s);
        const Result traced = run(u"strace"_s,
            QStringList { u"-f"_s, u"-qq"_s, u"-y"_s, u"-s"_s, u"1"_s, u"-o"_s, trace, u"-e"_s,
                u"trace="_s + QString::fromLatin1(kTraced), u"--"_s }
                + driverCall(),
            config());
        EXPECT_EQ(traced.exitCode, 0) << traced.errors.constData();

        QStringList watchedPaths;
        for (const QString &folder : GetParam().watched)
            watchedPaths << root() + u'/' + folder;
        if (!GetParam().appended.isEmpty())
            watchedPaths << root() + u'/' + GetParam().appended;

        std::vector<Call> calls;
        std::map<QString, int> counts;
        QString mainThread;
        for (const QByteArray &raw : readBytes(trace).split('\n')) {
            const QString line = QString::fromUtf8(raw);
            const qsizetype space = line.indexOf(u' ');
            if (space < 0)
                continue;
            const QString tid = line.left(space);
            if (mainThread.isEmpty())
                mainThread = tid;
            const QString rest = line.mid(space + 1).trimmed();
            const qsizetype paren = rest.indexOf(u'(');
            if (tid != mainThread || rest.startsWith(u"<...") || paren <= 0)
                continue;
            const QString name = rest.left(paren);
            const int index = ++counts[name];
            for (const QString &path : watchedPaths) {
                if (line.contains(path + u'/') || line.contains(path + u'>')
                    || line.contains(path + u'"')) {
                    calls.push_back({ name, index, rest });
                    break;
                }
            }
        }
        return calls;
    }
};

TEST_P(CrashPoints, killedAtEveryCallOnItsFiles_damagesNothingAndTheNextRunLeavesNothing)
{
    // The reference: the run to its end from the fixture.
    fresh();
    const auto before = state();
    const QByteArray logBefore = appended();
    const Result complete = run(driverCall().first(), driverCall().mid(1), config());
    ASSERT_EQ(complete.exitCode, 0) << complete.errors.constData();
    const auto after = state();
    const QByteArray logAfter = appended();

    fresh();
    const std::vector<Call> calls = callsOnWatchedFiles();
    ASSERT_FALSE(calls.empty());
    std::set<QString> kinds;
    for (const Call &call : calls) {
        SCOPED_TRACE(call.line.toStdString());
        kinds.insert(call.name);
        fresh();
        const Result killed = run(u"strace"_s,
            QStringList { u"-f"_s, u"-qq"_s, u"-o"_s, u"/dev/null"_s, u"-e"_s,
                u"trace="_s + call.name, u"-e"_s,
                u"inject="_s + call.name + u":signal=KILL:when="_s + QString::number(call.index),
                u"--"_s }
                + driverCall(),
            config());
        ASSERT_TRUE(killed.killed)
            << "not killed, exit " << killed.exitCode << " " << killed.errors.constData();

        for (const auto &[folder, entries] : state()) {
            SCOPED_TRACE(folder.toStdString());
            const Folder &old = before.at(folder);
            const Folder &made = after.at(folder);
            for (const auto &[name, content] : entries) {
                if (folder + u'/' + name == GetParam().appended)
                    continue;
                const bool isOld = old.count(name) && old.at(name) == content;
                const bool isNew = made.count(name) && made.at(name) == content;
                const bool temporary = platform::temporaries::isTemporaryName(name.toUtf8());
                EXPECT_TRUE(isOld || isNew || temporary)
                    << name.toStdString() << " holds " << content.size() << " bytes";
            }
            // Nothing that was there before is lost.
            for (const auto &[name, content] : old) {
                if (!made.count(name))
                    continue;
                EXPECT_TRUE(entries.count(name)) << name.toStdString() << " is gone";
            }
        }
        if (!GetParam().appended.isEmpty()) {
            EXPECT_TRUE(isOldThenSomeNewLines(appended(), logBefore, logAfter));
        }
        const QByteArray logAtKill = appended();

        const Result next = run(driverCall().first(), driverCall().mid(1), config());
        ASSERT_EQ(next.exitCode, 0) << next.errors.constData();
        for (const auto &[folder, entries] : state()) {
            Folder expected = after.at(folder);
            Folder found = entries;
            if (!GetParam().appended.isEmpty() && GetParam().appended.startsWith(folder + u'/')) {
                const QString name = GetParam().appended.mid(folder.size() + 1);
                EXPECT_TRUE(found[name].startsWith(logAtKill.left(logAtKill.indexOf('\x1A'))));
                EXPECT_TRUE(found[name].endsWith("\r\n"));
                expected.erase(name);
                found.erase(name);
            }
            EXPECT_EQ(found, expected)
                << folder.toStdString() << ": " << describe(found).toStdString() << " instead of "
                << describe(expected).toStdString();
        }
    }
    std::printf("%zu kill points: %s\n", calls.size(),
        QStringList(kinds.begin(), kinds.end()).join(u", ").toUtf8().constData());
}

// Files f0.txt, f1.txt ... (their names lengthened by pad letters), each sizeStep bytes
// longer than the one before.
void files(
    const QString &folder, int count, const QByteArray &content, int sizeStep = 0, int pad = 0)
{
    QDir().mkpath(folder);
    for (int i = 0; i < count; ++i)
        writeBytes(folder + u"/f" + QString::number(i) + QString(pad, u'n') + u".txt",
            content + QByteArray(i * sizeStep, char('a' + i % 26)));
}

const Scenario kScenarios[] = {
    { "copyOfNewFiles",
        [](const QString &root) {
            files(root + u"/src"_s, 3, "new content ", 70000);
            QDir().mkpath(root + u"/dst"_s);
            writeBytes(root + u"/dst/other.txt"_s, "the user's");
        },
        [](const QString &root) {
            return QStringList { u"copy"_s, root + u"/src"_s, root + u"/dst"_s, u"replace"_s };
        },
        { u"dst"_s }, {} },
    { "copyReplacingFiles",
        [](const QString &root) {
            files(root + u"/src"_s, 3, "new content ", 70000);
            files(root + u"/dst"_s, 3, "old");
        },
        [](const QString &root) {
            return QStringList { u"copy"_s, root + u"/src"_s, root + u"/dst"_s, u"replace"_s };
        },
        { u"dst"_s }, {} },
    { "copyKeepingFiles_andItsLogFile",
        [](const QString &root) {
            // Long names make a log of several writes out of few files.
            files(root + u"/src"_s, 260, "new", 0, 220);
            files(root + u"/dst"_s, 258, "old", 0, 220);
            QDir().mkpath(root + u"/logs"_s);
            writeBytes(root + u"/logs/journal.log"_s, "an earlier run\r\n\x1A");
        },
        [](const QString &root) {
            return QStringList { u"copy"_s, root + u"/src"_s, root + u"/dst"_s, u"keep"_s,
                root + u"/logs/journal.log"_s };
        },
        { u"dst"_s, u"logs"_s }, u"logs/journal.log"_s },
    { "savedLog",
        [](const QString &root) {
            QDir().mkpath(root + u"/logs"_s);
            writeBytes(root + u"/logs/journal.txt"_s, "an earlier saved log\r\n");
        },
        [](const QString &root) {
            return QStringList { u"savelog"_s, root + u"/logs/journal.txt"_s, u"3000"_s };
        },
        { u"logs"_s }, {} },
    { "launcher",
        [](const QString &root) {
            QDir().mkpath(root + u"/menu"_s);
            writeBytes(root + u"/menu/Quill Sift.desktop"_s, "[Desktop Entry]\nExec=old\n");
        },
        [](const QString &root) {
            return QStringList { u"launcher"_s, u"/usr/bin/quillsift"_s,
                root + u"/menu/Quill Sift.desktop"_s };
        },
        { u"menu"_s }, {} },
    { "startUpSettingsAndLists",
        [](const QString &root) {
            const QString folder = root + u"/config/Orvane/quillSift"_s;
            QDir().mkpath(folder);
            writeBytes(folder + u"/Options.ini"_s, "[ACME]\r\nDontReplace=yes\r\n");
            writeBytes(folder + u"/RepSrc.txt"_s, QFile::encodeName(root) + "\n");
            writeBytes(folder + u"/RepDst.txt"_s, "\xEF\xBB\xBF" + QFile::encodeName(root) + "\r");
        },
        [](const QString &) { return QStringList { u"start"_s }; },
        { u"config/Orvane/quillSift"_s }, {} },
};

void PrintTo(const Scenario &scenario, std::ostream *out)
{
    *out << scenario.name;
}

INSTANTIATE_TEST_SUITE_P(Protocols, CrashPoints, ::testing::ValuesIn(kScenarios),
    [](const ::testing::TestParamInfo<Scenario> &scenario) {
        return std::string(scenario.param.name);
    });

// A second run into the same folder, held by strace at the entry of its rename while its
// temporary is named: a sweep in that moment leaves the temporary alone, and the held run
// completes.
TEST(LiveTemporaries, heldAtTheirRename_areNeverSwept)
{
    if (!straceInstalled())
        GTEST_SKIP() << kNoStrace;
    const struct
    {
        const char *name;
        const char *held; // the call the run is held at
        std::function<QStringList(const QString &root)> arguments;
        QString target;
        QByteArray content;
    } cases[] = {
        { "replace copy", "renameat",
            [](const QString &root) {
                return QStringList { u"copy"_s, root + u"/src"_s, root + u"/dst"_s, u"replace"_s };
            },
            u"dst/f0.txt"_s, "new" },
        { "saved log", "renameat",
            [](const QString &root) {
                return QStringList { u"savelog"_s, root + u"/dst/f0.txt"_s, u"1"_s };
            },
            u"dst/f0.txt"_s, "Copie du fichier num\xE9ro 0 du journal sauv\xE9\r\n" },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QTemporaryDir dir;
        const QString root = dir.path();
        files(root + u"/src"_s, 1, "new");
        files(root + u"/dst"_s, 1, "old");
        const QString dst = root + u"/dst"_s;

        QProcess held;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"ASAN_OPTIONS"_s, env.value(u"ASAN_OPTIONS"_s) + u":detect_leaks=0"_s);
        held.setProcessEnvironment(env);
        held.start(u"strace"_s,
            QStringList { u"-f"_s, u"-qq"_s, u"-o"_s, u"/dev/null"_s, u"-e"_s,
                u"trace="_s + QString::fromLatin1(c.held), u"-e"_s,
                u"inject="_s + QString::fromLatin1(c.held) + u":delay_enter=3000000"_s, u"--"_s,
                QStringLiteral(QS_CRASH_DRIVER) }
                + c.arguments(root));
        ASSERT_TRUE(held.waitForStarted());
        // Its temporary appears before the rename, which is then held for a while.
        QStringList temporaries;
        while (temporaries.isEmpty() && held.state() == QProcess::Running) {
            for (const QString &name : QDir(dst).entryList(QDir::Files | QDir::Hidden)) {
                if (platform::temporaries::isTemporaryName(name.toUtf8()))
                    temporaries << name;
            }
            held.waitForFinished(5);
        }
        ASSERT_EQ(temporaries.size(), 1) << "the run ended before its temporary was seen";
        ASSERT_EQ(held.state(), QProcess::Running);
        EXPECT_EQ(platform::temporaries::sweep(dst), 0);
        EXPECT_TRUE(QFile::exists(dst + u'/' + temporaries.first()));

        ASSERT_TRUE(held.waitForFinished(60000));
        EXPECT_EQ(held.exitCode(), 0) << held.readAllStandardError().constData();
        EXPECT_EQ(readBytes(root + u'/' + c.target), c.content);
        EXPECT_EQ(QDir(dst).entryList(QDir::Files | QDir::Hidden), QStringList { u"f0.txt"_s });
    }
}

} // namespace
