// Every window, opened the way the program opens it, checked for what a keyboard or screen-reader
// user needs: each button that shows only a picture says what it does (tooltip and accessible
// name), Tab from the first control reaches every control that takes the focus, no two
// accelerators of a window share a letter, and the window shows the program's own icon.
#include "EveryWindow.h"

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QGroupBox>
#include <QLabel>
#include <QMap>
#include <QRadioButton>
#include <QSet>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace {

QString nameOf(const QWidget *widget)
{
    const QString name = widget->objectName();
    return name.isEmpty() ? QString::fromLatin1(widget->metaObject()->className()) : name;
}

// The controls of this window itself, not of the windows it owns.
template<typename T> QList<T *> controlsOf(QWidget *window)
{
    QList<T *> controls;
    for (T *control : window->findChildren<T *>()) {
        if (control->window() == window)
            controls.append(control);
    }
    return controls;
}

QStringList unnamedImageButtons(QWidget *window)
{
    // Hidden buttons too: bbtRepConfig and the extended layout's buttons show up later.
    QStringList problems;
    for (const QAbstractButton *button : controlsOf<QAbstractButton>(window)) {
        if (!button->text().isEmpty())
            continue;
        if (button->toolTip().isEmpty())
            problems.append(nameOf(button) + u": no tooltip"_s);
        if (button->accessibleName().isEmpty())
            problems.append(nameOf(button) + u": no accessible name"_s);
    }
    return problems;
}

bool takesTabFocus(const QWidget *widget)
{
    return widget->isVisible() && widget->isEnabled()
        && (widget->focusPolicy() & Qt::TabFocus) == Qt::TabFocus && !widget->focusProxy();
}

// Tab stops once in a group of exclusive choices, at its chosen one, and the arrow keys move
// between the choices: a choice counts as reached when Down, pressed from the member of its
// group that Tab reached, comes to it.
bool reachedWithinItsGroup(QWidget *control, const QSet<QWidget *> &reached)
{
    auto *choice = qobject_cast<QRadioButton *>(control);
    QButtonGroup *group = choice ? choice->group() : nullptr;
    if (!group || !group->exclusive())
        return false;
    const QList<QAbstractButton *> members = group->buttons();
    const auto entry = std::find_if(members.cbegin(), members.cend(),
        [&reached](QAbstractButton *member) { return reached.contains(member); });
    if (entry == members.cend())
        return false;
    (*entry)->setFocus(Qt::TabFocusReason);
    for (qsizetype press = 0; press < members.size(); ++press) {
        if (QApplication::focusWidget() == control)
            return true;
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    }
    return QApplication::focusWidget() == control;
}

// Presses Tab from the control that has the focus when the window opens (the first one of the
// tab chain when none has it) and names every control that Tab never reaches.
QStringList unreachedByTab(QWidget *window)
{
    QList<QWidget *> expected;
    for (QWidget *control : controlsOf<QWidget>(window)) {
        if (takesTabFocus(control))
            expected.append(control);
    }
    if (expected.isEmpty())
        return {};
    QWidget *start = QApplication::focusWidget();
    if (!start || start->window() != window) {
        start = window->nextInFocusChain();
        while (!expected.contains(start) && start != window)
            start = start->nextInFocusChain();
        start->setFocus(Qt::TabFocusReason);
    }

    QSet<QWidget *> reached;
    for (qsizetype press = 0; press <= expected.size(); ++press) {
        QWidget *focus = QApplication::focusWidget();
        if (!focus)
            return { u"no control has the focus after %1 presses of Tab"_s.arg(press) };
        reached.insert(focus);
        QTest::keyClick(focus, Qt::Key_Tab);
    }
    QStringList problems;
    for (QWidget *control : expected) {
        if (!reached.contains(control) && !reachedWithinItsGroup(control, reached))
            problems.append(nameOf(control) + u": never reached with Tab"_s);
    }
    return problems;
}

// The letter after a single '&', as Qt underlines it; none for "&&" alone.
QChar acceleratorOf(const QString &caption)
{
    for (qsizetype i = 0; i + 1 < caption.size(); ++i) {
        if (caption.at(i) != u'&')
            continue;
        if (caption.at(i + 1) != u'&')
            return caption.at(i + 1).toUpper();
        ++i;
    }
    return {};
}

QStringList acceleratorProblems(QWidget *window)
{
    QMap<QChar, QStringList> owners;
    QStringList problems;
    for (const QAbstractButton *button : controlsOf<QAbstractButton>(window)) {
        if (const QChar key = acceleratorOf(button->text()); !key.isNull() && button->isVisible())
            owners[key].append(nameOf(button));
    }
    for (const QGroupBox *group : controlsOf<QGroupBox>(window)) {
        if (const QChar key = acceleratorOf(group->title()); !key.isNull() && group->isVisible())
            owners[key].append(nameOf(group));
    }
    for (const QLabel *label : controlsOf<QLabel>(window)) {
        const QChar key = acceleratorOf(label->text());
        if (key.isNull() || !label->isVisible() || label->textFormat() == Qt::PlainText)
            continue;
        if (!label->buddy())
            problems.append(nameOf(label) + u": an accelerator without a control to focus"_s);
        owners[key].append(nameOf(label));
    }
    for (auto it = owners.cbegin(); it != owners.cend(); ++it) {
        if (it->size() > 1)
            problems.append(u"Alt+%1 is shared by %2"_s.arg(it.key(), it->join(u", "_s)));
    }
    return problems;
}

// Everything this test holds against one open window.
QStringList auditWindow(QWidget *window)
{
    QStringList problems;
    if (window->windowIcon().isNull())
        problems.append(u"no window icon"_s);
    problems += unnamedImageButtons(window);
    problems += acceleratorProblems(window);
    // The offscreen platform does not hand the activation back to a window whose message box
    // has closed, as a window manager does.
    window->activateWindow();
    if (!QTest::qWaitFor([window] { return QApplication::activeWindow() == window; }))
        problems.append(u"the window never became active"_s);
    else
        problems += unreachedByTab(window);
    return problems;
}

using uitest::WindowCase;

class AccessibilityTest : public uitest::EveryWindowTest
{
};

TEST_P(AccessibilityTest, window_namesItsImageButtons_tabReachesEveryControl_acceleratorsUnique)
{
    const WindowCase &window = GetParam();
    QStringList problems;
    QString seen;
    bool audited = false;
    window.open(path(), [&](QWidget *opened) {
        audited = true;
        seen = opened->objectName();
        problems = auditWindow(opened);
    });
    ASSERT_TRUE(audited) << "the window never opened";
    if (!window.objectName.isEmpty()) {
        EXPECT_EQ(seen, window.objectName);
    }
    EXPECT_TRUE(problems.isEmpty()) << problems.join(u'\n').toStdString();
}

INSTANTIATE_TEST_SUITE_P(EveryWindow, AccessibilityTest, ::testing::ValuesIn(uitest::windowCases),
    uitest::windowCaseName);

} // namespace
