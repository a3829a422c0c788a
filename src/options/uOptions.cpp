#include "options/uOptions.h"

#include "options/DesktopEntry.h"
#include "options/FileManager.h"
#include "platform/Error.h"
#include "platform/Paths.h"
#include "platform/SpecialFolders.h"
#include "platform/gui/Controls.h"
#include "platform/gui/Dialogs.h"
#include "platform/gui/Icons.h"
#include "platform/gui/Placement.h"
#include "platform/gui/Reported.h"
#include "platform/gui/WholeText.h"
#include "platform/gui/WindowKeys.h"
#include "settings/uLibFolders.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCoreApplication>
#include <QEvent>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <algorithm>
#include <functional>
#include <memory>

namespace {

const char *const kTag = "tag";

QPushButton *makeButton(QWidget *parent, const char *name, const QString &caption)
{
    auto *button = new QPushButton(caption, parent);
    button->setObjectName(QLatin1String(name));
    return button;
}

QCheckBox *makeCheckBox(QWidget *parent, const char *name, const QString &caption)
{
    auto *box = new QCheckBox(caption, parent);
    box->setObjectName(QLatin1String(name));
    return box;
}

// A picture-only button still says what it does to the mouse and to a screen reader.
QPushButton *makeIconButton(
    QWidget *parent, const char *name, const QIcon &icon, const QString &hint)
{
    auto *button = new QPushButton(parent);
    button->setObjectName(QLatin1String(name));
    button->setIcon(icon);
    button->setToolTip(hint);
    button->setAccessibleName(hint);
    button->setAutoDefault(false);
    return button;
}

} // namespace

TfrmOptions::TfrmOptions(const QString &fichConfig, QWidget *parent)
    : QDialog(parent)
    , FFichConfig(fichConfig)
{
    setObjectName(QStringLiteral("frmOptions"));
    setWindowTitle(QStringLiteral("Options"));
    setWindowFlag(Qt::MSWindowsFixedSizeDialogHint);

    chkDontReplace = makeCheckBox(
        this, "chkDontReplace", QStringLiteral("Ne pas remplacer les fichiers lors de la copie"));

    rgAdaptFilter = new QGroupBox(QStringLiteral("Adaptation du filtre"), this);
    rgAdaptFilter->setObjectName(QStringLiteral("rgAdaptFilter"));
    rgAdaptFilterItems = new QButtonGroup(rgAdaptFilter);
    rgAdaptFilterItems->setExclusive(true);
    auto *choices = new QVBoxLayout(rgAdaptFilter);
    const QString captions[] = { QStringLiteral("FILTRE"), QStringLiteral("* + FILTRE"),
        QStringLiteral("FILTRE + *.*"), QStringLiteral("* + FILTRE + *.*") };
    for (int i = 0; i < 4; ++i) {
        auto *choice = new QRadioButton(captions[i], rgAdaptFilter);
        choice->setObjectName(QStringLiteral("rgAdaptFilterItem%1").arg(i));
        rgAdaptFilterItems->addButton(choice, i);
        choices->addWidget(choice);
    }
    platform::oneTabStop(rgAdaptFilterItems);

    chkWithTimestamp = makeCheckBox(
        this, "chkWithTimestamp", QStringLiteral("Ajout d'un timestamp dans le log"));
    chkExtendedView = makeCheckBox(
        this, "chkExtendedView", QStringLiteral("Méthode de sélection des répertoires étendue"));

    lblLogFile = new QLabel(QStringLiteral("Fichier log"), this);
    lblLogFile->setObjectName(QStringLiteral("lblLogFile"));
    ledtLogFile = new QLineEdit(this);
    ledtLogFile->setObjectName(QStringLiteral("ledtLogFile"));
    platform::keepOneLine(ledtLogFile);
    platform::showWholeTextWhenCut(ledtLogFile);
    // Room for a usual path to be read whole.
    ledtLogFile->setMinimumWidth(320);
    lblLogFile->setBuddy(ledtLogFile);
    bbtLogFile = makeIconButton(this, "bbtLogFile",
        platform::themeIcon("document-new", QStyle::SP_FileIcon),
        QStringLiteral("Fichier log par défaut, dans le dossier Documents"));

    bbtCreateShortcutDesktop = makeButton(
        this, "bbtCreateShortcutDesktop", QStringLiteral("Créer un raccourci sur le bureau"));
    bbtCreateShortcutDesktop->setProperty(kTag, 1);
    bbtCreateShortcutDesktop->setAutoDefault(false);
    bbtCreateShortcutStartMenu = makeButton(this, "bbtCreateShortcutStartMenu",
        QStringLiteral("Créer un raccourci dans le menu démarrer"));
    bbtCreateShortcutStartMenu->setProperty(kTag, 2);
    bbtCreateShortcutStartMenu->setAutoDefault(false);

    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    bbtRepConfig = makeIconButton(Panel1, "bbtRepConfig",
        platform::themeIcon("folder-open", QStyle::SP_DirOpenIcon),
        QStringLiteral("Afficher le fichier de configuration"));
    bbtRepConfig->setFocusPolicy(Qt::ClickFocus);
    bbtRepConfig->setVisible(false);
    bbtOk = makeButton(Panel1, "bbtOk", QStringLiteral("OK"));
    bbtCancel = makeButton(Panel1, "bbtCancel", QStringLiteral("Annuler"));
    bbtCancel->setAutoDefault(false);

    auto *logFileRow = new QHBoxLayout;
    logFileRow->addWidget(ledtLogFile, 1);
    logFileRow->addWidget(bbtLogFile);

    auto *bar = new QHBoxLayout(Panel1);
    bar->setContentsMargins(0, 0, 0, 0);
    bar->addWidget(bbtRepConfig);
    bar->addStretch(1);
    bar->addWidget(bbtOk);
    bar->addSpacing(6);
    bar->addWidget(bbtCancel);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(chkDontReplace);
    layout->addWidget(rgAdaptFilter);
    layout->addWidget(chkWithTimestamp);
    layout->addWidget(chkExtendedView);
    layout->addSpacing(4);
    layout->addWidget(lblLogFile);
    layout->addLayout(logFileRow);
    layout->addSpacing(4);
    layout->addWidget(bbtCreateShortcutDesktop);
    layout->addWidget(bbtCreateShortcutStartMenu);
    layout->addSpacing(4);
    layout->addWidget(Panel1);

    QWidget *tabOrder[] = { chkDontReplace, rgAdaptFilterItems->button(0),
        rgAdaptFilterItems->button(1), rgAdaptFilterItems->button(2), rgAdaptFilterItems->button(3),
        chkWithTimestamp, chkExtendedView, ledtLogFile, bbtLogFile, bbtCreateShortcutDesktop,
        bbtCreateShortcutStartMenu, bbtOk, bbtCancel };
    for (std::size_t i = 1; i < std::size(tabOrder); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);

    connect(bbtOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(bbtCancel, &QPushButton::clicked, this, &QDialog::reject);
    platform::installWindowKeys(this, bbtOk, bbtCancel);
    connect(bbtLogFile, &QPushButton::clicked, this, &TfrmOptions::bbtLogFileClick);
    connect(bbtRepConfig, &QPushButton::clicked, this, &TfrmOptions::bbtRepConfigClick);
    for (QPushButton *button : { bbtCreateShortcutDesktop, bbtCreateShortcutStartMenu })
        platform::connectReported(button, &QPushButton::clicked, this,
            [this, button] { bbtCreateShortcutClick(button); });
    Panel1->installEventFilter(this);

    // Not resizable: the size the controls need, with bbtRepConfig hidden.
    setFixedSize(sizeHint());
}

void TfrmOptions::fillFrom(const tyConfig &config)
{
    chkDontReplace->setChecked(config.DontReplace);
    const int choice = std::clamp(config.AdaptatFiltre, -1, 3);
    if (choice >= 0) {
        rgAdaptFilterItems->button(choice)->setChecked(true);
    } else if (QAbstractButton *checked = rgAdaptFilterItems->checkedButton()) {
        // An exclusive group refuses to clear its last choice.
        rgAdaptFilterItems->setExclusive(false);
        checked->setChecked(false);
        rgAdaptFilterItems->setExclusive(true);
    }
    chkWithTimestamp->setChecked(config.WithTimestamp);
    chkExtendedView->setChecked(config.ExtendedView);
    ledtLogFile->setText(config.LogFile);
}

int TfrmOptions::adaptFilterIndex() const
{
    return rgAdaptFilterItems->checkedId();
}

void TfrmOptions::bbtLogFileClick()
{
    const QString name = platform::changeFileExt(
        platform::extractFileName(platform::executablePath()), QStringLiteral(".log"));
    const QString folder
        = platform::includeTrailingDelimiter(SpecialFolderPath(platform::CSIDL_PERSONAL));
    ledtLogFile->setText(folder + name);
}

void TfrmOptions::bbtRepConfigClick()
{
    options::showFileInFileManager(FFichConfig);
}

void TfrmOptions::Panel1DblClick()
{
    bbtRepConfig->setVisible(true);
}

bool TfrmOptions::eventFilter(QObject *watched, QEvent *event)
{
    // The buttons take their own clicks, so what reaches Panel1 hit its empty area.
    if (watched == Panel1 && event->type() == QEvent::MouseButtonDblClick
        && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
        Panel1DblClick();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TfrmOptions::bbtCreateShortcutClick(QObject *Sender)
{
    QString folder;
    switch (Sender->property(kTag).toInt()) {
    case 1:
        folder = SpecialFolderPath(platform::CSIDL_DESKTOP);
        break;
    case 2:
        folder = SpecialFolderPath(platform::CSIDL_PROGRAMS);
        // Without the applications folder the launcher would land in the current
        // directory, where no menu shows it.
        if (!folder.isEmpty())
            folder += QStringLiteral("Orvane/Toolshelf/");
        break;
    default:
        return;
    }

    if (folder.isEmpty()
        || (!platform::directoryExists(folder) && !platform::forceDirectories(folder)))
        throw AppError(QStringLiteral("Impossible de créer le répertoire"));

    const QString shortcut = folder + QStringLiteral("Quill Sift.desktop");
    if (platform::fileExists(shortcut)
        && !platform::confirm(this,
            QStringLiteral("Le raccourci \"%1\" existe déjà.\n"
                           "Voulez-vous le mettre à jour ?")
                .arg(shortcut)))
        return;

    // The old launcher is replaced in one step, so a failed write leaves it as it was.
    options::CreateShortcut(platform::executablePath(), shortcut);
    platform::inform(this, QStringLiteral("Raccourci créé."));
}

bool EditeConfig(tyConfig &config, const QString &fichConfig, QWidget *parent)
{
    // Held by a guard that notices if the parent takes the dialog down with it.
    QPointer<TfrmOptions> frmOptions = new TfrmOptions(fichConfig, parent);
    frmOptions->fillFrom(config);
    platform::centreOnOwner(frmOptions);
    const int result = frmOptions->exec();
    if (!frmOptions)
        return false;
    const std::unique_ptr<TfrmOptions> owned(frmOptions.data());
    if (result != QDialog::Accepted)
        return false;

    const bool extendedView = owned->chkExtendedView->isChecked();
    config.DontReplace = owned->chkDontReplace->isChecked();
    config.AdaptatFiltre = owned->adaptFilterIndex();
    config.WithTimestamp = owned->chkWithTimestamp->isChecked();
    config.LogFile = owned->ledtLogFile->text();
    if (extendedView != config.ExtendedView)
        platform::inform(parent,
            QStringLiteral("Veuillez redémarrer le programme pour que le "
                           "paramètre \"Méthode de sélection des "
                           "répertoires étendue\" soit pris en compte."));
    config.ExtendedView = extendedView;
    return true;
}
