#pragma once

#include "settings/FolderList.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class TFolderDialog;

// The ordered folder-list editor. It works on its own copy of a list (entries and
// encoding); EditeListeRepertoires() hands the copy back only when the user confirms.
class TfrmEditeListeRepertoires : public QDialog
{
    Q_OBJECT

public:
    explicit TfrmEditeListeRepertoires(QWidget *parent = nullptr);

    // Replaces the entries and the encoding; leaves nothing selected.
    void SetList(const FolderList &list);
    FolderList List() const;

    // The selected entry's position, or -1.
    int SelectedIndex() const;
    // Selects an entry (-1: none) as the program does: the selection rule does not run.
    void SelectIndex(int index);

    // The selection rule: the edit takes the selected entry's text, then the list buttons
    // follow the selection.
    void lbxFoldersClick();
    // The edit rule: Remplacer and Ajouter follow the edit text.
    void edtFolderChange();
    // Remplacer, Ajouter, Supprimer, up and down, told apart by the button's "tag".
    void bbtActionClick();
    void bbtFolderClick();
    // Closes with OK; a folder left in the edit but never added is offered first.
    void bbtOkClick();
    // Raise AppError when the file cannot be read or written; the list is then unchanged.
    void bbtOpenClick();
    void bbtSaveClick();

    QLabel *pnlTitre;
    QListWidget *lbxFolders;
    QLineEdit *edtFolder;
    QPushButton *bbtReplace;
    QPushButton *bbtAdd;
    QPushButton *bbtDelete;
    QPushButton *bbtUp;
    QPushButton *bbtDown;
    QPushButton *bbtFolder;
    QPushButton *bbtOpen;
    QPushButton *bbtSave;
    QPushButton *bbtOk;
    QPushButton *bbtCancel;
    TFolderDialog *FolderDialog;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void runAction(int tag);
    void putEditText(const QString &text);
    bool isListed(const QString &trimmed) const;

    TextEncoding FEncoding = TextEncoding::Ansi;
    // Non-zero while the program itself changes the list box, whose selection signals then
    // are no user's choice.
    int FUpdating = 0;
};

// Edits list in place: true when the user confirmed with OK, false (list unchanged)
// otherwise. An empty title hides the title line.
bool EditeListeRepertoires(FolderList &list, const QString &title, QWidget *parent);
