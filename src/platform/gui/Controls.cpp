#include "platform/gui/Controls.h"

#include "platform/Paths.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QTextDocument>
#include <QValidator>

#include <algorithm>

namespace platform {

namespace {

// The box never holds a line break, so one in the new text came with the text just put in,
// which ends at the cursor: that text is cut at its first break.
class OneLineValidator : public QValidator
{
public:
    using QValidator::QValidator;

    State validate(QString &input, int &pos) const override
    {
        const auto isBreak = [](QChar c) { return c == u'\n' || c == u'\r'; };
        const auto found = std::find_if(input.cbegin(), input.cend(), isBreak);
        if (found == input.cend())
            return Acceptable;
        const int first = int(found - input.cbegin());
        const int end = std::max(pos, first);
        input.remove(first, end - first);
        // A text set by the program may hold more breaks after the cursor.
        input.truncate(int(std::find_if(input.cbegin(), input.cend(), isBreak) - input.cbegin()));
        pos = std::min(first, int(input.size()));
        return Acceptable;
    }
};

class PlainLineBreaks : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto *key = static_cast<QKeyEvent *>(event);
        if ((key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter)
            || (key->modifiers() & ~Qt::KeypadModifier) != Qt::ShiftModifier)
            return false;
        auto *edit = static_cast<QPlainTextEdit *>(watched);
        if (edit->isReadOnly())
            return false;
        edit->textCursor().insertBlock();
        edit->ensureCursorVisible();
        return true;
    }
};

} // namespace

void keepOneLine(QLineEdit *edit)
{
    edit->setValidator(new OneLineValidator(edit));
}

void plainLineBreaks(QPlainTextEdit *edit)
{
    edit->installEventFilter(new PlainLineBreaks(edit));
}

QStringList linesOf(const QPlainTextEdit *edit)
{
    const QTextDocument *document = edit->document();
    QStringList lines;
    if (document->isEmpty())
        return lines;
    lines.reserve(document->blockCount());
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next())
        lines.append(block.text());
    return lines;
}

void oneTabStop(QButtonGroup *group)
{
    const auto followChoice = [group] {
        const QList<QAbstractButton *> entries = group->buttons();
        QAbstractButton *stop = group->checkedButton();
        if (!stop && !entries.isEmpty())
            stop = entries.first();
        // Still reached by a click and by the arrow keys, just not by Tab.
        for (QAbstractButton *entry : entries)
            entry->setFocusPolicy(entry == stop ? Qt::StrongFocus : Qt::ClickFocus);
    };
    followChoice();
    QObject::connect(group, &QButtonGroup::buttonToggled, group, followChoice);
}

QItemSelectionModel::SelectionFlags ListBox::selectionCommand(
    const QModelIndex &index, const QEvent *event) const
{
    const QItemSelectionModel::SelectionFlags command = QListWidget::selectionCommand(index, event);
    if (count() == 0 || !selectionModel()->hasSelection())
        return command;
    if (!index.isValid())
        return QItemSelectionModel::NoUpdate;
    const bool dropsIt = command.testAnyFlags(
        QItemSelectionModel::Deselect | QItemSelectionModel::Toggle | QItemSelectionModel::Clear);
    if (dropsIt && selectionModel()->isSelected(index)
        && !command.testFlag(QItemSelectionModel::Select))
        return QItemSelectionModel::NoUpdate;
    return command;
}

QString plainToolTip(const QString &text)
{
    const QString shown = displayText(text);
    if (!Qt::mightBeRichText(shown))
        return shown;
    return u"<p style='white-space:pre'>" + shown.toHtmlEscaped() + u"</p>";
}

} // namespace platform
