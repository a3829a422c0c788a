#pragma once

#include "settings/FolderList.h"
#include "settings/Settings.h"

#include <QWidget>

#include <functional>

class QAbstractButton;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

// The program start's part of the application object, before the main window exists: the
// application title, Qt's own texts in French, and the desktop's icon theme (Adwaita where
// the desktop names none).
void initApplication();

// The main window: the filter lines, the source and destination folders, and the copy.
// It owns the settings record and both folder lists, and runs the start-up sequence when
// it is created.
class TFolderDialog;

class TfrmMain : public QWidget
{
    Q_OBJECT

public:
    explicit TfrmMain(QWidget *parent = nullptr);
    ~TfrmMain() override;

    // The settings in force; the copy run reads this very record.
    tyConfig &config() { return FConfig; }
    const QString &repConfig() const { return FRepConfig; }
    const QString &fichConfig() const { return FFichConfig; }

    // The folder lists behind cbxRepSrc and cbxRepDst: the combo items are always exactly
    // the entries, and each list keeps the encoding it was last read or written with.
    const FolderList &repSrc() const { return FRepSrc; }
    const FolderList &repDst() const { return FRepDst; }
    // Replaces a drop-down list's items (and the list's encoding); no folder stays selected.
    // The change rule does not run: callers run RepChange when they are done.
    void setRepSrc(const FolderList &list);
    void setRepDst(const FolderList &list);

    bool extendedView() const { return FExtendedView; }

    void LoadConfig();
    void SaveConfig();
    void LoadRepLists();
    void SaveRepLists();

    // Keeps the copy button (and, in the extended layout, the text boxes) in line with the
    // chosen folders.
    void RepChange();
    void ApplyLayout();

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void createControls();
    void placeControls();
    QList<QWidget *> extendedOnlyControls() const;
    void FormCreate();
    void FormShow();

    void bbtCopieClick();
    void bbtResetClick();
    void bbtCloseClick();
    void bbtSelectRepClick(QAbstractButton *sender);
    void bbtEditRepClick(QAbstractButton *sender);
    void bbtOptionsClick();
    void bbtAboutClick();

    FolderList loadCheckedList(
        const FolderList &current, const QString &fileName, const QString &questionStart);
    void setRepList(QComboBox *cbx, FolderList &target, const FolderList &list);
    QStringList filterLines() const;
    void syncPair(QComboBox *cbx, QLineEdit *edt);
    int scaled(int pixels) const;

    tyConfig FConfig;
    QString FRepConfig;
    QString FFichConfig;
    TFolderDialog *FolderDialog = nullptr;
    FolderList FRepSrc;
    FolderList FRepDst;
    // Why start-up could not read the settings file (an errno value), or 0: settings it could
    // not read are never written over.
    int FConfigError = 0;
    // Whether start-up read each list: one it could not read is never written over.
    bool FRepSrcRead = false;
    bool FRepDstRead = false;
    bool FExtendedView = false; // the layout mode, taken once at start-up
    bool FLayoutExtended = false; // the layout the controls are placed in
    bool FShown = false;

    QFrame *pnlClient = nullptr;
    QLabel *Label3 = nullptr;
    QPlainTextEdit *memFilter = nullptr;
    QLabel *lblRepSrc = nullptr;
    QComboBox *cbxRepSrc = nullptr;
    QPushButton *bbtRepSrc = nullptr;
    QLineEdit *edtRepSrc = nullptr;
    QPushButton *bbtSelectRepSrc = nullptr;
    QLabel *lblRepDst = nullptr;
    QComboBox *cbxRepDst = nullptr;
    QPushButton *bbtRepDst = nullptr;
    QLineEdit *edtRepDst = nullptr;
    QPushButton *bbtSelectRepDst = nullptr;
    QPushButton *bbtOptions = nullptr;
    QPushButton *bbtCopie = nullptr;
    QPushButton *bbtReset = nullptr;
    QFrame *pnlBottom = nullptr;
    QPushButton *bbtAbout = nullptr;
    QPushButton *bbtClose = nullptr;
};
