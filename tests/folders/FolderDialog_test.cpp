#include "folders/FolderDialog.h"

#include "FileDialogDriver.h"
#include "support/Fixtures.h"

#include <QAbstractItemView>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMetaProperty>
#include <QScreen>
#include <QTest>
#include <QToolButton>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

using folderstest::answerNextFileDialog;

TEST(FolderDialogFlags, browseFlags_followTheOptionTable)
{
    struct Case
    {
        const char *name;
        TFolderOptions options;
        quint32 flags;
    };
    const Case cases[] = {
        { "none", {}, 0x0000 },
        { "computer", { fdoBrowseForComputer }, 0x1000 },
        { "printer", { fdoBrowseForPrinter }, 0x2000 },
        { "domain", { fdoDontgoBelowDomain }, 0x0002 },
        { "ancestors", { fdoReturnFSAncestors }, 0x0008 },
        { "file-system folders", { fdoReturnOnlyFSDirs }, 0x0001 },
        { "status text", { fdoStatusText }, 0x0004 },
        { "new style", { fdoNewDialogStyle }, 0x0040 },
        { "no new folder", { fdoNoNewFolderButton }, 0x0200 },
        { "edit box", { fdoEditBox }, 0x0010 },
        { "shareable alone", { fdoShareable }, 0x0000 },
        { "shareable without new style", { fdoShareable, fdoReturnOnlyFSDirs, fdoEditBox },
            0x0011 },
        { "defaults", { fdoNewDialogStyle, fdoShareable }, 0x8040 },
        { "system configuration", systemFolderOptions, 0x8251 },
        { "all ten",
            { fdoBrowseForComputer, fdoBrowseForPrinter, fdoDontgoBelowDomain, fdoReturnFSAncestors,
                fdoReturnOnlyFSDirs, fdoStatusText, fdoNewDialogStyle, fdoNoNewFolderButton,
                fdoEditBox, fdoShareable },
            0xB25F },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(browseFlags(c.options), c.flags);
    }
}

TEST(FolderDialogPlacement, dialogPlacement_followsItsRuleWithHalvesTowardZero)
{
    struct Case
    {
        const char *name;
        TDialogPosition position;
        QRect owner, dialog, workArea;
        int dialogX, dialogY;
        QPoint expected;
    };
    const QRect owner(100, 50, 400, 300);
    const QRect dialog(0, 0, 301, 201);
    const QRect work(0, 0, 1920, 1040);
    const Case cases[] = {
        { "default: owner corner + 20", fdpDefault, owner, dialog, work, 7, 9, { 120, 70 } },
        { "default: owner partly off screen", fdpDefault, QRect(-300, -10, 200, 100), dialog, work,
            0, 0, { -280, 10 } },
        { "xy as given", fdpXY, owner, dialog, work, 15, 30, { 15, 30 } },
        { "xy: negative X raised to 0", fdpXY, owner, dialog, work, -5, 30, { 0, 30 } },
        { "xy: negative Y raised to 0", fdpXY, owner, dialog, work, 40, -1, { 40, 0 } },
        // 1920/2 - 301/2 = 960 - 150; 1040/2 - 201/2 = 520 - 100.
        { "screen centre", fdpScreenCenter, owner, dialog, work, 0, 0, { 810, 420 } },
        // A second screen to the right with a task bar on top: 1920 + 640 - 150, 30 + 497 - 100.
        { "screen centre: offset work area", fdpScreenCenter, owner, dialog,
            QRect(1920, 30, 1281, 995), 0, 0, { 2410, 427 } },
        // 100 + 200 - 150, 50 + 150 - 100.
        { "owner centre", fdpParentFormCenter, owner, dialog, work, 0, 0, { 150, 100 } },
        // 10 + 150 - 150, 20 + 50 - 100: the dialog may stick out above its owner.
        { "owner centre: owner smaller than dialog", fdpParentFormCenter, QRect(10, 20, 301, 101),
            dialog, work, 0, 0, { 10, -30 } },
        // Widths of -3 halve to -1, not -2.
        { "owner centre: negative sizes", fdpParentFormCenter, QRect(QPoint(10, 10), QSize(-3, -3)),
            QRect(QPoint(0, 0), QSize(-3, -3)), work, 0, 0, { 10, 10 } },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(dialogPlacement(c.position, c.owner, c.dialog, c.workArea, c.dialogX, c.dialogY),
            c.expected);
    }
}

TEST(FolderDialogComponent, create_setsDefaultsAndPublishesPropertiesInOrder)
{
    QWidget owner;
    TFolderDialog picker(&owner);
    EXPECT_EQ(picker.parent(), &owner);
    EXPECT_EQ(picker.objectName(), QStringLiteral("FolderDialog"));
    EXPECT_EQ(picker.Directory(), QDir::currentPath());
    EXPECT_TRUE(picker.Options() == (TFolderOptions { fdoNewDialogStyle, fdoShareable }));
    EXPECT_EQ(picker.DialogPosition(), fdpDefault);
    EXPECT_TRUE(picker.Caption().isEmpty());
    EXPECT_TRUE(picker.Title().isEmpty());
    EXPECT_EQ(picker.ImageIndex(), 0);
    EXPECT_EQ(picker.DialogX(), 0);
    EXPECT_EQ(picker.DialogY(), 0);
    EXPECT_EQ(picker.Tag(), 0);

    QStringList names;
    const QMetaObject *meta = picker.metaObject();
    for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i)
        names << QString::fromLatin1(meta->property(i).name());
    EXPECT_EQ(names,
        QStringList({ QStringLiteral("Tag"), QStringLiteral("Caption"), QStringLiteral("Title"),
            QStringLiteral("Directory"), QStringLiteral("ImageIndex"), QStringLiteral("Options"),
            QStringLiteral("DialogPosition"), QStringLiteral("DialogX"), QStringLiteral("DialogY"),
            QStringLiteral("Version") }));
    EXPECT_FALSE(meta->property(meta->indexOfProperty("ImageIndex")).isWritable());
}

TEST(FolderDialogComponent, version_readsTheSameWhateverIsWritten)
{
    TFolderDialog picker;
    EXPECT_EQ(picker.Version(), QStringLiteral("1.1.4.0"));
    picker.SetVersion(QStringLiteral("9.9.9.9"));
    EXPECT_EQ(picker.Version(), QStringLiteral("1.1.4.0"));
    EXPECT_TRUE(picker.setProperty("Version", QStringLiteral("1.1.4.0")));
    picker.setProperty("Version", QString());
    EXPECT_EQ(picker.property("Version").toString(), QStringLiteral("1.1.4.0"));
}

// A shown owner window and a picker it owns, with the process's current directory in a
// folder of its own.
class FolderDialogExecute : public testsupport::TempDirTest
{
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        m_previousCurrent = QDir::currentPath();
        m_current = makeDir(QStringLiteral("current"));
        ASSERT_TRUE(QDir::setCurrent(m_current));
        m_owner.setObjectName(QStringLiteral("frmOwner"));
        m_owner.setGeometry(140, 90, 400, 300);
        m_owner.show();
        m_picker = new TFolderDialog(&m_owner);
    }
    void TearDown() override { QDir::setCurrent(m_previousCurrent); }

    QString m_previousCurrent;
    QString m_current;
    QWidget m_owner;
    TFolderDialog *m_picker = nullptr;
};

TEST_F(FolderDialogExecute, directoryNamingNoFolder_opensOnCurrentDirectoryAndKeepsItAfterCancel)
{
    const QString aFile = writeFile(QStringLiteral("notes.txt"), "x");
    const QString missing = file(QStringLiteral("gone"));
    for (const QString &start : { QString(), aFile, missing }) {
        SCOPED_TRACE(start.toStdString());
        m_picker->SetDirectory(start);
        QString openedOn;
        answerNextFileDialog(
            {}, [&](QFileDialog *dialog) { openedOn = dialog->selectedFiles().value(0); });
        EXPECT_FALSE(m_picker->Execute());
        EXPECT_EQ(openedOn, m_current);
        EXPECT_EQ(m_picker->Directory(), m_current);
        EXPECT_EQ(m_picker->ImageIndex(), 0);
    }
}

TEST_F(FolderDialogExecute, chosenFolder_isReturnedInDirectory)
{
    const QString start = makeDir(QStringLiteral("data"));
    const QString sub = makeDir(QStringLiteral("data/été 2024"));
    m_picker->SetDirectory(start);
    QString openedOn;
    answerNextFileDialog(
        sub, [&](QFileDialog *dialog) { openedOn = dialog->selectedFiles().value(0); });
    EXPECT_TRUE(m_picker->Execute());
    EXPECT_EQ(openedOn, start);
    EXPECT_EQ(m_picker->Directory(), sub);
    EXPECT_EQ(m_picker->Parent(), &m_owner);
}

TEST_F(FolderDialogExecute, confirmingAtOnce_returnsTheStartFolder)
{
    const QString start = makeDir(QStringLiteral("data"));
    m_picker->SetDirectory(start + QLatin1Char('/'));
    testsupport::onNextModal([](QWidget *modal) {
        folderstest::pressButton(qobject_cast<QFileDialog *>(modal), QDialogButtonBox::AcceptRole);
    });
    EXPECT_TRUE(m_picker->Execute());
    EXPECT_EQ(m_picker->Directory(), start);
}

TEST_F(FolderDialogExecute, options_shapeTheDialog)
{
    struct Case
    {
        const char *name;
        TFolderOptions options;
        bool dirsOnly, newFolderButton, editBox;
    };
    const Case cases[] = {
        { "system configuration", systemFolderOptions, true, false, true },
        { "defaults", { fdoNewDialogStyle, fdoShareable }, false, true, false },
        { "old style has no new-folder button", { fdoEditBox }, false, false, true },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        m_picker->SetOptions(c.options);
        answerNextFileDialog({}, [&](QFileDialog *dialog) {
            EXPECT_EQ(dialog->objectName(), QStringLiteral("FolderDialog"));
            EXPECT_EQ(dialog->fileMode(), QFileDialog::Directory);
            EXPECT_TRUE(dialog->testOption(QFileDialog::DontUseNativeDialog));
            EXPECT_EQ(dialog->testOption(QFileDialog::ShowDirsOnly), c.dirsOnly);
            auto *newFolder = dialog->findChild<QToolButton *>(QStringLiteral("newFolderButton"));
            ASSERT_NE(newFolder, nullptr);
            EXPECT_EQ(newFolder->isVisible(), c.newFolderButton);
            auto *edit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
            ASSERT_NE(edit, nullptr);
            EXPECT_EQ(edit->isVisible(), c.editBox);
        });
        EXPECT_FALSE(m_picker->Execute());
    }
}

TEST_F(FolderDialogExecute, shownDialog_isPlacedByItsRuleWithCaptionAndTitle)
{
    struct Case
    {
        const char *name;
        TDialogPosition position;
        int dialogX, dialogY;
    };
    const Case cases[] = {
        { "default", fdpDefault, 0, 0 },
        { "xy", fdpXY, -5, 30 },
        { "owner centre", fdpParentFormCenter, 0, 0 },
        { "screen centre", fdpScreenCenter, 0, 0 },
    };
    m_picker->SetCaption(QStringLiteral("Choisir le répertoire"));
    m_picker->SetTitle(QStringLiteral("Répertoire source"));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        m_picker->SetDialogPosition(c.position);
        m_picker->SetDialogX(c.dialogX);
        m_picker->SetDialogY(c.dialogY);
        answerNextFileDialog({}, [&](QFileDialog *dialog) {
            const QRect frame = dialog->frameGeometry();
            const QRect work = dialog->screen()->availableGeometry();
            EXPECT_EQ(frame.topLeft(),
                dialogPlacement(
                    c.position, m_owner.frameGeometry(), frame, work, c.dialogX, c.dialogY));
            EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Choisir le répertoire"));
            auto *title = dialog->findChild<QLabel *>(QStringLiteral("lblTitle"));
            ASSERT_NE(title, nullptr);
            EXPECT_TRUE(title->isVisible());
            EXPECT_EQ(title->text(), QStringLiteral("Répertoire source"));
            auto *view = dialog->findChild<QWidget *>(QStringLiteral("splitter"));
            ASSERT_NE(view, nullptr);
            EXPECT_LT(
                title->mapTo(dialog, QPoint(0, 0)).y(), view->mapTo(dialog, QPoint(0, 0)).y());
        });
        EXPECT_FALSE(m_picker->Execute());
    }
}

TEST_F(FolderDialogExecute, startFolderFarDownTheList_isScrolledIntoView)
{
    for (int i = 0; i < 300; ++i)
        makeDir(QStringLiteral("many/dossier %1").arg(i, 3, 10, QLatin1Char('0')));
    const QString last = file(QStringLiteral("many/dossier 299"));
    m_picker->SetDirectory(last);
    bool inView = false;
    answerNextFileDialog({}, [&](QFileDialog *dialog) {
        auto *view = dialog->findChild<QAbstractItemView *>(QStringLiteral("listView"));
        ASSERT_NE(view, nullptr);
        const auto selectedInView = [view] {
            const QModelIndexList rows = view->selectionModel()->selectedRows();
            return rows.size() == 1
                && view->viewport()->rect().contains(view->visualRect(rows.first()));
        };
        EXPECT_TRUE(QTest::qWaitFor(
            [view] { return view->model()->rowCount(view->rootIndex()) == 300; }, 5000));
        inView = QTest::qWaitFor(selectedInView, 5000);
    });
    EXPECT_FALSE(m_picker->Execute());
    EXPECT_TRUE(inView);
}

} // namespace
