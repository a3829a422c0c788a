#include "folders/uEditeListeRepertoires.h"

#include "FileDialogDriver.h"
#include "folders/FolderDialog.h"
#include "support/Fixtures.h"
#include "support/Keys.h"
#include "support/Modal.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <functional>
#include <optional>

namespace {

using folderstest::answerNextFileDialog;
using testsupport::reportedErrors;

const QString kAlpha = QStringLiteral("/srv/Alpha");
const QString kBeta = QStringLiteral("/srv/Beta");
const QString kGamma = QStringLiteral("/srv/Gamma");

FolderList listOf(const QStringList &entries, TextEncoding encoding = TextEncoding::Ansi)
{
    FolderList list;
    list.entries = entries;
    list.encoding = encoding;
    return list;
}

// The five list buttons that are enabled, by objectName.
QStringList enabledListButtons(const TfrmEditeListeRepertoires &frm)
{
    QStringList names;
    for (const QPushButton *button :
        { frm.bbtReplace, frm.bbtAdd, frm.bbtDelete, frm.bbtUp, frm.bbtDown }) {
        if (button->isEnabled())
            names << button->objectName();
    }
    return names;
}

QStringList entriesOf(const TfrmEditeListeRepertoires &frm)
{
    return frm.List().entries;
}

void clickEntry(TfrmEditeListeRepertoires &frm, int row)
{
    QListWidget *list = frm.lbxFolders;
    QTest::mouseClick(
        list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(row)).center());
}

// Replaces the edit's text by typing.
void typeInEdit(TfrmEditeListeRepertoires &frm, const QString &text)
{
    frm.edtFolder->setFocus();
    frm.edtFolder->selectAll();
    QTest::keyClick(frm.edtFolder, Qt::Key_Backspace);
    QTest::keyClicks(frm.edtFolder, text);
}

void click(QPushButton *button)
{
    QTest::mouseClick(button, Qt::LeftButton);
}

// Opens the editor through its entry point and lets drive act on the open window; a window
// that drive leaves open is cancelled. Returns what EditeListeRepertoires returned.
bool runEditor(FolderList &list, const QString &title,
    const std::function<void(TfrmEditeListeRepertoires &)> &drive)
{
    bool driven = false;
    testsupport::onNextModal([&](QWidget *modal) {
        driven = true;
        auto *frm = qobject_cast<TfrmEditeListeRepertoires *>(modal);
        if (!frm) {
            ADD_FAILURE() << "expected the editor, got " << modal->metaObject()->className();
            modal->close();
            return;
        }
        drive(*frm);
        if (frm->isVisible())
            frm->reject();
    });
    const bool confirmed = EditeListeRepertoires(list, title, nullptr);
    EXPECT_TRUE(driven);
    return confirmed;
}

// What a message box showed.
struct Question
{
    QString text;
    QString caption;
    QString defaultButton;
};

// Presses the button of that text in a dialog; a missing one fails the test and closes it.
void pressButtonOf(QWidget *dialog, const QString &text)
{
    for (QAbstractButton *button : dialog->findChildren<QAbstractButton *>()) {
        if (button->text() == text && button->isVisible()) {
            button->click();
            return;
        }
    }
    ADD_FAILURE() << "no button " << text.toStdString();
    dialog->close();
}

// Answers the next modal widget, which must be a message box, and records what it showed.
void answerNextQuestion(const QString &answer, Question *seen)
{
    testsupport::onNextModal([answer, seen](QWidget *modal) {
        auto *box = qobject_cast<QMessageBox *>(modal);
        if (!box) {
            ADD_FAILURE() << "expected a question, got " << modal->metaObject()->className();
            modal->close();
            return;
        }
        seen->text = box->text();
        seen->caption = box->windowTitle();
        seen->defaultButton = box->defaultButton() ? box->defaultButton()->text() : QString();
        pressButtonOf(box, answer);
    });
}

// While it lives, every message box fails the test and is answered "&Non", so that nothing
// waits on it.
class NoQuestionAsked
{
public:
    NoQuestionAsked()
    {
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                ADD_FAILURE() << "asked: " << box->text().toStdString();
                pressButtonOf(box, QStringLiteral("&Non"));
            }
        });
        m_timer.start(20);
    }

private:
    QTimer m_timer;
};

class EditeListeRepertoiresTest : public testsupport::TempDirTest
{
};

TEST_F(EditeListeRepertoiresTest, emptyList_showsTitleAndOnlyNonBlankTextEnablesAdd)
{
    FolderList list;
    runEditor(list, QStringLiteral("Liste ordonnée des chemins source"),
        [](TfrmEditeListeRepertoires &frm) {
            EXPECT_EQ(frm.objectName(), QStringLiteral("frmEditeListeRepertoires"));
            EXPECT_EQ(frm.windowTitle(), QStringLiteral("Répertoires"));
            EXPECT_TRUE(frm.pnlTitre->isVisible());
            EXPECT_EQ(frm.pnlTitre->text(), QStringLiteral("Liste ordonnée des chemins source"));
            EXPECT_TRUE(frm.edtFolder->text().isEmpty());
            EXPECT_EQ(enabledListButtons(frm), QStringList());
            typeInEdit(frm, QStringLiteral("  \t "));
            EXPECT_EQ(enabledListButtons(frm), QStringList());
            typeInEdit(frm, QStringLiteral("/srv"));
            EXPECT_EQ(enabledListButtons(frm), QStringList { QStringLiteral("bbtAdd") });
        });
}

TEST_F(EditeListeRepertoiresTest, folderTooLongForTheEdit_shownWholeInItsTooltip)
{
    const QString deep = QStringLiteral("/home/utilisateur/Documents/Comptabilité générale/"
                                        "Rapports trimestriels/Archives des exercices précédents");
    FolderList list = listOf({ deep, kAlpha });
    runEditor(list, QString(), [&deep](TfrmEditeListeRepertoires &frm) {
        EXPECT_EQ(frm.edtFolder->text(), deep);
        EXPECT_EQ(frm.edtFolder->toolTip(), deep);
        typeInEdit(frm, QStringLiteral("/srv"));
        EXPECT_EQ(frm.edtFolder->toolTip(), QString());
    });
}

TEST_F(EditeListeRepertoiresTest, threeEntries_selectsFirstAndEnablesDeleteAndDown)
{
    FolderList list = listOf({ kAlpha, kBeta, kGamma });
    runEditor(list, QString(), [](TfrmEditeListeRepertoires &frm) {
        EXPECT_FALSE(frm.pnlTitre->isVisible());
        EXPECT_EQ(entriesOf(frm), QStringList({ kAlpha, kBeta, kGamma }));
        EXPECT_EQ(frm.SelectedIndex(), 0);
        EXPECT_EQ(frm.edtFolder->text(), kAlpha);
        EXPECT_EQ(enabledListButtons(frm),
            QStringList({ QStringLiteral("bbtDelete"), QStringLiteral("bbtDown") }));
        for (QPushButton *always :
            { frm.bbtFolder, frm.bbtOpen, frm.bbtSave, frm.bbtOk, frm.bbtCancel })
            EXPECT_TRUE(always->isEnabled()) << always->objectName().toStdString();
        EXPECT_EQ(frm.lbxFolders->font().family(), QStringLiteral("Courier New"));
        EXPECT_EQ(frm.edtFolder->font().family(), QStringLiteral("Courier New"));
        EXPECT_TRUE(frm.bbtOk->isDefault());
        for (QPushButton *imageOnly :
            { frm.bbtUp, frm.bbtDown, frm.bbtFolder, frm.bbtOpen, frm.bbtSave }) {
            EXPECT_TRUE(imageOnly->text().isEmpty());
            EXPECT_FALSE(imageOnly->toolTip().isEmpty()) << imageOnly->objectName().toStdString();
            EXPECT_EQ(imageOnly->accessibleName(), imageOnly->toolTip());
        }
    });
}

TEST_F(EditeListeRepertoiresTest, tabOrder_followsTheControlsFromListToCancel)
{
    FolderList list = listOf({ kAlpha, kBeta, kGamma });
    runEditor(list, QString(), [](TfrmEditeListeRepertoires &frm) {
        QStringList order;
        QWidget *widget = frm.lbxFolders;
        for (int i = 0; i < 12; ++i) {
            order << widget->objectName();
            widget = widget->nextInFocusChain();
            while (widget->focusPolicy() == Qt::NoFocus || !widget->isVisible())
                widget = widget->nextInFocusChain();
        }
        EXPECT_EQ(order,
            QStringList({ QStringLiteral("lbxFolders"), QStringLiteral("edtFolder"),
                QStringLiteral("bbtReplace"), QStringLiteral("bbtAdd"), QStringLiteral("bbtDelete"),
                QStringLiteral("bbtUp"), QStringLiteral("bbtDown"), QStringLiteral("bbtFolder"),
                QStringLiteral("bbtOpen"), QStringLiteral("bbtSave"), QStringLiteral("bbtOk"),
                QStringLiteral("bbtCancel") }));
    });
}

TEST_F(EditeListeRepertoiresTest, typedText_enablesReplaceAndAddByTheEditRule)
{
    struct Case
    {
        const char *name;
        QString typed;
        QStringList enabled;
    };
    const QString replace = QStringLiteral("bbtReplace");
    const QString add = QStringLiteral("bbtAdd");
    const QStringList moves { QStringLiteral("bbtDelete"), QStringLiteral("bbtUp"),
        QStringLiteral("bbtDown") };
    const Case cases[] = {
        { "another entry in other letter case", QStringLiteral("/SRV/alpha"),
            QStringList { replace } + moves },
        { "the selected entry's own text", kBeta, moves },
        { "the own text with blanks around", QStringLiteral("  ") + kBeta + QStringLiteral(" "),
            moves },
        { "the own text in other letter case", QStringLiteral("/srv/beta"),
            QStringList { replace } + moves },
        { "a new folder", QStringLiteral("/srv/Delta"), QStringList { replace, add } + moves },
        { "nothing, with no empty entry", QString(), QStringList { replace, add } + moves },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FolderList list = listOf({ kAlpha, kBeta, kGamma });
        runEditor(list, QString(), [&](TfrmEditeListeRepertoires &frm) {
            clickEntry(frm, 1);
            EXPECT_EQ(frm.edtFolder->text(), kBeta);
            typeInEdit(frm, c.typed);
            EXPECT_EQ(frm.edtFolder->text(), c.typed);
            EXPECT_EQ(frm.SelectedIndex(), 1);
            EXPECT_EQ(enabledListButtons(frm), c.enabled);
        });
    }
}

TEST_F(EditeListeRepertoiresTest, upOnSecondEntry_swapsAndKeepsTheMovedEntrySelected)
{
    FolderList list = listOf({ kAlpha, kBeta, kGamma });
    const bool confirmed = runEditor(list, QString(), [](TfrmEditeListeRepertoires &frm) {
        clickEntry(frm, 1);
        click(frm.bbtUp);
        EXPECT_EQ(entriesOf(frm), QStringList({ kBeta, kAlpha, kGamma }));
        EXPECT_EQ(frm.SelectedIndex(), 0);
        EXPECT_EQ(frm.edtFolder->text(), kBeta);
        EXPECT_EQ(enabledListButtons(frm),
            QStringList({ QStringLiteral("bbtDelete"), QStringLiteral("bbtDown") }));
        click(frm.bbtDown);
        click(frm.bbtDown);
        EXPECT_EQ(entriesOf(frm), QStringList({ kAlpha, kGamma, kBeta }));
        EXPECT_EQ(frm.SelectedIndex(), 2);
        EXPECT_EQ(enabledListButtons(frm),
            QStringList({ QStringLiteral("bbtDelete"), QStringLiteral("bbtUp") }));
        click(frm.bbtOk);
    });
    EXPECT_TRUE(confirmed);
    EXPECT_EQ(list.entries, QStringList({ kAlpha, kGamma, kBeta }));
}

TEST_F(EditeListeRepertoiresTest, deleteFirstEntry_selectsByWhatTheEditShows)
{
    struct Case
    {
        const char *name;
        bool clearEditFirst;
        int selectedAfter;
        QStringList enabledAfter;
    };
    const Case cases[] = {
        // The emptied edit runs the edit rule, which selects the new first entry.
        { "edit shows the entry", false, 0,
            { QStringLiteral("bbtDelete"), QStringLiteral("bbtDown") } },
        // Emptying an empty edit is no change: nothing gets selected.
        { "edit cleared by hand", true, -1, {} },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FolderList list = listOf({ kAlpha, kBeta, kGamma });
        runEditor(list, QString(), [&](TfrmEditeListeRepertoires &frm) {
            if (c.clearEditFirst)
                typeInEdit(frm, QString());
            click(frm.bbtDelete);
            EXPECT_EQ(entriesOf(frm), QStringList({ kBeta, kGamma }));
            EXPECT_TRUE(frm.edtFolder->text().isEmpty());
            EXPECT_EQ(frm.SelectedIndex(), c.selectedAfter);
            EXPECT_EQ(enabledListButtons(frm), c.enabledAfter);
        });
    }
}

TEST_F(EditeListeRepertoiresTest, addAndReplace_storeTheTextWithItsSpaces)
{
    const QString spaced = QStringLiteral("  /srv/Delta  ");
    FolderList list = listOf({ kAlpha, kBeta });
    const bool confirmed = runEditor(list, QString(), [&](TfrmEditeListeRepertoires &frm) {
        typeInEdit(frm, spaced);
        click(frm.bbtAdd);
        EXPECT_EQ(entriesOf(frm), QStringList({ kAlpha, kBeta, spaced }));
        EXPECT_EQ(frm.SelectedIndex(), 2);
        EXPECT_EQ(frm.edtFolder->text(), spaced);
        clickEntry(frm, 0);
        typeInEdit(frm, QStringLiteral(" /srv/Beta"));
        click(frm.bbtReplace);
        EXPECT_EQ(frm.SelectedIndex(), 0);
        click(frm.bbtOk);
    });
    EXPECT_TRUE(confirmed);
    EXPECT_EQ(list.entries, QStringList({ QStringLiteral(" /srv/Beta"), kBeta, spaced }));
}

// A folder left in the edit without Ajouter is offered when OK closes the editor: "&Oui" adds
// it, trimmed, at the end, "&Non" leaves the list as it was; the editor is confirmed either way.
// Enter in the edit is OK, not Ajouter.
TEST_F(EditeListeRepertoiresTest, okWithAFolderNotAdded_asksWhetherToAddIt)
{
    const QString delta = QStringLiteral("/srv/Delta");
    struct Case
    {
        const char *name;
        QStringList before;
        QString typed;
        bool enterInEdit;
        QString answer;
        QStringList after;
    };
    const Case cases[] = {
        { "OK, Oui", { kAlpha, kBeta }, QStringLiteral("  /srv/Delta \t"), false,
            QStringLiteral("&Oui"), { kAlpha, kBeta, delta } },
        { "OK, Non", { kAlpha, kBeta }, delta, false, QStringLiteral("&Non"), { kAlpha, kBeta } },
        { "Enter in the edit, Non", { kAlpha }, delta, true, QStringLiteral("&Non"), { kAlpha } },
        { "first folder, Enter in the edit, Oui", {}, delta, true, QStringLiteral("&Oui"),
            { delta } },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FolderList list = listOf(c.before);
        Question asked;
        const bool confirmed = runEditor(list, QString(), [&](TfrmEditeListeRepertoires &frm) {
            ASSERT_TRUE(QTest::qWaitForWindowActive(&frm));
            typeInEdit(frm, c.typed);
            answerNextQuestion(c.answer, &asked);
            if (c.enterInEdit)
                testsupport::pressKey(&frm, Qt::Key_Return);
            else
                click(frm.bbtOk);
            EXPECT_FALSE(frm.isVisible());
        });
        EXPECT_EQ(asked.text,
            QStringLiteral("Le répertoire \"/srv/Delta\" n'a pas été ajouté à la liste. "
                           "Voulez-vous l'ajouter ?"));
        EXPECT_EQ(asked.caption, QStringLiteral("Confirmer"));
        EXPECT_EQ(asked.defaultButton, QStringLiteral("&Oui"));
        EXPECT_TRUE(confirmed);
        EXPECT_EQ(list.entries, c.after);
    }
}

// OK asks nothing when the edit holds nothing to add: nothing, blanks, or an entry as Ajouter
// sees it (letter case aside), an entry kept with blanks around it included.
TEST_F(EditeListeRepertoiresTest, okWithNothingLeftToAdd_asksNothing)
{
    const QString spaced = QStringLiteral("  /srv/Delta ");
    struct Case
    {
        const char *name;
        QStringList entries;
        std::optional<QString> typed; // none: the edit as the editor opened
    };
    const Case cases[] = {
        { "empty list, empty edit", {}, std::nullopt },
        { "blanks only", { kAlpha }, QStringLiteral("  \t ") },
        { "the selected entry", { kAlpha, kBeta }, std::nullopt },
        { "another entry", { kAlpha, kBeta }, kBeta },
        { "an entry in other letter case", { kAlpha }, QStringLiteral(" /SRV/alpha") },
        { "an entry kept with blanks", { spaced }, std::nullopt },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FolderList list = listOf(c.entries);
        const bool confirmed = runEditor(list, QString(), [&](TfrmEditeListeRepertoires &frm) {
            if (c.typed)
                typeInEdit(frm, *c.typed);
            const NoQuestionAsked none;
            click(frm.bbtOk);
            EXPECT_FALSE(frm.isVisible());
        });
        EXPECT_TRUE(confirmed);
        EXPECT_EQ(list.entries, c.entries);
    }
}

TEST_F(EditeListeRepertoiresTest, cancelAfterChanges_leavesTheCallersListUnchanged)
{
    const QString utf8File = writeFile(QStringLiteral("liste.txt"), "\xEF\xBB\xBF/srv/Autre\r\n");
    const QString saved = file(QStringLiteral("copie.txt"));
    struct Case
    {
        const char *name;
        std::function<void(TfrmEditeListeRepertoires &)> close;
    };
    const Case cases[] = {
        { "Annuler", [](TfrmEditeListeRepertoires &frm) { click(frm.bbtCancel); } },
        { "Escape",
            [](TfrmEditeListeRepertoires &frm) {
                QTest::keyClick(frm.lbxFolders, Qt::Key_Escape);
            } },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(saved);
        FolderList list = listOf({ kAlpha, kBeta }, TextEncoding::Utf16LE);
        const FolderList before = list;
        const bool confirmed = runEditor(list, QString(), [&](TfrmEditeListeRepertoires &frm) {
            typeInEdit(frm, QStringLiteral("/srv/Delta"));
            click(frm.bbtAdd);
            click(frm.bbtDelete);
            answerNextFileDialog(utf8File);
            click(frm.bbtOpen);
            EXPECT_EQ(entriesOf(frm), QStringList { QStringLiteral("/srv/Autre") });
            answerNextFileDialog(saved);
            click(frm.bbtSave);
            c.close(frm);
            EXPECT_FALSE(frm.isVisible());
        });
        EXPECT_FALSE(confirmed);
        EXPECT_EQ(list, before);
        // What was saved meanwhile stays written.
        EXPECT_EQ(testsupport::readBytes(saved), QByteArray("\xEF\xBB\xBF/srv/Autre\r\n"));
    }
}

TEST_F(EditeListeRepertoiresTest, openedUtf8FileThenOk_carriesUtf8ToTheCaller)
{
    const QByteArray bytes("\xEF\xBB\xBF/home/zoé/Été\r\n/srv/Ωmega\r\n");
    const QString source = writeFile(QStringLiteral("listes/utf8.txt"), bytes);
    const QString copy = file(QStringLiteral("listes/copie.txt"));
    FolderList list = listOf({ kAlpha });
    const bool confirmed = runEditor(list, QString(), [&](TfrmEditeListeRepertoires &frm) {
        answerNextFileDialog(source, [](QFileDialog *dialog) {
            EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptOpen);
            EXPECT_TRUE(dialog->testOption(QFileDialog::DontUseNativeDialog));
        });
        click(frm.bbtOpen);
        const QStringList loaded { QStringLiteral("/home/zoé/Été"), QStringLiteral("/srv/Ωmega") };
        EXPECT_EQ(entriesOf(frm), loaded);
        EXPECT_EQ(frm.List().encoding, TextEncoding::Utf8);
        answerNextFileDialog(copy, [](QFileDialog *dialog) {
            EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
            EXPECT_TRUE(dialog->testOption(QFileDialog::DontConfirmOverwrite));
        });
        click(frm.bbtSave);
        click(frm.bbtOk);
    });
    EXPECT_TRUE(confirmed);
    EXPECT_EQ(list.entries,
        QStringList({ QStringLiteral("/home/zoé/Été"), QStringLiteral("/srv/Ωmega") }));
    EXPECT_EQ(list.encoding, TextEncoding::Utf8);
    EXPECT_EQ(testsupport::readBytes(copy), bytes);
}

TEST_F(EditeListeRepertoiresTest, fileThatCannotBeReadOrWritten_isReportedAndChangesNothing)
{
    const QString regular = writeFile(QStringLiteral("fichier.txt"), "/srv/Ancien\r\n");
    struct Case
    {
        const char *name;
        bool save;
        QString path;
        QString message;
    };
    const QString missing = file(QStringLiteral("absent.txt"));
    const QString underFile = regular + QStringLiteral("/liste.txt");
    const Case cases[] = {
        { "open a missing file", false, missing,
            QStringLiteral("Impossible d'ouvrir le fichier \"%1\". ").arg(missing) },
        { "open under a regular file", false, underFile,
            QStringLiteral("Impossible d'ouvrir le fichier \"%1\". ").arg(underFile) },
        { "save under a regular file", true, underFile,
            QStringLiteral("Impossible de créer le fichier \"%1\". ").arg(underFile) },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        reportedErrors().clear();
        FolderList list = listOf({ kAlpha, kBeta });
        const bool confirmed = runEditor(list, QString(), [&](TfrmEditeListeRepertoires &frm) {
            clickEntry(frm, 1);
            answerNextFileDialog(c.path);
            click(c.save ? frm.bbtSave : frm.bbtOpen);
            ASSERT_EQ(reportedErrors().size(), 1);
            EXPECT_TRUE(reportedErrors().first().startsWith(c.message))
                << reportedErrors().first().toStdString();
            EXPECT_TRUE(frm.isVisible());
            EXPECT_EQ(entriesOf(frm), QStringList({ kAlpha, kBeta }));
            EXPECT_EQ(frm.SelectedIndex(), 1);
            click(frm.bbtOk);
        });
        EXPECT_TRUE(confirmed);
        EXPECT_EQ(list, listOf({ kAlpha, kBeta }));
        EXPECT_EQ(testsupport::readBytes(regular), QByteArray("/srv/Ancien\r\n"));
    }
}

TEST_F(EditeListeRepertoiresTest, folderButton_startsOnTrimmedEditAndPutsTheChosenFolderIn)
{
    const QString start = makeDir(QStringLiteral("donnees"));
    const QString sub = makeDir(QStringLiteral("donnees/sous-dossier"));
    struct Case
    {
        const char *name;
        QString choose;
        QString editAfter;
        QStringList enabledAfter;
    };
    const QString typed = QStringLiteral("  ") + start + QStringLiteral(" ");
    const Case cases[] = {
        { "chosen", sub, sub,
            { QStringLiteral("bbtReplace"), QStringLiteral("bbtAdd"),
                QStringLiteral("bbtDelete") } },
        { "cancelled", QString(), typed,
            { QStringLiteral("bbtReplace"), QStringLiteral("bbtAdd"),
                QStringLiteral("bbtDelete") } },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FolderList list = listOf({ kAlpha });
        runEditor(list, QString(), [&](TfrmEditeListeRepertoires &frm) {
            typeInEdit(frm, typed);
            QString openedOn;
            bool newFolderShown = true;
            answerNextFileDialog(c.choose, [&](QFileDialog *dialog) {
                openedOn = dialog->selectedFiles().value(0);
                newFolderShown = dialog->findChild<QToolButton *>(QStringLiteral("newFolderButton"))
                                     ->isVisible();
            });
            click(frm.bbtFolder);
            EXPECT_EQ(openedOn, start);
            EXPECT_FALSE(newFolderShown);
            EXPECT_TRUE(frm.FolderDialog->Options() == systemFolderOptions);
            EXPECT_EQ(frm.edtFolder->text(), c.editAfter);
            EXPECT_EQ(enabledListButtons(frm), c.enabledAfter);
        });
    }
}

// A picked folder that the list lacks is there to be added: Ajouter takes the focus, so Enter
// adds it, and the next Enter is OK. A folder already listed, or no pick, leaves the focus on
// the folder button.
TEST_F(EditeListeRepertoiresTest, folderButton_pickedFolderNotListed_enterAddsIt)
{
    const QString sub = makeDir(QStringLiteral("donnees/sous-dossier"));
    struct Case
    {
        const char *name;
        QStringList before;
        QString choose;
        bool toAdd;
    };
    const Case cases[] = {
        { "a new folder", { kAlpha }, sub, true },
        { "into an empty list", {}, sub, true },
        { "a folder already listed", { kAlpha, sub }, sub, false },
        { "cancelled", { kAlpha }, QString(), false },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FolderList list = listOf(c.before);
        const bool confirmed = runEditor(list, QString(), [&](TfrmEditeListeRepertoires &frm) {
            ASSERT_TRUE(QTest::qWaitForWindowActive(&frm));
            answerNextFileDialog(c.choose);
            click(frm.bbtFolder);
            // A window manager gives the activation back once the picker is gone; the
            // offscreen platform does not.
            frm.activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(&frm));
            if (!c.toAdd) {
                EXPECT_EQ(QApplication::focusWidget(), frm.bbtFolder);
                return;
            }
            EXPECT_EQ(frm.edtFolder->text(), sub);
            ASSERT_EQ(QApplication::focusWidget(), frm.bbtAdd);
            testsupport::pressKey(&frm, Qt::Key_Return);
            EXPECT_EQ(entriesOf(frm), c.before + QStringList { sub });
            EXPECT_TRUE(frm.isVisible());
            const NoQuestionAsked none;
            testsupport::pressKey(&frm, Qt::Key_Return);
            EXPECT_FALSE(frm.isVisible());
        });
        EXPECT_EQ(confirmed, c.toAdd);
        EXPECT_EQ(list.entries, c.toAdd ? c.before + QStringList { sub } : c.before);
    }
}

} // namespace

// Enter goes to OK once the button the user pressed has disabled itself, not to the button the
// focus then falls on (Supprimer after Ajouter or Remplacer, Down or the folder picker after Up).
TEST_F(EditeListeRepertoiresTest, enterAfterAButtonDisabledItself_pressesOk)
{
    struct Case
    {
        const char *name;
        QStringList before;
        std::function<void(TfrmEditeListeRepertoires &)> act;
        QStringList after;
    };
    const Case cases[] = {
        { "Ajouter", { kAlpha },
            [](TfrmEditeListeRepertoires &frm) {
                typeInEdit(frm, kBeta);
                click(frm.bbtAdd);
            },
            { kAlpha, kBeta } },
        { "Remplacer", { kAlpha, kBeta },
            [](TfrmEditeListeRepertoires &frm) {
                typeInEdit(frm, kGamma);
                click(frm.bbtReplace);
            },
            { kGamma, kBeta } },
        { "Up on the second entry", { kAlpha, kBeta },
            [](TfrmEditeListeRepertoires &frm) {
                clickEntry(frm, 1);
                click(frm.bbtUp);
            },
            { kBeta, kAlpha } },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FolderList list = listOf(c.before);
        const bool confirmed = runEditor(list, QString(), [&](TfrmEditeListeRepertoires &frm) {
            ASSERT_TRUE(QTest::qWaitForWindowActive(&frm));
            c.act(frm);
            EXPECT_EQ(entriesOf(frm), c.after);
            // OK is also the button drawn as the default one.
            QCoreApplication::processEvents();
            for (const QPushButton *button : frm.findChildren<QPushButton *>())
                EXPECT_EQ(button->isDefault(), button == frm.bbtOk)
                    << button->objectName().toStdString();
            testsupport::pressKey(&frm, Qt::Key_Return);
            EXPECT_FALSE(frm.isVisible());
        });
        EXPECT_TRUE(confirmed);
        EXPECT_EQ(list.entries, c.after);
    }
}

// A button the user puts the focus on by Tab answers Enter itself; Escape is Annuler.
TEST_F(EditeListeRepertoiresTest, enterOnAButtonReachedByTab_pressesIt_escapeCancels)
{
    FolderList list = listOf({ kAlpha, kBeta });
    const bool confirmed = runEditor(list, QString(), [](TfrmEditeListeRepertoires &frm) {
        ASSERT_TRUE(QTest::qWaitForWindowActive(&frm));
        frm.bbtDown->setFocus(Qt::OtherFocusReason);
        testsupport::pressKey(&frm, Qt::Key_Backtab);
        ASSERT_EQ(QApplication::focusWidget(), frm.bbtDelete);
        testsupport::pressKey(&frm, Qt::Key_Return);
        EXPECT_TRUE(frm.isVisible());
        EXPECT_EQ(entriesOf(frm), QStringList { kBeta });
        testsupport::pressKey(&frm, Qt::Key_Escape);
        EXPECT_FALSE(frm.isVisible());
    });
    EXPECT_FALSE(confirmed);
    EXPECT_EQ(list.entries, QStringList({ kAlpha, kBeta }));
}

// A path copied from a terminal ends with a line break: the edit keeps the text up to the
// first break, so the entry can never come back as two.
TEST_F(EditeListeRepertoiresTest, pastedTextWithLineBreaks_keepsItsFirstLine)
{
    FolderList list;
    const bool confirmed = runEditor(list, QString(), [](TfrmEditeListeRepertoires &frm) {
        ASSERT_TRUE(QTest::qWaitForWindowActive(&frm));
        typeInEdit(frm, QStringLiteral("/srv"));
        QGuiApplication::clipboard()->setText(QStringLiteral("/Collé\n/srv/Autre\r\n"));
        testsupport::pressKey(&frm, Qt::Key_V, Qt::ControlModifier);
        EXPECT_EQ(frm.edtFolder->text(), QStringLiteral("/srv/Collé"));
        QGuiApplication::clipboard()->setText(QStringLiteral("\r\nrien"));
        testsupport::pressKey(&frm, Qt::Key_V, Qt::ControlModifier);
        EXPECT_EQ(frm.edtFolder->text(), QStringLiteral("/srv/Collé"));
        click(frm.bbtAdd);
        click(frm.bbtOk);
    });
    EXPECT_TRUE(confirmed);
    EXPECT_EQ(list.entries, QStringList { QStringLiteral("/srv/Collé") });
}

// While the list holds entries one stays selected: neither a click under the entries nor
// Ctrl+click on the selected one takes the selection away (the rules would then empty the edit
// and quietly select the first entry).
TEST_F(EditeListeRepertoiresTest, clickUnderTheEntriesOrCtrlClickOnTheSelectedOne_keepsIt)
{
    FolderList list = listOf({ kAlpha, kBeta, kGamma });
    runEditor(list, QString(), [](TfrmEditeListeRepertoires &frm) {
        QListWidget *box = frm.lbxFolders;
        clickEntry(frm, 1);
        ASSERT_EQ(frm.SelectedIndex(), 1);
        const QRect last = box->visualItemRect(box->item(2));
        ASSERT_LT(last.bottom() + 10, box->viewport()->height());
        QTest::mouseClick(
            box->viewport(), Qt::LeftButton, {}, QPoint(last.center().x(), last.bottom() + 10));
        EXPECT_EQ(frm.SelectedIndex(), 1);
        EXPECT_EQ(frm.edtFolder->text(), kBeta);
        QTest::mouseClick(box->viewport(), Qt::LeftButton, Qt::ControlModifier,
            box->visualItemRect(box->item(1)).center());
        EXPECT_EQ(frm.SelectedIndex(), 1);
        EXPECT_EQ(frm.edtFolder->text(), kBeta);
        EXPECT_EQ(enabledListButtons(frm),
            QStringList({ QStringLiteral("bbtDelete"), QStringLiteral("bbtUp"),
                QStringLiteral("bbtDown") }));
        clickEntry(frm, 2);
        EXPECT_EQ(frm.SelectedIndex(), 2);
        EXPECT_EQ(frm.edtFolder->text(), kGamma);
    });
}
