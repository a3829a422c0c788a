#include "app/uBugReport.h"

#include "app/CrashRecord.h"
#include "app/Symbols.h"

#include "info/ServerUrls.h"
#include "platform/Error.h"
#include "platform/Paths.h"
#include "platform/PosixIo.h"
#include "platform/gui/Application.h"
#include "platform/gui/Dialogs.h"
#include "platform/gui/WindowKeys.h"
#include "settings/Settings.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>

#include <fcntl.h>
#include <unistd.h>

#ifndef QS_VERSION
#error "QS_VERSION must be given by the build"
#endif

using namespace Qt::Literals::StringLiterals;

namespace bugreport {

namespace {

// ---- The crash record: prepared at installation, written from the handlers.

struct CrashState
{
    char path[4096] = {};
    // The record of the last crash, for the next start to offer (pendingCrashFile()).
    char pendingPath[4096] = {};
};

CrashState crashState;
volatile std::sig_atomic_t crashing = 0;

#if !defined(__SANITIZE_ADDRESS__)
// Lets the handler run when the crash is a stack overflow.
alignas(16) char alternateStack[64 * 1024];
#endif

void safeWrite(int fd, const char *text)
{
    record::Out out(fd, -1);
    out << text;
}

void writeCrashRecord(const record::Input &input)
{
    int fd = ::open(crashState.path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    const bool toFile = fd >= 0;
    if (!toFile)
        fd = STDERR_FILENO;
    const int pending = crashState.pendingPath[0]
        ? ::open(crashState.pendingPath, O_WRONLY | O_TRUNC | O_CREAT | O_CLOEXEC, 0600)
        : -1;
    {
        record::Out out(fd, pending);
        record::write(out, input);
    }
    if (pending >= 0)
        ::close(pending);
    if (toFile) {
        ::close(fd);
        safeWrite(STDERR_FILENO, "Quill Sift ended after a crash; see ");
        safeWrite(STDERR_FILENO, crashState.path);
        safeWrite(STDERR_FILENO, "\n");
    }
}

const char *signalText(int signal)
{
    switch (signal) {
    case SIGSEGV:
        return "Crash: signal SIGSEGV (invalid memory access)";
    case SIGBUS:
        return "Crash: signal SIGBUS (bus error)";
    case SIGILL:
        return "Crash: signal SIGILL (illegal instruction)";
    case SIGFPE:
        return "Crash: signal SIGFPE (arithmetic error)";
    case SIGABRT:
        return "Crash: signal SIGABRT (abort)";
    default:
        return "Crash: signal";
    }
}

void onCrashSignal(int signal, siginfo_t *info, void *context)
{
    const int savedErrno = errno;
    if (!crashing) {
        crashing = 1;
        record::Input input;
        input.error = signalText(signal);
        input.signalInfo = info;
        input.context = static_cast<const ucontext_t *>(context);
        writeCrashRecord(input);
    }
    errno = savedErrno;
    // SA_RESETHAND has put the default action back: the program ends as it would have.
    ::raise(signal);
}

[[noreturn]] void onTerminate()
{
    if (!crashing) {
        crashing = 1;
        record::Input input;
        input.error = "Uncaught exception (std::terminate): ";
        input.detail = "unknown exception";
        static record::Frames raised;
        const std::exception_ptr current = std::current_exception();
        if (!current) {
            input.detail = "no active exception";
        } else {
            if (record::raisedStackOf(record::currentExceptionObject(), raised))
                input.raised = &raised;
            try {
                std::rethrow_exception(current);
            } catch (const std::exception &error) {
                input.detail = error.what();
            } catch (...) {
            }
        }
        writeCrashRecord(input);
    }
    // The record is written: abort() must not write a second one.
    ::signal(SIGABRT, SIG_DFL);
    std::abort();
}

// ---- The ordinary record and the dialog.

QString messageOf(const std::exception &error)
{
    if (const auto *appError = dynamic_cast<const AppError *>(&error))
        return appError->message();
    return QString::fromLocal8Bit(error.what());
}

[[noreturn]] void endProgram()
{
    // At once: a window that is busy (a copy run) may refuse to close, and the program
    // saves nothing when it ends anyway.
    std::_Exit(EXIT_SUCCESS);
}

void showReport(QWidget *parent, const QString &record, const QString &file, bool written)
{
    QDialog dialog(parent);
    dialog.setObjectName(u"dlgBugReport"_s);
    dialog.setWindowTitle(u"Bug report"_s);
    auto *layout = new QVBoxLayout(&dialog);
    auto *where = new QLabel(
        (written ? u"This report was added to %1"_s : u"This report could not be written to %1"_s)
            .arg(file),
        &dialog);
    where->setObjectName(u"lblReportFile"_s);
    where->setTextFormat(Qt::PlainText);
    where->setWordWrap(true);
    layout->addWidget(where);
    auto *text = new QPlainTextEdit(record, &dialog);
    text->setObjectName(u"memReport"_s);
    text->setReadOnly(true);
    text->setLineWrapMode(QPlainTextEdit::NoWrap);
    text->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    layout->addWidget(text);
    auto *buttons = new QDialogButtonBox(&dialog);
    QPushButton *close = buttons->addButton(u"Close"_s, QDialogButtonBox::RejectRole);
    close->setObjectName(u"bbtClose"_s);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    platform::installWindowKeys(&dialog, close, close);
    layout->addWidget(buttons);
    dialog.resize(640, 400);
    dialog.exec();
}

// Mail programs, and the desktop handing them the link, take only so much: a longer report is
// cut, with a note where to find it whole.
constexpr qsizetype maxEncodedBody = 6000;
constexpr qsizetype maxSubjectMessage = 100;

QByteArray mailEncoded(const QString &text)
{
    return QUrl::toPercentEncoding(text);
}

// Line breaks of a mail body are CR LF.
QString mailLines(QString text)
{
    return text.replace(u"\r\n"_s, u"\n"_s).replace(u'\n', u"\r\n"_s);
}

QByteArray mailBody(const QString &record, const QString &file, bool written)
{
    const QString body = mailLines(record);
    QByteArray encoded = mailEncoded(body);
    if (encoded.size() <= maxEncodedBody)
        return encoded;
    const QString note = mailLines(written
            ? u"\n[The report is shortened here; the whole report is in %1]\n"_s.arg(file)
            : u"\n[The report is shortened here]\n"_s);
    const QByteArray encodedNote = mailEncoded(note);
    const qsizetype budget = std::max<qsizetype>(0, maxEncodedBody - encodedNote.size());
    encoded.clear();
    for (qsizetype at = 0; at < body.size();) {
        // A character and its low surrogate stay together.
        const qsizetype length = body.at(at).isHighSurrogate() && at + 1 < body.size() ? 2 : 1;
        const QByteArray piece = mailEncoded(body.mid(at, length));
        if (encoded.size() + piece.size() > budget)
            break;
        encoded += piece;
        at += length;
    }
    return encoded + encodedNote;
}

// A mail to the publisher's support with the report as its body, for the user's own mail
// program: nothing leaves before the user sends it from there.
QUrl reportMail(const QString &message, const QString &record, const QString &file, bool written)
{
    QString subject = message.section(u'\n', 0, 0).trimmed();
    if (subject.size() > maxSubjectMessage)
        subject = subject.left(maxSubjectMessage - 3) + u"..."_s;
    subject = u"Quill Sift %1 bug report: %2"_s.arg(programVersion(), subject);
    return QUrl::fromEncoded("mailto:" + info::supportAddress().toLatin1()
            + "?subject=" + mailEncoded(subject) + "&body=" + mailBody(record, file, written),
        QUrl::StrictMode);
}

// The error dialog, or after a crash of the last run the notice that offers its report: both
// let the user read the report and send it, as often as wanted, until the dialog is left.
enum class Dialog { Error, LastCrash };

void showReportDialog(Dialog kind, const QString &message, const QString &record,
    const QString &file, bool written, QWidget *parent)
{
    const bool error = kind == Dialog::Error;
    // The message comes from outside (a folder's name, a server's answer): plain text.
    platform::MessageBox box(error ? QMessageBox::Critical : QMessageBox::Information,
        u"Quill Sift"_s,
        (error ? u"An error occurred in the application.\n\n"_s
               : u"Quill Sift ended unexpectedly the last time it ran.\n\n"_s)
            + message,
        QMessageBox::NoButton, parent);
    box.setObjectName(error ? u"dlgErrorReport"_s : u"dlgLastCrash"_s);
    QPushButton *continueButton
        = box.addButton(error ? u"Continue"_s : u"Close"_s, QMessageBox::AcceptRole);
    QPushButton *restartButton
        = error ? box.addButton(u"Restart"_s, QMessageBox::ActionRole) : nullptr;
    QPushButton *closeButton
        = error ? box.addButton(u"Close application"_s, QMessageBox::DestructiveRole) : nullptr;
    QPushButton *showButton = box.addButton(u"Show bug report"_s, QMessageBox::HelpRole);
    QPushButton *sendButton = box.addButton(u"&Send bug report"_s, QMessageBox::ActionRole);
    sendButton->setObjectName(u"bbtSendBugReport"_s);
    box.setDefaultButton(continueButton);
    box.setEscapeButton(continueButton);
    platform::installWindowKeys(&box, continueButton, continueButton);
    for (;;) {
        box.exec();
        const QAbstractButton *clicked = box.clickedButton();
        if (clicked == showButton) {
            showReport(&box, record, file, written);
            continue;
        }
        if (clicked == sendButton) {
            if (!QDesktopServices::openUrl(reportMail(message, record, file, written)))
                QMessageBox::warning(&box, u"Quill Sift"_s,
                    u"No mail program could be opened to send the bug report."_s);
            continue;
        }
        if (clicked && clicked == restartButton) {
            if (QProcess::startDetached(platform::executablePath(), {}))
                endProgram();
            QMessageBox::warning(&box, u"Quill Sift"_s, u"The program could not be restarted."_s);
            continue;
        }
        if (clicked && clicked == closeButton)
            endProgram();
        return;
    }
}

// By the bytes of its path, as the crash handler writes it: a settings folder whose name is
// not UTF-8 gets its one report file.
bool appendToFile(const QString &reportFile, const QByteArray &bytes)
{
    if (reportFile.isEmpty())
        return false;
    const int fd = ::open(platform::encodePath(reportFile).constData(),
        O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const bool ok = platform::posixio::writeAll(fd, bytes.constData(), size_t(bytes.size())) == 0;
    return platform::posixio::closeChecked(fd) == 0 && ok;
}

} // namespace

QString programVersion()
{
    return QStringLiteral(QS_VERSION);
}

QString reportFilePath()
{
    return locateSettingsFolder().FRepConfig + u"bugreport.txt"_s;
}

QString pendingCrashFile(const QString &reportFile)
{
    return QFileInfo(reportFile).dir().filePath(u"lastcrash.txt"_s);
}

QString appendReport(const QString &reportFile, const QString &message, bool *written)
{
    record::prepare();
    const QByteArray error = message.toUtf8();
    record::Input input;
    input.error = error.constData();
    // Inside the top-level handler the exception being handled is the one reported: its
    // stack is the one of its throw. Without one, the stack is this call's.
    record::Frames raised;
    if (record::raisedStackOf(record::currentExceptionObject(), raised))
        input.raised = &raised;
    std::string raw;
    {
        record::Out out(&raw);
        record::write(out, input);
    }
    const std::string resolved = resolveFrames(raw);
    const bool ok = appendToFile(reportFile, QByteArray::fromStdString(resolved));
    if (written)
        *written = ok;
    return QString::fromStdString(resolved);
}

void reportError(const QString &message)
{
    // An error raised while the dialog is open is recorded, not shown on top of it.
    static int showing = 0;
    QString file;
    try {
        file = reportFilePath();
    } catch (...) {
    }
    bool written = false;
    const QString record = appendReport(file, message, &written);
    if (showing > 0)
        return;
    ++showing;
    try {
        showReportDialog(
            Dialog::Error, message, record, file, written, QApplication::activeWindow());
    } catch (...) {
    }
    --showing;
}

bool offerReportOfLastCrash(const QString &reportFile, QWidget *parent)
{
    const QString pending = pendingCrashFile(reportFile);
    QFile file(pending);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // A crash record is a few hundred lines; anything larger is not one of ours.
    const QByteArray raw = file.read(4 * 1024 * 1024);
    file.close();
    // Offered once: what cannot be removed is not offered, so as not to be offered again.
    if (!QFile::remove(pending)
        || !raw.startsWith(QByteArrayView(record::header, std::strlen(record::header))))
        return false;
    const std::string resolved = resolveFrames(raw.toStdString());
    const bool written = appendToFile(reportFile, QByteArray::fromStdString(resolved));
    const QString text = QString::fromStdString(resolved);
    static const QRegularExpression errorLine(
        u"^Error: (.*)$"_s, QRegularExpression::MultilineOption);
    const QString message = errorLine.match(text).captured(1);
    try {
        showReportDialog(Dialog::LastCrash, message, text, reportFile, written, parent);
    } catch (...) {
    }
    return true;
}

void installErrorReporting()
{
    record::prepare();
    platform::setUncaughtErrorHandler(
        [](const std::exception &error) { reportError(messageOf(error)); });
}

void installCrashHandlers(const QString &reportFile)
{
    record::prepare();
    const auto keep = [](char(&target)[sizeof crashState.path], const QString &file) {
        const QByteArray path = platform::encodePath(file);
        target[0] = '\0';
        if (path.size() < qsizetype(sizeof target)) {
            std::copy(path.begin(), path.end(), target);
            target[path.size()] = '\0';
        }
    };
    keep(crashState.path, reportFile);
    keep(crashState.pendingPath, pendingCrashFile(reportFile));

    int flags = SA_RESETHAND | SA_NODEFER | SA_SIGINFO;
#if !defined(__SANITIZE_ADDRESS__)
    stack_t stack = {};
    stack.ss_sp = alternateStack;
    stack.ss_size = sizeof alternateStack;
    if (::sigaltstack(&stack, nullptr) == 0)
        flags |= SA_ONSTACK;
#endif
    struct sigaction action = {};
    action.sa_sigaction = onCrashSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = flags;
    for (int signal : { SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT })
        ::sigaction(signal, &action, nullptr);
    std::set_terminate(onTerminate);
}

} // namespace bugreport
