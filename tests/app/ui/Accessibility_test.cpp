// Every window, opened the way the program opens it, checked for what a keyboard or screen-reader
// user needs: each button that shows only a picture says what it does (tooltip and accessible
// name), Tab from the first control reaches every control that takes the focus, no two
// accelerators of a window share a letter, and the window shows the program's own icon.
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
#include <QButtonGroup>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QMap>
#include <QMessageBox>
#include <QRadioButton>
#include <QSet>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>

using namespace Qt::Literals::StringLiterals;

namespace {

QString nameOf(const QWidget *widget)
{
    const QString name = widget->objectName();
    return name.isEmpty() ? QString::fromLatin1(widget->metaObject()->className()) : name;
}

// The controls of this window itself, not of the windows it owns.
template<typename T> QList<T *> controlsOf(QWidget *window)
{
    QList<T *> controls;
    for (T *control : window->findChildren<T *>()) {
        if (control->window() == window)
            controls.append(control);
    }
    return controls;
}

QStringList unnamedImageButtons(QWidget *window)
{
    // Hidden buttons too: bbtRepConfig and the extended layout's buttons show up later.
    QStringList problems;
    for (const QAbstractButton *button : controlsOf<QAbstractButton>(window)) {
        if (!button->text().isEmpty())
            continue;
        if (button->toolTip().isEmpty())
            problems.append(nameOf(button) + u": no tooltip"_s);
        if (button->accessibleName().isEmpty())
            problems.append(nameOf(button) + u": no accessible name"_s);
    }
    return problems;
}

bool takesTabFocus(const QWidget *widget)
{
    return widget->isVisible() && widget->isEnabled()
        && (widget->focusPolicy() & Qt::TabFocus) == Qt::TabFocus && !widget->focusProxy();
}

// Tab stops once in a group of exclusive choices, at its chosen one, and the arrow keys move
// between the choices: a choice counts as reached when Down, pressed from the member of its
// group that Tab reached, comes to it.
bool reachedWithinItsGroup(QWidget *control, const QSet<QWidget *> &reached)
{
    auto *choice = qobject_cast<QRadioButton *>(control);
    QButtonGroup *group = choice ? choice->group() : nullptr;
    if (!group || !group->exclusive())
        return false;
    const QList<QAbstractButton *> members = group->buttons();
    const auto entry = std::find_if(members.cbegin(), members.cend(),
        [&reached](QAbstractButton *member) { return reached.contains(member); });
    if (entry == members.cend())
        return false;
    (*entry)->setFocus(Qt::TabFocusReason);
    for (qsizetype press = 0; press < members.size(); ++press) {
        if (QApplication::focusWidget() == control)
            return true;
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    }
    return QApplication::focusWidget() == control;
}

// Presses Tab from the control that has the focus when the window opens (the first one of the
// tab chain when none has it) and names every control that Tab never reaches.
QStringList unreachedByTab(QWidget *window)
{
    QList<QWidget *> expected;
    for (QWidget *control : controlsOf<QWidget>(window)) {
        if (takesTabFocus(control))
            expected.append(control);
    }
    if (expected.isEmpty())
        return {};
    QWidget *start = QApplication::focusWidget();
    if (!start || start->window() != window) {
        start = window->nextInFocusChain();
        while (!expected.contains(start) && start != window)
            start = start->nextInFocusChain();
        start->setFocus(Qt::TabFocusReason);
    }

    QSet<QWidget *> reached;
    for (qsizetype press = 0; press <= expected.size(); ++press) {
        QWidget *focus = QApplication::focusWidget();
        if (!focus)
            return { u"no control has the focus after %1 presses of Tab"_s.arg(press) };
        reached.insert(focus);
        QTest::keyClick(focus, Qt::Key_Tab);
    }
    QStringList problems;
    for (QWidget *control : expected) {
        if (!reached.contains(control) && !reachedWithinItsGroup(control, reached))
            problems.append(nameOf(control) + u": never reached with Tab"_s);
    }
    return problems;
}

// The letter after a single '&', as Qt underlines it; none for "&&" alone.
QChar acceleratorOf(const QString &caption)
{
    for (qsizetype i = 0; i + 1 < caption.size(); ++i) {
        if (caption.at(i) != u'&')
            continue;
        if (caption.at(i + 1) != u'&')
            return caption.at(i + 1).toUpper();
        ++i;
    }
    return {};
}

QStringList acceleratorProblems(QWidget *window)
{
    QMap<QChar, QStringList> owners;
    QStringList problems;
    for (const QAbstractButton *button : controlsOf<QAbstractButton>(window)) {
        if (const QChar key = acceleratorOf(button->text()); !key.isNull() && button->isVisible())
            owners[key].append(nameOf(button));
    }
    for (const QGroupBox *group : controlsOf<QGroupBox>(window)) {
        if (const QChar key = acceleratorOf(group->title()); !key.isNull() && group->isVisible())
            owners[key].append(nameOf(group));
    }
    for (const QLabel *label : controlsOf<QLabel>(window)) {
        const QChar key = acceleratorOf(label->text());
        if (key.isNull() || !label->isVisible() || label->textFormat() == Qt::PlainText)
            continue;
        if (!label->buddy())
            problems.append(nameOf(label) + u": an accelerator without a control to focus"_s);
        owners[key].append(nameOf(label));
    }
    for (auto it = owners.cbegin(); it != owners.cend(); ++it) {
        if (it->size() > 1)
            problems.append(u"Alt+%1 is shared by %2"_s.arg(it.key(), it->join(u", "_s)));
    }
    return problems;
}

// Everything this test holds against one open window.
QStringList auditWindow(QWidget *window)
{
    QStringList problems;
    if (window->windowIcon().isNull())
        problems.append(u"no window icon"_s);
    problems += unnamedImageButtons(window);
    problems += acceleratorProblems(window);
    // The offscreen platform does not hand the activation back to a window whose message box
    // has closed, as a window manager does.
    window->activateWindow();
    if (!QTest::qWaitFor([window] { return QApplication::activeWindow() == window; }))
        problems.append(u"the window never became active"_s);
    else
        problems += unreachedByTab(window);
    return problems;
}

void clickNamed(QWidget *window, const QString &name)
{
    if (auto *button = window->findChild<QAbstractButton *>(name))
        button->click();
    else
        window->close();
}

void clickText(QWidget *window, const QString &text)
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

void openMainWindow(
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
void openCopyWindow(const QString &folder, const std::function<void(QWidget *)> &audit)
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

const WindowCase windowCases[] = {
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

class AccessibilityTest : public testsupport::TempDirTest,
                          public ::testing::WithParamInterface<WindowCase>
{
protected:
    static void SetUpTestSuite()
    {
        initApplication();
        // The About box asks the publisher's server for news: a loopback port that is bound
        // but never listens refuses at once.
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
        makeDir(u"source"_s);
        makeDir(u"destination"_s);
    }

    void TearDown() override
    {
        qputenv("XDG_CONFIG_HOME", m_savedConfigHome);
        // The About box of a test program, which has no version resource, reports that.
        testsupport::reportedErrors().clear();
    }

    static inline std::unique_ptr<testsupport::RefusingPort> s_refusing;
    QByteArray m_savedConfigHome;
};

TEST_P(AccessibilityTest, window_namesItsImageButtons_tabReachesEveryControl_acceleratorsUnique)
{
    const WindowCase &window = GetParam();
    QStringList problems;
    QString seen;
    bool audited = false;
    window.open(path(), [&](QWidget *opened) {
        audited = true;
        seen = opened->objectName();
        problems = auditWindow(opened);
    });
    ASSERT_TRUE(audited) << "the window never opened";
    if (!window.objectName.isEmpty()) {
        EXPECT_EQ(seen, window.objectName);
    }
    EXPECT_TRUE(problems.isEmpty()) << problems.join(u'\n').toStdString();
}

INSTANTIATE_TEST_SUITE_P(EveryWindow, AccessibilityTest, ::testing::ValuesIn(windowCases),
    [](const ::testing::TestParamInfo<WindowCase> &param) {
        return std::string(param.param.name);
    });

} // namespace
