#pragma once

class QObject;
class QWidget;

namespace platform {

// Places a window that is about to be shown so that its frame is centred on its owner's
// frame. Qt's own placement guesses the frame of a window the window manager has not
// decorated yet, and opens a dialog a title bar's height off centre; the owner, already
// decorated, tells the frame the window will get.
void centreOnOwner(QWidget *window);

// Keeps a top-level window, frame included, inside the available area of its screen: a
// window too large for it shrinks to fit around the same centre (a fixed size too), one that
// sticks out moves in, and one that already lies inside is left alone. Until the window
// manager has framed the window, the frame is taken from its owner or another framed window.
void keepOnScreen(QWidget *window);

// Every top-level window of the application is kept on screen when it is shown (one not
// placed yet is only shrunk there: Qt and the window manager place it, a dialog on its
// owner), and once more when the window manager has framed it, so that no size or position computed
// for a larger screen or a smaller scale puts a title bar or a button out of reach. Installed once,
// by Application.
void installScreenFit(QObject *application);

} // namespace platform
