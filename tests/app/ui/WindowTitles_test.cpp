// Every window's title as the window manager shows it (on X11, read back from the server):
// exactly the window's own caption, with nothing appended by Qt or anyone else.
#include "EveryWindow.h"

#include "support/WindowTitle.h"

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

using namespace Qt::Literals::StringLiterals;

namespace {

void clickText(QWidget *window, const QString &text)
{
    for (QAbstractButton *button : window->findChildren<QAbstractButton *>()) {
        if (button->text() == text && button->isVisible()) {
            button->click();
            return;
        }
    }
    ADD_FAILURE() << "no button " << text.toStdString() << " in "
                  << window->objectName().toStdString();
    window->close();
}

void clickNamed(QWidget *window, const QString &name)
{
    if (auto *button = window->findChild<QAbstractButton *>(name)) {
        button->click();
        return;
    }
    ADD_FAILURE() << "no button " << name.toStdString() << " in "
                  << window->objectName().toStdString();
    window->close();
}

using Look = std::function<void(QWidget *)>;

// One window: how the program opens it, and the title it must show. An empty title stands for
// the window's own caption, whatever it is, which must reach the desktop unchanged.
struct TitleCase
{
    const char *name;
    QString title;
    // Opens the window in the test's folder, runs look on it while it is open, closes it.
    std::function<void(const QString &folder, const Look &look)> open;
};

void PrintTo(const TitleCase &window, std::ostream *out)
{
    *out << window.name;
}

// Looks at the next modal window, then answers it with answer.
void onNextModalLook(const Look &look, std::function<void(QWidget *)> answer)
{
    testsupport::onNextModal([look, answer](QWidget *modal) {
        look(modal);
        answer(modal);
    });
}

// The copy window once its run has ended and its end message has been answered.
void openCopyWindow(const QString &folder, const Look &look)
{
    QDir().mkpath(folder + u"/source"_s);
    QDir().mkpath(folder + u"/destination"_s);
    testsupport::writeBytes(folder + u"/source/rapport.txt"_s, "contenu");
    tyConfig config;
    const QStringList filters { u"*.txt"_s };
    bool answered = false;
    int triesLeft = 500;
    std::function<void()> poll;
    poll = [&] {
        QWidget *modal = QApplication::activeModalWidget();
        if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            clickText(box, u"OK"_s);
            answered = true;
        } else if (modal && answered) {
            look(modal);
            clickNamed(modal, u"bbtClose"_s);
            return;
        } else if (--triesLeft == 0) {
            ADD_FAILURE() << "the run did not end";
            return;
        }
        QTimer::singleShot(10, qApp, poll);
    };
    QTimer::singleShot(0, qApp, poll);
    RunCopy(folder + u"/source"_s, folder + u"/destination"_s, filters, config, nullptr);
}

const TitleCase titleCases[] = {
    { "mainWindow", u"Quill Sift"_s,
        [](const QString &, const Look &look) {
            TfrmMain window;
            window.show();
            look(&window);
        } },
    { "confirmation", u"Confirmer"_s,
        [](const QString &, const Look &look) {
            onNextModalLook(look, [](QWidget *box) { clickText(box, u"&Non"_s); });
            platform::confirm(nullptr, u"Voulez-vous le supprimer de la liste des répertoires ?"_s);
        } },
    { "information", u"Informations"_s,
        [](const QString &, const Look &look) {
            onNextModalLook(look, [](QWidget *box) { clickText(box, u"OK"_s); });
            platform::inform(nullptr, u"La copie des fichiers est terminée."_s);
        } },
    { "copyWindow", u"Copie des fichiers"_s, openCopyWindow },
    { "folderListEditor", u"Répertoires"_s,
        [](const QString &folder, const Look &look) {
            onNextModalLook(look, [](QWidget *editor) { clickNamed(editor, u"bbtCancel"_s); });
            FolderList list;
            list.entries = { folder };
            EditeListeRepertoires(list, u"Liste ordonnée des chemins source"_s, nullptr);
        } },
    { "options", u"Options"_s,
        [](const QString &folder, const Look &look) {
            onNextModalLook(look, [](QWidget *dialog) { clickNamed(dialog, u"bbtCancel"_s); });
            tyConfig config;
            EditeConfig(config, folder + u"/config/Orvane/quillSift/Options.ini"_s, nullptr);
        } },
    { "aboutBox", u"About"_s,
        [](const QString &, const Look &look) {
            onNextModalLook(look, [](QWidget *box) { clickNamed(box, u"BitBtn1"_s); });
            ShowAboutBox(nullptr);
        } },
    { "folderPicker", u"Sélectionnez le répertoire à copier"_s,
        [](const QString &folder, const Look &look) {
            onNextModalLook(look, [](QWidget *dialog) { dialog->close(); });
            TFolderDialog picker(nullptr);
            picker.SetOptions(systemFolderOptions);
            picker.SetCaption(u"Sélectionnez le répertoire à copier"_s);
            picker.SetDirectory(folder);
            picker.Execute();
        } },
    { "errorDialog", QString(),
        [](const QString &, const Look &look) {
            onNextModalLook(look, [](QWidget *box) { clickText(box, u"Continue"_s); });
            bugreport::reportError(u"Impossible de créer le répertoire"_s);
        } },
    { "bugReport", u"Bug report"_s,
        [](const QString &, const Look &look) {
            testsupport::onNextModal([look](QWidget *box) {
                onNextModalLook(look, [](QWidget *report) {
                    testsupport::answerNextModal(u"Continue"_s);
                    clickNamed(report, u"bbtClose"_s);
                });
                clickText(box, u"Show bug report"_s);
            });
            bugreport::reportError(u"Impossible de créer le répertoire"_s);
        } },
};

class WindowTitlesTest : public uitest::ProgramWindowTest,
                         public ::testing::WithParamInterface<TitleCase>
{
protected:
    void SetUp() override
    {
        ProgramWindowTest::SetUp();
        testsupport::reportedErrors().clear();
    }
};

TEST_P(WindowTitlesTest, window_showsExactlyItsOwnCaption)
{
    const TitleCase &window = GetParam();
    bool looked = false;
    QString caption;
    QString shown;
    window.open(path(), [&](QWidget *opened) {
        looked = true;
        caption = opened->windowTitle();
        shown = testsupport::shownTitle(opened);
    });
    ASSERT_TRUE(looked) << "the window never opened";
    const QString expected = window.title.isEmpty() ? caption : window.title;
    EXPECT_FALSE(expected.isEmpty());
    EXPECT_EQ(caption.toStdString(), expected.toStdString());
    EXPECT_EQ(shown.toStdString(), expected.toStdString());
    EXPECT_TRUE(testsupport::reportedErrors().isEmpty())
        << testsupport::reportedErrors().join(u'\n').toStdString();
}

INSTANTIATE_TEST_SUITE_P(EveryWindow, WindowTitlesTest, ::testing::ValuesIn(titleCases),
    [](const ::testing::TestParamInfo<TitleCase> &param) { return std::string(param.param.name); });

} // namespace
