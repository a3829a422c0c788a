#include "cli/CopyCommand.h"

#include "copy/CopyEngine.h"
#include "copy/PackedLines.h"
#include "platform/Error.h"
#include "platform/ErrorText.h"
#include "platform/Paths.h"
#include "settings/Settings.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <mutex>
#include <stop_token>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace cli {

namespace {

const QString kProgram = QStringLiteral("quillsift-copy");

// Writes the whole buffer; false once the descriptor refuses it (a closed pipe).
bool writeAll(int fd, const QByteArray &bytes)
{
    const char *data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        left -= n;
    }
    return true;
}

// What the program prints is UTF-8 whatever the locale, and valid: a folder argument or a
// name with an undecodable byte shows it as U+FFFD (Qt would write a lone surrogate as '?').
QByteArray printed(const QString &text)
{
    return platform::displayText(text).toUtf8();
}

void sayError(int errFd, const QString &message)
{
    writeAll(errFd, printed(kProgram + QStringLiteral(" : ") + message + u'\n'));
}

QString quoted(const QString &text)
{
    return QStringLiteral("« ") + text + QStringLiteral(" »");
}

// The lines stay in memory, packed, when the log file is to get them, and each one goes out
// as it is logged: at once to a terminal; to a pipe or a file in pieces of up to 64 KiB and at
// least every 100 ms (also while one long copy runs), since a write per line would cost a copy
// of many small files a third of its time.
class ConsoleLog : public LogSink
{
public:
    ConsoleLog(int fd, bool keepLines)
        : m_fd(fd)
        , m_lineByLine(::isatty(fd) == 1)
        , m_keepLines(keepLines)
    {
        if (!m_lineByLine) {
            m_flusher = std::jthread([this](std::stop_token stop) {
                std::unique_lock lock(m_mutex);
                while (!stop.stop_requested()) {
                    m_wake.wait_for(
                        lock, stop, std::chrono::milliseconds(100), [] { return false; });
                    writePending();
                }
            });
        }
    }
    ~ConsoleLog() override { flush(); }

    void append(const QString &line) override
    {
        if (m_keepLines)
            m_lines.append(line);
        const std::lock_guard lock(m_mutex);
        if (m_fd < 0)
            return;
        m_pending += printed(line);
        m_pending += '\n';
        if (m_lineByLine || m_pending.size() >= kPiece)
            writePending();
    }
    qsizetype size() const override { return m_lines.size(); }
    QString at(qsizetype index) const override { return m_lines.at(index); }

    // Writes out everything logged so far and ends the writes every 100 ms: at the end of the
    // run, before a message on standard error.
    void flush()
    {
        if (m_flusher.joinable()) {
            m_flusher.request_stop();
            m_flusher.join();
        }
        const std::lock_guard lock(m_mutex);
        writePending();
    }

    // The errno of the write that failed (after flush), or 0.
    int writeError()
    {
        const std::lock_guard lock(m_mutex);
        return m_writeError;
    }

private:
    static constexpr qsizetype kPiece = 64 * 1024;

    // With m_mutex held.
    void writePending()
    {
        errno = 0;
        if (m_fd >= 0 && !m_pending.isEmpty() && !writeAll(m_fd, m_pending)) {
            // A full disk or a reader that went away: the copy goes on, and says so at the end.
            m_writeError = errno != 0 ? errno : EIO;
            m_fd = -1;
        }
        m_pending.clear();
    }

    int m_fd;
    const bool m_lineByLine;
    const bool m_keepLines;
    int m_writeError = 0;
    QByteArray m_pending;
    std::mutex m_mutex;
    std::condition_variable_any m_wake;
    PackedLines m_lines;
    std::jthread m_flusher; // last: stopped before the rest goes
};

// As coreutils do: a standard output that could not be written (a full disk, a closed pipe)
// is an error that the exit status tells, once the copy has ended.
int withOutputChecked(ConsoleLog &log, int errFd, int status)
{
    log.flush();
    if (const int error = log.writeError()) {
        sayError(errFd,
            QStringLiteral("erreur d'écriture sur la sortie standard : ")
                + platform::sysErrorMessage(error));
        return kExitFailed;
    }
    return status;
}

// A --help or --version text; a failed write ends with status 1, as for the log lines.
int printText(int outFd, int errFd, const QString &text)
{
    errno = 0;
    if (writeAll(outFd, printed(text)))
        return kExitSucceeded;
    sayError(errFd,
        QStringLiteral("erreur d'écriture sur la sortie standard : ")
            + platform::sysErrorMessage(errno != 0 ? errno : EIO));
    return kExitFailed;
}

// The folder the kernel reaches through the typed text: ".." goes up from where the names
// before it lead, links followed, as `ls link/..` sees it, and not by cutting the text. A text
// without ".." keeps its names, links included, as the copy window logs them. 0 or errno.
int folderAsTheKernelWalksIt(const QString &typed, QString &full)
{
    const QStringList names = typed.split(u'/');
    const qsizetype last = names.lastIndexOf(QStringLiteral(".."));
    if (last < 0)
        return platform::fullPathName(typed, full);
    const QByteArray head = platform::encodePath(names.mid(0, last + 1).join(u'/'));
    char *resolved = ::realpath(head.constData(), nullptr);
    if (!resolved)
        return errno;
    const QString base = platform::decodePath(QByteArray(resolved));
    std::free(resolved);
    return platform::fullPathName(base + u'/' + names.mid(last + 1).join(u'/'), full);
}

// The signal that asked the run to stop, or 0. Set by the handler, which may run on any
// thread: a lock-free atomic is all it may touch.
std::atomic<int> stopSignal = 0;
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void onStopSignal(int signal)
{
    if (stopSignal.exchange(signal) != 0) {
        // The second one: as if there were no handler. The signal is blocked while its
        // handler runs, and ends the program as soon as the handler returns.
        std::signal(signal, SIG_DFL);
        std::raise(signal);
    }
}

// SIGINT and SIGTERM ask the run to stop while it works; the dispositions before are
// restored after it.
class StopSignals
{
public:
    StopSignals()
    {
        stopSignal = 0;
        struct sigaction action = {};
        action.sa_handler = onStopSignal;
        sigemptyset(&action.sa_mask);
        // The copy in progress goes on where the signal found it.
        action.sa_flags = SA_RESTART;
        ::sigaction(SIGINT, &action, &m_int);
        ::sigaction(SIGTERM, &action, &m_term);
    }
    ~StopSignals()
    {
        ::sigaction(SIGINT, &m_int, nullptr);
        ::sigaction(SIGTERM, &m_term, nullptr);
    }
    StopSignals(const StopSignals &) = delete;
    StopSignals &operator=(const StopSignals &) = delete;

private:
    struct sigaction m_int = {};
    struct sigaction m_term = {};
};

// An empty text when the path names an existing folder, else why not.
QString checkFolder(const QString &typed, const QString &role, QString &full)
{
    if (folderAsTheKernelWalksIt(typed, full) != 0 || !platform::directoryExists(full)) {
        if (!full.isEmpty() && platform::fileExists(full))
            return QStringLiteral("le dossier ") + role + u' ' + quoted(typed)
                + QStringLiteral(" est un fichier");
        return QStringLiteral("le dossier ") + role + u' ' + quoted(typed)
            + QStringLiteral(" n'existe pas");
    }
    return {};
}

// Reads the settings; an empty text, or the French reason why they cannot be used.
QString loadSettings(const CopyCommandLine &commandLine, tyConfig &config)
{
    const QString file
        = commandLine.hasSettingsFile ? commandLine.settingsFile : settingsPaths().FFichConfig;
    if (commandLine.hasSettingsFile) {
        // A file named on purpose must be there: a typo must not run with the defaults.
        struct stat st = {};
        if (::stat(platform::encodePath(file).constData(), &st) != 0
            && (errno == ENOENT || errno == ENOTDIR))
            return QStringLiteral("le fichier de réglages ") + quoted(file)
                + QStringLiteral(" n'existe pas");
    }
    if (const int error = readConfigStrict(file, config))
        return QStringLiteral("impossible de lire le fichier de réglages ") + quoted(file)
            + QStringLiteral(" : ") + platform::sysErrorMessage(error);
    return {};
}

} // namespace

QString parseCopyCommandLine(const QStringList &arguments, CopyCommandLine &commandLine)
{
    QStringList operands;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (optionsEnded || !argument.startsWith(u'-') || argument == u"-") {
            operands.append(argument);
        } else if (argument == u"--") {
            optionsEnded = true;
        } else if (argument == u"--dry-run") {
            commandLine.dryRun = true;
        } else if (argument == u"--verify") {
            commandLine.verify = true;
        } else if (argument == u"--no-sync") {
            commandLine.noSync = true;
        } else if (argument == u"--help") {
            commandLine.help = true;
        } else if (argument == u"--version") {
            commandLine.version = true;
        } else if (argument == u"--settings") {
            if (i + 1 >= arguments.size())
                return QStringLiteral("l'option --settings attend un FICHIER");
            commandLine.hasSettingsFile = true;
            commandLine.settingsFile = arguments.at(++i);
        } else {
            return QStringLiteral("option inconnue ") + quoted(argument);
        }
    }
    if (commandLine.hasSettingsFile && commandLine.settingsFile.isEmpty())
        return QStringLiteral("l'option --settings attend un FICHIER");
    if (commandLine.help || commandLine.version)
        return {};
    if (operands.size() < 3)
        return QStringLiteral("il manque des arguments : SOURCE, DESTINATION et au moins un "
                              "FILTRE sont attendus");
    commandLine.source = operands.at(0);
    commandLine.destination = operands.at(1);
    commandLine.filters = operands.mid(2);
    return {};
}

QString usageText()
{
    return QStringLiteral(
               "Utilisation : quillsift-copy [OPTION]... SOURCE DESTINATION FILTRE...\n"
               "Copie dans DESTINATION les fichiers placés directement dans SOURCE qui répondent "
               "à un\n"
               "des FILTREs (jokers * et ?), comme la fenêtre de copie de Quill Sift et avec ses "
               "réglages,\n"
               "et affiche chaque ligne du journal dès qu'elle est écrite.\n"
               "\n"
               "Options :\n"
               "  --dry-run          affiche ce que la copie ferait, sans rien copier ni ajouter "
               "au\n"
               "                     fichier journal\n"
               "  --verify           relit chaque fichier copié et le compare à sa source\n"
               "  --no-sync          rend la main sans attendre que les fichiers copiés soient\n"
               "                     écrits sur le support de destination\n"
               "  --settings FICHIER lit les réglages dans FICHIER au lieu de\n"
               "                     ")
        + settingsPaths().FFichConfig
        + QStringLiteral(
            "\n"
            "  --help             affiche cette aide et quitte\n"
            "  --version          affiche la version et quitte\n"
            "  --                 termine les options (un FILTRE peut alors commencer par -)\n"
            "\n"
            "Réglages lus (section [ACME]) : DontReplace, AdaptatFiltre, WithTimestamp, LogFile.\n"
            "Le fichier des réglages n'est jamais écrit.\n"
            "\n"
            "Code de retour :\n"
            "  0  aucun fichier n'a échoué\n"
            "  1  au moins une copie a échoué (ligne « Erreur: »), les fichiers copiés n'ont\n"
            "     pas pu être écrits sur le support, le journal n'a pas pu être ajouté au\n"
            "     fichier journal, ou la sortie standard n'a pas pu être écrite\n"
            "  2  erreur d'utilisation ou de réglages ; rien n'a été copié\n"
            "  130, 143  la copie a été arrêtée par SIGINT (Ctrl+C) ou SIGTERM, après le\n"
            "     fichier en cours ; un second signal arrête le programme aussitôt\n");
}

int runCopyCommand(const QStringList &arguments, int outFd, int errFd)
{
    CopyCommandLine commandLine;
    const QString usageError = parseCopyCommandLine(arguments, commandLine);
    if (!usageError.isEmpty()) {
        sayError(errFd, usageError);
        writeAll(errFd,
            printed(QStringLiteral("Essayez « quillsift-copy --help » pour en savoir plus.\n")));
        return kExitUsage;
    }
    if (commandLine.help)
        return printText(outFd, errFd, usageText());
    if (commandLine.version)
        return printText(
            outFd, errFd, QStringLiteral("quillsift-copy (Quill Sift) " QS_VERSION "\n"));

    tyConfig config;
    QString source;
    QString destination;
    QString problem = loadSettings(commandLine, config);
    if (problem.isEmpty())
        problem = checkFolder(commandLine.source, QStringLiteral("source"), source);
    if (problem.isEmpty())
        problem
            = checkFolder(commandLine.destination, QStringLiteral("de destination"), destination);
    if (!problem.isEmpty()) {
        sayError(errFd, problem);
        return kExitUsage;
    }

    // Only the log file reads the lines again, and a dry run appends nothing to it.
    ConsoleLog log(outFd, !commandLine.dryRun && !config.LogFile.isEmpty());
    // The run looks at the signals where the window's run processes its messages.
    CopyRun run(config, platform::includeTrailingDelimiter(source),
        platform::includeTrailingDelimiter(destination), log, [&run] {
            if (stopSignal != 0)
                run.requestStop();
        });
    run.setDryRun(commandLine.dryRun);
    run.setVerify(commandLine.verify);
    // Before the exit, the copies are written out to the device (a stick may be pulled
    // right after), also when an error ended the run.
    const auto flushCopies = [&] {
        if (!commandLine.noSync)
            run.flushDestination();
        log.flush();
    };
    const StopSignals stopSignals;
    try {
        run.runFilters(commandLine.filters);
        flushCopies();
    } catch (const AppError &error) {
        flushCopies();
        // As in the window: an error that is not a copy's ends the run, without the log file.
        sayError(errFd, QStringLiteral("la copie s'est arrêtée : ") + error.message());
        return withOutputChecked(log, errFd, kExitFailed);
    }
    // Stopped, the run still appends its log, as in the window.
    const int stoppedStatus = run.isStopped() ? 128 + stopSignal : kExitSucceeded;
    try {
        run.appendLogFile();
    } catch (const AppError &error) {
        sayError(errFd,
            QStringLiteral("impossible d'ajouter le journal au fichier ") + quoted(config.LogFile)
                + QStringLiteral(" : ") + error.message());
        return withOutputChecked(
            log, errFd, stoppedStatus != kExitSucceeded ? stoppedStatus : kExitFailed);
    }
    if (stoppedStatus != kExitSucceeded)
        return withOutputChecked(log, errFd, stoppedStatus);
    return withOutputChecked(log, errFd, run.tally().errors > 0 ? kExitFailed : kExitSucceeded);
}

} // namespace cli
