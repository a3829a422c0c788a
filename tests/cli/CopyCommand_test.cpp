// quillsift-copy run as a process on real folders: its log lines, its use of the settings and
// of the log file, its options and its exit statuses.
#include "copy/CopyEngine.h"
#include "platform/Paths.h"
#include "settings/Settings.h"
#include "support/Fixtures.h"
#include "support/RawNames.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QStringDecoder>

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <spawn.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

using testsupport::readBytes;

namespace {

struct Outcome
{
    int status = -1;
    QByteArray out;
    QByteArray err;

    QStringList lines() const
    {
        QStringList result = QString::fromUtf8(out).split(u'\n');
        // Every line ends with a line feed: the text after the last one is empty.
        EXPECT_TRUE(result.last().isEmpty()) << out.toStdString();
        result.removeLast();
        return result;
    }
};

class CopyCommandTest : public testsupport::TempDirTest
{
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        src = makeDir(QStringLiteral("src"));
        dst = makeDir(QStringLiteral("dst"));
        makeDir(QStringLiteral("config"));
    }

    // The program with its own XDG_CONFIG_HOME, in the test's folder unless told; prepare
    // may redirect its channels before it starts.
    Outcome run(const QStringList &arguments, const QString &workingDirectory = {},
        const std::function<void(QProcess &)> &prepare = {}) const
    {
        QProcess process;
        if (prepare)
            prepare(process);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), file(QStringLiteral("config")));
        environment.insert(QStringLiteral("HOME"), file(QStringLiteral("home")));
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(workingDirectory.isEmpty() ? path() : workingDirectory);
        process.start(QStringLiteral(QS_COPY_PROGRAM), arguments);
        Outcome outcome;
        if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit) {
            ADD_FAILURE() << "quillsift-copy did not end normally";
            return outcome;
        }
        outcome.status = process.exitCode();
        outcome.out = process.readAllStandardOutput();
        outcome.err = process.readAllStandardError();
        return outcome;
    }

    // The same with arguments given as bytes, which QProcess would take as text.
    Outcome runWithBytes(const std::vector<QByteArray> &arguments) const
    {
        std::vector<QByteArray> strings { QByteArrayLiteral(QS_COPY_PROGRAM) };
        strings.insert(strings.end(), arguments.begin(), arguments.end());
        std::vector<char *> argv;
        for (QByteArray &string : strings)
            argv.push_back(string.data());
        argv.push_back(nullptr);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), file(QStringLiteral("config")));
        environment.insert(QStringLiteral("HOME"), file(QStringLiteral("home")));
        std::vector<QByteArray> variables;
        for (const QString &variable : environment.toStringList())
            variables.push_back(variable.toUtf8());
        std::vector<char *> envp;
        for (QByteArray &variable : variables)
            envp.push_back(variable.data());
        envp.push_back(nullptr);
        const QByteArray folder = platform::encodePath(path());
        const QByteArray outFile = folder + "/stdout.bin";
        const QByteArray errFile = folder + "/stderr.bin";

        Outcome outcome;
        const pid_t child = ::fork();
        if (child == 0) {
            const int out = ::open(outFile.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            const int err = ::open(errFile.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (out >= 0 && err >= 0 && ::dup2(out, STDOUT_FILENO) >= 0
                && ::dup2(err, STDERR_FILENO) >= 0 && ::chdir(folder.constData()) == 0)
                ::execve(argv[0], argv.data(), envp.data());
            ::_exit(127);
        }
        int status = 0;
        if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
            ADD_FAILURE() << "quillsift-copy did not end normally";
            return outcome;
        }
        outcome.status = WEXITSTATUS(status);
        outcome.out = testsupport::readRawFile(outFile);
        outcome.err = testsupport::readRawFile(errFile);
        return outcome;
    }

    // A settings file of the given [ACME] lines, outside the settings folder.
    QString settings(const QByteArray &lines) const
    {
        return writeFile(QStringLiteral("settings.ini"), "[ACME]\r\n" + lines);
    }

    QString defaultSettingsFile() const
    {
        return file(QStringLiteral("config/Orvane/quillSift/Options.ini"));
    }

    QStringList entries(const QString &folder) const
    {
        return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    }

    // Log texts with {src} and {dst} standing for the two folders (no trailing '/').
    QStringList expand(const QStringList &templates) const
    {
        QStringList result;
        for (QString line : templates)
            result.append(
                line.replace(QStringLiteral("{src}"), src).replace(QStringLiteral("{dst}"), dst));
        return result;
    }

    QString src;
    QString dst;
};

const QByteArray kPlain = "AdaptatFiltre=0\r\nWithTimestamp=0\r\n";

TEST_F(CopyCommandTest, plainRun_copiesTheSelectedFilesAndPrintsEachLogLine)
{
    writeFile(QStringLiteral("src/a.txt"), "alpha");
    writeFile(QStringLiteral("src/b.txt"), "beta");
    writeFile(QStringLiteral("src/c.doc"), "c");
    writeFile(QStringLiteral("src/.hidden.txt"), "h");
    writeFile(QStringLiteral("src/sub/d.txt"), "d");

    const Outcome outcome = run(
        { QStringLiteral("--settings"), settings(kPlain), src, dst, QStringLiteral("*.txt") });

    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.err, QByteArray());
    EXPECT_EQ(outcome.lines(),
        expand({ QStringLiteral("Filtre: \"*.txt\"  (\"*.txt\")"),
            QStringLiteral("Copie du fichier \"{src}/a.txt\" vers \"{dst}/a.txt\""),
            QStringLiteral("Copie du fichier \"{src}/b.txt\" vers \"{dst}/b.txt\"") }));
    EXPECT_EQ(entries(dst), QStringList({ QStringLiteral("a.txt"), QStringLiteral("b.txt") }));
    EXPECT_EQ(readFile(QStringLiteral("dst/a.txt")), "alpha");
    EXPECT_EQ(readFile(QStringLiteral("dst/b.txt")), "beta");
}

// The process prints, line for line, what the copy window's engine logs for the same work,
// with each option.
TEST_F(CopyCommandTest, printedLines_areTheEngineLines_withEachOption)
{
    const QStringList filters { QStringLiteral("*.txt"), QStringLiteral(" \t"),
        QStringLiteral("c*"), QStringLiteral("*.txt"), QStringLiteral("nothing*") };
    const auto prepare = [this](const QString &root) {
        writeFile(root + QStringLiteral("/src/a.txt"), "alpha");
        writeFile(root + QStringLiteral("/src/b.txt"), "beta");
        writeFile(root + QStringLiteral("/src/c.doc"), "c");
        writeFile(root + QStringLiteral("/src/.h.txt"), "h");
        writeFile(root + QStringLiteral("/dst/a.txt"), "old");
        makeDir(root + QStringLiteral("/dst/c.doc"));
        makeDir(root + QStringLiteral("/src/sub.txt"));
    };
    const struct
    {
        const char *option;
        bool dryRun;
        bool verify;
        int status;
    } cases[] = {
        { "", false, false, 1 },
        { "--verify", false, true, 1 },
        { "--dry-run", true, false, 0 },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.option);
        const QString processRoot = QStringLiteral("p") + QLatin1String(c.option);
        const QString engineRoot = QStringLiteral("e") + QLatin1String(c.option);
        prepare(processRoot);
        prepare(engineRoot);

        QStringList arguments { QStringLiteral("--settings"), settings(kPlain) };
        if (*c.option)
            arguments.append(QLatin1String(c.option));
        arguments << file(processRoot + QStringLiteral("/src"))
                  << file(processRoot + QStringLiteral("/dst")) << filters;
        const Outcome outcome = run(arguments);

        tyConfig config;
        config.AdaptatFiltre = 0;
        config.WithTimestamp = false;
        LogLines log;
        CopyRun engine(config, file(engineRoot + QStringLiteral("/src/")),
            file(engineRoot + QStringLiteral("/dst/")), log, {});
        engine.setDryRun(c.dryRun);
        engine.setVerify(c.verify);
        engine.runFilters(filters);
        QStringList expected;
        for (const QString &line : log.lines)
            expected.append(QString(line).replace(file(engineRoot), file(processRoot)));

        ASSERT_GT(expected.size(), 5);
        EXPECT_EQ(outcome.lines(), expected);
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_EQ(outcome.status, engine.tally().errors > 0 ? 1 : 0);
        EXPECT_EQ(entries(file(processRoot + QStringLiteral("/dst"))),
            entries(file(engineRoot + QStringLiteral("/dst"))));
        EXPECT_EQ(readFile(processRoot + QStringLiteral("/dst/a.txt")),
            readFile(engineRoot + QStringLiteral("/dst/a.txt")));
    }
}

TEST_F(CopyCommandTest, settingsFile_decidesReplacementWideningAndTimestamps)
{
    const struct
    {
        const char *name;
        QByteArray lines;
        const char *filter;
        QStringList expected;
        QByteArray aAfter; // dst/a.txt held "old"
    } cases[] = {
        { "DontReplace=1 leaves the existing file", "DontReplace=1\r\n" + kPlain, "*.txt",
            { QStringLiteral("Filtre: \"*.txt\"  (\"*.txt\")"),
                QStringLiteral("Le fichier \"{dst}/a.txt\" existe déjà."),
                QStringLiteral("Copie du fichier \"{src}/b.txt\" vers \"{dst}/b.txt\"") },
            "old" },
        { "DontReplace=0 replaces it", "DontReplace=0\r\n" + kPlain, "*.txt",
            { QStringLiteral("Filtre: \"*.txt\"  (\"*.txt\")"),
                QStringLiteral(
                    "Attention: Le fichier \"{dst}/a.txt\" existe déjà, il va être remplacé."),
                QStringLiteral("Copie du fichier \"{src}/a.txt\" vers \"{dst}/a.txt\""),
                QStringLiteral("Copie du fichier \"{src}/b.txt\" vers \"{dst}/b.txt\"") },
            "alpha" },
        { "AdaptatFiltre=1", "DontReplace=1\r\nAdaptatFiltre=1\r\nWithTimestamp=0\r\n", ".txt",
            { QStringLiteral("Filtre: \"*.txt\"  (\".txt\")"),
                QStringLiteral("Le fichier \"{dst}/a.txt\" existe déjà."),
                QStringLiteral("Copie du fichier \"{src}/b.txt\" vers \"{dst}/b.txt\"") },
            "old" },
        { "AdaptatFiltre=2", "AdaptatFiltre=2\r\nWithTimestamp=0\r\n", "b",
            { QStringLiteral("Filtre: \"b*.*\"  (\"b\")"),
                QStringLiteral("Copie du fichier \"{src}/b.txt\" vers \"{dst}/b.txt\"") },
            "old" },
        { "AdaptatFiltre=3", "DontReplace=1\r\nAdaptatFiltre=3\r\nWithTimestamp=0\r\n", "a",
            { QStringLiteral("Filtre: \"*a*.*\"  (\"a\")"),
                QStringLiteral("Le fichier \"{dst}/a.txt\" existe déjà.") },
            "old" },
        { "AdaptatFiltre=7 is taken as 0", "AdaptatFiltre=7\r\nWithTimestamp=0\r\n", "b.txt",
            { QStringLiteral("Filtre: \"b.txt\"  (\"b.txt\")"),
                QStringLiteral("Copie du fichier \"{src}/b.txt\" vers \"{dst}/b.txt\"") },
            "old" },
    };
    writeFile(QStringLiteral("src/a.txt"), "alpha");
    writeFile(QStringLiteral("src/b.txt"), "beta");
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(file(QStringLiteral("dst/b.txt")));
        writeFile(QStringLiteral("dst/a.txt"), "old");

        const Outcome outcome = run({ QStringLiteral("--settings"), settings(c.lines), src, dst,
            QString::fromUtf8(c.filter) });

        EXPECT_EQ(outcome.status, 0);
        EXPECT_EQ(outcome.lines(), expand(c.expected));
        EXPECT_EQ(readFile(QStringLiteral("dst/a.txt")), c.aAfter);
    }
}

// No settings file: the defaults (widening FILTRE + *.*, timestamps, replace) and nothing
// created where the program keeps its settings.
TEST_F(CopyCommandTest, noSettingsFile_runsWithTheDefaultsAndCreatesNoSettingsFolder)
{
    writeFile(QStringLiteral("src/a.txt"), "alpha");
    writeFile(QStringLiteral("dst/a.txt"), "old");

    const Outcome outcome = run({ src, dst, QStringLiteral("a") });

    EXPECT_EQ(outcome.status, 0);
    const QStringList messages = expand({ QStringLiteral("Filtre: \"a*.*\"  (\"a\")"),
        QStringLiteral("Attention: Le fichier \"{dst}/a.txt\" existe déjà, il va être remplacé."),
        QStringLiteral("Copie du fichier \"{src}/a.txt\" vers \"{dst}/a.txt\"") });
    const QStringList lines = outcome.lines();
    ASSERT_EQ(lines.size(), messages.size());
    for (qsizetype i = 0; i < lines.size(); ++i) {
        // "{date} {time} - {message}", the date starting with a digit.
        EXPECT_TRUE(lines[i].endsWith(QStringLiteral(" - ") + messages[i]))
            << lines[i].toStdString();
        EXPECT_GT(lines[i].size(), messages[i].size() + 10);
        EXPECT_TRUE(lines[i].front().isDigit()) << lines[i].toStdString();
    }
    EXPECT_EQ(readFile(QStringLiteral("dst/a.txt")), "alpha");
    EXPECT_EQ(entries(file(QStringLiteral("config"))), QStringList());
}

TEST_F(CopyCommandTest, defaultSettingsFile_isReadAndLeftAsItWas)
{
    const QByteArray ini = "; kept as it is\r\n[acme]\r\ndontreplace = 1\r\nAdaptatFiltre=0\r\n"
                           "WithTimestamp=\"0\"\r\nExtendedView=yes\r\n[Other]\r\nx=1\r\n";
    QDir().mkpath(QFileInfo(defaultSettingsFile()).absolutePath());
    testsupport::writeBytes(defaultSettingsFile(), ini);
    writeFile(QStringLiteral("src/a.txt"), "alpha");
    writeFile(QStringLiteral("dst/a.txt"), "old");

    const Outcome outcome = run({ src, dst, QStringLiteral("a.txt") });

    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.lines(),
        expand({ QStringLiteral("Filtre: \"a.txt\"  (\"a.txt\")"),
            QStringLiteral("Le fichier \"{dst}/a.txt\" existe déjà.") }));
    EXPECT_EQ(readBytes(defaultSettingsFile()), ini);
    // Neither settings nor folder lists are written.
    EXPECT_EQ(entries(QFileInfo(defaultSettingsFile()).absolutePath()),
        QStringList({ QStringLiteral("Options.ini") }));
}

// Lines appended as the window appends them: after what the file held, each with CR LF, in
// Windows-1252 ('?' for what it cannot hold), while standard output is UTF-8.
TEST_F(CopyCommandTest, logFile_isAppendedInWindows1252WithCrLf)
{
    writeFile(QStringLiteral("src/café.txt"), "1");
    writeFile(QStringLiteral("src/жук.txt"), "2");
    writeFile(QStringLiteral("src/€uro.txt"), "3");
    const QString journal = writeFile(QStringLiteral("journal.log"), "avant\r\n");

    const Outcome outcome = run(
        { QStringLiteral("--settings"), settings(kPlain + "LogFile=" + journal.toUtf8() + "\r\n"),
            src, dst, QStringLiteral("*.txt") });

    EXPECT_EQ(outcome.status, 0);
    const QByteArray s = src.toUtf8();
    const QByteArray d = dst.toUtf8();
    EXPECT_EQ(outcome.out,
        "Filtre: \"*.txt\"  (\"*.txt\")\n"
        "Copie du fichier \""
            + s + "/café.txt\" vers \"" + d + "/café.txt\"\n" + "Copie du fichier \"" + s
            + "/жук.txt\" vers \"" + d + "/жук.txt\"\n" + "Copie du fichier \"" + s
            + "/€uro.txt\" vers \"" + d + "/€uro.txt\"\n");
    EXPECT_EQ(readBytes(journal),
        "avant\r\n"
        "Filtre: \"*.txt\"  (\"*.txt\")\r\n"
        "Copie du fichier \""
            + s + "/caf\xE9.txt\" vers \"" + d + "/caf\xE9.txt\"\r\n" + "Copie du fichier \"" + s
            + "/???.txt\" vers \"" + d + "/???.txt\"\r\n" + "Copie du fichier \"" + s
            + "/\x80uro.txt\" vers \"" + d + "/\x80uro.txt\"\r\n");
}

TEST_F(CopyCommandTest, dryRun_printsTheLinesButCopiesAndAppendsNothing)
{
    writeFile(QStringLiteral("src/a.txt"), "alpha");
    writeFile(QStringLiteral("src/b.txt"), "beta");
    writeFile(QStringLiteral("dst/a.txt"), "old");
    const QString journal = file(QStringLiteral("journal.log"));

    // Options may also follow the operands.
    const Outcome outcome = run({ src, dst, QStringLiteral("*.txt"), QStringLiteral("--dry-run"),
        QStringLiteral("--settings"), settings(kPlain + "LogFile=" + journal.toUtf8() + "\r\n") });

    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.lines(),
        expand({ QStringLiteral("Filtre: \"*.txt\"  (\"*.txt\")"),
            QStringLiteral(
                "Attention: Le fichier \"{dst}/a.txt\" existe déjà, il va être remplacé."),
            QStringLiteral("Copie du fichier \"{src}/a.txt\" vers \"{dst}/a.txt\""),
            QStringLiteral("Copie du fichier \"{src}/b.txt\" vers \"{dst}/b.txt\"") }));
    EXPECT_EQ(entries(dst), QStringList({ QStringLiteral("a.txt") }));
    EXPECT_EQ(readFile(QStringLiteral("dst/a.txt")), "old");
    EXPECT_FALSE(QFileInfo::exists(journal));
}

TEST_F(CopyCommandTest, verify_copiesAndReadsBackWithoutChangingTheLog)
{
    writeFile(QStringLiteral("src/a.txt"), QByteArray(300000, 'a'));
    writeFile(QStringLiteral("src/empty.txt"), "");

    const Outcome outcome = run({ QStringLiteral("--verify"), QStringLiteral("--settings"),
        settings(kPlain), src, dst, QStringLiteral("*.txt") });

    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.err, QByteArray());
    EXPECT_EQ(outcome.lines(),
        expand({ QStringLiteral("Filtre: \"*.txt\"  (\"*.txt\")"),
            QStringLiteral("Copie du fichier \"{src}/a.txt\" vers \"{dst}/a.txt\""),
            QStringLiteral("Copie du fichier \"{src}/empty.txt\" vers \"{dst}/empty.txt\"") }));
    EXPECT_EQ(readFile(QStringLiteral("dst/a.txt")), QByteArray(300000, 'a'));
    EXPECT_EQ(readFile(QStringLiteral("dst/empty.txt")), QByteArray());
}

// A copy that fails is one "Erreur" line; the run goes on, then exits with 1.
TEST_F(CopyCommandTest, failedCopy_logsItsErrorGoesOnAndExitsWith1)
{
    writeFile(QStringLiteral("src/a.txt"), "alpha");
    writeFile(QStringLiteral("src/b.txt"), "beta");
    makeDir(QStringLiteral("dst/a.txt"));

    const Outcome outcome
        = run({ QStringLiteral("--settings"), settings(kPlain), src, dst, QStringLiteral("*") });

    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, QByteArray());
    const QStringList lines = outcome.lines();
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines[1],
        expand({ QStringLiteral("Copie du fichier \"{src}/a.txt\" vers \"{dst}/a.txt\"") })[0]);
    EXPECT_TRUE(lines[2].startsWith(QStringLiteral("Erreur: "))) << lines[2].toStdString();
    EXPECT_EQ(readFile(QStringLiteral("dst/b.txt")), "beta");
}

TEST_F(CopyCommandTest, logFileThatCannotBeAppended_isReportedAndExitsWith1)
{
    writeFile(QStringLiteral("src/a.txt"), "alpha");
    // A folder in place of the log file refuses writing, also to root.
    const QString journal = makeDir(QStringLiteral("journal"));

    const Outcome outcome = run({ QStringLiteral("--settings"),
        settings(kPlain + "LogFile=" + journal.toUtf8() + "\r\n"), src, dst, QStringLiteral("*") });

    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.lines().size(), 2);
    EXPECT_EQ(QString::fromUtf8(outcome.err),
        QStringLiteral("quillsift-copy : impossible d'ajouter le journal au fichier « ") + journal
            + QStringLiteral(" » : Accès au fichier refusé\n"));
    EXPECT_EQ(readFile(QStringLiteral("dst/a.txt")), "alpha");
}

// Usage and settings errors: exit 2, a French message, no log line and nothing copied.
TEST_F(CopyCommandTest, usageAndSettingsErrors_exitWith2AndCopyNothing)
{
    writeFile(QStringLiteral("src/a.txt"), "alpha");
    const QString missing = file(QStringLiteral("missing"));
    const QString good = settings(kPlain);
    const QString aFile = file(QStringLiteral("src/a.txt"));
    const QString star = QStringLiteral("*");
    const QString settingsOption = QStringLiteral("--settings");
    const struct
    {
        const char *name;
        QStringList arguments;
        QString message;
        bool unreadableDefaultSettings = false;
    } cases[] = {
        { "unknown option", { QStringLiteral("--fast"), src, dst, star },
            QStringLiteral("option inconnue « --fast »") },
        { "no argument", {}, QStringLiteral("il manque des arguments") },
        { "no filter", { src, dst }, QStringLiteral("il manque des arguments") },
        { "--settings without a file", { src, dst, star, settingsOption },
            QStringLiteral("l'option --settings attend un FICHIER") },
        { "--settings naming no file", { settingsOption, missing, src, dst, star },
            QStringLiteral("le fichier de réglages « ") + missing
                + QStringLiteral(" » n'existe pas") },
        // A folder cannot be read as a file, also by root.
        { "--settings naming a folder", { settingsOption, dst, src, dst, star },
            QStringLiteral("impossible de lire le fichier de réglages « ") + dst
                + QStringLiteral(" »") },
        { "settings file that cannot be read", { src, dst, star },
            QStringLiteral("impossible de lire le fichier de réglages « ") + defaultSettingsFile()
                + QStringLiteral(" »"),
            true },
        { "missing source", { settingsOption, good, missing, dst, star },
            QStringLiteral("le dossier source « ") + missing + QStringLiteral(" » n'existe pas") },
        { "source that is a file", { settingsOption, good, aFile, dst, star },
            QStringLiteral("le dossier source « ") + aFile + QStringLiteral(" » est un fichier") },
        { "missing destination", { settingsOption, good, src, missing, star },
            QStringLiteral("le dossier de destination « ") + missing
                + QStringLiteral(" » n'existe pas") },
        { "empty destination", { settingsOption, good, src, QString(), star },
            QStringLiteral("le dossier de destination «  » n'existe pas") },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        if (c.unreadableDefaultSettings)
            QDir().mkpath(defaultSettingsFile());

        const Outcome outcome = run(c.arguments);

        EXPECT_EQ(outcome.status, 2);
        EXPECT_EQ(outcome.out, QByteArray());
        const QString err = QString::fromUtf8(outcome.err);
        EXPECT_TRUE(err.startsWith(QStringLiteral("quillsift-copy : ") + c.message))
            << err.toStdString();
        EXPECT_EQ(entries(dst), QStringList());
        QDir(file(QStringLiteral("config/Orvane"))).removeRecursively();
    }
}

// Folder arguments are bytes: a source folder with a Latin-1 name is found, and its files of
// Latin-1 names are copied under their own names. What the program prints is valid UTF-8, an
// undecodable byte shown as U+FFFD, in the log lines as in a message.
TEST_F(CopyCommandTest, argumentsAndNamesThatAreNotUtf8_areTakenAsBytes)
{
    const QByteArray source = platform::encodePath(path()) + "/archives\xE9";
    const QByteArray target = platform::encodePath(dst);
    ASSERT_EQ(::mkdir(source.constData(), 0755), 0);
    const auto remove = qScopeGuard([&] {
        testsupport::removeRawTree(source);
        testsupport::removeRawTree(target);
    });
    ASSERT_TRUE(testsupport::writeRawFile(source + "/caf\xE9.txt", "1"));
    ASSERT_TRUE(testsupport::writeRawFile(source + "/caf\xE8.txt", "2"));
    const QByteArray settingsFile = platform::encodePath(settings(kPlain));
    const QString shownSource = path() + QStringLiteral("/archives\uFFFD");
    const auto isUtf8 = [](const QByteArray &bytes) {
        QStringDecoder utf8(QStringConverter::Utf8);
        utf8.decode(bytes);
        return !utf8.hasError();
    };

    const Outcome outcome = runWithBytes({ "--settings", settingsFile, source, target, "*.txt" });

    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.err, QByteArray());
    EXPECT_TRUE(isUtf8(outcome.out)) << outcome.out.toHex(' ').toStdString();
    const QString copy = QStringLiteral("Copie du fichier \"") + shownSource
        + QStringLiteral("/caf\uFFFD.txt\" vers \"{dst}/caf\uFFFD.txt\"");
    EXPECT_EQ(
        outcome.lines(), expand({ QStringLiteral("Filtre: \"*.txt\"  (\"*.txt\")"), copy, copy }));
    EXPECT_EQ(testsupport::rawEntries(target),
        (std::vector<QByteArray> { "caf\xE8.txt", "caf\xE9.txt" }));
    EXPECT_EQ(testsupport::readRawFile(target + "/caf\xE9.txt"), "1");
    EXPECT_EQ(testsupport::readRawFile(target + "/caf\xE8.txt"), "2");

    const Outcome missing
        = runWithBytes({ "--settings", settingsFile, source + "/nulle\xE9", target, "*" });
    EXPECT_EQ(missing.status, 2);
    EXPECT_TRUE(isUtf8(missing.err)) << missing.err.toHex(' ').toStdString();
    EXPECT_TRUE(QString::fromUtf8(missing.err)
                    .startsWith(QStringLiteral("quillsift-copy : le dossier source « ")
                        + shownSource + QStringLiteral("/nulle\uFFFD » n'existe pas")))
        << missing.err.toStdString();
}

TEST_F(CopyCommandTest, relativeFolders_areLoggedAsFullPaths)
{
    writeFile(QStringLiteral("src/a.txt"), "alpha");
    settings(kPlain);

    const Outcome outcome = run({ QStringLiteral("--settings"), QStringLiteral("settings.ini"),
        QStringLiteral("src"), QStringLiteral("./src/../dst/"), QStringLiteral("a.txt") });

    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.lines(),
        expand({ QStringLiteral("Filtre: \"a.txt\"  (\"a.txt\")"),
            QStringLiteral("Copie du fichier \"{src}/a.txt\" vers \"{dst}/a.txt\"") }));
}

// ".." in a folder argument goes up from where the names before it lead, links followed, as
// `ls link/..` shows: here from deep/dir to deep, not back to the current folder.
TEST_F(CopyCommandTest, dotDotAfterALink_goesUpFromTheLinkTarget)
{
    writeFile(QStringLiteral("deep/a.txt"), "deep");
    makeDir(QStringLiteral("deep/dir"));
    makeDir(QStringLiteral("dst/inner"));
    writeFile(QStringLiteral("here.txt"), "here");
    ASSERT_TRUE(QFile::link(QStringLiteral("deep/dir"), file(QStringLiteral("link"))));
    ASSERT_TRUE(QFile::link(QStringLiteral("dst/inner"), file(QStringLiteral("into"))));
    const QString deep = QFileInfo(file(QStringLiteral("deep"))).canonicalFilePath();
    const QString target = QFileInfo(dst).canonicalFilePath();
    settings(kPlain);

    const Outcome outcome = run({ QStringLiteral("--settings"), QStringLiteral("settings.ini"),
        QStringLiteral("link/.."), file(QStringLiteral("into/../")), QStringLiteral("*.txt") });

    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.lines(),
        QStringList({ QStringLiteral("Filtre: \"*.txt\"  (\"*.txt\")"),
            QStringLiteral("Copie du fichier \"%1/a.txt\" vers \"%2/a.txt\"").arg(deep, target) }));
    EXPECT_EQ(entries(dst), QStringList({ QStringLiteral("a.txt"), QStringLiteral("inner") }));
    EXPECT_EQ(readFile(QStringLiteral("dst/a.txt")), "deep");
}

// As coreutils do: a standard output that cannot be written is told on standard error, once
// the copy has ended, and the exit status is 1; the copy and the log file are whole.
TEST_F(CopyCommandTest, standardOutputThatCannotBeWritten_isToldAfterTheCopyWithStatus1)
{
    writeFile(QStringLiteral("src/a.txt"), "alpha");
    writeFile(QStringLiteral("src/b.txt"), "beta");
    const QString journal = file(QStringLiteral("journal.log"));
    const QString withJournal = settings(kPlain + "LogFile=" + journal.toUtf8() + "\r\n");
    const auto toFull
        = [](QProcess &process) { process.setStandardOutputFile(QStringLiteral("/dev/full")); };
    // The reader of the pipe is gone before the program writes to it.
    const auto toClosedPipe = [](QProcess &process) {
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setChildProcessModifier([] {
            int fds[2];
            if (::pipe(fds) == 0) {
                ::close(fds[0]);
                ::dup2(fds[1], STDOUT_FILENO);
                ::close(fds[1]);
            }
        });
    };
    const QString prefix
        = QStringLiteral("quillsift-copy : erreur d'écriture sur la sortie standard : ");
    const struct
    {
        const char *name;
        std::function<void(QProcess &)> prepare;
        QStringList arguments;
        QString reason;
        bool copies;
    } cases[] = {
        { "full disk", toFull,
            { QStringLiteral("--settings"), withJournal, src, dst, QStringLiteral("*") },
            QStringLiteral("Espace insuffisant sur le disque"), true },
        { "closed pipe", toClosedPipe,
            { QStringLiteral("--settings"), withJournal, src, dst, QStringLiteral("*") },
            QStringLiteral("Le canal de communication a été fermé"), true },
        { "--help to a full disk", toFull, { QStringLiteral("--help") },
            QStringLiteral("Espace insuffisant sur le disque"), false },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QDir(dst).removeRecursively();
        makeDir(QStringLiteral("dst"));
        QFile::remove(journal);

        const Outcome outcome = run(c.arguments, {}, c.prepare);

        EXPECT_EQ(outcome.status, 1);
        EXPECT_EQ(QString::fromUtf8(outcome.err), prefix + c.reason + u'\n');
        if (c.copies) {
            EXPECT_EQ(readFile(QStringLiteral("dst/b.txt")), "beta");
            EXPECT_EQ(readBytes(journal).count("\r\n"), 3);
        }
    }
}

TEST_F(CopyCommandTest, doubleDash_endsTheOptions)
{
    writeFile(QStringLiteral("src/-x.txt"), "x");
    writeFile(QStringLiteral("src/--verify"), "v");

    const Outcome outcome = run({ QStringLiteral("--settings"), settings(kPlain), src, dst,
        QStringLiteral("--"), QStringLiteral("-x*"), QStringLiteral("--verify") });

    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.lines(),
        expand({ QStringLiteral("Filtre: \"-x*\"  (\"-x*\")"),
            QStringLiteral("Copie du fichier \"{src}/-x.txt\" vers \"{dst}/-x.txt\""),
            QStringLiteral("Filtre: \"--verify\"  (\"--verify\")"),
            QStringLiteral("Copie du fichier \"{src}/--verify\" vers \"{dst}/--verify\"") }));
}

// Whether sig is still pending for the whole process pid (not yet handled).
bool signalPending(pid_t pid, int sig)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("ShdPnd:", 0) == 0)
            return (std::stoull(line.substr(7), nullptr, 16) >> (sig - 1)) & 1;
    }
    return false;
}

// The run is held on a full pipe (standard output not read) while the signals come: the first
// ends it after the file in progress, as the window's stop button does; a second one ends the
// program at once.
TEST_F(CopyCommandTest, stopSignal_endsTheRunAfterTheFileInProgress_aSecondOneAtOnce)
{
    constexpr int kFiles = 2000;
    for (int i = 0; i < kFiles; ++i)
        writeFile(QStringLiteral("src/un-nom-de-fichier-assez-long-%1.txt")
                      .arg(i, 4, 10, QLatin1Char('0')),
            QByteArray::number(i));
    const QString logFile = file(QStringLiteral("journal.log"));
    const QString settingsFile
        = settings(kPlain + "LogFile=" + QFile::encodeName(logFile) + "\r\n");
    const struct
    {
        int sig;
        int count;
    } cases[] = { { SIGINT, 1 }, { SIGTERM, 1 }, { SIGINT, 2 } };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.sig) + " x" + std::to_string(c.count));
        QDir(dst).removeRecursively();
        QDir().mkpath(dst);
        QFile::remove(logFile);

        int out[2];
        ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
        ASSERT_GT(::fcntl(out[1], F_SETPIPE_SZ, 4096), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        const QByteArray program = QS_COPY_PROGRAM;
        const QByteArray settingsArg = QFile::encodeName(settingsFile);
        const QByteArray srcArg = QFile::encodeName(src);
        const QByteArray dstArg = QFile::encodeName(dst);
        char *argv[] = { const_cast<char *>(program.constData()), const_cast<char *>("--settings"),
            const_cast<char *>(settingsArg.constData()), const_cast<char *>(srcArg.constData()),
            const_cast<char *>(dstArg.constData()), const_cast<char *>("*"), nullptr };
        pid_t pid = 0;
        ASSERT_EQ(::posix_spawn(&pid, argv[0], &actions, nullptr, argv, environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);

        // A full pipe: the run is under way and cannot end before the pipe is read.
        int queued = 0;
        for (int tries = 0; tries < 2000 && queued < 4096; ++tries) {
            ::usleep(5000);
            ASSERT_EQ(::ioctl(out[0], FIONREAD, &queued), 0);
        }
        ASSERT_GE(queued, 4096);
        for (int i = 0; i < c.count; ++i) {
            ASSERT_EQ(::kill(pid, c.sig), 0);
            // One signal handled before the next, which would otherwise merge with it.
            for (int tries = 0; tries < 1000 && signalPending(pid, c.sig); ++tries)
                ::usleep(5000);
        }
        QByteArray printed;
        char buffer[65536];
        for (ssize_t n; (n = ::read(out[0], buffer, sizeof buffer)) != 0;) {
            if (n < 0 && errno == EINTR)
                continue;
            ASSERT_GT(n, 0);
            printed.append(buffer, n);
        }
        ::close(out[0]);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);

        if (c.count == 2) {
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.sig) << status;
            EXPECT_FALSE(QFile::exists(logFile));
            continue;
        }
        ASSERT_TRUE(WIFEXITED(status)) << status;
        EXPECT_EQ(WEXITSTATUS(status), 128 + c.sig);
        QStringList lines = QString::fromUtf8(printed).split(u'\n');
        ASSERT_TRUE(lines.last().isEmpty());
        lines.removeLast();
        EXPECT_EQ(lines.last(), QStringLiteral("Copie arrêtée par l'utilisateur."));
        // Every file whose copy began is there whole, and nothing else.
        QStringList copied;
        for (const QString &line : lines) {
            if (line.startsWith(u"Copie du fichier"))
                copied << QFileInfo(line.section(u'"', 3, 3)).fileName();
        }
        EXPECT_GE(copied.size(), 1);
        EXPECT_LT(copied.size(), kFiles);
        EXPECT_EQ(entries(dst), copied);
        for (const QString &name : copied)
            EXPECT_EQ(readBytes(dst + u'/' + name), readBytes(src + u'/' + name));
        // The log reaches the log file as at the end of a run.
        QByteArray expected;
        for (const QString &line : lines)
            expected += line.toLatin1() + "\r\n"; // Windows-1252 here
        EXPECT_EQ(readBytes(logFile), expected);
    }
}

TEST_F(CopyCommandTest, helpAndVersion_printInFrenchAndExitWith0)
{
    const Outcome help = run({ QStringLiteral("--help") });
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.err, QByteArray());
    const QString text = QString::fromUtf8(help.out);
    for (const char *expected :
        { "Utilisation : quillsift-copy [OPTION]... SOURCE DESTINATION FILTRE...", "--dry-run",
            "--verify", "--no-sync", "--settings FICHIER", "Code de retour",
            "erreur d'utilisation" })
        EXPECT_TRUE(text.contains(QString::fromUtf8(expected))) << expected;
    EXPECT_TRUE(text.contains(defaultSettingsFile()));

    const Outcome version = run({ QStringLiteral("--version") });
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "quillsift-copy (Quill Sift) " QS_VERSION "\n");
    EXPECT_EQ(entries(file(QStringLiteral("config"))), QStringList());
}

// Before it exits, the program writes what it copied out to the destination's device (a
// stick may be pulled right after), once; --no-sync, or nothing to write, skips it.
TEST_F(CopyCommandTest, copies_areFlushedToTheDeviceOnceBeforeTheExit_unlessNoSync)
{
    writeFile(QStringLiteral("src/a.txt"), "alpha");
    writeFile(QStringLiteral("src/b.txt"), "beta");
    const struct
    {
        const char *option;
        const char *filter;
        int syncs;
    } cases[] = {
        { "", "*.txt", 1 },
        { "--no-sync", "*.txt", 0 },
        { "--dry-run", "*.txt", 0 },
        { "", "*.none", 0 },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.option) + " " + c.filter);
        const QString trace = file(QStringLiteral("trace.txt"));
        QStringList arguments { QStringLiteral("-f"), QStringLiteral("-qq"), QStringLiteral("-o"),
            trace, QStringLiteral("-e"), QStringLiteral("trace=syncfs"), QStringLiteral("--"),
            QStringLiteral(QS_COPY_PROGRAM), QStringLiteral("--settings"), settings(kPlain) };
        if (*c.option)
            arguments << QLatin1String(c.option);
        arguments << src << dst << QLatin1String(c.filter);
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        // LeakSanitizer stops the world through ptrace, which a traced process cannot do.
        environment.insert(QStringLiteral("ASAN_OPTIONS"),
            environment.value(QStringLiteral("ASAN_OPTIONS")) + QStringLiteral(":detect_leaks=0"));
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral("strace"), arguments);
        ASSERT_TRUE(process.waitForStarted()) << "strace cannot be started: it is needed here";
        ASSERT_TRUE(process.waitForFinished(60000));
        EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().constData();
        EXPECT_EQ(readBytes(trace).count("syncfs("), c.syncs);
    }
}

} // namespace
