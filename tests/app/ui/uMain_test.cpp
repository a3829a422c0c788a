#include "MainWindowFixture.h"
#include "app/uMain.h"

#include "folders/uEditeListeRepertoires.h"
#include "support/Fixtures.h"
#include "support/Keys.h"
#include "support/Modal.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStringEncoder>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include <sys/stat.h>

using namespace Qt::Literals::StringLiterals;
using testsupport::reportedErrors;
using uitest::kSettings;

namespace {

void clickButton(QWidget *dialog, const QString &text)
{
    for (QAbstractButton *button : dialog->findChildren<QAbstractButton *>()) {
        if (button->text() == text && button->isVisible()) {
            button->click();
            return;
        }
    }
    ADD_FAILURE() << "no button " << text.toStdString() << " in "
                  << testsupport::dialogText(dialog).toStdString();
    dialog->close();
}

// Answers the coming modal dialogs one after the other, recording what each one said.
void answerInOrder(QStringList buttons, QStringList *seen)
{
    if (buttons.isEmpty())
        return;
    const QString button = buttons.takeFirst();
    testsupport::onNextModal([button, buttons, seen](QWidget *modal) {
        seen->append(testsupport::dialogText(modal));
        answerInOrder(buttons, seen);
        clickButton(modal, button);
    });
}

// Clicks the copy window's "&Fermer" until the window has closed (closing is refused
// while the run still works).
void closeCopyWindow(QWidget *copyWindow, int attemptsLeft = 500)
{
    if (!copyWindow->isVisible())
        return;
    if (attemptsLeft == 0) {
        ADD_FAILURE() << "the copy window did not close";
        return;
    }
    if (auto *close = copyWindow->findChild<QAbstractButton *>(u"bbtClose"_s);
        close && close->isEnabled())
        close->click();
    QTimer::singleShot(10, copyWindow,
        [copyWindow, attemptsLeft] { closeCopyWindow(copyWindow, attemptsLeft - 1); });
}

// Presses the copy button and, once the run has ended, closes the end message and the copy
// window; returns the end message.
QString copyAndClose(QPushButton *bbtCopie)
{
    QString endMessage;
    testsupport::onNextModal([&endMessage](QWidget *copyWindow) {
        EXPECT_EQ(copyWindow->objectName(), u"frmCopy"_s);
        testsupport::onNextModal([&endMessage, copyWindow](QWidget *box) {
            endMessage = testsupport::dialogText(box);
            clickButton(box, u"OK"_s);
            closeCopyWindow(copyWindow);
        });
    });
    EXPECT_TRUE(bbtCopie->isEnabled());
    QTest::mouseClick(bbtCopie, Qt::LeftButton);
    return endMessage;
}

class MainWindowTest : public uitest::MainWindowFixture
{
protected:
    void writeList(const QString &name, const QStringList &entries) const
    {
        QByteArray bytes;
        for (const QString &entry : entries)
            bytes += entry.toLatin1() + "\r\n";
        writeSettings(name, bytes);
    }
    void useExtendedLayout() const
    {
        writeSettings(u"Options.ini"_s, "[ACME]\r\nExtendedView=1\r\n");
    }

    // A user's choice in a drop-down list, by keyboard.
    static void choose(QComboBox *cbx, int index)
    {
        QTest::keyClick(cbx, Qt::Key_Home);
        for (int i = 0; i < index; ++i)
            QTest::keyClick(cbx, Qt::Key_Down);
        ASSERT_EQ(cbx->currentIndex(), index);
    }

    static void retype(QLineEdit *edt, const QString &text)
    {
        edt->selectAll();
        QTest::keyClick(edt, Qt::Key_Delete);
        QTest::keyClicks(edt, text);
    }
};

TEST_F(MainWindowTest, firstStart_createsSettingsAndEmptyListFiles_copyDisabled)
{
    const auto window = openWindow();

    EXPECT_TRUE(reportedErrors().isEmpty()) << reportedErrors().join(u'\n').toStdString();
    EXPECT_EQ(window->windowTitle(), u"Quill Sift"_s);
    EXPECT_TRUE(readFile(kSettings + u"Options.ini"_s).contains("ExtendedView=0"));
    for (const QString &name : { u"RepSrc.txt"_s, u"RepDst.txt"_s }) {
        EXPECT_TRUE(QFileInfo(settingsFile(name)).isFile()) << name.toStdString();
        EXPECT_EQ(readFile(kSettings + name), QByteArray());
    }
    EXPECT_EQ(child<QComboBox>(*window, u"cbxRepSrc"_s)->count(), 0);
    EXPECT_EQ(child<QComboBox>(*window, u"cbxRepDst"_s)->count(), 0);
    EXPECT_FALSE(child<QPushButton>(*window, u"bbtCopie"_s)->isEnabled());
    EXPECT_TRUE(child<QWidget>(*window, u"edtRepSrc"_s)->isHidden());
    // The empty filter box says what to type.
    EXPECT_EQ(child<QPlainTextEdit>(*window, u"memFilter"_s)->placeholderText(),
        u"Un filtre par ligne : *.pdf, rapport…"_s);
}

// An empty list cannot be typed into: in both layouts it tells how to fill it until a folder is
// listed, and shows no folder chosen then; the buttons keep their pictures alone.
TEST_F(MainWindowTest, emptyFolderList_pointsToItsListButtonUntilAFolderIsListed)
{
    const QString hint = u"Aucun répertoire : ajoutez-en un avec le bouton ≡ à droite"_s;
    const QString data = makeDir(u"Data"_s);
    const auto editList = [](QWidget &window, const QString &button,
                              std::function<void(TfrmEditeListeRepertoires *)> edit) {
        uitest::onNextModalOf<TfrmEditeListeRepertoires>(
            "the list editor", [edit = std::move(edit)](TfrmEditeListeRepertoires *editor) {
                edit(editor);
                QTest::mouseClick(editor->bbtOk, Qt::LeftButton);
            });
        QTest::mouseClick(child<QPushButton>(window, button), Qt::LeftButton);
    };
    for (const bool extended : { false, true }) {
        SCOPED_TRACE(extended ? "extended" : "normal");
        writeList(u"RepSrc.txt"_s, {});
        writeList(u"RepDst.txt"_s, {});
        if (extended)
            useExtendedLayout();
        auto window = openWindow();
        ASSERT_EQ(window->extendedView(), extended);
        auto *cbxRepSrc = child<QComboBox>(*window, u"cbxRepSrc"_s);
        auto *cbxRepDst = child<QComboBox>(*window, u"cbxRepDst"_s);
        EXPECT_EQ(cbxRepSrc->placeholderText(), hint);
        EXPECT_EQ(cbxRepDst->placeholderText(), hint);
        for (const QString &name :
            { u"bbtRepSrc"_s, u"bbtRepDst"_s, u"bbtSelectRepSrc"_s, u"bbtSelectRepDst"_s })
            EXPECT_EQ(child<QPushButton>(*window, name)->text(), QString()) << name.toStdString();

        editList(*window, u"bbtRepSrc"_s, [&data](TfrmEditeListeRepertoires *editor) {
            QTest::keyClicks(editor->edtFolder, data);
            QTest::mouseClick(editor->bbtAdd, Qt::LeftButton);
        });
        ASSERT_EQ(cbxRepSrc->count(), 1);
        EXPECT_EQ(cbxRepSrc->placeholderText(), QString());
        EXPECT_EQ(cbxRepSrc->currentIndex(), -1);
        EXPECT_EQ(cbxRepDst->placeholderText(), hint);
        EXPECT_FALSE(child<QPushButton>(*window, u"bbtCopie"_s)->isEnabled());
        EXPECT_EQ(child<QLineEdit>(*window, u"edtRepSrc"_s)->text(), QString());

        // A listed folder read at start-up; the hint comes back once the list is emptied.
        window.reset();
        window = openWindow();
        cbxRepSrc = child<QComboBox>(*window, u"cbxRepSrc"_s);
        ASSERT_EQ(cbxRepSrc->count(), 1);
        EXPECT_EQ(cbxRepSrc->placeholderText(), QString());
        EXPECT_EQ(cbxRepSrc->currentIndex(), -1);
        EXPECT_EQ(child<QComboBox>(*window, u"cbxRepDst"_s)->placeholderText(), hint);
        editList(*window, u"bbtRepSrc"_s, [](TfrmEditeListeRepertoires *editor) {
            QTest::mouseClick(editor->bbtDelete, Qt::LeftButton);
        });
        EXPECT_EQ(cbxRepSrc->count(), 0);
        EXPECT_EQ(cbxRepSrc->placeholderText(), hint);
    }
}

TEST_F(MainWindowTest, controls_carryCaptionsTagsFontsAndTabOrder)
{
    const auto window = openWindow();

    const struct
    {
        QString name;
        QString caption;
        int tag;
    } controls[] = {
        { u"Label3"_s, u"Filtres"_s, 0 },
        { u"lblRepSrc"_s, u"Répertoire &source"_s, 0 },
        { u"lblRepDst"_s, u"Répertoire de &destination"_s, 0 },
        { u"bbtRepSrc"_s, {}, 1 },
        { u"bbtSelectRepSrc"_s, {}, 1 },
        { u"bbtRepDst"_s, {}, 2 },
        { u"bbtSelectRepDst"_s, {}, 2 },
        { u"bbtOptions"_s, u"&Options"_s, 0 },
        { u"bbtCopie"_s, u"&Copie des fichiers"_s, 0 },
        { u"bbtReset"_s, u"RAZ"_s, 0 },
        { u"bbtAbout"_s, {}, 0 },
        { u"bbtClose"_s, u"&Fermer"_s, 0 },
    };
    for (const auto &control : controls) {
        SCOPED_TRACE(control.name.toStdString());
        QWidget *widget = child<QWidget>(*window, control.name);
        ASSERT_NE(widget, nullptr);
        if (auto *label = qobject_cast<QLabel *>(widget)) {
            EXPECT_EQ(label->text(), control.caption);
            EXPECT_TRUE(label->font().bold());
        } else {
            auto *button = qobject_cast<QAbstractButton *>(widget);
            ASSERT_NE(button, nullptr);
            EXPECT_EQ(button->text(), control.caption);
            EXPECT_FALSE(button->icon().isNull());
        }
        EXPECT_EQ(widget->property("tag").toInt(), control.tag);
    }
    EXPECT_EQ(
        child<QLabel>(*window, u"lblRepSrc"_s)->buddy(), child<QWidget>(*window, u"cbxRepSrc"_s));
    EXPECT_EQ(
        child<QLabel>(*window, u"lblRepDst"_s)->buddy(), child<QWidget>(*window, u"cbxRepDst"_s));
    EXPECT_EQ(child<QWidget>(*window, u"bbtAbout"_s)->toolTip(), u"A propos de..."_s);
    EXPECT_TRUE(child<QWidget>(*window, u"bbtCopie"_s)->font().bold());
    EXPECT_EQ(window->font().family(), u"Tahoma"_s);
    EXPECT_EQ(window->font().pointSize(), 8);
    EXPECT_EQ(child<QWidget>(*window, u"memFilter"_s)->font().family(), u"Courier New"_s);
    EXPECT_FALSE(child<QComboBox>(*window, u"cbxRepSrc"_s)->isEditable());

    const QStringList tabOrder { u"memFilter"_s, u"cbxRepSrc"_s, u"bbtRepSrc"_s, u"edtRepSrc"_s,
        u"bbtSelectRepSrc"_s, u"cbxRepDst"_s, u"bbtRepDst"_s, u"edtRepDst"_s, u"bbtSelectRepDst"_s,
        u"bbtOptions"_s, u"bbtCopie"_s, u"bbtReset"_s, u"bbtAbout"_s, u"bbtClose"_s };
    QStringList chain;
    QWidget *start = child<QWidget>(*window, u"memFilter"_s);
    QWidget *widget = start;
    do {
        if (tabOrder.contains(widget->objectName()) && !chain.contains(widget->objectName()))
            chain.append(widget->objectName());
        widget = widget->nextInFocusChain();
    } while (widget != start);
    EXPECT_EQ(chain, tabOrder);
}

TEST_F(MainWindowTest, layouts_placeTheFolderControlsAtTheirOffsets)
{
    const struct
    {
        QString name;
        int normalTop; // -1: hidden and disabled
        int extendedTop;
    } places[] = {
        { u"memFilter"_s, 32, 32 },
        { u"lblRepSrc"_s, 178, 138 },
        { u"cbxRepSrc"_s, 197, 157 },
        { u"bbtRepSrc"_s, 195, 155 },
        { u"edtRepSrc"_s, -1, 184 },
        { u"bbtSelectRepSrc"_s, -1, 184 },
        { u"lblRepDst"_s, 232, 211 },
        { u"cbxRepDst"_s, 251, 230 },
        { u"bbtRepDst"_s, 249, 228 },
        { u"edtRepDst"_s, -1, 257 },
        { u"bbtSelectRepDst"_s, -1, 257 },
        { u"bbtOptions"_s, 290, 290 },
        { u"bbtCopie"_s, 290, 290 },
        { u"bbtReset"_s, 290, 290 },
    };
    for (const bool extended : { false, true }) {
        SCOPED_TRACE(extended ? "extended" : "normal");
        if (extended)
            useExtendedLayout();
        const auto window = openWindow();
        ASSERT_EQ(window->extendedView(), extended);
        const double scale = window->logicalDpiY() / 96.0;
        const auto at96 = [scale](int pixels) { return qRound(pixels * scale); };
        EXPECT_EQ(window->size(), QSize(at96(480), at96(355)));
        EXPECT_EQ(child<QWidget>(*window, u"memFilter"_s)->height(), at96(extended ? 100 : 140));
        EXPECT_EQ(child<QWidget>(*window, u"pnlBottom"_s)->height(), at96(33));
        for (const auto &place : places) {
            SCOPED_TRACE(place.name.toStdString());
            QWidget *widget = child<QWidget>(*window, place.name);
            const int top = extended ? place.extendedTop : place.normalTop;
            EXPECT_EQ(widget->y(), top < 0 ? 0 : at96(top));
            EXPECT_EQ(widget->isVisibleTo(window.get()), top >= 0);
            if (place.name != u"bbtCopie"_s) {
                EXPECT_EQ(widget->isEnabled(), top >= 0);
            }
        }
    }
}

TEST_F(MainWindowTest, resizing_givesHeightToTheFilterBoxAndWidthToTheBoxes)
{
    const auto window = openWindow();
    const QStringList names { u"memFilter"_s, u"cbxRepDst"_s, u"bbtRepDst"_s, u"bbtOptions"_s,
        u"bbtCopie"_s, u"bbtReset"_s, u"bbtAbout"_s, u"bbtClose"_s };
    QMap<QString, QRect> before;
    for (const QString &name : names)
        before[name] = child<QWidget>(*window, name)->geometry();

    window->resize(window->width() + 100, window->height() + 60);
    const int wanted = before[u"memFilter"_s].height() + 60;
    const auto filterHeight = [&] { return child<QWidget>(*window, u"memFilter"_s)->height(); };
    EXPECT_TRUE(QTest::qWaitFor([&] { return filterHeight() == wanted; }))
        << filterHeight() << " instead of " << wanted;

    const auto moved = [&](const QString &name) {
        const QRect now = child<QWidget>(*window, name)->geometry();
        const QRect was = before[name];
        return QRect(now.x() - was.x(), now.y() - was.y(), now.width() - was.width(),
            now.height() - was.height());
    };
    // x, y, width and height changes.
    EXPECT_EQ(moved(u"memFilter"_s), QRect(0, 0, 100, 60));
    EXPECT_EQ(moved(u"cbxRepDst"_s), QRect(0, 60, 100, 0));
    EXPECT_EQ(moved(u"bbtRepDst"_s), QRect(100, 60, 0, 0));
    EXPECT_EQ(moved(u"bbtOptions"_s), QRect(0, 60, 0, 0));
    EXPECT_EQ(moved(u"bbtCopie"_s), QRect(0, 60, 100, 0));
    EXPECT_EQ(moved(u"bbtReset"_s), QRect(100, 60, 0, 0));
    EXPECT_EQ(moved(u"bbtAbout"_s), QRect(0, 0, 0, 0));
    EXPECT_EQ(moved(u"bbtClose"_s), QRect(100, 0, 0, 0));
}

TEST_F(MainWindowTest, missingFolders_askedInReverseOrder_OuiRemovesNonKeeps)
{
    const QString goneA = file(u"gone-a"_s);
    const QString kept = makeDir(u"kept"_s);
    const QString goneC = file(u"gone-c"_s);
    const QString goneD = file(u"gone-d"_s);
    writeList(u"RepSrc.txt"_s, { goneA, kept, goneC });
    writeList(u"RepDst.txt"_s, { goneD });

    QStringList questions;
    answerInOrder({ u"&Oui"_s, u"&Non"_s, u"&Oui"_s }, &questions);
    const auto window = openWindow();

    const QString tail
        = u"\" est introuvable.\nVoulez-vous le supprimer de la liste des répertoires ?"_s;
    EXPECT_EQ(questions,
        QStringList({ u"Le répertoire source \""_s + goneC + tail,
            u"Le répertoire source \""_s + goneA + tail,
            u"Le répertoire de destination \""_s + goneD + tail }));
    auto *cbxRepSrc = child<QComboBox>(*window, u"cbxRepSrc"_s);
    ASSERT_EQ(cbxRepSrc->count(), 2);
    EXPECT_EQ(cbxRepSrc->itemText(0), goneA);
    EXPECT_EQ(cbxRepSrc->itemText(1), kept);
    EXPECT_EQ(cbxRepSrc->currentIndex(), -1);
    EXPECT_EQ(child<QComboBox>(*window, u"cbxRepDst"_s)->count(), 0);
    EXPECT_EQ(
        readFile(kSettings + u"RepSrc.txt"_s), (goneA + u"\r\n"_s + kept + u"\r\n"_s).toLatin1());
    EXPECT_EQ(readFile(kSettings + u"RepDst.txt"_s), QByteArray());
}

TEST_F(MainWindowTest, listFiles_keepTheirEncodingThroughStartUp)
{
    const QString folder = makeDir(u"Données"_s);
    const QString line = folder + u"\r\n"_s;
    const auto encoded = [&line](QStringConverter::Encoding encoding) -> QByteArray {
        return QStringEncoder(encoding).encode(line);
    };
    const struct
    {
        const char *name;
        QByteArray read;
        QByteArray written;
        TextEncoding encoding;
    } cases[] = {
        { "Windows-1252, LF", folder.toLatin1() + "\n", line.toLatin1(), TextEncoding::Ansi },
        { "UTF-8 with its mark", "\xEF\xBB\xBF" + line.toUtf8(), "\xEF\xBB\xBF" + line.toUtf8(),
            TextEncoding::Utf8 },
        { "UTF-16LE", "\xFF\xFE" + encoded(QStringConverter::Utf16LE),
            "\xFF\xFE" + encoded(QStringConverter::Utf16LE), TextEncoding::Utf16LE },
        { "UTF-16BE", "\xFE\xFF" + encoded(QStringConverter::Utf16BE),
            "\xFE\xFF" + encoded(QStringConverter::Utf16BE), TextEncoding::Utf16BE },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        writeSettings(u"RepSrc.txt"_s, c.read);
        const auto window = openWindow();
        EXPECT_EQ(window->repSrc().entries, QStringList { folder });
        EXPECT_EQ(window->repSrc().encoding, c.encoding);
        EXPECT_EQ(readFile(kSettings + u"RepSrc.txt"_s), c.written);
    }
}

TEST_F(MainWindowTest, normalLayout_copyEnabledOnlyWhileBothChosenFoldersExist)
{
    const QString src = makeDir(u"Data"_s);
    const QString dst = makeDir(u"Backup"_s);
    const QString gone = file(u"gone"_s);
    // The entry with a trailing blank names no folder: the test takes the text as it is.
    writeList(u"RepSrc.txt"_s, { src, src + u' ' });
    writeList(u"RepDst.txt"_s, { gone, dst });
    QStringList questions;
    answerInOrder({ u"&Non"_s, u"&Non"_s }, &questions);
    const auto window = openWindow();
    ASSERT_EQ(questions.size(), 2);

    auto *cbxRepSrc = child<QComboBox>(*window, u"cbxRepSrc"_s);
    auto *cbxRepDst = child<QComboBox>(*window, u"cbxRepDst"_s);
    auto *bbtCopie = child<QPushButton>(*window, u"bbtCopie"_s);
    choose(cbxRepSrc, 0);
    EXPECT_FALSE(bbtCopie->isEnabled());
    choose(cbxRepDst, 0);
    EXPECT_FALSE(bbtCopie->isEnabled()) << "destination kept with &Non is missing";
    choose(cbxRepDst, 1);
    EXPECT_TRUE(bbtCopie->isEnabled());
    choose(cbxRepSrc, 1);
    EXPECT_FALSE(bbtCopie->isEnabled()) << "untrimmed source names no folder";
    choose(cbxRepSrc, 0);
    EXPECT_TRUE(bbtCopie->isEnabled());
    EXPECT_TRUE(child<QLineEdit>(*window, u"edtRepSrc"_s)->text().isEmpty());

    auto *memFilter = child<QPlainTextEdit>(*window, u"memFilter"_s);
    QTest::keyClicks(memFilter, u"rapport"_s);
    QTest::mouseClick(child<QPushButton>(*window, u"bbtReset"_s), Qt::LeftButton);
    EXPECT_TRUE(memFilter->toPlainText().isEmpty());
    EXPECT_EQ(cbxRepSrc->currentIndex(), -1);
    EXPECT_EQ(cbxRepDst->currentIndex(), -1);
    EXPECT_FALSE(bbtCopie->isEnabled());
    EXPECT_EQ(cbxRepDst->count(), 2) << "RAZ leaves the lists alone";
}

TEST_F(MainWindowTest, copyButtonTooltip_saysWhyItIsDisabledOrWhatItWillCopy)
{
    const QString data = makeDir(u"Data"_s);
    const QString backup = makeDir(u"Backup"_s);
    const QString gone = file(u"gone"_s);
    writeList(u"RepSrc.txt"_s, { data, gone });
    writeList(u"RepDst.txt"_s, { backup });
    QStringList questions;
    answerInOrder({ u"&Non"_s }, &questions);
    const auto window = openWindow();
    auto *cbxRepSrc = child<QComboBox>(*window, u"cbxRepSrc"_s);
    auto *cbxRepDst = child<QComboBox>(*window, u"cbxRepDst"_s);
    auto *bbtCopie = child<QPushButton>(*window, u"bbtCopie"_s);
    ASSERT_EQ(cbxRepSrc->count(), 2);

    const QString noSource = u"Aucun répertoire source n'est choisi."_s;
    const QString noDestination = u"Aucun répertoire de destination n'est choisi."_s;
    const struct
    {
        int src;
        int dst;
        QString tooltip; // empty: the button is enabled
    } cases[] = {
        { -1, -1, noSource + u'\n' + noDestination },
        { 1, -1, u"Le répertoire source \"%1\" est introuvable.\n"_s.arg(gone) + noDestination },
        { -1, 0, noSource },
        { 1, 0, u"Le répertoire source \"%1\" est introuvable."_s.arg(gone) },
        { 0, 0, {} },
        { 0, -1, noDestination },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "source " << c.src << ", destination " << c.dst);
        cbxRepSrc->setCurrentIndex(c.src);
        cbxRepDst->setCurrentIndex(c.dst);
        EXPECT_EQ(bbtCopie->isEnabled(), c.tooltip.isEmpty());
        if (c.tooltip.isEmpty()) {
            EXPECT_EQ(bbtCopie->toolTip(),
                u"Copier les fichiers qui répondent aux filtres\nde \"%1\"\nvers \"%2\""_s.arg(
                    data, backup));
        } else {
            EXPECT_EQ(bbtCopie->toolTip(), c.tooltip);
        }
    }

    // A folder removed after the choice: the next run of the rule says so.
    cbxRepSrc->setCurrentIndex(0);
    cbxRepDst->setCurrentIndex(0);
    ASSERT_TRUE(QDir(backup).removeRecursively());
    QTest::mouseClick(child<QPushButton>(*window, u"bbtReset"_s), Qt::LeftButton);
    EXPECT_EQ(bbtCopie->toolTip(), noSource + u'\n' + noDestination);
}

TEST_F(MainWindowTest, extendedLayout_copyButtonTooltipFollowsTheTextBoxes)
{
    const QString data = makeDir(u"Data"_s);
    const QString backup = makeDir(u"Backup"_s);
    useExtendedLayout();
    const auto window = openWindow();
    auto *edtRepSrc = child<QLineEdit>(*window, u"edtRepSrc"_s);
    auto *bbtCopie = child<QPushButton>(*window, u"bbtCopie"_s);
    QTest::keyClicks(child<QLineEdit>(*window, u"edtRepDst"_s), backup);

    const struct
    {
        QString source;
        QString tooltip;
    } cases[] = {
        { u"   "_s, u"Aucun répertoire source n'est choisi."_s },
        { data + u' ', u"Le répertoire source \"%1 \" est introuvable."_s.arg(data) },
        { data + u"/Sub"_s, u"Le répertoire source \"%1/Sub\" est introuvable."_s.arg(data) },
        { data,
            u"Copier les fichiers qui répondent aux filtres\nde \"%1\"\nvers \"%2\""_s.arg(
                data, backup) },
    };
    for (const auto &c : cases) {
        retype(edtRepSrc, c.source);
        EXPECT_EQ(bbtCopie->toolTip(), c.tooltip) << '"' << c.source.toStdString() << '"';
        EXPECT_EQ(bbtCopie->isEnabled(), c.tooltip.startsWith(u"Copier"_s));
    }
}

TEST_F(MainWindowTest, longFolders_shownWholeInTheTooltipsOfTheirBoxesWhileCutOff)
{
    const QString data = makeDir(u"Data"_s);
    const QString deep = makeDir(u"Rapports trimestriels de la comptabilité générale/"
                                 u"Archives des exercices précédents 2019-2026"_s);
    writeList(u"RepSrc.txt"_s, { data, deep });
    useExtendedLayout();
    const auto window = openWindow();
    auto *cbxRepSrc = child<QComboBox>(*window, u"cbxRepSrc"_s);
    auto *edtRepSrc = child<QLineEdit>(*window, u"edtRepSrc"_s);

    choose(cbxRepSrc, 1);
    EXPECT_EQ(cbxRepSrc->toolTip(), deep);
    EXPECT_EQ(edtRepSrc->toolTip(), deep);
    choose(cbxRepSrc, 0);
    EXPECT_EQ(cbxRepSrc->toolTip(), QString());
    EXPECT_EQ(edtRepSrc->toolTip(), QString());

    // The boxes stretch with the window: wide enough, nothing is cut off.
    choose(cbxRepSrc, 1);
    window->resize(window->width() + 600, window->height());
    EXPECT_EQ(cbxRepSrc->toolTip(), QString());
    EXPECT_EQ(edtRepSrc->toolTip(), QString());
}

TEST_F(MainWindowTest, extendedLayout_textBoxKeepsOnlyTextsHoldingTheChosenFolder)
{
    const QString data = makeDir(u"Data"_s);
    makeDir(u"Data/Sub"_s);
    const QString backup = makeDir(u"Backup"_s);
    writeList(u"RepSrc.txt"_s, { data });
    writeList(u"RepDst.txt"_s, { backup });
    useExtendedLayout();
    const auto window = openWindow();

    auto *cbxRepSrc = child<QComboBox>(*window, u"cbxRepSrc"_s);
    auto *edtRepSrc = child<QLineEdit>(*window, u"edtRepSrc"_s);
    auto *edtRepDst = child<QLineEdit>(*window, u"edtRepDst"_s);
    auto *bbtCopie = child<QPushButton>(*window, u"bbtCopie"_s);

    choose(cbxRepSrc, 0);
    EXPECT_EQ(edtRepSrc->text(), data);
    EXPECT_FALSE(bbtCopie->isEnabled());
    choose(child<QComboBox>(*window, u"cbxRepDst"_s), 0);
    EXPECT_EQ(edtRepDst->text(), backup);
    EXPECT_TRUE(bbtCopie->isEnabled());

    // As the picker sets it: a folder below the chosen one stays.
    edtRepSrc->setText(data + u"/Sub"_s);
    EXPECT_EQ(edtRepSrc->text(), data + u"/Sub"_s);
    EXPECT_TRUE(bbtCopie->isEnabled());

    // Typing another folder over it: the first keystroke brings the chosen folder back.
    edtRepSrc->selectAll();
    QTest::keyClick(edtRepSrc, '/');
    EXPECT_EQ(edtRepSrc->text(), data);

    // Letter case counts.
    edtRepSrc->setText(data.toLower() + u"/sub"_s);
    EXPECT_EQ(edtRepSrc->text(), data);

    QTest::mouseClick(child<QPushButton>(*window, u"bbtReset"_s), Qt::LeftButton);
    EXPECT_TRUE(edtRepSrc->text().isEmpty());
    EXPECT_TRUE(edtRepDst->text().isEmpty());
    EXPECT_EQ(cbxRepSrc->currentIndex(), -1);
    EXPECT_FALSE(bbtCopie->isEnabled());
    QTest::keyClicks(edtRepSrc, u"/other"_s);
    EXPECT_EQ(edtRepSrc->text(), u"/other"_s) << "with no folder chosen any text stays";
}

TEST_F(MainWindowTest, extendedLayout_copyEnabledByTrimmedTextAndUntrimmedFolderTest)
{
    const QString data = makeDir(u"Data"_s);
    const QString backup = makeDir(u"Backup"_s);
    useExtendedLayout();
    const auto window = openWindow();
    auto *edtRepSrc = child<QLineEdit>(*window, u"edtRepSrc"_s);
    auto *bbtCopie = child<QPushButton>(*window, u"bbtCopie"_s);
    QTest::keyClicks(child<QLineEdit>(*window, u"edtRepDst"_s), backup);

    const struct
    {
        QString source;
        bool enabled;
    } cases[] = {
        { data, true },
        { u"   "_s, false },
        { data + u' ', false },
        { u' ' + data, false },
        { file(u"gone"_s), false },
        { data + u'/', true },
    };
    for (const auto &c : cases) {
        retype(edtRepSrc, c.source);
        EXPECT_EQ(edtRepSrc->text(), c.source);
        EXPECT_EQ(bbtCopie->isEnabled(), c.enabled) << '"' << c.source.toStdString() << '"';
    }
}

TEST_F(MainWindowTest, layoutSettingChangedWhileRunning_takesEffectAtNextStart)
{
    const QString data = makeDir(u"Data"_s);
    writeList(u"RepSrc.txt"_s, { data });
    {
        const auto window = openWindow();
        window->config().ExtendedView = true;
        window->SaveConfig();
        choose(child<QComboBox>(*window, u"cbxRepSrc"_s), 0);
        EXPECT_TRUE(child<QLineEdit>(*window, u"edtRepSrc"_s)->text().isEmpty());
        EXPECT_TRUE(child<QWidget>(*window, u"edtRepSrc"_s)->isHidden());
    }
    const auto restarted = openWindow();
    EXPECT_TRUE(restarted->extendedView());
    EXPECT_FALSE(child<QWidget>(*restarted, u"edtRepSrc"_s)->isHidden());
}

class MainWindowCopyTest : public MainWindowTest, public ::testing::WithParamInterface<bool>
{
};

TEST_P(MainWindowCopyTest, copyButton_copiesTheFilesTheTypedFiltersSelect)
{
    const bool extended = GetParam();
    const QString data = makeDir(u"Data"_s);
    const QString backup = makeDir(u"Backup"_s);
    for (const QString &name :
        { u"Data/a1.txt"_s, u"Data/b1.txt"_s, u"Data/Sub/a2.txt"_s, u"Data/Sub/b2.txt"_s })
        writeFile(name, name.toUtf8());
    writeList(u"RepSrc.txt"_s, { data });
    writeList(u"RepDst.txt"_s, { backup });
    if (extended)
        useExtendedLayout();
    const auto window = openWindow();

    choose(child<QComboBox>(*window, u"cbxRepSrc"_s), 0);
    choose(child<QComboBox>(*window, u"cbxRepDst"_s), 0);
    // In the extended layout the text boxes hold the folders of the copy.
    if (extended)
        QTest::keyClicks(child<QLineEdit>(*window, u"edtRepSrc"_s), u"/Sub"_s);
    // Widened to "a*.*" by the default setting; the blank line and "zz" select nothing.
    auto *memFilter = child<QPlainTextEdit>(*window, u"memFilter"_s);
    QTest::keyClicks(memFilter, u"  a "_s);
    QTest::keyClick(memFilter, Qt::Key_Return);
    QTest::keyClick(memFilter, Qt::Key_Return);
    QTest::keyClicks(memFilter, u"zz"_s);
    ASSERT_EQ(memFilter->toPlainText(), u"  a \n\nzz"_s);

    EXPECT_EQ(copyAndClose(child<QPushButton>(*window, u"bbtCopie"_s)),
        u"La copie des fichiers est terminée."_s);
    EXPECT_EQ(
        QDir(backup).entryList(QDir::Files), QStringList { extended ? u"a2.txt"_s : u"a1.txt"_s });
    EXPECT_TRUE(reportedErrors().isEmpty()) << reportedErrors().join(u'\n').toStdString();
}

INSTANTIATE_TEST_SUITE_P(Layouts, MainWindowCopyTest, ::testing::Values(false, true),
    [](const ::testing::TestParamInfo<bool> &layout) {
        return layout.param ? "extended" : "normal";
    });

TEST_F(MainWindowTest, startupStepError_isReportedAndEndsTheSequence_windowStillOpens)
{
    const struct
    {
        const char *name;
        std::function<void()> arrange;
        QString error;
    } cases[] = {
        { "settings folder cannot be created",
            [this] { writeFile(u"config/Orvane"_s, "not a folder"); },
            u"Impossible d'écrire dans "_s + settingsFile(u"Options.ini"_s) },
        { "source list cannot be written",
            [this] {
                useExtendedLayout();
                makeDir(kSettings + u"RepSrc.txt"_s);
            },
            u"Impossible de créer le fichier \""_s + settingsFile(u"RepSrc.txt"_s) + u"\". "_s },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QDir(path()).removeRecursively();
        makeDir(u"config"_s);
        reportedErrors().clear();
        c.arrange();

        const auto window = openWindow();

        ASSERT_EQ(reportedErrors().size(), 1);
        EXPECT_TRUE(reportedErrors().first().startsWith(c.error))
            << reportedErrors().first().toStdString();
        EXPECT_TRUE(window->isVisible());
        EXPECT_EQ(window->windowTitle(), u"Quill Sift"_s);
        // The later steps did not run: no destination file, the layout stays normal.
        EXPECT_FALSE(QFileInfo::exists(settingsFile(u"RepDst.txt"_s)));
        EXPECT_FALSE(window->extendedView());
        EXPECT_TRUE(child<QWidget>(*window, u"edtRepSrc"_s)->isHidden());
        EXPECT_FALSE(child<QWidget>(*window, u"bbtCopie"_s)->isEnabled());
    }
}

// The filters reach the copy exactly as typed, split at line breaks only: a no-break space
// (AltGr+Space) stays one, a pasted line separator stays inside its filter, and Shift+Enter
// breaks the line as Enter does.
TEST_F(MainWindowTest, filterLines_reachTheCopyExactlyAsTyped)
{
    const QString data = makeDir(u"Data"_s);
    const QString backup = makeDir(u"Backup"_s);
    const QString nbsp = u"a\u00A0b"_s;
    const QString separated = u"c\u2028d"_s;
    const QStringList names { nbsp + u".txt"_s, u"a b.txt"_s, separated + u".txt"_s, u"c.txt"_s,
        u"d.txt"_s, u"x.txt"_s, u"y.txt"_s };
    for (const QString &name : names)
        writeFile(u"Data/"_s + name, "data");
    writeList(u"RepSrc.txt"_s, { data });
    writeList(u"RepDst.txt"_s, { backup });
    const auto window = openWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    choose(child<QComboBox>(*window, u"cbxRepSrc"_s), 0);
    choose(child<QComboBox>(*window, u"cbxRepDst"_s), 0);

    child<QPlainTextEdit>(*window, u"memFilter"_s)->setFocus();
    testsupport::typeText(window.get(), nbsp);
    testsupport::pressKey(window.get(), Qt::Key_Return);
    QGuiApplication::clipboard()->setText(separated);
    testsupport::pressKey(window.get(), Qt::Key_V, Qt::ControlModifier);
    testsupport::pressKey(window.get(), Qt::Key_Return);
    testsupport::typeText(window.get(), u"x"_s);
    testsupport::pressKey(window.get(), Qt::Key_Return, Qt::ShiftModifier);
    testsupport::typeText(window.get(), u"y"_s);

    copyAndClose(child<QPushButton>(*window, u"bbtCopie"_s));
    QStringList copied = QDir(backup).entryList(QDir::Files);
    copied.sort();
    QStringList expected { nbsp + u".txt"_s, separated + u".txt"_s, u"x.txt"_s, u"y.txt"_s };
    expected.sort();
    EXPECT_EQ(copied, expected);
}

// A folder copied from a terminal ends with a line break: the text box keeps its first line.
TEST_F(MainWindowTest, extendedLayout_pastedFolderKeepsItsFirstLine)
{
    const QString data = makeDir(u"Data"_s);
    useExtendedLayout();
    const auto window = openWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    auto *edtRepSrc = child<QLineEdit>(*window, u"edtRepSrc"_s);
    edtRepSrc->setFocus();
    QGuiApplication::clipboard()->setText(data + u"\n"_s);
    testsupport::pressKey(window.get(), Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(edtRepSrc->text(), data);
}

// The main window has neither a default nor a cancel button: Enter presses the focused button,
// Escape does nothing.
TEST_F(MainWindowTest, enterPressesTheFocusedButton_escapeDoesNothing)
{
    const auto window = openWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    auto *memFilter = child<QPlainTextEdit>(*window, u"memFilter"_s);
    memFilter->setFocus();
    testsupport::typeText(window.get(), u"rapport"_s);
    testsupport::pressKey(window.get(), Qt::Key_Escape);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(memFilter->toPlainText(), u"rapport"_s);
    child<QPushButton>(*window, u"bbtOptions"_s)->setFocus(Qt::TabFocusReason);
    testsupport::pressKey(window.get(), Qt::Key_Tab); // bbtCopie is disabled: on to RAZ
    ASSERT_EQ(QApplication::focusWidget(), child<QPushButton>(*window, u"bbtReset"_s));
    testsupport::pressKey(window.get(), Qt::Key_Return);
    EXPECT_TRUE(memFilter->toPlainText().isEmpty());
}

// When the lists cannot be written after the editor, the copy button still follows the
// lists: the confirmed editor leaves no folder chosen, so no copy can start from "/".
TEST_F(MainWindowTest, listSaveFailsAfterTheEditor_copyButtonStillFollowsTheLists)
{
    const QString data = makeDir(u"Data"_s);
    const QString backup = makeDir(u"Backup"_s);
    writeList(u"RepSrc.txt"_s, { data });
    writeList(u"RepDst.txt"_s, { backup });
    const auto window = openWindow();
    choose(child<QComboBox>(*window, u"cbxRepSrc"_s), 0);
    choose(child<QComboBox>(*window, u"cbxRepDst"_s), 0);
    auto *bbtCopie = child<QPushButton>(*window, u"bbtCopie"_s);
    ASSERT_TRUE(bbtCopie->isEnabled());
    // The list file can no longer be replaced.
    QFile::remove(settingsFile(u"RepSrc.txt"_s));
    makeDir(kSettings + u"RepSrc.txt"_s);
    reportedErrors().clear();

    uitest::onNextModalOf<TfrmEditeListeRepertoires>(
        "the list editor", [](TfrmEditeListeRepertoires *editor) {
            QTest::mouseClick(editor->bbtOk, Qt::LeftButton);
        });
    QTest::mouseClick(child<QPushButton>(*window, u"bbtRepSrc"_s), Qt::LeftButton);

    ASSERT_EQ(reportedErrors().size(), 1);
    EXPECT_TRUE(reportedErrors().first().startsWith(u"Impossible de créer le fichier"_s));
    EXPECT_EQ(child<QComboBox>(*window, u"cbxRepSrc"_s)->currentIndex(), -1);
    EXPECT_FALSE(bbtCopie->isEnabled());
}

// A start-up step before the lists failed, so they were never read: no use of the editor
// writes over the user's list files; a confirmed change says why it is not kept.
TEST_F(MainWindowTest, listsNotReadAtStartUp_areNeverWrittenOver)
{
    writeSettings(u"RepSrc.txt"_s, "/srv/Alpha\r\n");
    writeSettings(u"RepDst.txt"_s, "/srv/Beta\r\n");
    // A settings file that exists but cannot be read.
    QFile::remove(settingsFile(u"Options.ini"_s));
    makeDir(kSettings + u"Options.ini"_s);
    reportedErrors().clear();
    const auto window = openWindow();
    ASSERT_EQ(reportedErrors().size(), 1);
    reportedErrors().clear();

    struct Case
    {
        const char *name;
        const char *button;
        bool confirm;
        QString error;
    };
    const Case cases[] = {
        { "source, cancelled", "bbtRepSrc", false, {} },
        { "destination, confirmed", "bbtRepDst", true,
            u"La liste des répertoires n'a pas pu être lue au démarrage : le fichier \""_s
                + settingsFile(u"RepDst.txt"_s) + u"\" n'est pas modifié."_s },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        uitest::onNextModalOf<TfrmEditeListeRepertoires>(
            "the list editor", [&c](TfrmEditeListeRepertoires *editor) {
                editor->edtFolder->setText(u"/srv/Nouveau"_s);
                QTest::mouseClick(editor->bbtAdd, Qt::LeftButton);
                QTest::mouseClick(c.confirm ? editor->bbtOk : editor->bbtCancel, Qt::LeftButton);
            });
        QTest::mouseClick(
            child<QPushButton>(*window, QString::fromLatin1(c.button)), Qt::LeftButton);
        EXPECT_EQ(reportedErrors(), c.error.isEmpty() ? QStringList() : QStringList { c.error });
        reportedErrors().clear();
        EXPECT_EQ(readSettings(u"RepSrc.txt"_s), QByteArray("/srv/Alpha\r\n"));
        EXPECT_EQ(readSettings(u"RepDst.txt"_s), QByteArray("/srv/Beta\r\n"));
    }
    // The confirmed list is still there to use until the program ends.
    EXPECT_EQ(child<QComboBox>(*window, u"cbxRepDst"_s)->count(), 1);
}

// Start-up could not read the settings file (a FIFO stood in its place), so the record holds
// the defaults: when the user's file is back, no use of the options dialog writes them over
// it; a confirmed change says why it is not kept.
TEST_F(MainWindowTest, settingsNotReadAtStartUp_areNeverWrittenOver)
{
    const QString options = settingsFile(u"Options.ini"_s);
    makeDir(kSettings);
    ASSERT_EQ(::mkfifo(QFile::encodeName(options).constData(), 0600), 0);
    reportedErrors().clear();
    const auto window = openWindow();
    EXPECT_EQ(reportedErrors(), QStringList { u"Impossible d'écrire dans "_s + options });
    reportedErrors().clear();

    const QByteArray users("[ACME]\r\nDontReplace=1\r\nAdaptatFiltre=0\r\n"
                           "LogFile=/srv/journal.txt\r\n[Autre]\r\nx=1\r\n");
    ASSERT_TRUE(QFile::remove(options));
    writeSettings(u"Options.ini"_s, users);

    const struct
    {
        const char *name;
        const char *button;
        QString error;
    } cases[] = {
        { "cancelled", "bbtCancel", {} },
        { "confirmed", "bbtOk",
            u"Les réglages n'ont pas pu être lus au démarrage : le fichier \""_s + options
                + u"\" n'est pas modifié."_s },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        bool opened = false;
        testsupport::onNextModal([&](QWidget *dialog) {
            opened = dialog->objectName() == u"frmOptions"_s;
            if (auto *button = dialog->findChild<QPushButton *>(QString::fromLatin1(c.button)))
                button->click();
            else
                dialog->close();
        });
        QTest::mouseClick(child<QPushButton>(*window, u"bbtOptions"_s), Qt::LeftButton);
        EXPECT_TRUE(opened);
        EXPECT_EQ(reportedErrors(), c.error.isEmpty() ? QStringList() : QStringList { c.error });
        reportedErrors().clear();
        EXPECT_EQ(readSettings(u"Options.ini"_s), users);
    }
}

} // namespace
