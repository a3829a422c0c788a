#include "platform/gui/Placement.h"

#include <QApplication>
#include <QBasicTimer>
#include <QEvent>
#include <QGuiApplication>
#include <QLayout>
#include <QMargins>
#include <QPointer>
#include <QRect>
#include <QScreen>
#include <QShowEvent>
#include <QTimerEvent>
#include <QVariant>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace platform {

namespace {

// Set on a window between its showing and the moment the window manager has framed it.
const char *const kFramePending = "qs_framePending";

// Asked of the window system each time: QWidget::frameGeometry() keeps a frame it computed
// while the window manager was still reparenting the window, which can be any size.
QMargins frameOf(const QWidget *window)
{
    const QWindow *handle = window->windowHandle();
    if (!handle || !handle->handle())
        return {};
    const QMargins frame = handle->frameMargins();
    if (frame.left() < 0 || frame.top() < 0 || frame.right() < 0 || frame.bottom() < 0)
        return {};
    return frame;
}

// The windows a user moves around: not menus, drop-down lists, tooltips or splash screens,
// which Qt places itself.
bool isOwnWindow(const QWidget *widget)
{
    if (!widget->isWindow())
        return false;
    switch (widget->windowType()) {
    case Qt::Window:
    case Qt::Dialog:
    case Qt::Sheet:
    case Qt::Drawer:
    case Qt::Tool:
        return true;
    default:
        return false;
    }
}

bool isFramed(const QWidget *widget)
{
    return isOwnWindow(widget) && !widget->windowFlags().testFlag(Qt::FramelessWindowHint);
}

// The last frame a window manager was seen to draw: the best guess for the first window of a
// run before it is framed, when no other window is on screen.
QMargins &lastSeenFrame()
{
    static QMargins frame;
    return frame;
}

// The frame the window has or, before the window manager has framed it, the one it will get.
QMargins expectedFrame(const QWidget *window)
{
    if (!isFramed(window))
        return {};
    if (const QMargins own = frameOf(window); !own.isNull())
        return own;
    if (const QWidget *owner = window->parentWidget() ? window->parentWidget()->window() : nullptr;
        owner && owner->isVisible()) {
        if (const QMargins frame = frameOf(owner); !frame.isNull())
            return frame;
    }
    for (const QWidget *other : QApplication::topLevelWidgets()) {
        if (other == window || !other->isVisible() || !isFramed(other))
            continue;
        if (const QMargins frame = frameOf(other); !frame.isNull())
            return frame;
    }
    return lastSeenFrame();
}

// `place`: whether the window may be moved. A window not placed yet is left to Qt and the
// window manager, which place it once its size is known (a dialog centred on its owner).
// `framedNow`: called once the window manager has framed the window.
void fit(QWidget *window, const QMargins &frame, bool place, bool framedNow = false)
{
    if (window->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen | Qt::WindowMinimized))
        return;
    // A window's position is that of its frame; once the window manager has framed the
    // window, as the window system has it (QWidget's may still be one Qt asked for).
    const bool framed = framedNow && !frameOf(window).isNull() && window->windowHandle();
    QRect outer = framed ? window->windowHandle()->frameGeometry()
                         : QRect(window->pos(), window->size().grownBy(frame));
    const QScreen *screen = QGuiApplication::screenAt(outer.center());
    if (!screen)
        screen = window->screen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();

    const QSize size = window->size();
    if (size.isEmpty())
        return;
    const QSize fitted = size.boundedTo(area.size().shrunkBy(frame));
    if (fitted != size) {
        if (window->minimumSize() == window->maximumSize()) {
            window->setFixedSize(fitted);
        } else {
            window->setMinimumSize(window->minimumSize().boundedTo(fitted));
            window->resize(fitted);
        }
        const QPoint centre = outer.center();
        outer.setSize(fitted.grownBy(frame));
        outer.moveCenter(centre);
    }
    if (!place)
        return;
    // The top left last, so that the title bar is the part that stays in reach.
    QPoint inside = outer.topLeft();
    inside.setX(std::max(area.left(), std::min(inside.x(), area.right() + 1 - outer.width())));
    inside.setY(std::max(area.top(), std::min(inside.y(), area.bottom() + 1 - outer.height())));
    if (framed) {
        // Asked of the window system even when Qt believes the window is there already.
        if (inside != outer.topLeft())
            window->windowHandle()->setFramePosition(inside);
    } else if (inside != window->pos()) {
        window->move(inside);
    }
}

// Whether the frame, as the window system has it now, lies inside its screen's available area.
bool framedInside(const QWidget *window)
{
    const QWindow *handle = window->windowHandle();
    if (!handle || frameOf(window).isNull())
        return false;
    const QRect outer = handle->frameGeometry();
    const QScreen *screen = QGuiApplication::screenAt(outer.center());
    if (!screen)
        screen = window->screen();
    return !screen || screen->availableGeometry().contains(outer);
}

// The frame the last check of a window went by.
const char *const kCheckedFrame = "qs_checkedFrame";

void check(QWidget *window, const QMargins &frame)
{
    window->setProperty(kCheckedFrame, QVariant::fromValue(frame));
    fit(window, frame, true, true);
}

// Checks a window again when the window manager has framed it, or framed it otherwise than the
// last check expected. The window system says so by moves and resizes, but not always: under
// load the frame's extents can reach Qt after the last move, so the windows still waiting
// for their frame are also looked at from a timer.
class FrameWatch : public QObject
{
public:
    using QObject::QObject;

    void watch(QWidget *window)
    {
        if (!m_windows.contains(window))
            m_windows.append(window);
        m_ticksLeft = kTicks;
        if (!m_timer.isActive())
            m_timer.start(kInterval, this);
    }

    // Called on every move and resize of a top-level window.
    static void recheck(QWidget *window)
    {
        const QMargins frame = frameOf(window);
        if (frame.isNull())
            return;
        const QVariant checked = window->property(kCheckedFrame);
        if (window->property(kFramePending).toBool()
            || (checked.isValid() && checked.value<QMargins>() != frame)) {
            lastSeenFrame() = frame;
            check(window, frame);
            // Done once the window system shows the frame inside the screen: until then a
            // move may still be on its way, or one asked for may have been lost.
            if (framedInside(window))
                window->setProperty(kFramePending, QVariant());
        }
    }

protected:
    void timerEvent(QTimerEvent *event) override
    {
        if (event->timerId() != m_timer.timerId())
            return QObject::timerEvent(event);
        m_windows.removeIf([](const QPointer<QWidget> &window) {
            if (!window || !window->isVisible() || !window->property(kFramePending).toBool())
                return true;
            recheck(window);
            return !window->property(kFramePending).toBool();
        });
        if (m_windows.isEmpty() || --m_ticksLeft <= 0) {
            m_windows.clear();
            m_timer.stop();
        }
    }

private:
    static constexpr int kInterval = 50; // ms
    static constexpr int kTicks = 200; // a window manager that frames nothing is given up
    QList<QPointer<QWidget>> m_windows;
    QBasicTimer m_timer;
    int m_ticksLeft = 0;
};

class ScreenFit : public QObject
{
public:
    explicit ScreenFit(QObject *parent)
        : QObject(parent)
        , m_frames(this)
    {
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::Show:
            // Before the window is mapped: what it is sized and placed to here is what the
            // window manager first sees. A window brought back from an icon keeps its place.
            if (watched->isWidgetType() && !event->spontaneous()) {
                auto *window = static_cast<QWidget *>(watched);
                if (isOwnWindow(window)) {
                    window->setProperty(kCheckedFrame, QVariant());
                    fit(window, expectedFrame(window), window->testAttribute(Qt::WA_Moved));
                    if (isFramed(window) && frameOf(window).isNull()) {
                        window->setProperty(kFramePending, true);
                        m_frames.watch(window);
                    }
                }
            }
            break;
        case QEvent::Move:
        case QEvent::Resize:
            // The window manager frames a window after it is mapped, and the frame may not be
            // the one expected: once it is known, the window is checked again.
            if (watched->isWidgetType() && static_cast<QWidget *>(watched)->isWindow()
                && isOwnWindow(static_cast<QWidget *>(watched)))
                FrameWatch::recheck(static_cast<QWidget *>(watched));
            break;
        case QEvent::Hide:
            if (watched->isWidgetType() && static_cast<QWidget *>(watched)->isWindow())
                watched->setProperty(kFramePending, QVariant());
            break;
        default:
            break;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    FrameWatch m_frames;
};

} // namespace

void centreOnOwner(QWidget *window)
{
    const QWidget *owner = window->parentWidget() ? window->parentWidget()->window() : nullptr;
    if (!owner || !owner->isVisible())
        return;
    // The size the window will open with, as show() would settle it.
    window->ensurePolished();
    if (window->layout())
        window->layout()->activate();
    if (!window->testAttribute(Qt::WA_Resized))
        window->adjustSize();
    const QMargins frame = frameOf(owner);
    const QRect ownerFrame = owner->geometry().marginsAdded(frame);
    const QSize frameSize = window->size().grownBy(frame);
    // A window's position is that of its frame.
    window->move(ownerFrame.center() - QPoint(frameSize.width() / 2, frameSize.height() / 2));
}

void keepOnScreen(QWidget *window)
{
    if (window && window->isWindow())
        fit(window, expectedFrame(window), true);
}

void installScreenFit(QObject *application)
{
    application->installEventFilter(new ScreenFit(application));
}

} // namespace platform
