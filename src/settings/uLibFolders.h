#pragma once

#include <QString>

// The platform's special folder with a trailing delimiter, or empty on failure.
QString SpecialFolderPath(int folderId);
