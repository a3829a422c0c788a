#include "platform/gui/Placement.h"

#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QLayout>
#include <QMargins>
#include <QRect>
#include <QScreen>
#include <QShowEvent>
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
void fit(QWidget *window, const QMargins &frame, bool place)
{
    if (window->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen | Qt::WindowMinimized))
        return;
    // A window's position is that of its frame.
    QRect outer(window->pos(), window->size().grownBy(frame));
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
    if (inside != window->pos())
        window->move(inside);
}

class ScreenFit : public QObject
{
public:
    using QObject::QObject;

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
                    fit(window, expectedFrame(window), window->testAttribute(Qt::WA_Moved));
                    if (isFramed(window) && frameOf(window).isNull())
                        window->setProperty(kFramePending, true);
                }
            }
            break;
        case QEvent::Move:
        case QEvent::Resize:
            // The window manager frames a window after it is mapped, and the frame may not be
            // the one expected: once it is known, the window is checked again.
            if (watched->isWidgetType() && static_cast<QWidget *>(watched)->isWindow()
                && watched->property(kFramePending).toBool()) {
                auto *window = static_cast<QWidget *>(watched);
                if (const QMargins frame = frameOf(window); !frame.isNull()) {
                    window->setProperty(kFramePending, QVariant());
                    lastSeenFrame() = frame;
                    fit(window, frame, true);
                }
            }
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
