#pragma once

// Every window of the program, opened the way the program opens it, for tests that check
// something of each one while it is open.
#include "app/uBugReport.h"
#include "app/uMain.h"
#include "copy/uProcessCopy.h"
#include "folders/FolderDialog.h"
#include "folders/uEditeListeRepertoires.h"
#include "info/ServerUrls.h"
#include "info/uAbout102.h"
#include "options/uOptions.h"
#include "platform/gui/Dialogs.h"

#include "support/Fixtures.h"
#include "support/Modal.h"
#include "support/RefusingPort.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>
#include <string>

namespace uitest {

using namespace Qt::Literals::StringLiterals;

inline void clickNamed(QWidget *window, const QString &name)
{
    if (auto *button = window->findChild<QAbstractButton *>(name))
        button->click();
    else
        window->close();
}

inline void clickText(QWidget *window, const QString &text)
{
    for (QAbstractButton *button : window->findChildren<QAbstractButton *>()) {
        if (button->text() == text) {
            button->click();
            return;
        }
    }
    window->close();
}

// One window of the program: how to open it, and the object name it must have.
struct WindowCase
{
    const char *name;
    QString objectName;
    // Opens the window, runs audit on it while it is open, and closes it again.
    std::function<void(const QString &folder, const std::function<void(QWidget *)> &audit)> open;
};

inline void openMainWindow(
    bool extended, const QString &folder, const std::function<void(QWidget *)> &audit)
{
    QDir().mkpath(folder + u"/config/Orvane/quillSift"_s);
    testsupport::writeBytes(folder + u"/config/Orvane/quillSift/Options.ini"_s,
        extended ? "[ACME]\r\nExtendedView=1\r\n" : "[ACME]\r\nExtendedView=0\r\n");
    TfrmMain window;
    window.show();
    audit(&window);
}

// The copy window once its run has ended and its end message has been answered.
inline void openCopyWindow(const QString &folder, const std::function<void(QWidget *)> &audit)
{
    tyConfig config;
    const QStringList noFilters;
    bool answered = false;
    int triesLeft = 500;
    std::function<void()> poll;
    poll = [&] {
        QWidget *modal = QApplication::activeModalWidget();
        if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            clickText(box, u"OK"_s);
            answered = true;
        } else if (modal && answered) {
            audit(modal);
            clickNamed(modal, u"bbtClose"_s);
            return;
        } else if (--triesLeft == 0) {
            ADD_FAILURE() << "the run did not end";
            return;
        }
        QTimer::singleShot(10, qApp, poll);
    };
    QTimer::singleShot(0, qApp, poll);
    RunCopy(folder + u"/source"_s, folder + u"/destination"_s, noFilters, config, nullptr);
}

inline const WindowCase windowCases[] = {
    { "mainNormal", u"frmMain"_s,
        [](const QString &folder, const auto &audit) { openMainWindow(false, folder, audit); } },
    { "mainExtended", u"frmMain"_s,
        [](const QString &folder, const auto &audit) { openMainWindow(true, folder, audit); } },
    { "copyWindowAfterRun", u"frmCopy"_s, openCopyWindow },
    { "folderListEditor", u"frmEditeListeRepertoires"_s,
        [](const QString &folder, const auto &audit) {
            testsupport::onNextModal([audit](QWidget *modal) {
                audit(modal);
                clickNamed(modal, u"bbtCancel"_s);
            });
            FolderList list;
            list.entries = { folder + u"/source"_s, folder + u"/destination"_s };
            EditeListeRepertoires(list, u"Liste ordonnée des chemins source"_s, nullptr);
        } },
    { "folderPicker", u"FolderDialog"_s,
        [](const QString &folder, const auto &audit) {
            testsupport::onNextModal([audit](QWidget *modal) {
                audit(modal);
                modal->close();
            });
            TFolderDialog picker(nullptr);
            picker.SetOptions(systemFolderOptions);
            picker.SetDirectory(folder + u"/source"_s);
            picker.Execute();
        } },
    { "options", u"frmOptions"_s,
        [](const QString &folder, const auto &audit) {
            testsupport::onNextModal([audit](QWidget *modal) {
                audit(modal);
                clickNamed(modal, u"bbtCancel"_s);
            });
            tyConfig config;
            EditeConfig(config, folder + u"/config/Orvane/quillSift/Options.ini"_s, nullptr);
        } },
    { "aboutBox", u"frmAbout102"_s,
        [](const QString &, const auto &audit) {
            testsupport::onNextModal([audit](QWidget *modal) {
                audit(modal);
                clickNamed(modal, u"BitBtn1"_s);
            });
            ShowAboutBox(nullptr);
        } },
    { "confirmation", QString(),
        [](const QString &, const auto &audit) {
            testsupport::onNextModal([audit](QWidget *modal) {
                audit(modal);
                clickText(modal, u"&Non"_s);
            });
            platform::confirm(nullptr, u"Voulez-vous le supprimer de la liste des répertoires ?"_s);
        } },
    { "errorDialog", u"dlgErrorReport"_s,
        [](const QString &, const auto &audit) {
            testsupport::onNextModal([audit](QWidget *modal) {
                audit(modal);
                clickText(modal, u"Continue"_s);
            });
            bugreport::reportError(u"Impossible de créer le répertoire"_s);
        } },
    { "bugReport", u"dlgBugReport"_s,
        [](const QString &, const auto &audit) {
            testsupport::onNextModal([audit](QWidget *box) {
                testsupport::onNextModal([audit](QWidget *report) {
                    testsupport::answerNextModal(u"Continue"_s);
                    audit(report);
                    clickNamed(report, u"bbtClose"_s);
                });
                clickText(box, u"Show bug report"_s);
            });
            bugreport::reportError(u"Impossible de créer le répertoire"_s);
        } },
};

// A test that opens the program's windows: a private settings folder, and a publisher's
// server that refuses at once.
class ProgramWindowTest : public testsupport::TempDirTest
{
protected:
    static void SetUpTestSuite()
    {
        initApplication();
        // The main window's usage ping and the About box's news go to a loopback port that is
        // bound but never listens, which refuses at once.
        s_refusing = std::make_unique<testsupport::RefusingPort>();
        ASSERT_TRUE(s_refusing->isValid());
        info::setServerUrlsForTesting(s_refusing->httpsUrl(), s_refusing->httpsUrl());
    }

    static void TearDownTestSuite()
    {
        info::setServerUrlsForTesting({}, {});
        s_refusing.reset();
    }

    void SetUp() override
    {
        TempDirTest::SetUp();
        m_savedConfigHome = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(makeDir(u"config"_s)));
    }

    void TearDown() override { qputenv("XDG_CONFIG_HOME", m_savedConfigHome); }

    static inline std::unique_ptr<testsupport::RefusingPort> s_refusing;
    QByteArray m_savedConfigHome;
};

// A test run once for every window, with a source and a destination folder beside the
// settings.
class EveryWindowTest : public ProgramWindowTest, public ::testing::WithParamInterface<WindowCase>
{
protected:
    void SetUp() override
    {
        ProgramWindowTest::SetUp();
        makeDir(u"source"_s);
        makeDir(u"destination"_s);
    }

    void TearDown() override
    {
        ProgramWindowTest::TearDown();
        // The About box of a test program, which has no version resource, reports that.
        testsupport::reportedErrors().clear();
    }
};

// GoogleTest names a failing case by it.
inline void PrintTo(const WindowCase &window, std::ostream *os)
{
    *os << window.name;
}

inline std::string windowCaseName(const ::testing::TestParamInfo<WindowCase> &param)
{
    return param.param.name;
}

} // namespace uitest
