#include "MainWindowFixture.h"
#include "app/uBugReport.h"

#include "info/ServerUrls.h"
#include "platform/Error.h"
#include "platform/gui/Application.h"

#include "support/Fixtures.h"
#include "support/Modal.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QMap>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <QUrl>

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
        QStringList({ u"&Send bug report"_s, u"Close application"_s, u"Continue"_s, u"Restart"_s,
            u"Show bug report"_s }));
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

// The report goes to the user's own mail program, addressed to the publisher's support; the
// dialog stays for the user's next choice.
TEST_F(BugReportTest, sendBugReport_opensAMailWithTheReportAndTheDialogStays)
{
    UrlRecorder mailer;
    QDesktopServices::setUrlHandler(u"mailto"_s, &mailer, "open");
    const QString awkward = u"Accès refusé à \"a&body=b+c%20d#e?f=g\" 😀"_s;
    struct Case
    {
        const char *what;
        QString message;
        bool shortened;
    };
    const Case cases[] = {
        { "a short report", awkward + u"\nsecond line"_s, false },
        { "a very long report", awkward + u"\n"_s + QString(20000, u'é') + u"😀 end"_s, true },
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
        if (!c.shortened) {
            EXPECT_EQ(lines, record);
            continue;
        }
        const QString note
            = u"\n[The report is shortened here; the whole report is in %1]\n"_s.arg(reportFile());
        ASSERT_TRUE(lines.endsWith(note)) << lines.right(200).toStdString();
        const QString kept = lines.chopped(note.size());
        EXPECT_TRUE(record.startsWith(kept));
        EXPECT_TRUE(kept.contains(awkward));
        EXPECT_FALSE(kept.contains(QChar::ReplacementCharacter)) << "no character cut in two";
        EXPECT_LT(mail.toEncoded().size(), 8000);
    }
    QDesktopServices::unsetUrlHandler(u"mailto"_s);
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

#include "uBugReport_test.moc"
