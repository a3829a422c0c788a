#pragma once

class QPushButton;
class QWidget;

namespace platform {

// Enter and Escape as windows answer them on the desktop the program was designed for.
// Enter presses the push button that has the focus while it is enabled, unless the focus
// only landed there because the button that had it disabled itself (Qt hands the focus on
// to the next control then); otherwise it presses the default button. Escape presses the
// cancel button. A window without a default button leaves Enter to the focused control; one
// without a cancel button ignores Escape. Either button may be null. Lives as long as the
// window.
void installWindowKeys(QWidget *window, QPushButton *defaultButton, QPushButton *cancelButton);

} // namespace platform
