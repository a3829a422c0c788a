// A whole use of the program without the mouse: start, choose both folders through the list
// editor, type filters, copy, save the log, open each dialog and leave it with Enter and with
// Escape, close. Every key goes to whichever window is active, as a keyboard's do.
#include "MainWindowFixture.h"
#include "app/uMain.h"

#include "support/Fixtures.h"
#include "support/Keys.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QWindow>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

// Steps that each wait for a window to be active, then press keys in it. Modal windows run
// event loops of their own, so each step is started from a fresh single-shot timer: the next
// step's wait begins before a step's keys open a window and block until it closes.
class KeyScript
{
public:
    struct Step
    {
        QString window; // objectName of the active window the step waits for
        std::function<void()> keys;
    };

    void run(std::vector<Step> steps)
    {
        m_steps = std::move(steps);
        m_clock.start();
        schedule();
    }
    bool finished() const { return m_finished; }

private:
    void schedule()
    {
        QTimer::singleShot(20, qApp, [this] { poll(); });
    }

    void poll()
    {
        if (m_next == m_steps.size()) {
            m_finished = true;
            return;
        }
        const Step &step = m_steps[m_next];
        activateLikeAWindowManager(step.window);
        QWidget *active = QApplication::activeWindow();
        const bool ready = active && active->objectName() == step.window
            && (QApplication::activeModalWidget() == nullptr
                || QApplication::activeModalWidget() == active)
            && noClosedWindowStillReturning();
        if (!ready) {
            if (m_clock.elapsed() > 20000) {
                ADD_FAILURE() << "step " << m_next << " waited in vain for "
                              << step.window.toStdString() << "; active: "
                              << (active ? active->objectName().toStdString() : "none");
                m_finished = true;
                // Leave no window waiting for keys that will not come.
                while (QWidget *modal = QApplication::activeModalWidget())
                    modal->close();
                return;
            }
            schedule();
            return;
        }
        SCOPED_TRACE("step " + std::to_string(m_next) + " in " + step.window.toStdString());
        ++m_next;
        m_clock.start();
        schedule();
        step.keys();
    }

    // A modal window that has just closed is still returning from its event loop (and its
    // caller has not yet done what follows, such as writing the saved log): one event loop
    // runs for each modal window still shown.
    static bool noClosedWindowStillReturning()
    {
        int shownModal = 0;
        for (const QWidget *window : QApplication::topLevelWidgets())
            shownModal += window->isVisible() && window->isModal() ? 1 : 0;
        return QThread::currentThread()->loopLevel() == shownModal;
    }

    // The offscreen platform activates no window when a modal one closes; a window manager
    // gives the activation back to the window underneath.
    static void activateLikeAWindowManager(const QString &name)
    {
        if (QGuiApplication::platformName() != u"offscreen"_s)
            return;
        const QWindow *focusWindow = QGuiApplication::focusWindow();
        if (focusWindow && focusWindow->isVisible())
            return;
        for (QWidget *window : QApplication::topLevelWidgets()) {
            if (window->isVisible() && window->objectName() == name)
                window->activateWindow();
        }
    }

    std::vector<Step> m_steps;
    std::size_t m_next = 0;
    QElapsedTimer m_clock;
    bool m_finished = false;
};

QWidget *active()
{
    return QApplication::activeWindow();
}

void press(Qt::Key key, Qt::KeyboardModifiers modifiers = {})
{
    testsupport::pressKey(active(), key, modifiers);
}

void type(const QString &text)
{
    testsupport::typeText(active(), text);
}

QString focused()
{
    QWidget *focus = QApplication::focusWidget();
    return focus ? focus->objectName() : QString();
}

// Tab (or Shift+Tab) until the control of that name has the focus.
void tabTo(const QString &name, Qt::Key key = Qt::Key_Tab)
{
    for (int presses = 0; presses < 30 && focused() != name; ++presses)
        press(key);
    ASSERT_EQ(focused(), name);
}

class KeyboardUseTest : public uitest::MainWindowFixture
{
protected:
    void SetUp() override
    {
        MainWindowFixture::SetUp();
        m_savedCurrent = QDir::currentPath();
        // The save dialog opens on the current folder: a name typed there lands here.
        QDir::setCurrent(path());
    }
    void TearDown() override
    {
        QDir::setCurrent(m_savedCurrent);
        MainWindowFixture::TearDown();
    }

    QString m_savedCurrent;
};

TEST_F(KeyboardUseTest, wholeUse_withoutTheMouse)
{
    const QString data = makeDir(u"Data"_s);
    const QString backup = makeDir(u"Backup"_s);
    writeFile(u"Data/a.txt"_s, "alpha");
    writeFile(u"Data/b.doc"_s, "beta");
    const QString missing = path() + u"/Parti"_s;
    writeSettings(u"RepSrc.txt"_s, QFile::encodeName(missing) + "\r\n");

    std::unique_ptr<TfrmMain> window;
    const auto combo = [&window](const char *name) {
        return window->findChild<QComboBox *>(QString::fromLatin1(name));
    };
    const auto main = u"frmMain"_s;
    const auto editor = u"frmEditeListeRepertoires"_s;
    KeyScript script;
    script.run({
        // Start-up asks about the missing folder: Tab to "&Non", Enter keeps it.
        { u"dlgConfirm"_s,
            [] {
                press(Qt::Key_Tab);
                ASSERT_EQ(
                    qobject_cast<QPushButton *>(QApplication::focusWidget())->text(), u"&Non"_s);
                press(Qt::Key_Return);
            } },
        // The source folder, added in the editor: Enter after Ajouter is OK.
        { main,
            [] {
                EXPECT_EQ(focused(), u"memFilter"_s);
                tabTo(u"bbtRepSrc"_s);
                press(Qt::Key_Return);
            } },
        { editor,
            [&data] {
                tabTo(u"edtFolder"_s);
                type(data);
                tabTo(u"bbtAdd"_s);
                press(Qt::Key_Return);
                press(Qt::Key_Return);
            } },
        // Chosen with End, the list's last entry; then the destination: Enter in the editor's
        // edit is OK, not Ajouter, and "&Non" to the folder left there adds nothing.
        { main,
            [&combo] {
                ASSERT_EQ(combo("cbxRepSrc")->count(), 2);
                tabTo(u"cbxRepSrc"_s, Qt::Key_Backtab);
                press(Qt::Key_End);
                EXPECT_EQ(combo("cbxRepSrc")->currentIndex(), 1);
                press(Qt::Key_D, Qt::AltModifier);
                EXPECT_EQ(focused(), u"cbxRepDst"_s);
                tabTo(u"bbtRepDst"_s);
                press(Qt::Key_Space);
            } },
        { editor,
            [&backup] {
                tabTo(u"edtFolder"_s);
                type(backup);
                press(Qt::Key_Return);
            } },
        { u"dlgConfirm"_s,
            [] {
                press(Qt::Key_Tab);
                ASSERT_EQ(
                    qobject_cast<QPushButton *>(QApplication::focusWidget())->text(), u"&Non"_s);
                press(Qt::Key_Return);
            } },
        { main,
            [&combo] {
                EXPECT_EQ(combo("cbxRepDst")->count(), 0);
                EXPECT_EQ(focused(), u"bbtRepDst"_s);
                press(Qt::Key_Space);
            } },
        { editor,
            [&backup] {
                tabTo(u"edtFolder"_s);
                type(backup);
                tabTo(u"bbtAdd"_s);
                press(Qt::Key_Space);
                press(Qt::Key_Return);
            } },
        // Filters typed, then "&Copie des fichiers" by its accelerator.
        { main,
            [&combo, &window] {
                ASSERT_EQ(combo("cbxRepDst")->count(), 1);
                press(Qt::Key_D, Qt::AltModifier);
                press(Qt::Key_Down);
                EXPECT_TRUE(window->findChild<QPushButton *>(u"bbtCopie"_s)->isEnabled());
                tabTo(u"memFilter"_s);
                type(u"*.txt"_s);
                press(Qt::Key_C, Qt::AltModifier);
            } },
        { u"dlgInformations"_s, [] { press(Qt::Key_Return); } },
        // The end gives the focus to "&Fermer"; Escape leaves the window open.
        { u"frmCopy"_s,
            [] {
                EXPECT_EQ(focused(), u"bbtClose"_s);
                press(Qt::Key_Escape);
                EXPECT_TRUE(active() && active()->objectName() == u"frmCopy"_s);
                tabTo(u"bbtSave"_s, Qt::Key_Backtab);
                press(Qt::Key_Return);
            } },
        { u"SaveDialog"_s,
            [] {
                type(u"journal.log"_s);
                press(Qt::Key_Return);
            } },
        { u"frmCopy"_s,
            [this] {
                EXPECT_TRUE(
                    readFile(u"journal.txt"_s).contains("Filtre: \"*.txt*.*\"  (\"*.txt\")"));
                tabTo(u"bbtClose"_s);
                press(Qt::Key_Return);
            } },
        // The options dialog, left with Escape, then with Enter.
        { main,
            [backup] {
                EXPECT_EQ(QDir(backup).entryList(QDir::Files), QStringList { u"a.txt"_s });
                press(Qt::Key_O, Qt::AltModifier);
            } },
        { u"frmOptions"_s, [] { press(Qt::Key_Escape); } },
        { main, [] { press(Qt::Key_O, Qt::AltModifier); } },
        { u"frmOptions"_s, [] { press(Qt::Key_Return); } },
        // The About box, left with Escape, then with Enter.
        { main,
            [] {
                tabTo(u"bbtAbout"_s);
                press(Qt::Key_Return);
            } },
        { u"frmAbout102"_s, [] { press(Qt::Key_Escape); } },
        { main, [] { press(Qt::Key_Space); } },
        { u"frmAbout102"_s, [] { press(Qt::Key_Return); } },
        // The editor's folder picker, left with Escape, then the editor with Escape.
        { main,
            [] {
                tabTo(u"bbtRepSrc"_s);
                press(Qt::Key_Return);
            } },
        { editor,
            [] {
                tabTo(u"bbtFolder"_s);
                press(Qt::Key_Return);
            } },
        { u"FolderDialog"_s, [] { press(Qt::Key_Escape); } },
        { editor, [] { press(Qt::Key_Escape); } },
        { main, [] { press(Qt::Key_F, Qt::AltModifier); } },
    });
    window = std::make_unique<TfrmMain>();
    window->show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return script.finished(); }, 60000));

    // An accelerator presses its button the way a click does, a moment later.
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->isVisible(); }));
    EXPECT_EQ(readSettings(u"RepSrc.txt"_s),
        QFile::encodeName(missing) + "\r\n" + QFile::encodeName(data) + "\r\n");
    EXPECT_EQ(readSettings(u"RepDst.txt"_s), QFile::encodeName(backup) + "\r\n");
    EXPECT_EQ(readFile(u"Backup/a.txt"_s), "alpha");
    EXPECT_TRUE(readSettings(u"Options.ini"_s).contains("[ACME]"));
}

} // namespace
