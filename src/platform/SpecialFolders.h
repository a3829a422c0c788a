#pragma once

#include <QString>

namespace platform {

enum Csidl {
    CSIDL_DESKTOP = 0,
    CSIDL_PROGRAMS = 2,
    CSIDL_PERSONAL = 5,
    CSIDL_APPDATA = 26,
};

// SHGetFolderPathW: the folder with a trailing '/', or empty on failure (unknown id, no
// home).
QString specialFolder(int csidl);

} // namespace platform
