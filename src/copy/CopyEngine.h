#pragma once

#include <QDateTime>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <thread>

struct tyConfig;

// Filter adaptation, file selection and the copy run, free of widgets: the window hands in
// the live settings, a log sink and a message pump.

// Widening of a trimmed filter by AdaptatFiltre: 1 "*"+f, 2 f+"*.*", 3 "*"+f+"*.*", any other
// value f as typed.
QString AdaptFilter(const QString &trimmedFilter, int mode);

// Copies one file after validating the source path, then the target path. Raises AppError
// with the message of the first failed test or of the platform. bytes, when given, receives
// the size copied.
void CopyFileChecked(
    const QString &source, const QString &target, bool replace, qint64 *bytes = nullptr);

// Reads a copied file back and compares it with its source. Raises AppError when they
// differ or cannot be read.
void VerifyCopy(const QString &source, const QString &target);

// What a run has done so far. Every "Erreur" line counts as one error.
struct CopyTally
{
    qint64 copied = 0; // copies that succeeded
    qint64 skipped = 0; // files left alone because the target was there
    qint64 errors = 0;
    qint64 bytes = 0; // bytes of the copies that succeeded
    qint64 visited = 0; // selected files handled, whatever became of them
};

// Where the run's log lines go, in order (the copy window's list).
class LogSink
{
public:
    virtual ~LogSink() = default;
    virtual void append(const QString &line) = 0;
    virtual qsizetype size() const = 0;
    virtual QString at(qsizetype index) const = 0;
    // The line appended last is an "Erreur" line.
    virtual void markError() { }
};

// A plain in-memory sink, for runs without a window.
class LogLines : public LogSink
{
public:
    void append(const QString &line) override { lines.append(line); }
    qsizetype size() const override { return lines.size(); }
    QString at(qsizetype index) const override { return lines.at(index); }

    QList<QString> lines;
};

class CopyRun
{
public:
    using Pump = std::function<void()>;
    using Clock = std::function<QDateTime()>;

    // config is the live settings record, read each time a value is needed.
    // repSrc and repDst already end with the path delimiter. Without a clock the local time
    // is taken.
    CopyRun(const tyConfig &config, QString repSrc, QString repDst, LogSink &log, Pump pump,
        Clock clock = {});

    // The filter loop: the per-filter step for every line (their number taken once), then
    // the pump after every non-empty one. Errors other than copy errors leave it. A run
    // that copies into the destination also removes, silently, the temporaries that dead
    // runs left there. A stop ends it after the file in progress, with a last line that
    // says so.
    void runFilters(const QStringList &filterLines);

    // The number of files runFilters will visit, from the same searches, as the folder is
    // now; logs and copies nothing. The pump runs after every non-empty line, and a stop
    // ends the count.
    qint64 countSelected(const QStringList &filterLines) const;

    // Asks the run to end after the file in progress (from the pump, or any thread).
    void requestStop() { m_stop.store(true, std::memory_order_relaxed); }
    bool isStopped() const { return m_stop.load(std::memory_order_relaxed); }

    // A dry run logs what it would do with the files found now and copies nothing.
    void setDryRun(bool dryRun) { m_dryRun = dryRun; }
    // Every copy is read back and compared with its source; a difference is a failed copy.
    void setVerify(bool verify) { m_verify = verify; }

    const CopyTally &tally() const { return m_tally; }

    // Writes what the run copied since the last flush out to the destination's storage, so
    // that a device removed afterwards holds every copy: one syncfs of its file system,
    // waited for on a thread of its own while the pump runs every 20 ms, so that a window
    // stays responsive however slow the device. A failure is logged as an "Erreur" line and
    // counted. Nothing to do after a dry run or a run that copied nothing. 0 or errno.
    int flushDestination();

    // One filter line; false when the trimmed line is empty (nothing logged or searched).
    bool perFilter(const QString &line);

    // One selected file, in the branch DontReplace chooses. Copy errors are logged here;
    // both branches run the pump after the file.
    void perFile(const QString &name);

    // A log line, with the timestamp prefix when WithTimestamp is set. Control characters
    // (a file name may hold a line feed) are shown as '?', so that the line stays one line
    // in the list, the log file and the saved log alike.
    void addLog(const QString &message);

    // Appends the whole log to LogFile when one is set, except after a dry run. Raises
    // InOutError.
    void appendLogFile();

private:
    // Starts the removal of dead runs' temporaries from the destination, before the first
    // copy; runFilters waits for it to end.
    void sweepDestinationOnce();
    // The copy of one file and its outcome's line and count.
    void copyOne(const QString &source, const QString &target, bool replace);
    // A file at the target, or, in a dry run, a copy the run would have made there.
    bool targetExists(const QString &name, const QString &target) const;
    void logError(const QString &message);

    const tyConfig &m_config;
    QString m_repSrc;
    QString m_repDst;
    LogSink &m_log;
    Pump m_pump;
    Clock m_clock;
    // Lines logged within the same millisecond share their timestamp text.
    QDateTime m_stampTime;
    qint64 m_stampMillisecond = 0;
    QString m_stampText;
    bool m_swept = false;
    bool m_unflushed = false; // copies were made since the last flush
    bool m_dryRun = false;
    // The names a dry run would have copied, so that a file selected again reads as in a run.
    QSet<QString> m_dryRunCopies;
    bool m_verify = false;
    std::atomic<bool> m_stop = false;
    CopyTally m_tally;
    std::jthread m_sweeper;
};

// Appends every line, CR LF after each, in Windows-1252, to the file at path (created when
// missing); an 0x1A among its last 128 bytes cuts the file there first. Raises InOutError
// carrying errno, with the text chosen by the failure's meaning.
void appendLogToFile(const QString &path, const LogSink &log);

// The chosen save name with the extension ".txt": the last dot after the last '/' and what
// follows it are replaced, otherwise ".txt" is appended.
QString savedLogName(const QString &chosen);

// Creates the file anew with every line and CR LF, in Windows-1252, replacing an existing
// one atomically (its permission bits kept, a link written through). Raises AppError
// "Impossible de créer le fichier \"{path}\". {reason}" or "Erreur d'écriture dans le flux".
void saveLogToFile(const QString &path, const LogSink &log);
