#pragma once

#include <QIcon>
#include <QStyle>

namespace platform {

// A picture from the desktop's icon theme, or the style's standard one when the theme
// lacks it.
QIcon themeIcon(const char *name, QStyle::StandardPixmap fallback);

} // namespace platform
