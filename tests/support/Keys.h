#pragma once

#include <QGuiApplication>
#include <QTest>
#include <QWidget>
#include <QWindow>

namespace testsupport {

// A key pressed and released as the keyboard does it: through the window system to whichever
// control of the window has the focus, not sent to a chosen widget.
inline void pressKey(QWidget *window, Qt::Key key, Qt::KeyboardModifiers modifiers = {})
{
    QWindow *handle = window->window()->windowHandle();
    QTest::keyClick(handle, key, modifiers);
}

// Text typed on the keyboard into the control that has the focus.
inline void typeText(QWidget *window, const QString &text)
{
    QWindow *handle = window->window()->windowHandle();
    for (const QChar c : text)
        QTest::sendKeyEvent(QTest::Click, handle, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

} // namespace testsupport
