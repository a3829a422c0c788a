#include "folders/FolderDialog.h"

#include "platform/Paths.h"
#include "platform/gui/Placement.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QBoxLayout>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QGridLayout>
#include <QItemSelectionModel>
#include <QLabel>
#include <QList>
#include <QScreen>
#include <QToolButton>

#include <algorithm>
#include <array>
#include <exception>
#include <limits>

namespace {

constexpr quint32 BIF_RETURNONLYFSDIRS = 0x0001;
constexpr quint32 BIF_DONTGOBELOWDOMAIN = 0x0002;
constexpr quint32 BIF_STATUSTEXT = 0x0004;
constexpr quint32 BIF_RETURNFSANCESTORS = 0x0008;
constexpr quint32 BIF_EDITBOX = 0x0010;
constexpr quint32 BIF_NEWDIALOGSTYLE = 0x0040;
constexpr quint32 BIF_NONEWFOLDERBUTTON = 0x0200;
constexpr quint32 BIF_BROWSEFORCOMPUTER = 0x1000;
constexpr quint32 BIF_BROWSEFORPRINTER = 0x2000;
constexpr quint32 BIF_SHAREABLE = 0x8000;

// The flag of each option up to fdoEditBox, by ordinal; fdoShareable has its own rule.
constexpr std::array<quint32, fdoShareable> optionFlags {
    BIF_BROWSEFORCOMPUTER,
    BIF_BROWSEFORPRINTER,
    BIF_DONTGOBELOWDOMAIN,
    BIF_RETURNFSANCESTORS,
    BIF_RETURNONLYFSDIRS,
    BIF_STATUSTEXT,
    BIF_NEWDIALOGSTYLE,
    BIF_NONEWFOLDERBUTTON,
    BIF_EDITBOX,
};

// The component's version, one byte per part, most significant first.
constexpr quint32 packedVersion = 0x01010400;

// Signed halving rounded toward zero, as C++ integer division does.
constexpr int half(int value)
{
    return value / 2;
}

// The gap between two rectangles (0 when they touch or overlap).
qint64 distanceBetween(const QRect &a, const QRect &b)
{
    const qint64 dx
        = std::max<qint64>({ 0, qint64(a.left()) - b.right(), qint64(b.left()) - a.right() });
    const qint64 dy
        = std::max<qint64>({ 0, qint64(a.top()) - b.bottom(), qint64(b.top()) - a.bottom() });
    return dx * dx + dy * dy;
}

// The work area of the screen nearest to a window: the one it overlaps most, else the
// closest; the primary screen's when nothing is known.
QRect nearestWorkArea(const QRect &window)
{
    QScreen *best = nullptr;
    qint64 bestDistance = std::numeric_limits<qint64>::max();
    qint64 bestOverlap = -1;
    const QList<QScreen *> screens = QGuiApplication::screens();
    for (QScreen *screen : screens) {
        const QRect area = screen->geometry();
        const QRect overlap = area.intersected(window);
        const qint64 overlapSize
            = overlap.isEmpty() ? 0 : qint64(overlap.width()) * overlap.height();
        const qint64 distance = distanceBetween(area, window);
        if (distance < bestDistance || (distance == bestDistance && overlapSize > bestOverlap)) {
            best = screen;
            bestDistance = distance;
            bestOverlap = overlapSize;
        }
    }
    if (!best)
        best = QGuiApplication::primaryScreen();
    return best ? best->availableGeometry() : QRect();
}

// Puts the title as a line of text above everything else of the dialog.
void addTitleLine(QFileDialog &dialog, const QString &title)
{
    auto *label = new QLabel(title, &dialog);
    label->setObjectName(QStringLiteral("lblTitle"));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    if (auto *grid = qobject_cast<QGridLayout *>(dialog.layout())) {
        // A grid cannot insert a row: move every cell one row down.
        struct Cell
        {
            QLayoutItem *item;
            int row, column, rowSpan, columnSpan;
        };
        QList<Cell> cells;
        while (grid->count() > 0) {
            Cell cell {};
            grid->getItemPosition(0, &cell.row, &cell.column, &cell.rowSpan, &cell.columnSpan);
            cell.item = grid->takeAt(0);
            cells.append(cell);
        }
        const int columns = std::max(1, grid->columnCount());
        grid->addWidget(label, 0, 0, 1, columns);
        for (const Cell &cell : cells)
            grid->addItem(cell.item, cell.row + 1, cell.column, cell.rowSpan, cell.columnSpan);
    } else if (auto *box = qobject_cast<QBoxLayout *>(dialog.layout())) {
        box->insertWidget(0, label);
    }
}

// Scrolls both views of the dialog to the selected entry. Called from the event loop, once
// the dialog has finished its own update, so that the entry's final place is known.
void ensureSelectionVisible(QFileDialog *dialog)
{
    for (const char *name : { "listView", "treeView" }) {
        auto *view = dialog->findChild<QAbstractItemView *>(QString::fromLatin1(name));
        if (!view || !view->selectionModel())
            continue;
        const QModelIndexList rows = view->selectionModel()->selectedRows();
        if (!rows.isEmpty())
            view->scrollTo(rows.first());
    }
}

void keepSelectionInView(QFileDialog &dialog)
{
    QFileDialog *target = &dialog;
    const auto post = [target] {
        QMetaObject::invokeMethod(
            target, [target] { ensureSelectionVisible(target); }, Qt::QueuedConnection);
    };
    if (auto *view = dialog.findChild<QAbstractItemView *>(QStringLiteral("listView"))) {
        if (QItemSelectionModel *selection = view->selectionModel())
            QObject::connect(selection, &QItemSelectionModel::selectionChanged, target, post);
    }
    // Entries arrive and get sorted after the selection was made: scroll again then.
    if (auto *model = dialog.findChild<QFileSystemModel *>()) {
        QObject::connect(model, &QFileSystemModel::directoryLoaded, target, post);
        QObject::connect(model, &QAbstractItemModel::layoutChanged, target, post);
    }
}

// Places the dialog by its rule when it is shown, measured against its final size.
class PlacementOnShow : public QObject
{
public:
    PlacementOnShow(QFileDialog *dialog, const TFolderDialog &picker, bool resizable)
        : QObject(dialog)
        , m_dialog(dialog)
        , m_position(picker.DialogPosition())
        , m_owner(picker.Parent())
        , m_dialogX(picker.DialogX())
        , m_dialogY(picker.DialogY())
        , m_resizable(resizable)
    {
        dialog->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_dialog && event->type() == QEvent::Show) {
            m_dialog->removeEventFilter(this);
            const QRect dialogRect = m_dialog->frameGeometry();
            const QRect workArea = nearestWorkArea(dialogRect);
            const QRect ownerRect = m_owner ? m_owner->frameGeometry() : workArea;
            m_dialog->move(
                dialogPlacement(m_position, ownerRect, dialogRect, workArea, m_dialogX, m_dialogY));
            // The rule's place, as long as the whole dialog stays in reach there.
            platform::keepOnScreen(m_dialog);
            if (!m_resizable)
                m_dialog->setFixedSize(m_dialog->size());
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QFileDialog *m_dialog;
    TDialogPosition m_position;
    QPointer<QWidget> m_owner;
    int m_dialogX;
    int m_dialogY;
    bool m_resizable;
};

void setChildVisible(QWidget &dialog, const char *objectName, bool visible)
{
    if (auto *child = dialog.findChild<QWidget *>(QString::fromLatin1(objectName)))
        child->setVisible(visible);
}

// Opens the dialog on the folder's parent with the folder itself selected, so that
// confirming at once returns it.
void startOn(QFileDialog &dialog, const QString &directory)
{
    const QString absolute = QDir::cleanPath(QDir::current().absoluteFilePath(directory));
    const QFileInfo info(absolute);
    if (info.fileName().isEmpty()) {
        dialog.setDirectory(absolute);
        return;
    }
    if (info.fileName().startsWith(QLatin1Char('.')))
        dialog.setFilter(dialog.filter() | QDir::Hidden);
    dialog.selectFile(absolute);
}

} // namespace

quint32 browseFlags(TFolderOptions options)
{
    quint32 flags = 0;
    for (int ordinal = 0; ordinal < fdoShareable; ++ordinal) {
        if (options.contains(static_cast<TOptions>(ordinal)))
            flags |= optionFlags[ordinal];
    }
    if (options.contains(fdoShareable) && (flags & BIF_NEWDIALOGSTYLE) != 0)
        flags |= BIF_SHAREABLE;
    return flags;
}

QPoint dialogPlacement(TDialogPosition position, const QRect &owner, const QRect &dialog,
    const QRect &workArea, int dialogX, int dialogY)
{
    switch (position) {
    case fdpScreenCenter:
        return { workArea.left() + half(workArea.width()) - half(dialog.width()),
            workArea.top() + half(workArea.height()) - half(dialog.height()) };
    case fdpXY:
        return { std::max(0, dialogX), std::max(0, dialogY) };
    case fdpParentFormCenter:
        return { owner.left() + half(owner.width()) - half(dialog.width()),
            owner.top() + half(owner.height()) - half(dialog.height()) };
    case fdpDefault:
        break;
    }
    return { owner.left() + 20, owner.top() + 20 };
}

TFolderDialog::TFolderDialog(QObject *owner)
    : QObject(owner)
    , FDirectory(QDir::currentPath())
    , FOptions { fdoNewDialogStyle, fdoShareable }
{
    setObjectName(QStringLiteral("FolderDialog"));
}

QString TFolderDialog::Version() const
{
    return QStringLiteral("%1.%2.%3.%4")
        .arg(packedVersion >> 24)
        .arg((packedVersion >> 16) & 0xFF)
        .arg((packedVersion >> 8) & 0xFF)
        .arg(packedVersion & 0xFF);
}

bool TFolderDialog::Execute()
{
    auto *ownerWidget = qobject_cast<QWidget *>(parent());
    FParent = ownerWidget ? ownerWidget->window() : QApplication::activeWindow();

    if (!platform::directoryExists(FDirectory))
        FDirectory = QDir::currentPath();

    const quint32 flags = browseFlags(FOptions);
    const bool newStyle = (flags & BIF_NEWDIALOGSTYLE) != 0;
    try {
        QFileDialog dialog(FParent);
        dialog.setObjectName(QStringLiteral("FolderDialog"));
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly, (flags & BIF_RETURNONLYFSDIRS) != 0);
        if (!FCaption.isEmpty())
            dialog.setWindowTitle(FCaption);
        if (!FTitle.isEmpty())
            addTitleLine(dialog, FTitle);
        // The old style offers no new-folder button at all.
        setChildVisible(
            dialog, "newFolderButton", newStyle && (flags & BIF_NONEWFOLDERBUTTON) == 0);
        const bool editBox = (flags & BIF_EDITBOX) != 0;
        setChildVisible(dialog, "fileNameEdit", editBox);
        setChildVisible(dialog, "fileNameLabel", editBox);
        dialog.setSizeGripEnabled(newStyle);

        keepSelectionInView(dialog);
        startOn(dialog, FDirectory);
        new PlacementOnShow(&dialog, *this, newStyle);

        if (dialog.exec() != QDialog::Accepted)
            return false;
        const QStringList chosen = dialog.selectedFiles();
        if (chosen.isEmpty() || chosen.first().isEmpty() || !QDir::isAbsolutePath(chosen.first()))
            return false;
        FDirectory = chosen.first();
        FImageIndex = 0;
        return true;
    } catch (const std::exception &) {
        // A failing dialog is reported as "nothing chosen".
        return false;
    }
}
