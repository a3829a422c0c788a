#include "platform/SpecialFolders.h"

#include "platform/Paths.h"

#include <QStandardPaths>

#include <pwd.h>
#include <unistd.h>

#include <vector>

namespace platform {

namespace {

// An XDG variable counts only when it holds an absolute path, as the XDG base directory
// rules say.
QString absoluteFromEnvironment(const char *name)
{
    const QString value = decodePath(qgetenv(name));
    return value.startsWith(u'/') ? value : QString();
}

QString homeFolder()
{
    const QString home = absoluteFromEnvironment("HOME");
    if (!home.isEmpty())
        return home;
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? std::size_t(size) : 16384);
    passwd entry {};
    passwd *found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found
        || !found->pw_dir || found->pw_dir[0] != '/')
        return {};
    return decodePath(QByteArray(found->pw_dir));
}

QString underHome(const char *relative)
{
    const QString home = homeFolder();
    return home.isEmpty() ? QString() : includeTrailingDelimiter(home) + QLatin1String(relative);
}

QString lookUp(int csidl)
{
    switch (csidl) {
    case CSIDL_APPDATA: {
        const QString config = absoluteFromEnvironment("XDG_CONFIG_HOME");
        return config.isEmpty() ? underHome(".config") : config;
    }
    case CSIDL_PROGRAMS: {
        const QString data = absoluteFromEnvironment("XDG_DATA_HOME");
        return data.isEmpty() ? underHome(".local/share/applications")
                              : includeTrailingDelimiter(data) + QStringLiteral("applications");
    }
    case CSIDL_PERSONAL:
        return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    case CSIDL_DESKTOP:
        return QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    default:
        return {};
    }
}

} // namespace

QString specialFolder(int csidl)
{
    const QString folder = lookUp(csidl);
    return folder.isEmpty() ? QString() : includeTrailingDelimiter(folder);
}

} // namespace platform
