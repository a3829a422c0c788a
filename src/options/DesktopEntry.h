#pragma once

#include <QByteArray>
#include <QString>

// Launchers: on this desktop a shortcut is a freedesktop desktop entry ("Quill Sift.desktop")
// that starts the program with no arguments.
namespace options {

// The value of the Exec key that starts program (an absolute path) with no arguments: the
// path in double quotes with '"', '`', '$' and '\' escaped by a backslash, '%' doubled,
// then every backslash doubled again because the value is itself an escaped string.
// Raises AppError when the path holds a character an entry cannot carry (a control
// character such as a line feed, or a name that is not valid UTF-8).
QString desktopExecValue(const QString &program);

// The name by which the desktop finds the program's icon ("quillsift"), when an icon of that
// name is installed where the desktop looks: the hicolor theme of the icon folders
// (~/.icons, then "icons" in each XDG data folder) or a "pixmaps" folder. Empty otherwise.
QString installedIconName();

// The whole entry: Type=Application, Name=Quill Sift, Exec=..., Icon=iconName unless it is
// empty, UTF-8 with LF line ends.
QByteArray desktopEntryText(const QString &program, const QString &iconName = QString());

// Writes the entry for target to shortcutFile, with the installed icon's name, replacing an
// existing file atomically, with mode 0755. A link named shortcutFile is itself replaced; what it
// points to is untouched. Raises AppError (nothing written) for a path the entry cannot carry, and
// InOutError when the file cannot be written.
void CreateShortcut(const QString &target, const QString &shortcutFile);

} // namespace options
