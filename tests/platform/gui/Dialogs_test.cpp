#include "platform/gui/Dialogs.h"

#include "platform/Error.h"
#include "platform/gui/Application.h"
#include "support/Modal.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFontMetricsF>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>
#include <QTextLayout>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString kQuestionEnd = u"Voulez-vous le supprimer de la liste des répertoires ?"_s;

QString missingFolderQuestion(const QString &folder)
{
    return u"Le répertoire source \""_s + folder + u"\" est introuvable.\n"_s + kQuestionEnd;
}

// The lines of a word-wrapped plain-text label as QLabel draws them.
QStringList shownLines(const QLabel *label)
{
    QString text = label->text();
    text.replace(u'\n', QChar::LineSeparator);
    QTextLayout layout(text, label->font());
    QTextOption option;
    option.setWrapMode(label->wordWrap() ? QTextOption::WordWrap : QTextOption::NoWrap);
    layout.setTextOption(option);
    QStringList lines;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(label->contentsRect().width());
        lines << text.mid(line.textStart(), line.textLength());
    }
    layout.endLayout();
    return lines;
}

const QLabel *textLabel(const QWidget *box)
{
    return box->findChild<QLabel *>(u"qt_msgbox_label"_s);
}

void pressFirstButton(QWidget *modal)
{
    if (auto *box = qobject_cast<QMessageBox *>(modal); box && !box->buttons().isEmpty())
        box->buttons().constLast()->click();
    else
        modal->close();
}

// Every message box of the program shows its text as it is: a folder name or a message from
// outside that looks like markup is not taken for it.
TEST(MessageBoxes, showTheirTextAsPlainText)
{
    const QString text = missingFolderQuestion(u"/nope/<b>gras</b> &lt; <br>x"_s);
    const struct
    {
        const char *name;
        std::function<void()> show;
    } cases[] = {
        { "confirmation", [&] { platform::confirm(nullptr, text); } },
        { "information", [&] { platform::inform(nullptr, text); } },
        { "error report",
            [&] {
                const auto previous = platform::setUncaughtErrorHandler({});
                platform::reportUncaughtError(AppError(text));
                platform::setUncaughtErrorHandler(previous);
            } },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        bool seen = false;
        testsupport::onNextModal([&](QWidget *modal) {
            seen = true;
            auto *box = qobject_cast<QMessageBox *>(modal);
            EXPECT_NE(box, nullptr);
            if (box) {
                EXPECT_EQ(box->textFormat(), Qt::PlainText);
                EXPECT_EQ(box->text(), text);
                const QLabel *label = textLabel(box);
                EXPECT_NE(label, nullptr);
                if (label) {
                    EXPECT_EQ(label->textFormat(), Qt::PlainText);
                }
            }
            pressFirstButton(modal);
        });
        c.show();
        EXPECT_TRUE(seen);
    }
}

// The missing-folder question, wrapped at every width around that of its last line (set by
// the length of the folder name, which cannot be broken): its " ?" always stays with
// "répertoires", and its text stays exactly the question.
TEST(MessageBoxes, questionMarkStaysWithItsLastWord)
{
    // A font large enough for the last line to be wrapped inside the box's usual width.
    const QFont before = QApplication::font();
    const QScreen *screen = QGuiApplication::primaryScreen();
    ASSERT_NE(screen, nullptr);
    const qreal usualWidth = std::min(screen->availableGeometry().width() / 2, 500);
    QFont large = before;
    for (int pixels = 10; pixels < 80; ++pixels) {
        large.setPixelSize(pixels);
        if (QFontMetricsF(large).horizontalAdvance(kQuestionEnd) > usualWidth * 1.2)
            break;
    }
    QApplication::setFont(large);
    const QFontMetricsF metrics(large);
    const qreal lastLine = metrics.horizontalAdvance(kQuestionEnd);
    const qreal step = metrics.horizontalAdvance(u"l"_s);
    const qreal bare = metrics.horizontalAdvance(u"\"/nope\""_s);
    const int around = int((lastLine - bare) / step);

    for (int n = around - 12; n <= around + 6; ++n) {
        const QString folder = u"/nope"_s + QString(n, u'l');
        const QString question = missingFolderQuestion(folder);
        SCOPED_TRACE(n);
        QStringList lines;
        QString shownText;
        testsupport::onNextModal([&](QWidget *modal) {
            if (const QLabel *label = textLabel(modal)) {
                lines = shownLines(label);
                shownText = label->text();
            }
            pressFirstButton(modal);
        });
        platform::confirm(nullptr, question);
        EXPECT_EQ(shownText, question);
        ASSERT_FALSE(lines.isEmpty());
        for (const QString &line : lines)
            EXPECT_FALSE(line.trimmed().startsWith(u'?')) << lines.join(u'|').toStdString();
    }
    QApplication::setFont(before);
}

} // namespace
