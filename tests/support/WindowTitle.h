#pragma once

#include <QString>

class QWidget;

namespace testsupport {

// The title that the window manager shows for a top-level widget. On X11 it is read back from
// the server, as the window manager reads it (_NET_WM_NAME, UTF-8), so that whatever Qt adds
// to or changes in windowTitle() is seen; on the offscreen platform, which has no window
// manager, it is windowTitle(). Waits until the window is exposed. A title that cannot be read
// fails the test and comes back null.
QString shownTitle(QWidget *window);

} // namespace testsupport
