#pragma once

class QWidget;

namespace platform {

// Places a window that is about to be shown so that its frame is centred on its owner's
// frame. Qt's own placement guesses the frame of a window the window manager has not
// decorated yet, and opens a dialog a title bar's height off centre; the owner, already
// decorated, tells the frame the window will get.
void centreOnOwner(QWidget *window);

} // namespace platform
