#include "platform/gui/Icons.h"

#include <QApplication>

namespace platform {

QIcon themeIcon(const char *name, QStyle::StandardPixmap fallback)
{
    const QString themeName = QString::fromLatin1(name);
    if (QIcon::hasThemeIcon(themeName))
        return QIcon::fromTheme(themeName);
    return QApplication::style()->standardIcon(fallback);
}

} // namespace platform
