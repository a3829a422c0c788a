#pragma once

#include <QString>
#include <QStringList>

// quillsift-copy [--dry-run] [--verify] [--no-sync] [--settings FILE] SOURCE DESTINATION
//                FILTER...
// The copy window's run, from a script: the log lines go to standard output as they are
// logged, and the log is appended to the log file of the settings as a window run does.
namespace cli {

enum ExitStatus {
    kExitSucceeded = 0, // no file failed
    kExitFailed = 1, // a copy failed ("Erreur" line), the run stopped, the log file or
                     // standard output failed
    kExitUsage = 2, // usage or settings error: nothing was copied
    // A run stopped by SIGINT or SIGTERM exits with 128 + the signal's number (130, 143),
    // as shells expect of a program ended by it.
};

struct CopyCommandLine
{
    bool dryRun = false;
    bool verify = false;
    bool noSync = false; // the copies are not flushed to the device before the exit
    bool help = false;
    bool version = false;
    bool hasSettingsFile = false;
    QString settingsFile;
    QString source;
    QString destination;
    QStringList filters;
};

// Reads the arguments (without the program's name). Returns the French text of a usage
// error, or an empty text. --help and --version need no operands.
QString parseCopyCommandLine(const QStringList &arguments, CopyCommandLine &commandLine);

// The usage, in French, as --help prints it.
QString usageText();

// The whole command: the log lines to outFd, messages to errFd. Returns the exit status.
// While the run works, a first SIGINT or SIGTERM ends it after the file in progress, as the
// window's stop button does; a second one ends the program at once.
int runCopyCommand(const QStringList &arguments, int outFd, int errFd);

} // namespace cli
