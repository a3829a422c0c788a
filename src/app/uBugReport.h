#pragma once

#include <QString>

class QWidget;

// The application's top-level error reporting. Every error that no part of the program
// catches is appended to "bugreport.txt" in the settings folder (date and time, program
// version, message, the call stack where it was raised, the other threads' stacks, the loaded
// modules, processor and memory; running processes are left out on purpose) and shown in an English
// dialog from which the user continues, restarts or closes the program, reads the report, or sends
// it: the user's own mail program opens with the report addressed to the publisher's support, and
// nothing leaves before the user sends it from there.
namespace bugreport {

// The program's version, as the build gives it.
QString programVersion();

// "bugreport.txt" in the settings folder.
QString reportFilePath();

// Appends one record for the message and returns it. Called while an exception is handled,
// the record's call stack is the one where that exception was thrown; otherwise the caller's. A
// report that cannot be written is not an error of its own: the record is returned all the same and
// *written says so.
QString appendReport(const QString &reportFile, const QString &message, bool *written = nullptr);

// Writes the report and shows the dialog ("Continue", "Restart", "Close application",
// "Show bug report", "Send bug report").
void reportError(const QString &message);

// Makes reportError() the handler of platform::reportUncaughtError().
void installErrorReporting();

// On SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT and std::terminate, appends the same kind of
// record to reportFile, with the registers for a signal (with code that is safe in a signal
// handler: its addresses stay unresolved), keeps a copy in pendingCrashFile(reportFile) for the
// next start, then lets the program end as it would have.
void installCrashHandlers(const QString &reportFile);

// "lastcrash.txt" beside the report file: the record of a crash that was not offered yet.
QString pendingCrashFile(const QString &reportFile);

// At a start after a crash: the record kept by the crash handler, resolved now and appended
// to reportFile, is offered in a dialog ("Show bug report", "Send bug report", "Close"), once:
// the kept copy is removed first. Returns whether it was offered.
bool offerReportOfLastCrash(const QString &reportFile, QWidget *parent);

} // namespace bugreport
