#include "platform/gui/WholeText.h"

#include "platform/gui/Controls.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QEvent>
#include <QFontMetrics>
#include <QLineEdit>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QStyleOptionFrame>

namespace platform {

namespace {

// QLineEdit keeps this much room at either end of its text.
constexpr int lineEditMargin = 2;

int textRoom(const QLineEdit *edit)
{
    QStyleOptionFrame option;
    option.initFrom(edit);
    option.rect = edit->contentsRect();
    option.lineWidth = edit->hasFrame()
        ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit)
        : 0;
    const QRect contents = edit->style()
                               ->subElementRect(QStyle::SE_LineEditContents, &option, edit)
                               .marginsRemoved(edit->textMargins());
    return contents.width() - 2 * lineEditMargin;
}

int textRoom(const QComboBox *box)
{
    QStyleOptionComboBox option;
    option.initFrom(box);
    option.editable = box->isEditable();
    option.frame = box->hasFrame();
    option.currentText = box->currentText();
    option.currentIcon = box->itemIcon(box->currentIndex());
    option.iconSize = box->iconSize();
    option.subControls = QStyle::SC_All;
    int room = box->style()
                   ->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, box)
                   .width();
    if (!option.currentIcon.isNull())
        room -= option.iconSize.width() + 4;
    return room - 2;
}

// The width an entry of the open list has for its text.
int itemRoom(const QComboBox *box)
{
    const QAbstractItemView *view = box->view();
    // Before the list first opens its width is not settled: it opens as wide as the box.
    const int width = view->isVisible() ? view->viewport()->width() : box->width();
    const int margin = view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1;
    return width - 2 * margin - 2;
}

bool isCut(const QString &text, const QFontMetrics &metrics, int room)
{
    return !text.isEmpty() && metrics.horizontalAdvance(text) > room;
}

// A change of the room or of the text's width, or a tooltip about to show: the time to look
// again at whether the text is cut off.
bool mayChangeWhatFits(const QEvent *event)
{
    switch (event->type()) {
    case QEvent::Resize:
    case QEvent::FontChange:
    case QEvent::StyleChange:
    case QEvent::ToolTip:
        return true;
    default:
        return false;
    }
}

class LineEditTip : public QObject
{
public:
    explicit LineEditTip(QLineEdit *edit)
        : QObject(edit)
        , m_edit(edit)
    {
        edit->installEventFilter(this);
        connect(edit, &QLineEdit::textChanged, this, &LineEditTip::update);
        update();
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (mayChangeWhatFits(event))
            update();
        return QObject::eventFilter(watched, event);
    }

private:
    void update()
    {
        const QString text = m_edit->text();
        m_edit->setToolTip(
            isCut(text, m_edit->fontMetrics(), textRoom(m_edit)) ? plainToolTip(text) : QString());
    }

    QLineEdit *m_edit;
};

class ComboBoxTips : public QObject
{
public:
    explicit ComboBoxTips(QComboBox *box)
        : QObject(box)
        , m_box(box)
    {
        box->installEventFilter(this);
        box->view()->viewport()->installEventFilter(this);
        connect(box, &QComboBox::currentIndexChanged, this, &ComboBoxTips::updateBox);
        const QAbstractItemModel *model = box->model();
        const auto updateAll = [this] {
            updateBox();
            updateItems();
        };
        connect(model, &QAbstractItemModel::rowsInserted, this, updateAll);
        connect(model, &QAbstractItemModel::rowsRemoved, this, updateAll);
        connect(model, &QAbstractItemModel::modelReset, this, updateAll);
        connect(model, &QAbstractItemModel::dataChanged, this,
            [this, updateAll](const QModelIndex &, const QModelIndex &, const QList<int> &roles) {
                // Not the tooltips set here.
                if (roles.isEmpty() || roles.contains(Qt::DisplayRole))
                    updateAll();
            });
        updateAll();
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        // Also right before a tooltip shows: the selection may have changed with the box's
        // signals blocked.
        if (mayChangeWhatFits(event)) {
            if (watched == m_box)
                updateBox();
            updateItems();
        }
        return QObject::eventFilter(watched, event);
    }

private:
    void updateBox()
    {
        const QString text = m_box->currentText();
        m_box->setToolTip(
            isCut(text, m_box->fontMetrics(), textRoom(m_box)) ? plainToolTip(text) : QString());
    }

    void updateItems()
    {
        const int room = itemRoom(m_box);
        const QFontMetrics metrics = m_box->view()->fontMetrics();
        for (int i = 0; i < m_box->count(); ++i) {
            const QString text = m_box->itemText(i);
            const QVariant tip
                = isCut(text, metrics, room) ? QVariant(plainToolTip(text)) : QVariant();
            if (m_box->itemData(i, Qt::ToolTipRole) != tip)
                m_box->setItemData(i, tip, Qt::ToolTipRole);
        }
    }

    QComboBox *m_box;
};

} // namespace

void showWholeTextWhenCut(QLineEdit *edit)
{
    new LineEditTip(edit);
}

void showWholeTextWhenCut(QComboBox *box)
{
    new ComboBoxTips(box);
}

} // namespace platform
