#include "platform/gui/WindowKeys.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTextEdit>

namespace platform {

namespace {

// Watches the events of the whole application, since key presses go to whichever control of
// the window has the focus, before the window itself sees them.
class WindowKeys : public QObject
{
public:
    WindowKeys(QWidget *window, QPushButton *defaultButton, QPushButton *cancelButton)
        : QObject(window)
        , m_window(window)
        , m_default(defaultButton)
        , m_cancel(cancelButton)
    {
        if (m_default)
            m_default->setDefault(true);
        qApp->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::FocusIn:
        case QEvent::FocusOut:
        case QEvent::MouseButtonPress:
            break;
        default:
            return false;
        }
        if (!watched->isWidgetType())
            return false;
        auto *widget = static_cast<QWidget *>(watched);
        if (widget->window() != m_window)
            return false;
        switch (event->type()) {
        case QEvent::KeyPress:
            return keyPress(widget, static_cast<QKeyEvent *>(event));
        case QEvent::FocusIn:
            focusIn(widget, static_cast<QFocusEvent *>(event));
            return false;
        case QEvent::FocusOut:
            // Qt moves the focus on from a control that is disabled while it has it.
            if (qobject_cast<QAbstractButton *>(widget) && !widget->isEnabled())
                m_handingOn = true;
            return false;
        default: // a click on the button puts the focus there by the user's choice
            m_handingOn = false;
            if (widget == m_handedOn)
                m_handedOn = nullptr;
            return false;
        }
    }

private:
    void focusIn(QWidget *widget, const QFocusEvent *event)
    {
        // Coming back to the window (after a dialog or a popup) changes nothing.
        if (event->reason() == Qt::ActiveWindowFocusReason
            || event->reason() == Qt::PopupFocusReason)
            return;
        m_handedOn = m_handingOn ? widget : nullptr;
        m_handingOn = false;
        // Qt then draws the button the focus fell on as the default one; the frame goes back
        // to the button that Enter presses, once the button has taken the focus.
        if (m_handedOn && m_default)
            QMetaObject::invokeMethod(
                m_default,
                [button = m_default] {
                    if (button)
                        button->setDefault(true);
                },
                Qt::QueuedConnection);
    }

    static bool takesEnter(const QWidget *widget)
    {
        if (const auto *plain = qobject_cast<const QPlainTextEdit *>(widget))
            return !plain->isReadOnly();
        if (const auto *rich = qobject_cast<const QTextEdit *>(widget))
            return !rich->isReadOnly();
        return false;
    }

    static bool press(QPushButton *button)
    {
        if (button && button->isVisible() && button->isEnabled())
            button->click();
        return true;
    }

    bool keyPress(QWidget *widget, const QKeyEvent *event)
    {
        // A focus change that follows a key is the user's own.
        m_handingOn = false;
        const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
        if (modifiers != Qt::NoModifier)
            return false;
        if (event->key() == Qt::Key_Escape)
            return press(m_cancel);
        if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter)
            return false;
        // Text boxes of several lines take Enter for a line break.
        if (takesEnter(widget->focusProxy() ? widget->focusProxy() : widget))
            return false;
        auto *focused = qobject_cast<QPushButton *>(widget);
        if (focused && focused->isEnabled() && focused != m_handedOn)
            return press(focused);
        if (m_default)
            return press(m_default);
        // Without a default button, Enter goes to the focused control, but never to a
        // button the focus fell on by itself.
        return focused != nullptr;
    }

    QWidget *m_window;
    QPointer<QPushButton> m_default;
    QPointer<QPushButton> m_cancel;
    QPointer<QWidget> m_handedOn; // where the focus fell when a button disabled itself
    bool m_handingOn = false;
};

} // namespace

void installWindowKeys(QWidget *window, QPushButton *defaultButton, QPushButton *cancelButton)
{
    new WindowKeys(window, defaultButton, cancelButton);
}

} // namespace platform
