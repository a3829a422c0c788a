#pragma once

#include "settings/Settings.h"

#include <QDialog>
#include <QString>

class QButtonGroup;
class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The options dialog: the five settings, the two shortcut buttons, a default log-file path
// and a hidden button that shows the settings file in the file manager. It edits nothing
// itself: EditeConfig reads its controls back when it closes with OK.
class TfrmOptions : public QDialog
{
    Q_OBJECT

public:
    // fichConfig: the full path of the settings file, shown by bbtRepConfig.
    explicit TfrmOptions(const QString &fichConfig, QWidget *parent = nullptr);

    // Fills the controls from the record; AdaptatFiltre below -1 chooses nothing, above 3
    // the last choice.
    void fillFrom(const tyConfig &config);

    // Both shortcut buttons land here; the sender's "tag" property (1 desktop, 2 start
    // menu) chooses the folder. Raises AppError when the folder cannot be created or the
    // launcher cannot be written.
    void bbtCreateShortcutClick(QObject *Sender);
    void bbtLogFileClick();
    void bbtRepConfigClick();
    void Panel1DblClick();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    friend bool EditeConfig(tyConfig &config, const QString &fichConfig, QWidget *parent);

    // The position of the chosen filter widening, -1 when none is chosen.
    int adaptFilterIndex() const;

    QString FFichConfig;

    QCheckBox *chkDontReplace;
    QGroupBox *rgAdaptFilter;
    QButtonGroup *rgAdaptFilterItems;
    QCheckBox *chkWithTimestamp;
    QCheckBox *chkExtendedView;
    QLabel *lblLogFile;
    QLineEdit *ledtLogFile;
    QPushButton *bbtLogFile;
    QPushButton *bbtCreateShortcutDesktop;
    QPushButton *bbtCreateShortcutStartMenu;
    QFrame *Panel1;
    QPushButton *bbtRepConfig;
    QPushButton *bbtOk;
    QPushButton *bbtCancel;
};

// Opens the options dialog modally, centred on parent, on a copy of config; on OK writes
// the fields back (LogFile exactly as typed) and, when ExtendedView changed, tells the user
// that it takes effect at the next start. Returns true for OK; any other close changes
// nothing. fichConfig is the settings file's full path (TfrmMain::FFichConfig).
bool EditeConfig(tyConfig &config, const QString &fichConfig, QWidget *parent);
