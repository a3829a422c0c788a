#include "app/uBugReport.h"

#include "info/ServerUrls.h"
#include "platform/Error.h"
#include "platform/Paths.h"
#include "platform/PosixIo.h"
#include "platform/gui/Application.h"
#include "platform/gui/WindowKeys.h"
#include "settings/Settings.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <exception>

#include <execinfo.h>
#include <fcntl.h>
#include <unistd.h>

#ifndef QS_VERSION
#error "QS_VERSION must be given by the build"
#endif

using namespace Qt::Literals::StringLiterals;

namespace bugreport {

namespace {

constexpr int maxFrames = 64;

// ---- Pieces shared by the ordinary record and the crash record. Everything here must be
// safe to call from a signal handler: no allocation, no locks, no stdio.

std::size_t safeLength(const char *text)
{
    std::size_t n = 0;
    while (text[n] != '\0')
        ++n;
    return n;
}

void safeWrite(int fd, const char *text, std::size_t size)
{
    while (size > 0) {
        const ssize_t done = ::write(fd, text, size);
        if (done < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        text += done;
        size -= static_cast<std::size_t>(done);
    }
}

void safeWrite(int fd, const char *text)
{
    safeWrite(fd, text, safeLength(text));
}

char *putNumber(char *out, long long value, int digits)
{
    for (int i = digits - 1; i >= 0; --i) {
        out[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    return out + digits;
}

// "YYYY-MM-DD HH:MM:SS +HH:MM" for a time and its offset from UTC, without the C
// library's time functions (they take locks).
void formatStamp(char out[32], std::time_t seconds, long utcOffset)
{
    const long long local = static_cast<long long>(seconds) + utcOffset;
    long long days = local / 86400;
    long long rest = local % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    // Days since 1970-01-01 to a civil date (proleptic Gregorian calendar).
    const long long z = days + 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const long long doe = z - era * 146097;
    const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long long mp = (5 * doy + 2) / 153;
    const long long day = doy - (153 * mp + 2) / 5 + 1;
    const long long month = mp < 10 ? mp + 3 : mp - 9;
    const long long year = yoe + era * 400 + (month <= 2 ? 1 : 0);

    char *p = putNumber(out, year, 4);
    *p++ = '-';
    p = putNumber(p, month, 2);
    *p++ = '-';
    p = putNumber(p, day, 2);
    *p++ = ' ';
    p = putNumber(p, rest / 3600, 2);
    *p++ = ':';
    p = putNumber(p, rest / 60 % 60, 2);
    *p++ = ':';
    p = putNumber(p, rest % 60, 2);
    *p++ = ' ';
    const long offset = utcOffset < 0 ? -utcOffset : utcOffset;
    *p++ = utcOffset < 0 ? '-' : '+';
    p = putNumber(p, offset / 3600, 2);
    *p++ = ':';
    p = putNumber(p, offset / 60 % 60, 2);
    *p = '\0';
}

long currentUtcOffset()
{
    const std::time_t now = std::time(nullptr);
    std::tm parts {};
    if (!localtime_r(&now, &parts))
        return 0;
    return parts.tm_gmtoff;
}

const char *versionText()
{
    return QS_VERSION;
}

// ---- The crash record: prepared at installation, written from the handlers.

struct CrashState
{
    char path[4096] = {};
    long utcOffset = 0;
};

CrashState crashState;
volatile std::sig_atomic_t crashing = 0;

#if !defined(__SANITIZE_ADDRESS__)
// Lets the handler run when the crash is a stack overflow.
alignas(16) char alternateStack[64 * 1024];
#endif

void writeCrashRecord(const char *what, const char *detail)
{
    int fd = ::open(crashState.path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    const bool toFile = fd >= 0;
    if (!toFile)
        fd = STDERR_FILENO;

    struct timespec now = {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    char stamp[32];
    formatStamp(stamp, now.tv_sec, crashState.utcOffset);

    safeWrite(fd, "==== Quill Sift bug report ====\nDate: ");
    safeWrite(fd, stamp);
    safeWrite(fd, "\nVersion: ");
    safeWrite(fd, versionText());
    safeWrite(fd, "\nError: ");
    safeWrite(fd, what);
    if (detail)
        safeWrite(fd, detail);
    safeWrite(fd, "\nCall stack:\n");
    void *frames[maxFrames];
    const int count = ::backtrace(frames, maxFrames);
    ::backtrace_symbols_fd(frames, count, fd);
    safeWrite(fd, "\n");

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

void onCrashSignal(int signal)
{
    const int savedErrno = errno;
    if (!crashing) {
        crashing = 1;
        writeCrashRecord(signalText(signal), nullptr);
    }
    errno = savedErrno;
    // SA_RESETHAND has put the default action back: the program ends as it would have.
    ::raise(signal);
}

[[noreturn]] void onTerminate()
{
    if (!crashing) {
        crashing = 1;
        const char *detail = "unknown exception";
        const std::exception_ptr current = std::current_exception();
        if (!current) {
            detail = "no active exception";
        } else {
            try {
                std::rethrow_exception(current);
            } catch (const std::exception &error) {
                detail = error.what();
            } catch (...) {
            }
        }
        writeCrashRecord("Uncaught exception (std::terminate): ", detail);
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

QString callStack()
{
    void *frames[maxFrames];
    const int count = ::backtrace(frames, maxFrames);
    char **symbols = ::backtrace_symbols(frames, count);
    if (!symbols)
        return u"(not available)\n"_s;
    QString stack;
    for (int i = 0; i < count; ++i)
        stack += QString::fromLocal8Bit(symbols[i]) + u'\n';
    std::free(symbols);
    return stack;
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

void showErrorDialog(
    const QString &message, const QString &record, const QString &file, bool written)
{
    QMessageBox box(QMessageBox::Critical, u"Quill Sift"_s,
        u"An error occurred in the application.\n\n"_s + message, QMessageBox::NoButton,
        QApplication::activeWindow());
    box.setObjectName(u"dlgErrorReport"_s);
    QPushButton *continueButton = box.addButton(u"Continue"_s, QMessageBox::AcceptRole);
    QPushButton *restartButton = box.addButton(u"Restart"_s, QMessageBox::ActionRole);
    QPushButton *closeButton = box.addButton(u"Close application"_s, QMessageBox::DestructiveRole);
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
        if (clicked == restartButton) {
            if (QProcess::startDetached(platform::executablePath(), {}))
                endProgram();
            QMessageBox::warning(&box, u"Quill Sift"_s, u"The program could not be restarted."_s);
            continue;
        }
        if (clicked == closeButton)
            endProgram();
        return;
    }
}

} // namespace

QString programVersion()
{
    return QString::fromLatin1(versionText());
}

QString reportFilePath()
{
    return locateSettingsFolder().FRepConfig + u"bugreport.txt"_s;
}

QString appendReport(const QString &reportFile, const QString &message, bool *written)
{
    char stamp[32];
    formatStamp(stamp, std::time(nullptr), currentUtcOffset());
    const QString record = u"==== Quill Sift bug report ====\nDate: "_s + QString::fromLatin1(stamp)
        + u"\nVersion: "_s + programVersion() + u"\nError: "_s + message + u"\nCall stack:\n"_s
        + callStack() + u'\n';

    // By the bytes of its path, as the crash handler writes it: a settings folder whose name
    // is not UTF-8 gets its one report file.
    const QByteArray bytes = record.toUtf8();
    bool ok = false;
    if (!reportFile.isEmpty()) {
        const int fd = ::open(platform::encodePath(reportFile).constData(),
            O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
        ok = fd >= 0
            && platform::posixio::writeAll(fd, bytes.constData(), size_t(bytes.size())) == 0;
        if (fd >= 0 && platform::posixio::closeChecked(fd) != 0)
            ok = false;
    }
    if (written)
        *written = ok;
    return record;
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
        showErrorDialog(message, record, file, written);
    } catch (...) {
    }
    --showing;
}

void installErrorReporting()
{
    platform::setUncaughtErrorHandler(
        [](const std::exception &error) { reportError(messageOf(error)); });
}

void installCrashHandlers(const QString &reportFile)
{
    const QByteArray path = platform::encodePath(reportFile);
    if (path.size() < qsizetype(sizeof crashState.path)) {
        std::copy(path.begin(), path.end(), crashState.path);
        crashState.path[path.size()] = '\0';
    }
    crashState.utcOffset = currentUtcOffset();

    // backtrace() loads its unwinder on first use, which allocates: not in a handler.
    void *frames[1];
    ::backtrace(frames, 1);

    int flags = SA_RESETHAND | SA_NODEFER;
#if !defined(__SANITIZE_ADDRESS__)
    stack_t stack = {};
    stack.ss_sp = alternateStack;
    stack.ss_size = sizeof alternateStack;
    if (::sigaltstack(&stack, nullptr) == 0)
        flags |= SA_ONSTACK;
#endif
    struct sigaction action = {};
    action.sa_handler = onCrashSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = flags;
    for (int signal : { SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT })
        ::sigaction(signal, &action, nullptr);
    std::set_terminate(onTerminate);
}

} // namespace bugreport
