#include "settings/uLibFolders.h"

#include "platform/Paths.h"
#include "platform/SpecialFolders.h"

QString SpecialFolderPath(int folderId)
{
    const QString folder = platform::specialFolder(folderId);
    return folder.isEmpty() ? QString() : platform::includeTrailingDelimiter(folder);
}
