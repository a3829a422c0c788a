#include "platform/gui/Placement.h"

#include <QLayout>
#include <QMargins>
#include <QRect>
#include <QWidget>

namespace platform {

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
    const QRect ownerFrame = owner->frameGeometry();
    const QRect ownerClient = owner->geometry();
    const QMargins frame(ownerClient.left() - ownerFrame.left(),
        ownerClient.top() - ownerFrame.top(), ownerFrame.right() - ownerClient.right(),
        ownerFrame.bottom() - ownerClient.bottom());
    const QSize frameSize = window->size().grownBy(frame);
    // A window's position is that of its frame.
    window->move(ownerFrame.center() - QPoint(frameSize.width() / 2, frameSize.height() / 2));
}

} // namespace platform
