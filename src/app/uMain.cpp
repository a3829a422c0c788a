#include "app/uMain.h"

#include "copy/uProcessCopy.h"
#include "folders/FolderDialog.h"
#include "folders/uEditeListeRepertoires.h"
#include "info/uAbout102.h"
#include "info/uPiwik102.h"
#include "options/uOptions.h"
#include "platform/Error.h"
#include "platform/Paths.h"
#include "platform/gui/Application.h"
#include "platform/gui/Controls.h"
#include "platform/gui/Dialogs.h"
#include "platform/gui/Icons.h"
#include "platform/gui/Reported.h"
#include "platform/gui/WholeText.h"
#include "platform/gui/WindowKeys.h"

#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QStandardPaths>
#include <QTranslator>
#include <QVBoxLayout>

#include <tuple>
#include <utility>

using namespace Qt::Literals::StringLiterals;

namespace {

// The window's size at 96 dpi, and the part of it above the bottom panel that every
// position inside pnlClient refers to.
constexpr int clientWidth = 480;
constexpr int clientHeight = 355;
constexpr int bottomHeight = 33;
constexpr int panelHeight = clientHeight - bottomHeight;

// The filter box never shrinks below this height.
constexpr int minFilterHeight = 30;

QFont boldFont()
{
    // Only the weight is set, so family and size still come from the window.
    QFont font;
    font.setBold(true);
    return font;
}

QPushButton *makeButton(
    QWidget *parent, const QString &name, const QString &caption, const QIcon &icon)
{
    auto *button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setIcon(icon);
    button->setAutoDefault(false);
    return button;
}

// An empty list of folders cannot be typed into: it points to the button that fills it. Qt
// shows the hint whenever nothing is selected, so a list with entries carries none. Set while
// the box is empty: taking the hint away from a box without selection selects its first entry.
void hintFirstFolder(QComboBox *cbx, bool noFolder)
{
    cbx->setPlaceholderText(
        noFolder ? u"Aucun répertoire : ajoutez-en un avec le bouton ≡ à droite"_s : QString());
}

// A button that shows only its picture says what it does to the mouse and to assistive tools.
void describeImageButton(QPushButton *button, const QString &words)
{
    button->setToolTip(words);
    button->setAccessibleName(words);
}

// The controls that choose one folder, created in tab order: its caption, its list, the list
// editor's button, the typed folder and the picker's button. Names end in `which` ("Src",
// "Dst"); both buttons carry `tag`, which tells their handlers the list they serve. `folder`
// completes "répertoire(s) ..." in the buttons' descriptions.
std::tuple<QLabel *, QComboBox *, QPushButton *, QLineEdit *, QPushButton *> makeFolderControls(
    QWidget *parent, const QString &which, int tag, const QString &caption, const QString &folder)
{
    auto *lbl = new QLabel(caption, parent);
    lbl->setObjectName(u"lblRep"_s + which);
    lbl->setFont(boldFont());
    auto *cbx = new QComboBox(parent);
    cbx->setObjectName(u"cbxRep"_s + which);
    lbl->setBuddy(cbx);
    platform::showWholeTextWhenCut(cbx);
    hintFirstFolder(cbx, true);
    QPushButton *bbtEdit = makeButton(parent, u"bbtRep"_s + which, {},
        platform::themeIcon("format-justify-fill", QStyle::SP_FileDialogListView));
    bbtEdit->setProperty("tag", tag);
    describeImageButton(bbtEdit, u"Modifier la liste des répertoires "_s + folder);
    auto *edt = new QLineEdit(parent);
    edt->setObjectName(u"edtRep"_s + which);
    platform::keepOneLine(edt);
    platform::showWholeTextWhenCut(edt);
    QPushButton *bbtSelect = makeButton(parent, u"bbtSelectRep"_s + which, {},
        platform::themeIcon("folder-open", QStyle::SP_DirOpenIcon));
    bbtSelect->setProperty("tag", tag);
    describeImageButton(bbtSelect, u"Choisir le répertoire "_s + folder);
    return { lbl, cbx, bbtEdit, edt, bbtSelect };
}

// Why a folder cannot take part in a copy, or nothing when it can: `chosen` is the text
// whose emptiness counts, `tested` the one that must name an existing folder. `which`
// completes "répertoire ...".
QString folderProblem(const QString &chosen, const QString &tested, const QString &which)
{
    if (chosen.isEmpty())
        return u"Aucun répertoire %1 n'est choisi."_s.arg(which);
    if (!platform::directoryExists(tested))
        return u"Le répertoire %1 \"%2\" est introuvable."_s.arg(which, tested);
    return {};
}

} // namespace

void initApplication()
{
    // The application title. Not set as the display name: Qt would append a display name to
    // every other window's caption on the desktop ("Confirmer — Quill Sift").
    QApplication::setApplicationName(u"Quill Sift"_s);

    auto *qtTranslator = new QTranslator(qApp);
    if (qtTranslator->load(u"qtbase_fr"_s, QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(qtTranslator);
    else
        delete qtTranslator;

    if (QIcon::themeName().isEmpty()) {
        QStringList paths = QIcon::themeSearchPaths();
        const QStringList installed = QStandardPaths::locateAll(
            QStandardPaths::GenericDataLocation, u"icons"_s, QStandardPaths::LocateDirectory);
        for (const QString &folder : installed) {
            if (!paths.contains(folder))
                paths.append(folder);
        }
        QIcon::setThemeSearchPaths(paths);
        QIcon::setThemeName(u"Adwaita"_s);
    }
    // Names the desktop's own theme lacks.
    QIcon::setFallbackThemeName(u"Adwaita"_s);

    // The program's own icon for every window, message boxes and file dialogs included; the
    // desktop entry's name lets the desktop match the windows with their launcher.
    QIcon windowIcon;
    const QDir renders(u":/icons"_s);
    for (const QString &name : renders.entryList({ u"quillsift-*.png"_s }, QDir::Files))
        windowIcon.addFile(renders.filePath(name));
    if (windowIcon.isNull())
        windowIcon = QIcon::fromTheme(u"quillsift"_s);
    QApplication::setWindowIcon(windowIcon);
    QGuiApplication::setDesktopFileName(u"quillsift"_s);
}

TfrmMain::TfrmMain(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(u"frmMain"_s);
    createControls();
    resize(scaled(clientWidth), scaled(clientHeight));
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    FormCreate();
}

TfrmMain::~TfrmMain() = default;

int TfrmMain::scaled(int pixels) const
{
    return qRound(pixels * logicalDpiY() / 96.0);
}

void TfrmMain::createControls()
{
    FolderDialog = new TFolderDialog(this);
    FolderDialog->SetOptions(systemFolderOptions);

    QFont tahoma(u"Tahoma"_s, 8);
    tahoma.setStyleHint(QFont::SansSerif);
    setFont(tahoma);

    pnlClient = new QFrame(this);
    pnlClient->setObjectName(u"pnlClient"_s);
    pnlBottom = new QFrame(this);
    pnlBottom->setObjectName(u"pnlBottom"_s);
    pnlBottom->setFixedHeight(scaled(bottomHeight));

    auto *form = new QVBoxLayout(this);
    form->setContentsMargins(0, 0, 0, 0);
    form->setSpacing(0);
    form->addWidget(pnlClient, 1);
    form->addWidget(pnlBottom);

    // Created in tab order, so the focus chain follows the window's reading order.
    Label3 = new QLabel(u"Filtres"_s, pnlClient);
    Label3->setObjectName(u"Label3"_s);
    Label3->setFont(boldFont());

    memFilter = new QPlainTextEdit(pnlClient);
    memFilter->setObjectName(u"memFilter"_s);
    QFont courier(u"Courier New"_s, 8);
    courier.setStyleHint(QFont::TypeWriter);
    courier.setFixedPitch(true);
    memFilter->setFont(courier);
    memFilter->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    memFilter->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    // Tab moves on to the next control, it is never part of a filter.
    memFilter->setTabChangesFocus(true);
    platform::plainLineBreaks(memFilter);
    // What to type, for a first use; gone with the first character.
    memFilter->setPlaceholderText(u"Un filtre par ligne : *.pdf, rapport…"_s);

    std::tie(lblRepSrc, cbxRepSrc, bbtRepSrc, edtRepSrc, bbtSelectRepSrc)
        = makeFolderControls(pnlClient, u"Src"_s, 1, u"Répertoire &source"_s, u"source"_s);
    std::tie(lblRepDst, cbxRepDst, bbtRepDst, edtRepDst, bbtSelectRepDst) = makeFolderControls(
        pnlClient, u"Dst"_s, 2, u"Répertoire de &destination"_s, u"de destination"_s);

    bbtOptions = makeButton(pnlClient, u"bbtOptions"_s, u"&Options"_s,
        platform::themeIcon("preferences-system", QStyle::SP_FileDialogDetailedView));
    bbtCopie = makeButton(pnlClient, u"bbtCopie"_s, u"&Copie des fichiers"_s,
        platform::themeIcon("edit-copy", QStyle::SP_DialogApplyButton));
    bbtCopie->setFont(boldFont());
    bbtCopie->setEnabled(false);
    bbtReset = makeButton(pnlClient, u"bbtReset"_s, u"RAZ"_s,
        platform::themeIcon("edit-clear", QStyle::SP_DialogResetButton));

    bbtAbout = makeButton(pnlBottom, u"bbtAbout"_s, {},
        platform::themeIcon("help-about", QStyle::SP_MessageBoxInformation));
    describeImageButton(bbtAbout, u"A propos de..."_s);
    bbtClose = makeButton(pnlBottom, u"bbtClose"_s, u"&Fermer"_s,
        platform::themeIcon("application-exit", QStyle::SP_DialogCloseButton));

    auto *bottom = new QHBoxLayout(pnlBottom);
    const int border = scaled(4);
    bottom->setContentsMargins(border, border, border, border);
    bbtAbout->setFixedSize(scaled(25), scaled(25));
    bbtClose->setFixedSize(scaled(90), scaled(25));
    bottom->addWidget(bbtAbout);
    bottom->addStretch(1);
    bottom->addWidget(bbtClose);

    for (QLabel *label : { Label3, lblRepSrc, lblRepDst })
        label->adjustSize();

    const QList<QWidget *> tabOrder { memFilter, cbxRepSrc, bbtRepSrc, edtRepSrc, bbtSelectRepSrc,
        cbxRepDst, bbtRepDst, edtRepDst, bbtSelectRepDst, bbtOptions, bbtCopie, bbtReset, bbtAbout,
        bbtClose };
    for (qsizetype i = 1; i < tabOrder.size(); ++i)
        setTabOrder(tabOrder.at(i - 1), tabOrder.at(i));

    connect(cbxRepSrc, &QComboBox::currentIndexChanged, this, &TfrmMain::RepChange);
    connect(cbxRepDst, &QComboBox::currentIndexChanged, this, &TfrmMain::RepChange);
    connect(edtRepSrc, &QLineEdit::textChanged, this, &TfrmMain::RepChange);
    connect(edtRepDst, &QLineEdit::textChanged, this, &TfrmMain::RepChange);
    for (QPushButton *button : { bbtRepSrc, bbtRepDst })
        platform::connectReported(
            button, &QPushButton::clicked, this, [this, button] { bbtEditRepClick(button); });
    for (QPushButton *button : { bbtSelectRepSrc, bbtSelectRepDst })
        platform::connectReported(
            button, &QPushButton::clicked, this, [this, button] { bbtSelectRepClick(button); });
    const std::pair<QPushButton *, void (TfrmMain::*)()> reactions[] = {
        { bbtOptions, &TfrmMain::bbtOptionsClick },
        { bbtCopie, &TfrmMain::bbtCopieClick },
        { bbtReset, &TfrmMain::bbtResetClick },
        { bbtAbout, &TfrmMain::bbtAboutClick },
        { bbtClose, &TfrmMain::bbtCloseClick },
    };
    for (const auto &[button, handler] : reactions)
        platform::connectReported(
            button, &QPushButton::clicked, this, [this, handler] { (this->*handler)(); });

    // Until the layout mode is known the window shows the normal layout.
    for (QWidget *extendedOnly : extendedOnlyControls()) {
        extendedOnly->setEnabled(false);
        extendedOnly->hide();
    }
    pnlClient->installEventFilter(this);
    placeControls();
    // The disabled copy button says why from the start, even if start-up stops early.
    RepChange();
    // No default and no cancel button: Enter presses the focused button, Escape does nothing.
    platform::installWindowKeys(this, nullptr, nullptr);
}

QList<QWidget *> TfrmMain::extendedOnlyControls() const
{
    return { edtRepSrc, bbtSelectRepSrc, edtRepDst, bbtSelectRepDst };
}

void TfrmMain::placeControls()
{
    const bool ext = FLayoutExtended;
    // Positions are given for the window's first size: what the panel gains or loses in
    // height goes to the filter box, and what it gains in width to the stretching controls.
    const int dw = pnlClient->width() - scaled(clientWidth);
    const int dh = pnlClient->height() - scaled(panelHeight);
    const auto below = [&](int top) { return scaled(top) + dh; };
    const int left = scaled(8);
    const int boxWidth = scaled(432) + dw;
    const int buttonLeft = scaled(446) + dw;

    Label3->move(left, scaled(14));
    memFilter->setGeometry(left, scaled(32), scaled(464) + dw, scaled(ext ? 100 : 140) + dh);

    lblRepSrc->move(left, below(ext ? 138 : 178));
    cbxRepSrc->setGeometry(left, below(ext ? 157 : 197), boxWidth, scaled(21));
    bbtRepSrc->setGeometry(buttonLeft, below(ext ? 155 : 195), scaled(26), scaled(25));
    edtRepSrc->setGeometry(left, ext ? below(184) : 0, boxWidth, scaled(21));
    bbtSelectRepSrc->setGeometry(buttonLeft, ext ? below(184) : 0, scaled(26), scaled(23));

    lblRepDst->move(left, below(ext ? 211 : 232));
    cbxRepDst->setGeometry(left, below(ext ? 230 : 251), boxWidth, scaled(21));
    bbtRepDst->setGeometry(buttonLeft, below(ext ? 228 : 249), scaled(26), scaled(25));
    edtRepDst->setGeometry(left, ext ? below(257) : 0, boxWidth, scaled(21));
    bbtSelectRepDst->setGeometry(buttonLeft, ext ? below(257) : 0, scaled(26), scaled(23));

    bbtOptions->setGeometry(left, below(290), scaled(100), scaled(25));
    bbtCopie->setGeometry(scaled(114), below(290), scaled(252) + dw, scaled(25));
    bbtReset->setGeometry(scaled(372) + dw, below(290), scaled(100), scaled(25));
}

bool TfrmMain::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == pnlClient && event->type() == QEvent::Resize)
        placeControls();
    return QWidget::eventFilter(watched, event);
}

void TfrmMain::ApplyLayout()
{
    FLayoutExtended = FExtendedView;
    for (QWidget *extendedOnly : extendedOnlyControls()) {
        extendedOnly->setEnabled(FLayoutExtended);
        extendedOnly->setVisible(FLayoutExtended);
    }
    const int filterHeight = FLayoutExtended ? 100 : 140;
    setMinimumSize(scaled(320), scaled(clientHeight - filterHeight + minFilterHeight));
    placeControls();
}

void TfrmMain::FormCreate()
{
    // Each step's error ends the sequence; the window opens all the same.
    try {
        setWindowTitle(QApplication::applicationName());
        LoadConfig();
        LoadRepLists();
        FExtendedView = FConfig.ExtendedView;
        bbtResetClick();
        ApplyLayout();
    } catch (const std::exception &error) {
        platform::reportUncaughtError(error);
    } catch (...) {
        platform::reportUncaughtError(AppError(u"Unknown error"_s));
    }
}

void TfrmMain::showEvent(QShowEvent *event)
{
    if (!FShown) {
        FShown = true;
        FormShow();
    }
    QWidget::showEvent(event);
}

void TfrmMain::FormShow()
{
    SendUsagePing();
}

void TfrmMain::LoadConfig()
{
    const SettingsPaths paths = locateSettingsFolder();
    FRepConfig = paths.FRepConfig;
    FFichConfig = paths.FFichConfig;
    FConfigError = readConfigStrict(FFichConfig, FConfig);
    SaveConfig();
}

void TfrmMain::SaveConfig()
{
    // A record that start-up could not read holds the defaults, not the user's settings:
    // written, it would replace them (a protecting DontReplace=1 among them). Reported as a
    // failed write, which is what it is to the user.
    if (FConfigError != 0)
        throw InOutError(FConfigError, u"Impossible d'écrire dans "_s + FFichConfig);
    writeConfig(FConfig, FFichConfig);
}

FolderList TfrmMain::loadCheckedList(
    const FolderList &current, const QString &fileName, const QString &questionStart)
{
    const QString path = FRepConfig + fileName;
    FolderList list = current;
    if (!platform::fileExists(path)) {
        list.entries.clear();
        return list;
    }
    list = readFolderListFile(path);
    // From the last entry to the first, so that removing one leaves the rest in place.
    for (qsizetype i = list.entries.size() - 1; i >= 0; --i) {
        const QString folder = list.entries.at(i);
        if (platform::directoryExists(folder))
            continue;
        const QString question = questionStart + u" \""_s + folder
            + u"\" est introuvable.\nVoulez-vous le supprimer de la liste des répertoires ?"_s;
        if (platform::confirm(this, question))
            list.entries.removeAt(i);
    }
    return list;
}

void TfrmMain::LoadRepLists()
{
    setRepList(
        cbxRepSrc, FRepSrc, loadCheckedList(FRepSrc, u"RepSrc.txt"_s, u"Le répertoire source"_s));
    FRepSrcRead = true;
    setRepList(cbxRepDst, FRepDst,
        loadCheckedList(FRepDst, u"RepDst.txt"_s, u"Le répertoire de destination"_s));
    FRepDstRead = true;
    SaveRepLists();
}

void TfrmMain::SaveRepLists()
{
    // A list that start-up could not read is never written: its file holds the user's folders,
    // which this run has not seen. A failure of the first file leaves the second one as it was.
    if (FRepSrcRead)
        FRepSrc.encoding = writeFolderListFile(FRepConfig + u"RepSrc.txt"_s, FRepSrc);
    if (FRepDstRead)
        FRepDst.encoding = writeFolderListFile(FRepConfig + u"RepDst.txt"_s, FRepDst);
}

void TfrmMain::setRepList(QComboBox *cbx, FolderList &target, const FolderList &list)
{
    target = list;
    const QSignalBlocker blocker(cbx);
    cbx->clear();
    hintFirstFolder(cbx, list.entries.isEmpty());
    cbx->addItems(list.entries);
    cbx->setCurrentIndex(-1);
}

void TfrmMain::setRepSrc(const FolderList &list)
{
    setRepList(cbxRepSrc, FRepSrc, list);
}

void TfrmMain::setRepDst(const FolderList &list)
{
    setRepList(cbxRepDst, FRepDst, list);
}

void TfrmMain::syncPair(QComboBox *cbx, QLineEdit *edt)
{
    // Setting the text box runs the rule again from its change signal.
    const QString chosen = cbx->currentText();
    if (chosen.isEmpty())
        return;
    const QString typed = edt->text();
    if (typed.isEmpty() || !typed.contains(chosen, Qt::CaseSensitive))
        edt->setText(chosen);
}

void TfrmMain::RepChange()
{
    QString src;
    QString dst;
    QStringList problems;
    if (!FExtendedView) {
        src = cbxRepSrc->currentText();
        dst = cbxRepDst->currentText();
        problems << folderProblem(src, src, u"source"_s)
                 << folderProblem(dst, dst, u"de destination"_s);
    } else {
        syncPair(cbxRepSrc, edtRepSrc);
        syncPair(cbxRepDst, edtRepDst);
        src = edtRepSrc->text();
        dst = edtRepDst->text();
        problems << folderProblem(platform::trimText(src), src, u"source"_s)
                 << folderProblem(platform::trimText(dst), dst, u"de destination"_s);
    }
    problems.removeAll(QString());
    // The tooltip and the enabled state come from the same checks, so they always agree.
    bbtCopie->setEnabled(problems.isEmpty());
    if (problems.isEmpty())
        bbtCopie->setToolTip(platform::plainToolTip(
            u"Copier les fichiers qui répondent aux filtres\nde \"%1\"\nvers \"%2\""_s.arg(
                src, dst)));
    else
        bbtCopie->setToolTip(platform::plainToolTip(problems.join(u'\n')));
}

QStringList TfrmMain::filterLines() const
{
    return platform::linesOf(memFilter);
}

void TfrmMain::bbtCopieClick()
{
    if (FExtendedView)
        RunCopy(edtRepSrc->text(), edtRepDst->text(), filterLines(), FConfig, this);
    else
        RunCopy(cbxRepSrc->currentText(), cbxRepDst->currentText(), filterLines(), FConfig, this);
}

void TfrmMain::bbtResetClick()
{
    memFilter->clear();
    cbxRepSrc->setCurrentIndex(-1);
    edtRepSrc->clear();
    cbxRepDst->setCurrentIndex(-1);
    edtRepDst->clear();
    RepChange();
}

void TfrmMain::bbtCloseClick()
{
    close();
}

void TfrmMain::bbtSelectRepClick(QAbstractButton *sender)
{
    const int tag = sender->property("tag").toInt();
    if (tag != 1 && tag != 2)
        return;
    QComboBox *cbx = tag == 1 ? cbxRepSrc : cbxRepDst;
    QLineEdit *edt = tag == 1 ? edtRepSrc : edtRepDst;
    FolderDialog->SetDirectory(platform::trimText(cbx->currentText()));
    if (FolderDialog->Execute())
        edt->setText(FolderDialog->Directory());
    else
        edt->clear(); // the change rule then puts the selected folder back
}

void TfrmMain::bbtEditRepClick(QAbstractButton *sender)
{
    const int tag = sender->property("tag").toInt();
    bool unsaved = false;
    if (tag == 1 || tag == 2) {
        FolderList list = tag == 1 ? FRepSrc : FRepDst;
        const QString title = tag == 1 ? u"Liste ordonnée des chemins source"_s
                                       : u"Liste ordonnée des chemins de destination"_s;
        if (EditeListeRepertoires(list, title, this)) {
            if (tag == 1)
                setRepSrc(list);
            else
                setRepDst(list);
            unsaved = !(tag == 1 ? FRepSrcRead : FRepDstRead);
        }
    }
    // Written back after every use, confirmed or cancelled; the copy button follows the
    // lists whatever the save did.
    try {
        SaveRepLists();
    } catch (...) {
        RepChange();
        throw;
    }
    RepChange();
    if (unsaved) {
        const QString path = FRepConfig + (tag == 1 ? u"RepSrc.txt"_s : u"RepDst.txt"_s);
        throw AppError(
            u"La liste des répertoires n'a pas pu être lue au démarrage : le fichier \""_s + path
            + u"\" n'est pas modifié."_s);
    }
}

void TfrmMain::bbtOptionsClick()
{
    // Written back after every use, confirmed or cancelled; a changed ExtendedView takes
    // effect at the next start, so the layout is left alone.
    const bool confirmed = EditeConfig(FConfig, FFichConfig, this);
    // Settings that start-up could not read are never written over, as the folder lists:
    // a cancel has nothing to keep, a confirmed change says why it is not kept.
    if (FConfigError != 0) {
        if (confirmed)
            throw AppError(u"Les réglages n'ont pas pu être lus au démarrage : le fichier \""_s
                + FFichConfig + u"\" n'est pas modifié."_s);
        return;
    }
    SaveConfig();
}

void TfrmMain::bbtAboutClick()
{
    ShowAboutBox(this);
}
