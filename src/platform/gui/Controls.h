#pragma once

#include <QListWidget>
#include <QStringList>

class QButtonGroup;
class QLineEdit;
class QPlainTextEdit;

namespace platform {

// A one-line text box keeps one line: text pasted or dropped into it is cut at its first
// line break, as the edit control of the desktop the program was designed for does.
void keepOneLine(QLineEdit *edit);

// A multi-line text box whose lines are exactly what was typed: Shift+Enter breaks the line
// as Enter does, instead of putting a line separator inside it.
void plainLineBreaks(QPlainTextEdit *edit);

// The box's lines as typed, split at line breaks only (toPlainText() would turn a no-break
// space into a space and a line separator into a line break). None for an empty box.
QStringList linesOf(const QPlainTextEdit *edit);

// A tooltip that shows text as it is: a folder named like a tag ("<b>") would otherwise be
// read as markup and shown changed. Text that cannot be taken for markup stays as it is.
QString plainToolTip(const QString &text);

// A group of exclusive choices is a single tab stop, as on the desktop the program was
// designed for: Tab lands on the chosen entry (the first one while none is chosen), so that
// Space there never changes the choice by accident; the arrow keys move within the group.
void oneTabStop(QButtonGroup *group);

// A list box of single selection: while it holds entries, exactly one stays selected once
// one is. A click on the blank area under the entries or Ctrl+click on the selected entry
// leaves the selection alone.
class ListBox : public QListWidget
{
public:
    using QListWidget::QListWidget;

protected:
    QItemSelectionModel::SelectionFlags selectionCommand(
        const QModelIndex &index, const QEvent *event = nullptr) const override;
};

} // namespace platform
