#pragma once

#include <QString>

// The application's top-level error reporting. Every error that no part of the program
// catches is appended to "bugreport.txt" in the settings folder (date and time, program
// version, message, call stack) and shown in an English dialog from which the user
// continues, restarts or closes the program, reads the report, or sends it: the user's own
// mail program opens with the report addressed to the publisher's support, and nothing leaves
// before the user sends it from there.
namespace bugreport {

// The program's version, as the build gives it.
QString programVersion();

// "bugreport.txt" in the settings folder.
QString reportFilePath();

// Appends one record for the message, with the call stack of the calling thread, and
// returns the record. A report that cannot be written is not an error of its own: the
// record is returned all the same and *written says so.
QString appendReport(const QString &reportFile, const QString &message, bool *written = nullptr);

// Writes the report and shows the dialog ("Continue", "Restart", "Close application",
// "Show bug report", "Send bug report").
void reportError(const QString &message);

// Makes reportError() the handler of platform::reportUncaughtError().
void installErrorReporting();

// On SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT and std::terminate, appends the same kind of
// record to reportFile (with code that is safe in a signal handler), then lets the
// program end as it would have.
void installCrashHandlers(const QString &reportFile);

} // namespace bugreport
