// One write of the program through its real code, for the crash-point tests to kill at a
// chosen system call (under strace) and then run again to its end:
//   qs_crash_driver copy SRC DST replace|keep [LOGFILE]   a copy run of "*", then the log file
//   qs_crash_driver savelog PATH LINES                     the saved log of LINES lines
//   qs_crash_driver launcher TARGET SHORTCUT               a launcher
//   qs_crash_driver start                                  the start-up (settings and lists)
// Exits 0 when the write went through, 1 on an error (printed), 2 on bad arguments.
#include "settings/Settings.h"
#include "app/uMain.h"
#include "copy/CopyEngine.h"
#include "options/DesktopEntry.h"
#include "platform/Error.h"
#include "platform/gui/Application.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

namespace {

QString arg(char **argv, int i)
{
    return QString::fromLocal8Bit(argv[i]);
}

int copyRun(int argc, char **argv)
{
    if (argc < 5 || argc > 6)
        return 2;
    tyConfig config;
    config.DontReplace = std::strcmp(argv[4], "keep") == 0;
    config.AdaptatFiltre = 0;
    config.WithTimestamp = false;
    if (argc == 6)
        config.LogFile = arg(argv, 5);
    LogLines log;
    CopyRun run(config, arg(argv, 2) + u'/', arg(argv, 3) + u'/', log, [] {});
    run.runFilters({ QStringLiteral("*") });
    run.appendLogFile();
    for (const QString &line : log.lines) {
        if (line.startsWith(u"Erreur"))
            std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
    }
    return 0;
}

int saveLog(int argc, char **argv)
{
    if (argc != 4)
        return 2;
    LogLines log;
    const int lines = std::atoi(argv[3]);
    for (int i = 0; i < lines; ++i)
        log.lines.append(QStringLiteral("Copie du fichier numéro %1 du journal sauvé").arg(i));
    saveLogToFile(arg(argv, 2), log);
    return 0;
}

int start(int argc, char **argv)
{
    // The real start-up of the main window; the window is never shown, so no ping leaves.
    platform::Application app(argc, argv);
    initApplication();
    int status = 0;
    platform::setUncaughtErrorHandler([&status](const std::exception &error) {
        std::fprintf(stderr, "%s\n", error.what());
        status = 1;
    });
    TfrmMain frmMain;
    return status;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2)
        return 2;
    try {
        if (std::strcmp(argv[1], "copy") == 0)
            return copyRun(argc, argv);
        if (std::strcmp(argv[1], "savelog") == 0)
            return saveLog(argc, argv);
        if (std::strcmp(argv[1], "launcher") == 0 && argc == 4) {
            options::CreateShortcut(arg(argv, 2), arg(argv, 3));
            return 0;
        }
        if (std::strcmp(argv[1], "start") == 0)
            return start(argc, argv);
    } catch (const AppError &error) {
        std::fprintf(stderr, "%s\n", error.message().toLocal8Bit().constData());
        return 1;
    } catch (const std::exception &error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 2;
}
