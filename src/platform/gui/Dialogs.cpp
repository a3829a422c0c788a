#include "platform/gui/Dialogs.h"

#include "platform/Paths.h"
#include "platform/gui/WindowKeys.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFontMetricsF>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QTextLayout>

#include <cmath>

namespace platform {

namespace {

bool isSpacedMark(QChar c)
{
    return c == u'?' || c == u'!' || c == u':' || c == u';';
}

// The width the label needs so that no line of its text starts with a spaced mark, laid out
// as QLabel draws word-wrapped plain text; `width` when it already has it.
int widthKeepingMarks(const QString &text, const QFont &font, int width)
{
    QString shown = text;
    shown.replace(u'\n', QChar::LineSeparator);
    QTextLayout layout(shown, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WordWrap);
    layout.setTextOption(option);
    const QFontMetricsF metrics(font);
    qreal needed = width;
    layout.beginLayout();
    int previousStart = -1;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        const int start = line.textStart();
        if (previousStart >= 0 && isSpacedMark(shown.at(start)) && shown.at(start - 1) == u' ') {
            // The line before, with the mark and what sticks to it brought up.
            int end = start;
            while (end < shown.size() && !shown.at(end).isSpace())
                ++end;
            needed = std::max(
                needed, metrics.horizontalAdvance(shown.mid(previousStart, end - previousStart)));
        }
        previousStart = start;
    }
    layout.endLayout();
    return int(std::ceil(needed));
}

} // namespace

MessageBox::MessageBox(
    Icon icon, const QString &title, const QString &text, StandardButtons buttons, QWidget *parent)
    : QMessageBox(icon, title, QString(), buttons, parent)
{
    setTextFormat(Qt::PlainText);
    setText(text);
}

void MessageBox::showEvent(QShowEvent *event)
{
    // Qt sizes the box and wraps its text here, before the window is mapped.
    QMessageBox::showEvent(event);
    keepMarksWithTheirWords();
}

void MessageBox::keepMarksWithTheirWords()
{
    auto *label = findChild<QLabel *>(QStringLiteral("qt_msgbox_label"));
    if (!label || !label->wordWrap() || !layout())
        return;
    // A wider label can wrap elsewhere: checked again, a few times at most.
    for (int attempt = 0; attempt < 4; ++attempt) {
        layout()->activate();
        const int width = label->contentsRect().width();
        const int needed = widthKeepingMarks(label->text(), label->font(), width);
        if (needed <= width)
            return;
        // QMessageBox keeps its label at least this wide whenever it sizes itself again.
        label->setMinimumWidth(needed + 1);
        QEvent request(QEvent::LayoutRequest);
        QCoreApplication::sendEvent(this, &request);
    }
}

bool confirm(QWidget *parent, const QString &text)
{
    // A folder named in the text shows an undecodable byte as U+FFFD.
    MessageBox box(QMessageBox::Question, QStringLiteral("Confirmer"), displayText(text),
        QMessageBox::NoButton, parent);
    box.setObjectName(QStringLiteral("dlgConfirm"));
    QPushButton *yes = box.addButton(QStringLiteral("&Oui"), QMessageBox::YesRole);
    QPushButton *no = box.addButton(QStringLiteral("&Non"), QMessageBox::NoRole);
    box.setDefaultButton(yes);
    box.setEscapeButton(no);
    installWindowKeys(&box, yes, no);
    box.exec();
    return box.clickedButton() == yes;
}

void inform(QWidget *parent, const QString &text)
{
    MessageBox box(QMessageBox::Information, QStringLiteral("Informations"), displayText(text),
        QMessageBox::NoButton, parent);
    box.setObjectName(QStringLiteral("dlgInformations"));
    QPushButton *ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    installWindowKeys(&box, ok, ok);
    box.exec();
}

} // namespace platform
