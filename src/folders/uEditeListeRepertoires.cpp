#include "folders/uEditeListeRepertoires.h"

#include "folders/FolderDialog.h"
#include "platform/Paths.h"
#include "platform/gui/Controls.h"
#include "platform/gui/Dialogs.h"
#include "platform/gui/Icons.h"
#include "platform/gui/Placement.h"
#include "platform/gui/Reported.h"
#include "platform/gui/WholeText.h"
#include "platform/gui/WindowKeys.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

enum ActionTag {
    tagReplace = 1,
    tagAdd = 2,
    tagDelete = 3,
    tagUp = 4,
    tagDown = 5,
};

// Counts the program's own changes to the list box for as long as it lives.
class UpdateGuard
{
public:
    explicit UpdateGuard(int &counter)
        : m_counter(counter)
    {
        ++m_counter;
    }
    ~UpdateGuard() { --m_counter; }
    UpdateGuard(const UpdateGuard &) = delete;
    UpdateGuard &operator=(const UpdateGuard &) = delete;

private:
    int &m_counter;
};

QFont fixedPitchFont()
{
    QFont font(QStringLiteral("Courier New"));
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    return font;
}

QPushButton *makeButton(
    QWidget *parent, const char *objectName, const QString &caption, const QIcon &icon)
{
    auto *button = new QPushButton(icon, caption, parent);
    button->setObjectName(QString::fromLatin1(objectName));
    return button;
}

// A button that shows only its picture: its words go to the tooltip and to assistive tools.
QPushButton *makeImageButton(
    QWidget *parent, const char *objectName, const QString &words, const QIcon &icon)
{
    QPushButton *button = makeButton(parent, objectName, QString(), icon);
    button->setToolTip(words);
    button->setAccessibleName(words);
    return button;
}

// The platform's own file dialogs are not used, so that the dialog behaves the same on every
// desktop.
void prepareFileDialog(QFileDialog &dialog, QFileDialog::AcceptMode mode)
{
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
}

QString chosenFile(QFileDialog &dialog)
{
    if (dialog.exec() != QDialog::Accepted)
        return {};
    const QStringList files = dialog.selectedFiles();
    return files.isEmpty() ? QString() : files.first();
}

} // namespace

TfrmEditeListeRepertoires::TfrmEditeListeRepertoires(QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("frmEditeListeRepertoires"));
    setWindowTitle(QStringLiteral("Répertoires"));
    setSizeGripEnabled(true);

    pnlTitre = new QLabel(this);
    pnlTitre->setObjectName(QStringLiteral("pnlTitre"));
    pnlTitre->setTextFormat(Qt::PlainText);
    pnlTitre->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);

    lbxFolders = new platform::ListBox(this);
    lbxFolders->setObjectName(QStringLiteral("lbxFolders"));
    lbxFolders->setFont(fixedPitchFont());
    lbxFolders->setSelectionMode(QAbstractItemView::SingleSelection);
    lbxFolders->setSortingEnabled(false);
    // Every row is one line of the same font: the list need not measure each of them, which
    // keeps a list of many thousand folders quick to open.
    lbxFolders->setUniformItemSizes(true);

    edtFolder = new QLineEdit(this);
    edtFolder->setObjectName(QStringLiteral("edtFolder"));
    edtFolder->setFont(fixedPitchFont());
    platform::keepOneLine(edtFolder);
    platform::showWholeTextWhenCut(edtFolder);

    bbtReplace = makeButton(this, "bbtReplace", QStringLiteral("Remplacer"),
        platform::themeIcon("edit-find-replace", QStyle::SP_BrowserReload));
    bbtAdd = makeButton(this, "bbtAdd", QStringLiteral("Ajouter"),
        platform::themeIcon("list-add", QStyle::SP_FileDialogNewFolder));
    bbtDelete = makeButton(this, "bbtDelete", QStringLiteral("Supprimer"),
        platform::themeIcon("list-remove", QStyle::SP_TrashIcon));
    bbtUp = makeImageButton(this, "bbtUp", QStringLiteral("Monter le répertoire sélectionné"),
        platform::themeIcon("go-up", QStyle::SP_ArrowUp));
    bbtDown
        = makeImageButton(this, "bbtDown", QStringLiteral("Descendre le répertoire sélectionné"),
            platform::themeIcon("go-down", QStyle::SP_ArrowDown));
    bbtFolder = makeImageButton(this, "bbtFolder", QStringLiteral("Choisir un répertoire"),
        platform::themeIcon("folder-open", QStyle::SP_DirOpenIcon));
    bbtOpen = makeImageButton(this, "bbtOpen",
        QStringLiteral("Charger la liste depuis un fichier texte"),
        platform::themeIcon("document-open", QStyle::SP_DialogOpenButton));
    bbtSave = makeImageButton(this, "bbtSave",
        QStringLiteral("Enregistrer la liste dans un fichier texte"),
        platform::themeIcon("document-save", QStyle::SP_DialogSaveButton));
    bbtOk = makeButton(this, "bbtOk", QStringLiteral("OK"),
        platform::themeIcon("dialog-ok", QStyle::SP_DialogOkButton));
    bbtCancel = makeButton(this, "bbtCancel", QStringLiteral("Annuler"),
        platform::themeIcon("dialog-cancel", QStyle::SP_DialogCancelButton));

    bbtReplace->setProperty("tag", int(tagReplace));
    bbtAdd->setProperty("tag", int(tagAdd));
    bbtDelete->setProperty("tag", int(tagDelete));
    bbtUp->setProperty("tag", int(tagUp));
    bbtDown->setProperty("tag", int(tagDown));

    FolderDialog = new TFolderDialog(this);
    FolderDialog->setObjectName(QStringLiteral("FolderDialog"));
    FolderDialog->SetOptions(systemFolderOptions);
    FolderDialog->SetDialogX(0);
    FolderDialog->SetDialogY(0);

    // The list takes all the space the other controls leave; the up, down and folder
    // buttons stand in a narrow column at its right, near its bottom.
    auto *sideColumn = new QVBoxLayout;
    sideColumn->addStretch(1);
    sideColumn->addWidget(bbtUp);
    sideColumn->addWidget(bbtDown);
    sideColumn->addWidget(bbtFolder);

    auto *actionRow = new QHBoxLayout;
    actionRow->addWidget(bbtReplace);
    actionRow->addWidget(bbtAdd);
    actionRow->addWidget(bbtDelete);
    actionRow->addStretch(1);

    auto *bottomBar = new QHBoxLayout;
    bottomBar->addWidget(bbtOpen);
    bottomBar->addWidget(bbtSave);
    bottomBar->addStretch(1);
    bottomBar->addWidget(bbtOk);
    bottomBar->addWidget(bbtCancel);

    auto *grid = new QGridLayout(this);
    grid->addWidget(pnlTitre, 0, 0, 1, 2);
    grid->addWidget(lbxFolders, 1, 0);
    grid->addLayout(sideColumn, 1, 1);
    grid->addWidget(edtFolder, 2, 0);
    grid->addLayout(actionRow, 3, 0);
    grid->addLayout(bottomBar, 4, 0, 1, 2);
    grid->setRowStretch(1, 1);
    grid->setColumnStretch(0, 1);

    setTabOrder(lbxFolders, edtFolder);
    setTabOrder(edtFolder, bbtReplace);
    setTabOrder(bbtReplace, bbtAdd);
    setTabOrder(bbtAdd, bbtDelete);
    setTabOrder(bbtDelete, bbtUp);
    setTabOrder(bbtUp, bbtDown);
    setTabOrder(bbtDown, bbtFolder);
    setTabOrder(bbtFolder, bbtOpen);
    setTabOrder(bbtOpen, bbtSave);
    setTabOrder(bbtSave, bbtOk);
    setTabOrder(bbtOk, bbtCancel);

    resize(480, 360);

    connect(lbxFolders, &QListWidget::itemSelectionChanged, this, [this] {
        if (FUpdating == 0)
            lbxFoldersClick();
    });
    lbxFolders->installEventFilter(this);
    connect(edtFolder, &QLineEdit::textChanged, this, &TfrmEditeListeRepertoires::edtFolderChange);
    for (QPushButton *button : { bbtReplace, bbtAdd, bbtDelete, bbtUp, bbtDown })
        connect(button, &QPushButton::clicked, this, &TfrmEditeListeRepertoires::bbtActionClick);
    connect(bbtFolder, &QPushButton::clicked, this, &TfrmEditeListeRepertoires::bbtFolderClick);
    platform::connectReported(bbtOpen, &QPushButton::clicked, this, [this] { bbtOpenClick(); });
    platform::connectReported(bbtSave, &QPushButton::clicked, this, [this] { bbtSaveClick(); });
    connect(bbtOk, &QPushButton::clicked, this, &TfrmEditeListeRepertoires::bbtOkClick);
    connect(bbtCancel, &QPushButton::clicked, this, &QDialog::reject);
    platform::installWindowKeys(this, bbtOk, bbtCancel);
}

void TfrmEditeListeRepertoires::SetList(const FolderList &list)
{
    UpdateGuard guard(FUpdating);
    lbxFolders->clear();
    lbxFolders->addItems(list.entries);
    lbxFolders->setCurrentRow(-1);
    lbxFolders->clearSelection();
    FEncoding = list.encoding;
}

FolderList TfrmEditeListeRepertoires::List() const
{
    FolderList list;
    list.entries.reserve(lbxFolders->count());
    for (int row = 0; row < lbxFolders->count(); ++row)
        list.entries.append(lbxFolders->item(row)->text());
    list.encoding = FEncoding;
    return list;
}

int TfrmEditeListeRepertoires::SelectedIndex() const
{
    const QList<QListWidgetItem *> selected = lbxFolders->selectedItems();
    return selected.isEmpty() ? -1 : lbxFolders->row(selected.first());
}

void TfrmEditeListeRepertoires::SelectIndex(int index)
{
    UpdateGuard guard(FUpdating);
    if (index >= 0 && index < lbxFolders->count()) {
        lbxFolders->setCurrentRow(index, QItemSelectionModel::ClearAndSelect);
    } else {
        lbxFolders->clearSelection();
        lbxFolders->setCurrentRow(-1);
    }
}

void TfrmEditeListeRepertoires::putEditText(const QString &text)
{
    // Putting in the text already there is no change and runs no rule.
    if (edtFolder->text() != text)
        edtFolder->setText(text);
}

void TfrmEditeListeRepertoires::lbxFoldersClick()
{
    const int selected = SelectedIndex();
    putEditText(selected >= 0 ? lbxFolders->item(selected)->text() : QString());
    // The edit rule may just have selected the first entry.
    const int index = SelectedIndex();
    bbtDelete->setEnabled(index >= 0);
    bbtReplace->setEnabled(false);
    bbtAdd->setEnabled(false);
    bbtUp->setEnabled(index >= 1);
    bbtDown->setEnabled(index >= 0 && index <= lbxFolders->count() - 2);
}

void TfrmEditeListeRepertoires::edtFolderChange()
{
    const QString trimmed = platform::trimText(edtFolder->text());
    if (lbxFolders->count() == 0) {
        bbtReplace->setEnabled(false);
        bbtAdd->setEnabled(!trimmed.isEmpty());
        bbtDelete->setEnabled(false);
        return;
    }
    if (SelectedIndex() < 0)
        SelectIndex(0);
    const QString current = lbxFolders->item(SelectedIndex())->text();
    const bool differs = trimmed != current;
    bool found = false;
    for (int row = 0; row < lbxFolders->count() && !found; ++row)
        found = lbxFolders->item(row)->text().compare(trimmed, Qt::CaseInsensitive) == 0;
    bbtReplace->setEnabled(differs);
    bbtAdd->setEnabled(differs && !found);
}

void TfrmEditeListeRepertoires::bbtActionClick()
{
    if (QObject *button = sender())
        runAction(button->property("tag").toInt());
}

void TfrmEditeListeRepertoires::runAction(int tag)
{
    const int index = SelectedIndex();
    const QString text = edtFolder->text();
    const int count = lbxFolders->count();
    {
        UpdateGuard guard(FUpdating);
        const auto swapEntries = [this](int a, int b) {
            const QString first = lbxFolders->item(a)->text();
            lbxFolders->item(a)->setText(lbxFolders->item(b)->text());
            lbxFolders->item(b)->setText(first);
        };
        switch (tag) {
        case tagReplace:
            if (index >= 0)
                lbxFolders->item(index)->setText(text);
            break;
        case tagAdd:
            lbxFolders->addItem(text);
            SelectIndex(lbxFolders->count() - 1);
            break;
        case tagDelete:
            if (index >= 0) {
                delete lbxFolders->takeItem(index);
                SelectIndex(index - 1);
            }
            break;
        case tagUp:
            if (index >= 1) {
                swapEntries(index, index - 1);
                SelectIndex(index - 1);
            }
            break;
        case tagDown:
            if (index >= 0 && index + 1 < count) {
                swapEntries(index, index + 1);
                SelectIndex(index + 1);
            }
            break;
        default:
            return;
        }
    }
    lbxFoldersClick();
}

void TfrmEditeListeRepertoires::bbtFolderClick()
{
    FolderDialog->SetDirectory(platform::trimText(edtFolder->text()));
    const bool chosen = FolderDialog->Execute();
    if (chosen)
        putEditText(FolderDialog->Directory());
    edtFolderChange();
    // A folder just picked is meant to join the list: Enter adds it.
    if (chosen && bbtAdd->isEnabled())
        bbtAdd->setFocus(Qt::OtherFocusReason);
}

bool TfrmEditeListeRepertoires::isListed(const QString &trimmed) const
{
    // As Ajouter sees it (letter case aside), and an entry kept with blanks around it counts.
    for (int row = 0; row < lbxFolders->count(); ++row) {
        if (platform::trimText(lbxFolders->item(row)->text()).compare(trimmed, Qt::CaseInsensitive)
            == 0)
            return true;
    }
    return false;
}

void TfrmEditeListeRepertoires::bbtOkClick()
{
    // A folder typed or picked without Ajouter is easily taken for one in the list.
    const QString pending = platform::trimText(edtFolder->text());
    if (!pending.isEmpty() && !isListed(pending)
        && platform::confirm(this,
            QStringLiteral("Le répertoire \"") + pending
                + QStringLiteral("\" n'a pas été ajouté à la liste. Voulez-vous l'ajouter ?"))) {
        UpdateGuard guard(FUpdating);
        lbxFolders->addItem(pending);
    }
    accept();
}

void TfrmEditeListeRepertoires::bbtOpenClick()
{
    QFileDialog dialog(this, QStringLiteral("Ouvrir"));
    dialog.setObjectName(QStringLiteral("dlgOpen"));
    prepareFileDialog(dialog, QFileDialog::AcceptOpen);
    const QString path = chosenFile(dialog);
    if (path.isEmpty())
        return;
    // Read first: a file that cannot be read leaves the list as it was.
    SetList(readFolderListFile(path));
    lbxFoldersClick();
}

void TfrmEditeListeRepertoires::bbtSaveClick()
{
    QFileDialog dialog(this, QStringLiteral("Enregistrer sous"));
    dialog.setObjectName(QStringLiteral("dlgSave"));
    prepareFileDialog(dialog, QFileDialog::AcceptSave);
    const QString path = chosenFile(dialog);
    if (path.isEmpty())
        return;
    // A list that the code page cannot hold is written as UTF-8, and goes on as UTF-8.
    FEncoding = writeFolderListFile(path, List());
}

bool TfrmEditeListeRepertoires::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == lbxFolders && event->type() == QEvent::KeyRelease
        && !static_cast<QKeyEvent *>(event)->isAutoRepeat())
        lbxFoldersClick();
    return QDialog::eventFilter(watched, event);
}

bool EditeListeRepertoires(FolderList &list, const QString &title, QWidget *parent)
{
    TfrmEditeListeRepertoires frm(parent);
    frm.SetList(list);
    frm.lbxFoldersClick();
    if (!title.isEmpty())
        frm.pnlTitre->setText(title);
    else
        frm.pnlTitre->hide();
    if (frm.lbxFolders->count() > 0)
        frm.SelectIndex(0);
    frm.lbxFoldersClick();
    platform::centreOnOwner(&frm);
    const int result = frm.exec();
    // After a question the editor and the message box close at once, and a window manager may
    // then activate no window at all: the owner takes the keyboard back itself.
    if (parent)
        parent->window()->activateWindow();
    if (result != QDialog::Accepted)
        return false;
    list = frm.List();
    return true;
}
