#include "MainWindowFixture.h"
#include "app/uBugReport.h"

#include "platform/Error.h"
#include "platform/gui/Application.h"

#include "support/Fixtures.h"
#include "support/Modal.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <exception>
#include <functional>

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

QAbstractButton *buttonWithText(QWidget *dialog, const QString &text)
{
    for (QAbstractButton *button : dialog->findChildren<QAbstractButton *>()) {
        if (button->text() == text)
            return button;
    }
    return nullptr;
}

// "==== ... ====", then date and time, version, message and a call stack of one frame
// or more.
QRegularExpression recordPattern(const QString &error)
{
    return QRegularExpression(u"==== Quill Sift bug report ====\nDate: \\d{4}-\\d\\d-\\d\\d "
                              u"\\d\\d:\\d\\d:\\d\\d [+-]\\d\\d:\\d\\d\n"
                              "Version: "_s
        + QRegularExpression::escape(QStringLiteral(QS_EXPECTED_VERSION)) + u"\nError: "_s
        + QRegularExpression::escape(error) + u"\nCall stack:\n(.+\n)+\n"_s);
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
    testsupport::onNextModal([&](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        ASSERT_NE(box, nullptr);
        caption = box->windowTitle();
        text = box->text();
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
        QStringList({ u"Close application"_s, u"Continue"_s, u"Restart"_s, u"Show bug report"_s }));
    EXPECT_EQ(defaultButton, u"Continue"_s);

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
    testsupport::onNextModal([&](QWidget *box) {
        ++errorDialogs;
        testsupport::onNextModal([&](QWidget *viewer) {
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
    EXPECT_TRUE(readOnly);
    EXPECT_EQ(shown, QString::fromUtf8(testsupport::readBytes(reportFile())));
    EXPECT_TRUE(recordPattern(u"shown error"_s).match(shown).hasMatch()) << shown.toStdString();
}

// The crash handlers run in a child process that then really crashes.
TEST_F(BugReportTest, crash_writesARecordBeforeTheProgramEnds)
{
    const struct
    {
        const char *name;
        std::function<void()> crash;
        QString error;
    } cases[] = {
        { "abort", [] { std::abort(); }, u"Crash: signal SIGABRT (abort)"_s },
        { "segmentation fault", [] { std::raise(SIGSEGV); },
            u"Crash: signal SIGSEGV (invalid memory access)"_s },
        { "uncaught exception",
            [] {
                try {
                    throw AppError(u"Erreur fatale"_s);
                } catch (...) {
                    std::terminate();
                }
            },
            u"Uncaught exception (std::terminate): Erreur fatale"_s },
    };
    const QString report = file(u"crash.txt"_s);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(report);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const rlimit noCore { 0, 0 };
            setrlimit(RLIMIT_CORE, &noCore);
            bugreport::installCrashHandlers(report);
            c.crash();
            _exit(0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status)) << "the program still ends as it would have";
        const QString written = QString::fromUtf8(testsupport::readBytes(report));
        EXPECT_TRUE(recordPattern(c.error).match(written).hasMatch()) << written.toStdString();
    }
}

} // namespace
