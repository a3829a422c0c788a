#include "DesktopEntryReader.h"
#include "MessageBoxes.h"

#include "options/uOptions.h"
#include "support/Fixtures.h"
#include "support/Keys.h"
#include "support/Modal.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCoreApplication>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <functional>

using testsupport::TempDirTest;

// Compared and printed by GoogleTest, found next to the record.
inline bool operator==(const tyConfig &a, const tyConfig &b)
{
    return a.DontReplace == b.DontReplace && a.AdaptatFiltre == b.AdaptatFiltre
        && a.WithTimestamp == b.WithTimestamp && a.LogFile == b.LogFile
        && a.ExtendedView == b.ExtendedView;
}

inline void PrintTo(const tyConfig &c, std::ostream *os)
{
    *os << "{DontReplace=" << c.DontReplace << " AdaptatFiltre=" << c.AdaptatFiltre
        << " WithTimestamp=" << c.WithTimestamp << " LogFile=\"" << c.LogFile.toStdString()
        << "\" ExtendedView=" << c.ExtendedView << "}";
}

namespace {

const QString kRestartNotice = QStringLiteral(
    "Veuillez redémarrer le programme pour que le paramètre \"Méthode de sélection des "
    "répertoires étendue\" soit pris en compte.");

enum class Close { Ok, Cancel, Escape, CloseBox };

const char *closeName(Close close)
{
    switch (close) {
    case Close::Ok:
        return "OK";
    case Close::Cancel:
        return "Annuler";
    case Close::Escape:
        return "Escape";
    case Close::CloseBox:
        return "close box";
    }
    return "?";
}

template<typename T> T *child(QWidget *dialog, const char *name)
{
    T *found = dialog->findChild<T *>(QLatin1String(name));
    EXPECT_NE(found, nullptr) << name;
    return found;
}

// Check boxes and radio buttons take clicks on their indicator, at their left end.
void clickIndicator(QAbstractButton *button)
{
    QTest::mouseClick(
        button, Qt::LeftButton, {}, QPoint(button->height() / 2, button->height() / 2));
}

// The keys go to the dialog, and the arrow keys move between the filter choices only while
// it is the application's active window, which a window manager reports a moment after the
// window's own activation.
void activate(QWidget *dialog)
{
    dialog->activateWindow();
    EXPECT_TRUE(QTest::qWaitFor([dialog] { return QApplication::activeWindow() == dialog; }));
}

void closeDialog(QWidget *dialog, Close close)
{
    switch (close) {
    case Close::Ok:
        QTest::mouseClick(child<QPushButton>(dialog, "bbtOk"), Qt::LeftButton);
        break;
    case Close::Cancel:
        QTest::mouseClick(child<QPushButton>(dialog, "bbtCancel"), Qt::LeftButton);
        break;
    case Close::Escape:
        QTest::keyClick(dialog->focusWidget() ? dialog->focusWidget() : dialog, Qt::Key_Escape);
        break;
    case Close::CloseBox:
        dialog->close();
        break;
    }
}

// Each test gets its own home, so desktop, documents and applications folders start
// missing; the main window stands in for frmMain.
class OptionsTest : public TempDirTest
{
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        m_home = makeDir(QStringLiteral("home"));
        for (const char *name : { "HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME" })
            m_savedEnvironment.append({ name, qgetenv(name) });
        qputenv("HOME", QFile::encodeName(m_home));
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_home + QStringLiteral("/.local/share")));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home + QStringLiteral("/.config")));

        m_main.setObjectName(QStringLiteral("frmMain"));
        m_main.setGeometry(120, 60, 560, 460);
        m_main.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_main));
    }

    void TearDown() override
    {
        for (const auto &[name, value] : m_savedEnvironment)
            qputenv(name, value);
    }

    QString fichConfig() const
    {
        return m_home + QStringLiteral("/.config/Orvane/quillSift/Options.ini");
    }
    QString desktopEntry() const { return m_home + QStringLiteral("/Desktop/Quill Sift.desktop"); }
    QString startMenuEntry() const
    {
        return m_home
            + QStringLiteral("/.local/share/applications/Orvane/Toolshelf/Quill Sift.desktop");
    }

    // Opens the real dialog through EditeConfig and runs action on it once it is modal;
    // the action closes it.
    bool editeConfig(tyConfig &config, std::function<void(QDialog *)> action)
    {
        testsupport::onNextModal([action](QWidget *modal) {
            auto *dialog = qobject_cast<QDialog *>(modal);
            if (!dialog || dialog->objectName() != QLatin1String("frmOptions")) {
                ADD_FAILURE() << "the modal window is not frmOptions";
                modal->close();
                return;
            }
            action(dialog);
            if (dialog->isVisible()) {
                ADD_FAILURE() << "the action left the dialog open";
                dialog->reject();
            }
        });
        return EditeConfig(config, fichConfig(), &m_main);
    }

    QString m_home;
    QWidget m_main;
    QList<std::pair<const char *, QByteArray>> m_savedEnvironment;
};

TEST_F(OptionsTest, dialog_isFixedCentredOnTheMainWindowWithItsCaptionsAndTags)
{
    tyConfig config;
    editeConfig(config, [](QDialog *dialog) {
        EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Options"));
        EXPECT_EQ(dialog->minimumSize(), dialog->maximumSize());
        EXPECT_EQ(dialog->size(), dialog->minimumSize());
        EXPECT_TRUE(dialog->isModal());

        const QWidget *main = dialog->parentWidget();
        // A window manager reports the frame it has drawn a moment after the window shows.
        if (QGuiApplication::platformName() == QLatin1String("xcb")) {
            EXPECT_TRUE(QTest::qWaitFor(
                [dialog] { return dialog->frameGeometry() != dialog->geometry(); }));
        }
        const QPoint offset = dialog->frameGeometry().center() - main->frameGeometry().center();
        // The window manager may frame a fixed-size dialog a little thinner than its owner
        // (no resize handle): a few pixels, where Qt's own placement was a title bar off.
        const int tolerance = QGuiApplication::platformName() == QLatin1String("xcb") ? 8 : 2;
        EXPECT_LE(offset.manhattanLength(), tolerance) << offset.x() << "," << offset.y();

        const std::pair<const char *, const char *> captions[] = {
            { "chkDontReplace", "Ne pas remplacer les fichiers lors de la copie" },
            { "rgAdaptFilterItem0", "FILTRE" },
            { "rgAdaptFilterItem1", "* + FILTRE" },
            { "rgAdaptFilterItem2", "FILTRE + *.*" },
            { "rgAdaptFilterItem3", "* + FILTRE + *.*" },
            { "chkWithTimestamp", "Ajout d'un timestamp dans le log" },
            { "chkExtendedView", "Méthode de sélection des répertoires étendue" },
            { "bbtCreateShortcutDesktop", "Créer un raccourci sur le bureau" },
            { "bbtCreateShortcutStartMenu", "Créer un raccourci dans le menu démarrer" },
            { "bbtOk", "OK" },
            { "bbtCancel", "Annuler" },
        };
        for (const auto &[name, caption] : captions) {
            if (auto *button = child<QAbstractButton>(dialog, name)) {
                EXPECT_EQ(button->text(), QString::fromUtf8(caption)) << name;
            }
        }
        if (auto *group = child<QGroupBox>(dialog, "rgAdaptFilter")) {
            EXPECT_EQ(group->title(), QStringLiteral("Adaptation du filtre"));
        }
        auto *label = child<QLabel>(dialog, "lblLogFile");
        auto *logFile = child<QLineEdit>(dialog, "ledtLogFile");
        if (label) {
            EXPECT_EQ(label->text(), QStringLiteral("Fichier log"));
            EXPECT_EQ(label->buddy(), logFile);
            EXPECT_LT(label->geometry().bottom(), logFile->geometry().top());
        }
        EXPECT_EQ(child<QWidget>(dialog, "bbtCreateShortcutDesktop")->property("tag"), QVariant(1));
        EXPECT_EQ(
            child<QWidget>(dialog, "bbtCreateShortcutStartMenu")->property("tag"), QVariant(2));
        EXPECT_TRUE(child<QPushButton>(dialog, "bbtOk")->isDefault());
        EXPECT_NE(child<QWidget>(dialog, "bbtLogFile"), nullptr);
        EXPECT_NE(child<QFrame>(dialog, "Panel1"), nullptr);

        closeDialog(dialog, Close::Cancel);
    });
}

TEST_F(OptionsTest, tabKey_walksTheControlsInOrderAndSkipsRepConfig)
{
    // The filter choices are one tab stop, at the chosen entry (the first while none is).
    const struct
    {
        int stored;
        const char *stop;
    } cases[] = {
        { 2, "rgAdaptFilterItem2" },
        { 0, "rgAdaptFilterItem0" },
        { 3, "rgAdaptFilterItem3" },
        { -1, "rgAdaptFilterItem0" },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "AdaptatFiltre " << c.stored);
        tyConfig config;
        config.AdaptatFiltre = c.stored;
        editeConfig(config, [&c](QDialog *dialog) {
            // Shown, so that a tab stop would be visited.
            child<QWidget>(dialog, "bbtRepConfig")->show();
            activate(dialog);
            child<QWidget>(dialog, "chkDontReplace")->setFocus(Qt::TabFocusReason);

            const QStringList expected = {
                QStringLiteral("chkDontReplace"),
                QLatin1String(c.stop),
                QStringLiteral("chkWithTimestamp"),
                QStringLiteral("chkExtendedView"),
                QStringLiteral("ledtLogFile"),
                QStringLiteral("bbtLogFile"),
                QStringLiteral("bbtCreateShortcutDesktop"),
                QStringLiteral("bbtCreateShortcutStartMenu"),
                QStringLiteral("bbtOk"),
                QStringLiteral("bbtCancel"),
                QStringLiteral("chkDontReplace"),
            };
            QStringList visited;
            for (qsizetype i = 0; i < expected.size(); ++i) {
                QWidget *focus = dialog->focusWidget();
                visited.append(focus ? focus->objectName() : QStringLiteral("(none)"));
                testsupport::pressKey(dialog, Qt::Key_Tab);
            }
            EXPECT_EQ(visited.join(u' ').toStdString(), expected.join(u' ').toStdString());

            closeDialog(dialog, Close::Cancel);
        });
    }
}

TEST_F(OptionsTest, filterChoices_spaceKeepsTheChoice_arrowsMoveIt_shiftTabComesBackToIt)
{
    tyConfig config;
    config.AdaptatFiltre = 1;
    editeConfig(config, [](QDialog *dialog) {
        activate(dialog);
        child<QWidget>(dialog, "chkDontReplace")->setFocus(Qt::TabFocusReason);
        const auto focused = [dialog] {
            QWidget *focus = dialog->focusWidget();
            return focus ? focus->objectName().toStdString() : std::string("(none)");
        };
        const auto chosen = [dialog] {
            for (int i = 0; i < 4; ++i) {
                const QByteArray name = "rgAdaptFilterItem" + QByteArray::number(i);
                if (child<QRadioButton>(dialog, name.constData())->isChecked())
                    return i;
            }
            return -1;
        };

        testsupport::pressKey(dialog, Qt::Key_Tab);
        EXPECT_EQ(focused(), "rgAdaptFilterItem1");
        testsupport::pressKey(dialog, Qt::Key_Space);
        EXPECT_EQ(chosen(), 1) << "Space on the chosen entry changes nothing";

        testsupport::pressKey(dialog, Qt::Key_Down);
        EXPECT_EQ(focused(), "rgAdaptFilterItem2");
        EXPECT_EQ(chosen(), 2);
        testsupport::pressKey(dialog, Qt::Key_Up);
        testsupport::pressKey(dialog, Qt::Key_Up);
        EXPECT_EQ(focused(), "rgAdaptFilterItem0");
        EXPECT_EQ(chosen(), 0);

        // The stop follows the choice, both ways.
        testsupport::pressKey(dialog, Qt::Key_Tab);
        EXPECT_EQ(focused(), "chkWithTimestamp");
        testsupport::pressKey(dialog, Qt::Key_Tab, Qt::ShiftModifier);
        EXPECT_EQ(focused(), "rgAdaptFilterItem0");
        testsupport::pressKey(dialog, Qt::Key_Tab, Qt::ShiftModifier);
        EXPECT_EQ(focused(), "chkDontReplace");

        closeDialog(dialog, Close::Ok);
    });
    EXPECT_EQ(config.AdaptatFiltre, 0);
}

struct AdaptCase
{
    int stored;
    int shownChoice; // -1: none chosen
    Close close;
    int expected;
};

TEST_F(OptionsTest, adaptatFiltre_shownClampedAndStoredOnlyOnOk)
{
    const AdaptCase cases[] = {
        { 7, 3, Close::Ok, 3 },
        { 7, 3, Close::Cancel, 7 },
        { 7, 3, Close::Escape, 7 },
        { 7, 3, Close::CloseBox, 7 },
        { 4, 3, Close::Ok, 3 },
        { 3, 3, Close::Ok, 3 },
        { 0, 0, Close::Ok, 0 },
        { -1, -1, Close::Ok, -1 },
        { -2, -1, Close::Ok, -1 },
        { -5, -1, Close::Ok, -1 },
        { -5, -1, Close::Cancel, -5 },
    };
    for (const AdaptCase &c : cases) {
        SCOPED_TRACE(
            testing::Message() << "AdaptatFiltre " << c.stored << ", " << closeName(c.close));
        tyConfig config;
        config.AdaptatFiltre = c.stored;
        const tyConfig before = config;
        const bool accepted = editeConfig(config, [&c](QDialog *dialog) {
            for (int i = 0; i < 4; ++i) {
                const QByteArray name = "rgAdaptFilterItem" + QByteArray::number(i);
                if (auto *choice = child<QRadioButton>(dialog, name.constData())) {
                    EXPECT_EQ(choice->isChecked(), i == c.shownChoice) << name.constData();
                }
            }
            closeDialog(dialog, c.close);
        });
        EXPECT_EQ(accepted, c.close == Close::Ok);
        EXPECT_EQ(config.AdaptatFiltre, c.expected);
        if (c.close != Close::Ok) {
            EXPECT_EQ(config, before);
        }
    }
}

TEST_F(OptionsTest, everyControlEdited_okStoresThemAsTyped_otherClosesChangeNothing)
{
    for (const Close close : { Close::Ok, Close::Cancel, Close::Escape, Close::CloseBox }) {
        SCOPED_TRACE(closeName(close));
        tyConfig config;
        config.DontReplace = false;
        config.AdaptatFiltre = 2;
        config.WithTimestamp = true;
        config.LogFile = QStringLiteral("/var/log/ancien.log");
        config.ExtendedView = false;
        const tyConfig before = config;

        MessageBoxes boxes;
        editeConfig(config, [close](QDialog *dialog) {
            clickIndicator(child<QCheckBox>(dialog, "chkDontReplace"));
            clickIndicator(child<QRadioButton>(dialog, "rgAdaptFilterItem1"));
            clickIndicator(child<QCheckBox>(dialog, "chkWithTimestamp"));
            auto *logFile = child<QLineEdit>(dialog, "ledtLogFile");
            logFile->selectAll();
            // Blanks kept: the path is taken as typed, neither trimmed nor checked.
            QTest::keyClicks(logFile, QStringLiteral("  journal du jour.txt  "));
            closeDialog(dialog, close);
        });

        if (close == Close::Ok) {
            EXPECT_TRUE(config.DontReplace);
            EXPECT_EQ(config.AdaptatFiltre, 1);
            EXPECT_FALSE(config.WithTimestamp);
            EXPECT_EQ(config.LogFile, QStringLiteral("  journal du jour.txt  "));
            EXPECT_FALSE(config.ExtendedView);
        } else {
            EXPECT_EQ(config, before);
        }
        EXPECT_TRUE(boxes.seen().isEmpty()) << boxes.texts().join(u'|').toStdString();
    }
}

struct NoticeCase
{
    bool stored;
    int toggles;
    Close close;
    bool noticeShown;
};

TEST_F(OptionsTest, extendedView_restartNoticeOnlyWhenReallyChangedAndConfirmed)
{
    const NoticeCase cases[] = {
        { false, 1, Close::Ok, true },
        { true, 1, Close::Ok, true },
        { false, 1, Close::Cancel, false },
        { false, 1, Close::Escape, false },
        { false, 2, Close::Ok, false },
        { false, 0, Close::Ok, false },
    };
    for (const NoticeCase &c : cases) {
        SCOPED_TRACE(testing::Message() << "stored " << c.stored << ", toggled " << c.toggles
                                        << " times, " << closeName(c.close));
        tyConfig config;
        config.ExtendedView = c.stored;
        MessageBoxes boxes;
        editeConfig(config, [&c](QDialog *dialog) {
            for (int i = 0; i < c.toggles; ++i)
                clickIndicator(child<QCheckBox>(dialog, "chkExtendedView"));
            closeDialog(dialog, c.close);
        });

        const bool changed = c.close == Close::Ok && c.toggles % 2 == 1;
        EXPECT_EQ(config.ExtendedView, changed ? !c.stored : c.stored);
        if (c.noticeShown) {
            ASSERT_EQ(boxes.seen().size(), 1);
            EXPECT_EQ(boxes.seen()[0].caption, QStringLiteral("Informations"));
            EXPECT_EQ(boxes.seen()[0].text, kRestartNotice);
            EXPECT_FALSE(boxes.seen()[0].optionsOpen) << "the notice came before the dialog closed";
        } else {
            EXPECT_TRUE(boxes.seen().isEmpty()) << boxes.texts().join(u'|').toStdString();
        }
    }
}

TEST_F(OptionsTest, logFileButton_proposesDocumentsPathButOnlyOkStoresIt)
{
    const QString proposed = m_home + QStringLiteral("/Documents/")
        + QFileInfo(QCoreApplication::applicationFilePath()).fileName() + QStringLiteral(".log");
    for (const Close close : { Close::Cancel, Close::Ok }) {
        SCOPED_TRACE(closeName(close));
        tyConfig config;
        config.LogFile = QStringLiteral("/srv/mon.log");
        editeConfig(config, [&proposed, close](QDialog *dialog) {
            QTest::mouseClick(child<QPushButton>(dialog, "bbtLogFile"), Qt::LeftButton);
            EXPECT_EQ(child<QLineEdit>(dialog, "ledtLogFile")->text(), proposed);
            closeDialog(dialog, close);
        });
        EXPECT_EQ(config.LogFile, close == Close::Ok ? proposed : QStringLiteral("/srv/mon.log"));
    }
}

TEST_F(OptionsTest, logFileTooLongForItsField_shownWholeInItsTooltip)
{
    tyConfig config;
    config.LogFile = QStringLiteral("/home/utilisateur/Documents/Comptabilité générale/"
                                    "Rapports trimestriels/Archives/quillsift-copie.log");
    editeConfig(config, [&config](QDialog *dialog) {
        auto *logFile = child<QLineEdit>(dialog, "ledtLogFile");
        EXPECT_EQ(logFile->toolTip(), config.LogFile);
        logFile->selectAll();
        QTest::keyClicks(logFile, QStringLiteral("/srv/mon.log"));
        EXPECT_EQ(logFile->toolTip(), QString());
        closeDialog(dialog, Close::Cancel);
    });
}

TEST_F(OptionsTest, doubleClickOnPanel1_revealsRepConfigUntilTheNextOpening)
{
    for (int opening = 0; opening < 2; ++opening) {
        SCOPED_TRACE(testing::Message() << "opening " << opening);
        tyConfig config;
        editeConfig(config, [](QDialog *dialog) {
            auto *repConfig = child<QPushButton>(dialog, "bbtRepConfig");
            auto *panel = child<QFrame>(dialog, "Panel1");
            EXPECT_FALSE(repConfig->isVisible());
            EXPECT_FALSE(repConfig->focusPolicy() & Qt::TabFocus);

            // Left of OK, where the bar is empty while bbtRepConfig is hidden.
            const QPoint empty(
                child<QWidget>(dialog, "bbtOk")->geometry().left() / 2, panel->height() / 2);
            ASSERT_EQ(panel->childAt(empty), nullptr);
            QTest::mouseDClick(panel, Qt::LeftButton, {}, empty);
            EXPECT_TRUE(repConfig->isVisible());
            closeDialog(dialog, Close::Cancel);
        });
    }
}

// The shortcut buttons act at once: the launchers stay after Annuler.
TEST_F(OptionsTest, shortcutButtons_firstUseCreatesFoldersAndTheirOwnEntry_keptAfterCancel)
{
    ASSERT_FALSE(QFileInfo::exists(m_home + QStringLiteral("/.local/share/applications")));
    ASSERT_FALSE(QFileInfo::exists(m_home + QStringLiteral("/Desktop")));

    MessageBoxes boxes;
    tyConfig config;
    const tyConfig before = config;
    editeConfig(config, [](QDialog *dialog) {
        QTest::mouseClick(child<QPushButton>(dialog, "bbtCreateShortcutStartMenu"), Qt::LeftButton);
        QTest::mouseClick(child<QPushButton>(dialog, "bbtCreateShortcutDesktop"), Qt::LeftButton);
        closeDialog(dialog, Close::Cancel);
    });

    EXPECT_EQ(config, before);
    EXPECT_TRUE(testsupport::reportedErrors().isEmpty())
        << testsupport::reportedErrors().join(u'|').toStdString();
    ASSERT_EQ(boxes.seen().size(), 2) << boxes.texts().join(u'|').toStdString();
    for (const MessageBoxes::Seen &seen : boxes.seen()) {
        EXPECT_EQ(seen.caption, QStringLiteral("Informations"));
        EXPECT_EQ(seen.text, QStringLiteral("Raccourci créé."));
    }
    for (const QString &entry : { startMenuEntry(), desktopEntry() }) {
        SCOPED_TRACE(entry.toStdString());
        const QByteArray written = testsupport::readBytes(entry);
        EXPECT_EQ(entryreader::commandLine(written),
            QStringList { QCoreApplication::applicationFilePath() });
        struct stat st
        {
        };
        ASSERT_EQ(::stat(QFile::encodeName(entry).constData(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, mode_t(0755));
    }
}

TEST_F(OptionsTest, shortcutAgain_asksWithTheFullPath_OuiReplacesNonLeavesTheBytes)
{
    for (const QString &answer : { QStringLiteral("&Oui"), QStringLiteral("&Non") }) {
        SCOPED_TRACE(answer.toStdString());
        TfrmOptions dialog(fichConfig(), &m_main);
        dialog.show();
        auto *startMenu = child<QPushButton>(&dialog, "bbtCreateShortcutStartMenu");
        {
            MessageBoxes first;
            QTest::mouseClick(startMenu, Qt::LeftButton);
        }
        const QByteArray edited("[Desktop Entry]\nType=Application\nName=Quill Sift\n"
                                "Exec=/edited/by/hand\n");
        testsupport::writeBytes(startMenuEntry(), edited);

        MessageBoxes boxes({ answer });
        QTest::mouseClick(startMenu, Qt::LeftButton);

        ASSERT_FALSE(boxes.seen().isEmpty());
        EXPECT_EQ(boxes.seen()[0].caption, QStringLiteral("Confirmer"));
        EXPECT_EQ(boxes.seen()[0].text,
            QStringLiteral("Le raccourci \"") + startMenuEntry()
                + QStringLiteral("\" existe déjà.\n"
                                 "Voulez-vous le mettre à jour ?"));
        if (answer == QLatin1String("&Oui")) {
            EXPECT_EQ(boxes.texts(),
                (QStringList { boxes.seen()[0].text, QStringLiteral("Raccourci créé.") }));
            EXPECT_EQ(entryreader::commandLine(testsupport::readBytes(startMenuEntry())),
                QStringList { QCoreApplication::applicationFilePath() });
        } else {
            EXPECT_EQ(boxes.seen().size(), 1);
            EXPECT_EQ(testsupport::readBytes(startMenuEntry()), edited);
        }
        EXPECT_FALSE(QFileInfo::exists(desktopEntry())) << "the other button's entry was touched";
        EXPECT_TRUE(testsupport::reportedErrors().isEmpty());
    }
}

TEST_F(OptionsTest, desktopFolderBlockedByAFile_reportsCannotCreateFolder)
{
    writeFile(QStringLiteral("home/Desktop"), "not a folder");
    TfrmOptions dialog(fichConfig(), &m_main);
    dialog.show();

    MessageBoxes boxes;
    QTest::mouseClick(child<QPushButton>(&dialog, "bbtCreateShortcutDesktop"), Qt::LeftButton);

    EXPECT_EQ(testsupport::reportedErrors(),
        QStringList { QStringLiteral("Impossible de créer le répertoire") });
    EXPECT_TRUE(boxes.seen().isEmpty()) << boxes.texts().join(u'|').toStdString();
    EXPECT_EQ(readFile(QStringLiteral("home/Desktop")), QByteArray("not a folder"));
    EXPECT_TRUE(dialog.isVisible());
}

// The flow of the original program would announce success whatever happened; a launcher
// that could not be written is reported instead.
TEST_F(OptionsTest, entryThatCannotBeWritten_reportsTheErrorNotSuccess)
{
    makeDir(QStringLiteral("home/.local/share/applications/Orvane/Toolshelf/Quill Sift.desktop"));
    TfrmOptions dialog(fichConfig(), &m_main);
    dialog.show();

    MessageBoxes boxes;
    QTest::mouseClick(child<QPushButton>(&dialog, "bbtCreateShortcutStartMenu"), Qt::LeftButton);

    ASSERT_EQ(testsupport::reportedErrors().size(), 1);
    EXPECT_TRUE(testsupport::reportedErrors()[0].startsWith(
        QStringLiteral("Impossible d'écrire le raccourci \"%1\" : ").arg(startMenuEntry())))
        << testsupport::reportedErrors()[0].toStdString();
    EXPECT_TRUE(boxes.seen().isEmpty()) << boxes.texts().join(u'|').toStdString();
}

// Enter presses the button the user put the focus on, else OK; Escape is Annuler. A path
// pasted with a line break keeps its first line.
TEST_F(OptionsTest, keys_enterOnAFocusedButtonPressesIt_elseOk_escapeCancels)
{
    const QString proposed = m_home + QStringLiteral("/Documents/")
        + QFileInfo(QCoreApplication::applicationFilePath()).fileName() + QStringLiteral(".log");
    struct Case
    {
        const char *name;
        std::function<void(QDialog *)> keys;
        bool accepted;
        QString logFile;
    };
    const Case cases[] = {
        { "Enter on the log-file button, then Escape",
            [&proposed](QDialog *dialog) {
                testsupport::pressKey(dialog, Qt::Key_Tab); // on to bbtLogFile
                testsupport::pressKey(dialog, Qt::Key_Return);
                EXPECT_TRUE(dialog->isVisible());
                EXPECT_EQ(child<QLineEdit>(dialog, "ledtLogFile")->text(), proposed);
                testsupport::pressKey(dialog, Qt::Key_Escape);
            },
            false, QStringLiteral("/srv/mon.log") },
        { "pasted path, then Enter in the field",
            [](QDialog *dialog) {
                child<QLineEdit>(dialog, "ledtLogFile")->selectAll();
                QGuiApplication::clipboard()->setText(
                    QStringLiteral("/srv/jour.log\n/srv/autre\n"));
                testsupport::pressKey(dialog, Qt::Key_V, Qt::ControlModifier);
                testsupport::pressKey(dialog, Qt::Key_Return);
            },
            true, QStringLiteral("/srv/jour.log") },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        tyConfig config;
        config.LogFile = QStringLiteral("/srv/mon.log");
        const bool accepted = editeConfig(config, [&c](QDialog *dialog) {
            ASSERT_TRUE(QTest::qWaitForWindowActive(dialog));
            child<QLineEdit>(dialog, "ledtLogFile")->setFocus(Qt::TabFocusReason);
            c.keys(dialog);
            EXPECT_FALSE(dialog->isVisible());
        });
        EXPECT_EQ(accepted, c.accepted);
        EXPECT_EQ(config.LogFile, c.logFile);
    }
}

} // namespace
