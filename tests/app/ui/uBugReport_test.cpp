#include "MainWindowFixture.h"
#include "app/Symbols.h"
#include "app/uBugReport.h"

#include "info/ServerUrls.h"
#include "platform/Error.h"
#include "platform/gui/Application.h"

#include "support/Fixtures.h"
#include "support/Modal.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QMap>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <QUrl>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <functional>
#include <stdexcept>
#include <thread>
#include <vector>

#include <pthread.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// An object whose event handler raises, as a button reaction would.
class FailingObject : public QObject
{
public:
    explicit FailingObject(QString message)
        : m_message(std::move(message))
    {
    }

    bool event(QEvent *event) override
    {
        if (event->type() == QEvent::User)
            throw AppError(m_message);
        return QObject::event(event);
    }

private:
    QString m_message;
};

void raiseThroughEventLoop(const QString &message)
{
    FailingObject object(message);
    QEvent event(QEvent::User);
    QCoreApplication::sendEvent(&object, &event);
}

// Named functions that the reports must show where the error was raised or the program
// crashed. Not inlined, so that each keeps a frame of its own.
constexpr int namedThrowLine = __LINE__ + 3;
[[gnu::noinline]] void raiseInNamedFunction(const QString &message)
{
    throw AppError(message);
}

[[gnu::noinline]] int readPastTheEnd()
{
    return std::vector<int>().at(3);
}

constexpr int namedIntegerLine = __LINE__ + 3;
[[gnu::noinline]] void raiseAnInteger()
{
    throw 42;
}

// Raised with another exception thrown and caught on the way out, as a destructor may do.
[[gnu::noinline]] void raiseWithAnotherCaughtOnTheWay(const QString &message)
{
    struct Guard
    {
        ~Guard()
        {
            try {
                throw std::runtime_error("caught on the way");
            } catch (const std::exception &) {
            }
        }
    } guard;
    raiseInNamedFunction(message);
}

// An object whose event handler runs what it is given, as a button reaction would.
class RunningObject : public QObject
{
public:
    explicit RunningObject(std::function<void()> action)
        : m_action(std::move(action))
    {
    }

    bool event(QEvent *event) override
    {
        if (event->type() == QEvent::User) {
            m_action();
            return true;
        }
        return QObject::event(event);
    }

private:
    std::function<void()> m_action;
};

void runThroughEventLoop(std::function<void()> action)
{
    RunningObject object(std::move(action));
    QEvent event(QEvent::User);
    QCoreApplication::sendEvent(&object, &event);
}

constexpr int namedCrashLine = __LINE__ + 4;
[[gnu::noinline]] void crashInNamedFunction()
{
    volatile std::uintptr_t address = 16;
    *reinterpret_cast<volatile int *>(address) = 1;
}

[[gnu::noinline]] void waitInNamedFunction(const std::atomic<bool> &stop)
{
    while (!stop.load())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

// A thread of the program that sleeps in waitInNamedFunction() under a name of its own.
class NamedThread
{
public:
    explicit NamedThread(const char *name)
        : m_thread([this, name] {
            pthread_setname_np(pthread_self(), name);
            m_started = true;
            waitInNamedFunction(m_stop);
        })
    {
        while (!m_started.load())
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ~NamedThread()
    {
        m_stop = true;
        m_thread.join();
    }
    NamedThread(const NamedThread &) = delete;
    NamedThread &operator=(const NamedThread &) = delete;

private:
    std::atomic<bool> m_stop { false };
    std::atomic<bool> m_started { false };
    std::thread m_thread;
};

// The end of a resolved frame in one of the named functions above: the function (or a copy
// the optimiser made of it), and its file and line where the test has debug information.
QRegularExpression resolvedIn(const QString &function, int line = 0)
{
    QString pattern = u": (\\(anonymous namespace\\)::)?"_s + QRegularExpression::escape(function)
        + u"( \\[clone [^\\]]+\\])*"_s;
#ifdef QS_TEST_DEBUG_INFO
    if (line > 0)
        pattern += u" at \\S*/uBugReport_test\\.cpp:"_s + QString::number(line);
    else
        pattern += u"( at \\S+:\\d+)?"_s; // inlined code shows its own file
#else
    Q_UNUSED(line);
    pattern += u"( at \\S+:\\d+)?"_s;
#endif
    return QRegularExpression(pattern + u"$"_s);
}

QAbstractButton *buttonWithText(QWidget *dialog, const QString &text)
{
    for (QAbstractButton *button : dialog->findChildren<QAbstractButton *>()) {
        if (button->text() == text)
            return button;
    }
    return nullptr;
}

// The header line, then date and time, version, message and a call stack of one frame or
// more, with more sections, all of non-empty lines, up to an empty line.
QRegularExpression recordPattern(const QString &error)
{
    return QRegularExpression(u"==== Quill Sift bug report \\(running processes are left out on "
                              u"purpose: they are other people's data\\) ====\n"
                              u"Date: \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d [+-]\\d\\d:\\d\\d\n"
                              "Version: "_s
        + QRegularExpression::escape(QStringLiteral(QS_EXPECTED_VERSION)) + u"\nError: "_s
        + QRegularExpression::escape(error) + u"\nCall stack[^\n]*:\n(  #\\d+ .+\n)+(.+\n)*\n"_s);
}

// The lines of one section of a record: those after its heading that are indented.
QStringList section(const QString &record, const QString &heading)
{
    const QStringList lines = record.split(u'\n');
    QStringList found;
    qsizetype at = -1;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (lines[i].startsWith(heading)) {
            at = i;
            break;
        }
    }
    if (at < 0)
        return found;
    for (qsizetype i = at + 1; i < lines.size() && lines[i].startsWith(u"  "_s); ++i)
        found.append(lines[i]);
    return found;
}

class UrlRecorder : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> urls;

public slots:
    void open(const QUrl &url) { urls.append(url); }
};

// The values of a mailto: link's query, decoded.
QMap<QString, QString> mailFields(const QUrl &mail)
{
    QMap<QString, QString> fields;
    for (const QByteArray &pair : mail.query(QUrl::FullyEncoded).toLatin1().split('&')) {
        const qsizetype equal = pair.indexOf('=');
        fields.insert(
            QString::fromLatin1(pair.left(equal)), QUrl::fromPercentEncoding(pair.mid(equal + 1)));
    }
    return fields;
}

// Runs action once the dialog, closed by a button, is the modal window again.
void whenBackAgain(
    QPointer<QWidget> dialog, std::function<void(QWidget *)> action, int triesLeft = 500)
{
    QTimer::singleShot(10, qApp, [=] {
        if (dialog && dialog->isVisible() && QApplication::activeModalWidget() == dialog) {
            action(dialog);
            return;
        }
        if (!dialog || triesLeft == 0)
            return;
        whenBackAgain(dialog, action, triesLeft - 1);
    });
}

class BugReportTest : public uitest::MainWindowFixture
{
protected:
    void SetUp() override
    {
        MainWindowFixture::SetUp();
        bugreport::installErrorReporting();
    }

    void TearDown() override
    {
        testsupport::installErrorRecorder();
        MainWindowFixture::TearDown();
    }

    QString reportFile() const { return settingsFile(u"bugreport.txt"_s); }
};

TEST_F(BugReportTest, uncaughtError_isAppendedToTheReportAndShownUntilContinue)
{
    QString caption;
    QString text;
    QStringList buttons;
    QString defaultButton;
    Qt::TextFormat format = Qt::AutoText;
    testsupport::onNextModal([&](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        ASSERT_NE(box, nullptr);
        caption = box->windowTitle();
        text = box->text();
        format = box->textFormat();
        for (QAbstractButton *button : box->buttons())
            buttons.append(button->text());
        defaultButton = box->defaultButton() ? box->defaultButton()->text() : QString();
        buttonWithText(box, u"Continue"_s)->click();
    });
    raiseThroughEventLoop(u"Impossible de créer le fichier \"x\". Accès refusé"_s);

    EXPECT_EQ(caption, u"Quill Sift"_s);
    EXPECT_EQ(text,
        u"An error occurred in the application.\n\nImpossible de créer le fichier \"x\". "
        "Accès refusé"_s);
    buttons.sort();
    EXPECT_EQ(buttons,
        QStringList({ u"&Send bug report"_s, u"Close application"_s, u"Continue"_s, u"Restart"_s,
            u"Show bug report"_s }));
    EXPECT_EQ(defaultButton, u"Continue"_s);
    // A message from outside (a folder named "<b>…") is shown as it is, not as markup.
    EXPECT_EQ(format, Qt::PlainText);

    testsupport::answerNextModal(u"Continue"_s);
    raiseThroughEventLoop(u"second"_s);

    const QString report = QString::fromUtf8(testsupport::readBytes(reportFile()));
    const QRegularExpressionMatch first
        = recordPattern(u"Impossible de créer le fichier \"x\". Accès refusé"_s).match(report);
    ASSERT_TRUE(first.hasMatch()) << report.toStdString();
    EXPECT_EQ(first.capturedStart(), 0);
    const QRegularExpressionMatch second = recordPattern(u"second"_s).match(report);
    ASSERT_TRUE(second.hasMatch()) << report.toStdString();
    EXPECT_EQ(second.capturedStart(), first.capturedEnd()) << "appended after the first one";
    EXPECT_EQ(second.capturedEnd(), report.size());
}

TEST_F(BugReportTest, showBugReport_showsTheWrittenRecordReadOnly_thenBackToTheDialog)
{
    QString shown;
    bool readOnly = false;
    int errorDialogs = 0;
    Qt::TextFormat whereFormat = Qt::AutoText;
    testsupport::onNextModal([&](QWidget *box) {
        ++errorDialogs;
        testsupport::onNextModal([&](QWidget *viewer) {
            if (auto *where = viewer->findChild<QLabel *>(u"lblReportFile"_s))
                whereFormat = where->textFormat();
            auto *text = viewer->findChild<QPlainTextEdit *>();
            ASSERT_NE(text, nullptr);
            shown = text->toPlainText();
            readOnly = text->isReadOnly();
            testsupport::onNextModal([&](QWidget *again) {
                ++errorDialogs;
                buttonWithText(again, u"Continue"_s)->click();
            });
            buttonWithText(viewer, u"Close"_s)->click();
        });
        buttonWithText(box, u"Show bug report"_s)->click();
    });
    raiseThroughEventLoop(u"shown error"_s);

    EXPECT_EQ(errorDialogs, 2);
    EXPECT_EQ(whereFormat, Qt::PlainText) << "the report file's path is shown as it is";
    EXPECT_TRUE(readOnly);
    EXPECT_EQ(shown, QString::fromUtf8(testsupport::readBytes(reportFile())));
    EXPECT_TRUE(recordPattern(u"shown error"_s).match(shown).hasMatch()) << shown.toStdString();
}

// The report goes to the user's own mail program, addressed to the publisher's support; the
// dialog stays for the user's next choice.
TEST_F(BugReportTest, sendBugReport_opensAMailWithTheReportAndTheDialogStays)
{
    UrlRecorder mailer;
    QDesktopServices::setUrlHandler(u"mailto"_s, &mailer, "open");
    const QString awkward = u"Accès refusé à \"a&body=b+c%20d#e?f=g\" 😀"_s;
    // Every report is longer than a mail link takes (the modules alone are), so the mail is
    // the report's beginning: with a short message, the message and where it was raised.
    struct Case
    {
        const char *what;
        QString message;
        bool keepsWhereRaised;
    };
    const Case cases[] = {
        { "a short message", awkward + u"\nsecond line"_s, true },
        { "a very long message", awkward + u"\n"_s + QString(20000, u'é') + u"😀 end"_s, false },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(reportFile());
        mailer.urls.clear();
        QStringList dialogs;
        testsupport::onNextModal([&](QWidget *box) {
            dialogs.append(box->objectName());
            auto *send = box->findChild<QPushButton *>(u"bbtSendBugReport"_s);
            if (!send) {
                ADD_FAILURE() << "no bbtSendBugReport button";
                buttonWithText(box, u"Continue"_s)->click();
                return;
            }
            send->click();
            whenBackAgain(box, [&](QWidget *again) {
                dialogs.append(again->objectName());
                buttonWithText(again, u"Continue"_s)->click();
            });
        });
        raiseThroughEventLoop(c.message);

        EXPECT_EQ(dialogs, QStringList({ u"dlgErrorReport"_s, u"dlgErrorReport"_s }));
        ASSERT_EQ(mailer.urls.size(), 1);
        const QUrl &mail = mailer.urls.constFirst();
        EXPECT_EQ(mail.scheme(), u"mailto"_s);
        EXPECT_EQ(mail.path(), info::supportAddress());
        const QMap<QString, QString> fields = mailFields(mail);
        EXPECT_EQ(fields.keys(), QStringList({ u"body"_s, u"subject"_s }));
        EXPECT_EQ(fields.value(u"subject"_s),
            u"Quill Sift %1 bug report: %2"_s.arg(QStringLiteral(QS_EXPECTED_VERSION), awkward));

        const QString record = QString::fromUtf8(testsupport::readBytes(reportFile()));
        ASSERT_TRUE(recordPattern(c.message).match(record).hasMatch()) << record.toStdString();
        const QString body = fields.value(u"body"_s);
        EXPECT_EQ(body.count(u'\n'), body.count(u"\r\n"_s)) << "lines end with CR LF";
        QString lines = body;
        lines.replace(u"\r\n"_s, u"\n"_s);
        const QString note
            = u"\n[The report is shortened here; the whole report is in %1]\n"_s.arg(reportFile());
        ASSERT_TRUE(lines.endsWith(note)) << lines.right(200).toStdString();
        const QString kept = lines.chopped(note.size());
        EXPECT_TRUE(record.startsWith(kept));
        EXPECT_TRUE(kept.contains(awkward));
        EXPECT_FALSE(kept.contains(QChar::ReplacementCharacter)) << "no character cut in two";
        EXPECT_LT(mail.toEncoded().size(), 8000);
        if (c.keepsWhereRaised) {
            const qsizetype top = record.indexOf(u"\n  #0 "_s);
            ASSERT_GT(top, 0);
            EXPECT_GT(kept.size(), record.indexOf(u'\n', top + 1)) << kept.toStdString();
        }
    }
    QDesktopServices::unsetUrlHandler(u"mailto"_s);
}

// The stack is the one of the throw, for an error of ours, of the standard library and of
// any other type; an exception thrown and caught while the error leaves does not take its
// place. The other threads are there by name with their stacks, then the modules, the
// processor and the memory.
TEST_F(BugReportTest, uncaughtError_reportShowsWhereItWasRaisedAndTheWholeProgram)
{
    NamedThread worker("qs-worker");
    const struct
    {
        const char *name;
        std::function<void()> raise;
        QString error;
        QRegularExpression raisedIn;
    } cases[] = {
        { "an error of ours", [] { raiseInNamedFunction(u"Erreur nommée"_s); }, u"Erreur nommée"_s,
            resolvedIn(u"raiseInNamedFunction(QString const&)"_s, namedThrowLine) },
        { "from the standard library", [] { readPastTheEnd(); },
            u"vector::_M_range_check: __n (which is 3) >= this->size() (which is 0)"_s,
            resolvedIn(u"readPastTheEnd()"_s) },
        { "not an exception class", [] { raiseAnInteger(); }, u"Unknown error"_s,
            resolvedIn(u"raiseAnInteger()"_s, namedIntegerLine) },
        { "another caught on the way", [] { raiseWithAnotherCaughtOnTheWay(u"Erreur nommée"_s); },
            u"Erreur nommée"_s,
            resolvedIn(u"raiseInNamedFunction(QString const&)"_s, namedThrowLine) },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(reportFile());
        testsupport::answerNextModal(u"Continue"_s);
        runThroughEventLoop(c.raise);

        const QString report = QString::fromUtf8(testsupport::readBytes(reportFile()));
        ASSERT_TRUE(recordPattern(c.error).match(report).hasMatch()) << report.toStdString();
        const QStringList stack
            = section(report, u"Call stack where the error was raised, thread "_s);
        ASSERT_FALSE(stack.isEmpty()) << report.toStdString();
        static const QRegularExpression ownFrame(
            u"^  #\\d+ 0x[0-9a-f]{16} in app_ui_uBugReport_test\\+0x[0-9a-f]+: "_s);
        qsizetype raisedAt = -1;
        for (qsizetype i = 0; i < stack.size() && raisedAt < 0; ++i) {
            if (stack[i].contains(ownFrame) && stack[i].contains(c.raisedIn))
                raisedAt = i;
        }
        EXPECT_GE(raisedAt, 0) << report.toStdString();
        EXPECT_LE(raisedAt, 1) << "the throw is at the top, below the library's own frame";
        EXPECT_EQ(stack.indexOf(QRegularExpression(u".*Application::notify.*"_s)) > raisedAt, true);

        const QStringList threads = section(report, u"Other threads:"_s);
        const qsizetype workerAt
            = threads.indexOf(QRegularExpression(u"^  Thread \\d+ \"qs-worker\":$"_s));
        ASSERT_GE(workerAt, 0) << report.toStdString();
        bool waiting = false;
        for (qsizetype i = workerAt + 1; i < threads.size() && threads[i].startsWith(u"    #"_s);
             ++i)
            waiting = waiting || threads[i].contains(u"waitInNamedFunction("_s);
        EXPECT_TRUE(waiting) << report.toStdString();

        const QStringList modules = section(report, u"Modules (load address, build ID, file):"_s);
        EXPECT_GE(
            modules.indexOf(QRegularExpression(u"^  0x[0-9a-f]{16} [0-9a-f]{40} "_s
                + QRegularExpression::escape(QCoreApplication::applicationFilePath()) + u"$"_s)),
            0)
            << report.toStdString();
        EXPECT_GE(modules.indexOf(QRegularExpression(u".* /.*/libQt6Core\\.so[.0-9]*$"_s)), 0);
        EXPECT_TRUE(report.contains(QRegularExpression(u"\nProcessor: .+, \\d+ cores online\n"_s)));
        EXPECT_TRUE(report.contains(
            QRegularExpression(u"\nMemory: total \\d+ MiB, available \\d+ MiB\nModules "_s)));
    }
}

// The crash handlers run in a child process that then really crashes, beside a thread of its
// own. Its record is in the report file and kept for the next start.
TEST_F(BugReportTest, crash_writesARecordBeforeTheProgramEnds)
{
    const struct
    {
        const char *name;
        std::function<void()> crash;
        QString error;
        bool bySignal;
    } cases[] = {
        { "abort", [] { std::abort(); }, u"Crash: signal SIGABRT (abort)"_s, true },
        { "segmentation fault", [] { crashInNamedFunction(); },
            u"Crash: signal SIGSEGV (invalid memory access)"_s, true },
        { "uncaught exception",
            [] {
                try {
                    raiseInNamedFunction(u"Erreur fatale"_s);
                } catch (...) {
                    std::terminate();
                }
            },
            u"Uncaught exception (std::terminate): Erreur fatale"_s, false },
    };
    const QString report = file(u"crash.txt"_s);
    const QString pending = bugreport::pendingCrashFile(report);
    EXPECT_EQ(pending, file(u"lastcrash.txt"_s));
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(report);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const rlimit noCore { 0, 0 };
            setrlimit(RLIMIT_CORE, &noCore);
            bugreport::installCrashHandlers(report);
            NamedThread waiter("qs-waiter");
            c.crash();
            _exit(0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status)) << "the program still ends as it would have";
        const QString written = QString::fromUtf8(testsupport::readBytes(report));
        ASSERT_TRUE(recordPattern(c.error).match(written).hasMatch()) << written.toStdString();
        EXPECT_EQ(QString::fromUtf8(testsupport::readBytes(pending)), written);

        const QStringList threads = section(written, u"Other threads:"_s);
        const qsizetype waiterAt
            = threads.indexOf(QRegularExpression(u"^  Thread \\d+ \"qs-waiter\":$"_s));
        ASSERT_GE(waiterAt, 0) << written.toStdString();
        EXPECT_TRUE(
            threads.value(waiterAt + 1)
                .contains(QRegularExpression(u"^    #0 0x[0-9a-f]{16} in \\S+\\+0x[0-9a-f]+"_s)))
            << "raw frames: nothing is resolved in a signal handler";
        const QStringList modules = section(written, u"Modules (load address, build ID, file):"_s);
        EXPECT_GE(
            modules.indexOf(QRegularExpression(u"^  0x[0-9a-f]{16} [0-9a-f]{40} "_s
                + QRegularExpression::escape(QCoreApplication::applicationFilePath()) + u"$"_s)),
            0)
            << written.toStdString();

        const QStringList registers = section(written, u"Registers:"_s);
        EXPECT_EQ(registers.isEmpty(), !c.bySignal) << written.toStdString();
#if defined(__x86_64__)
        if (c.bySignal) {
            EXPECT_TRUE(
                registers.join(u'\n').contains(QRegularExpression(u"rip 0x[0-9a-f]{16}"_s)));
        }
#endif
        if (std::string(c.name) == "segmentation fault") {
            EXPECT_EQ(
                registers.value(0).section(u"  "_s, 1, 1), u"fault address 0x0000000000000010"_s);
            const QStringList stack = section(written, u"Call stack at the crash, thread "_s);
            ASSERT_FALSE(stack.isEmpty());
            EXPECT_TRUE(stack[0].endsWith(u" (interrupted here)"_s)) << stack[0].toStdString();
            const QString resolved
                = QString::fromStdString(bugreport::resolveFrames(written.toStdString()));
            const QStringList resolvedStack
                = section(resolved, u"Call stack at the crash, thread "_s);
            EXPECT_TRUE(resolvedStack.value(0).contains(
                resolvedIn(u"crashInNamedFunction()"_s, namedCrashLine)))
                << resolved.toStdString();
        }
        if (!c.bySignal) {
            const QString resolved
                = QString::fromStdString(bugreport::resolveFrames(written.toStdString()));
            const QStringList stack
                = section(resolved, u"Call stack where the error was raised, thread "_s);
            EXPECT_TRUE(stack.value(0).contains(
                resolvedIn(u"raiseInNamedFunction(QString const&)"_s, namedThrowLine)))
                << resolved.toStdString();
        }
    }
}

// After a crash by signal, the next start offers its report, resolved, once.
TEST_F(BugReportTest, crashBySignal_isOfferedOnceAtTheNextStart)
{
    makeDir(uitest::kSettings); // as the start-up that ran before the crash left it
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const rlimit noCore { 0, 0 };
        setrlimit(RLIMIT_CORE, &noCore);
        bugreport::installCrashHandlers(reportFile());
        crashInNamedFunction();
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status));
    ASSERT_EQ(WTERMSIG(status), SIGSEGV);
    const QString crashRecord = QString::fromUtf8(testsupport::readBytes(reportFile()));

    QString text;
    QStringList buttons;
    QString shown;
    testsupport::onNextModal([&](QWidget *box) {
        text = testsupport::dialogText(box);
        for (QAbstractButton *button : box->findChildren<QAbstractButton *>())
            buttons.append(button->text());
        testsupport::onNextModal([&](QWidget *viewer) {
            if (auto *memo = viewer->findChild<QPlainTextEdit *>())
                shown = memo->toPlainText();
            testsupport::onNextModal(
                [&](QWidget *again) { buttonWithText(again, u"Close"_s)->click(); });
            buttonWithText(viewer, u"Close"_s)->click();
        });
        buttonWithText(box, u"Show bug report"_s)->click();
    });
    EXPECT_TRUE(bugreport::offerReportOfLastCrash(reportFile(), nullptr));

    EXPECT_EQ(text,
        u"Quill Sift ended unexpectedly the last time it ran.\n\n"
        "Crash: signal SIGSEGV (invalid memory access)"_s);
    buttons.sort();
    EXPECT_EQ(buttons, QStringList({ u"&Send bug report"_s, u"Close"_s, u"Show bug report"_s }));
    const QStringList stack = section(shown, u"Call stack at the crash, thread "_s);
    EXPECT_TRUE(stack.value(0).contains(resolvedIn(u"crashInNamedFunction()"_s, namedCrashLine)))
        << shown.toStdString();
    EXPECT_FALSE(section(shown, u"Registers:"_s).isEmpty());
    const QString report = QString::fromUtf8(testsupport::readBytes(reportFile()));
    EXPECT_EQ(report, crashRecord + shown) << "the resolved record is added after the crash's own";
    EXPECT_FALSE(QFile::exists(bugreport::pendingCrashFile(reportFile())));

    // The next start: nothing to offer. A dialog, if one came, would be closed here.
    bool offeredAgain = false;
    QTimer::singleShot(2000, qApp, [&] {
        if (QWidget *modal = QApplication::activeModalWidget()) {
            offeredAgain = true;
            modal->close();
        }
    });
    EXPECT_FALSE(bugreport::offerReportOfLastCrash(reportFile(), nullptr));
    EXPECT_FALSE(offeredAgain);
    EXPECT_EQ(testsupport::readBytes(reportFile()), report.toUtf8());
}

} // namespace

#include "uBugReport_test.moc"
