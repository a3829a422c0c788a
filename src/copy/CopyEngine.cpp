#include "copy/CopyEngine.h"

#include "platform/Ansi.h"
#include "platform/AtomicFile.h"
#include "platform/Error.h"
#include "platform/ErrorText.h"
#include "platform/FileCopy.h"
#include "platform/FileSearch.h"
#include "platform/LocalTime.h"
#include "platform/Paths.h"
#include "platform/PosixIo.h"
#include "platform/Temporaries.h"
#include "settings/Settings.h"

#include <QScopeGuard>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace {

// Linux limits: a path of PATH_MAX bytes (its terminating zero included) cannot be passed to
// the kernel, nor a name longer than NAME_MAX bytes.
constexpr qsizetype kPathMax = 4096;
constexpr qsizetype kNameMax = 255;

// The log file and the saved log reach the disk in pieces of this size.
constexpr std::size_t kWriteBuffer = 64 * 1024;

// The entries a search passes over: the run never selects them.
constexpr std::uint32_t kPassedOver
    = platform::faHidden | platform::faSysFile | platform::faDirectory;

QString tooLongText()
{
    return QStringLiteral("Le chemin spécifié est trop long");
}

QString invalidCharactersText()
{
    return QStringLiteral("Caractères non valides dans le chemin");
}

QString pathNotFoundText()
{
    return QStringLiteral("Impossible de trouver le chemin spécifié");
}

QString fileNotFoundText()
{
    return QStringLiteral("Impossible de trouver le fichier spécifié");
}

// The path's length in bytes as the kernel sees it (encodePath: UTF-8, an undecodable byte of
// a name one byte), counted without building them.
struct Utf8Lengths
{
    qsizetype total = 0;
    qsizetype longestName = 0;
};

Utf8Lengths utf8Lengths(QStringView path)
{
    Utf8Lengths lengths;
    qsizetype name = 0;
    const qsizetype size = path.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t unit = path[i].unicode();
        qsizetype bytes = 3;
        if (unit < 0x80) {
            bytes = 1;
        } else if (unit < 0x800) {
            bytes = 2;
        } else if (QChar::isHighSurrogate(unit) && i + 1 < size
            && QChar::isLowSurrogate(path[i + 1].unicode())) {
            bytes = 4;
            ++i;
        } else if (platform::isEscapedByte(unit)) {
            bytes = 1;
        }
        lengths.total += bytes;
        if (unit == u'/') {
            name = 0;
        } else {
            name += bytes;
            lengths.longestName = std::max(lengths.longestName, name);
        }
    }
    return lengths;
}

// A character that would break a log line or act on a terminal: the C0 and C1 controls,
// DEL, and the line and paragraph separators, which the list would show as line breaks.
bool breaksLogLine(char16_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029;
}

// Each such character becomes '?', the code page's own substitute: the list, the log file
// and the saved log then show the same single line. A name with a line feed stays one line.
// An undecodable byte of a name (a lone surrogate) shows as U+FFFD, so that every output of
// the log is valid text; the file itself is copied under its own bytes.
QString printableLogText(const QString &text)
{
    const auto first = std::find_if(text.cbegin(), text.cend(),
        [](QChar c) { return breaksLogLine(c.unicode()) || c.isSurrogate(); });
    if (first == text.cend())
        return text;
    QString shown = platform::displayText(text);
    for (qsizetype i = first - text.cbegin(); i < shown.size(); ++i) {
        if (breaksLogLine(shown.at(i).unicode()))
            shown[i] = u'?';
    }
    return shown;
}

bool isBlank(QStringView path)
{
    for (const QChar c : path) {
        if (c.unicode() > 0x20)
            return false;
    }
    return true;
}

// An absolute path without empty, "." or ".." names and without a trailing '/' is its own
// full form, and its folder part is the folder the kernel walks through to reach it.
bool isPlainAbsolute(QStringView path)
{
    if (!path.startsWith(u'/') || path.endsWith(u'/'))
        return false;
    const qsizetype size = path.size();
    qsizetype start = 1;
    while (start <= size) {
        qsizetype end = path.indexOf(u'/', start);
        if (end < 0)
            end = size;
        const QStringView name = path.sliced(start, end - start);
        if (name.isEmpty() || name == u"." || name == u"..")
            return false;
        start = end + 1;
    }
    return true;
}

// The tests of one path, in their order; the first that fails raises its message.
void checkPath(const QString &path, bool isSource)
{
    const Utf8Lengths lengths = utf8Lengths(path);
    if (lengths.total >= kPathMax || lengths.longestName > kNameMax)
        throw AppError(tooLongText());
    // A colon is an ordinary character here, so there is no drive or stream test.
    if (isBlank(path) || path.contains(QChar(0)))
        throw AppError(invalidCharactersText());

    // The run's own paths take the short way: shorter than PATH_MAX, they are their own
    // full form, and a source file found at such a path proves its folder, so the folder
    // is looked up only when the file is not there (to tell which message applies).
    if (isPlainAbsolute(path)) {
        if (isSource && platform::fileExists(path))
            return;
        if (!platform::directoryExists(platform::extractFilePath(path)))
            throw AppError(pathNotFoundText());
        if (isSource)
            throw AppError(fileNotFoundText());
        return;
    }

    QString full;
    const int error = platform::fullPathName(path, full);
    if (error != 0 && error != ENOENT)
        throw AppError(platform::sysErrorMessage(error));
    if (!platform::directoryExists(platform::extractFilePath(full)))
        throw AppError(pathNotFoundText());
    if (isSource && !platform::fileExists(path))
        throw AppError(fileNotFoundText());
}

// Every line of the log, each followed by CR LF, in the code page, handed to write in
// pieces that end with a whole line. 0 or errno.
template<typename Write> int writeLogLines(const LogSink &log, Write write)
{
    std::string buffer;
    buffer.reserve(kWriteBuffer + 1024);
    const qsizetype count = log.size();
    for (qsizetype i = 0; i < count; ++i) {
        const QByteArray line = platform::toAnsi(log.at(i));
        buffer.append(line.constData(), std::size_t(line.size()));
        buffer.append("\r\n", 2);
        if (buffer.size() >= kWriteBuffer) {
            if (const int error = write(buffer.data(), buffer.size()))
                return error;
            buffer.clear();
        }
    }
    return write(buffer.data(), buffer.size());
}

int writeLog(int fd, const LogSink &log)
{
    return writeLogLines(log, [fd](const char *data, std::size_t size) {
        return platform::posixio::writeAll(fd, data, size);
    });
}

// The log file's error, its text chosen by what failed rather than by the number.
InOutError logFileError(int code, bool fileWasThere)
{
    QString text;
    switch (code) {
    case ENOENT:
        text = fileWasThere ? fileNotFoundText() : pathNotFoundText();
        break;
    case ENOTDIR:
    case ENAMETOOLONG:
        text = pathNotFoundText();
        break;
    case EMFILE:
    case ENFILE:
        text = QStringLiteral("Trop de fichiers ouverts");
        break;
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
        text = QStringLiteral("Accès au fichier refusé");
        break;
    default:
        text = QStringLiteral("Erreur E/S %1").arg(code);
        break;
    }
    return InOutError(code, text);
}

// Cuts the file at the first 0x1A among its last 128 bytes, if there is one. 0 or errno.
int cutAtEndOfFileMark(int fd)
{
    struct stat st
    {
    };
    if (::fstat(fd, &st) != 0)
        return errno;
    if (!S_ISREG(st.st_mode) || st.st_size == 0)
        return 0;
    constexpr off_t kTail = 128;
    const off_t start = st.st_size > kTail ? st.st_size - kTail : 0;
    char tail[kTail];
    std::size_t got = 0;
    if (const int error
        = platform::posixio::readFull(fd, tail, std::size_t(st.st_size - start), got, start))
        return error;
    if (const void *mark = std::memchr(tail, 0x1A, got)) {
        const off_t at = start + off_t(static_cast<const char *>(mark) - tail);
        if (::ftruncate(fd, at) != 0)
            return errno;
    }
    return 0;
}

} // namespace

QString AdaptFilter(const QString &trimmedFilter, int mode)
{
    switch (mode) {
    case 1:
        return u'*' + trimmedFilter;
    case 2:
        return trimmedFilter + u"*.*";
    case 3:
        return u'*' + trimmedFilter + u"*.*";
    default:
        return trimmedFilter;
    }
}

void CopyFileChecked(const QString &source, const QString &target, bool replace, qint64 *bytes)
{
    checkPath(source, true);
    checkPath(target, false);
    if (!replace && platform::fileExists(target))
        throw AppError(QStringLiteral("Le fichier spécifié existe déjà"));
    if (const int error = platform::copyFile(source, target, !replace, bytes))
        throw AppError(platform::sysErrorMessage(error));
}

void VerifyCopy(const QString &source, const QString &target)
{
    const QString failed = QStringLiteral("La vérification de la copie a échoué : ");
    bool same = false;
    if (const int error = platform::compareWithCopy(source, target, same))
        throw AppError(failed + platform::sysErrorMessage(error));
    if (!same)
        throw AppError(failed + u"le fichier \"" + target + u"\" diffère de sa source");
}

CopyRun::CopyRun(
    const tyConfig &config, QString repSrc, QString repDst, LogSink &log, Pump pump, Clock clock)
    : m_config(config)
    , m_repSrc(std::move(repSrc))
    , m_repDst(std::move(repDst))
    , m_log(log)
    , m_pump(std::move(pump))
    , m_clock(std::move(clock))
{
}

void CopyRun::runFilters(const QStringList &filterLines)
{
    // The sweep a copy may have started ends with the filter loop, whichever way it ends.
    const auto joinSweep = qScopeGuard([this] {
        if (m_sweeper.joinable())
            m_sweeper.join();
    });
    const qsizetype count = filterLines.size();
    for (qsizetype i = 0; i < count && !isStopped(); ++i) {
        if (perFilter(filterLines.at(i)) && m_pump)
            m_pump();
    }
    if (isStopped())
        addLog(QStringLiteral("Copie arrêtée par l'utilisateur."));
}

qint64 CopyRun::countSelected(const QStringList &filterLines) const
{
    qint64 selected = 0;
    const qsizetype count = filterLines.size();
    for (qsizetype i = 0; i < count && !isStopped(); ++i) {
        const QString filter = platform::trimText(filterLines.at(i));
        if (filter.isEmpty())
            continue;
        const QString adapted = AdaptFilter(filter, m_config.AdaptatFiltre);
        platform::FileSearch search;
        platform::FindData entry;
        if (!adapted.contains(u'/') && search.findFirst(m_repSrc + adapted, entry)) {
            do {
                if ((entry.attributes & kPassedOver) == 0)
                    ++selected;
            } while (search.findNext(entry));
        }
        if (m_pump)
            m_pump();
    }
    return selected;
}

bool CopyRun::perFilter(const QString &line)
{
    const QString filter = platform::trimText(line);
    if (filter.isEmpty())
        return false;
    const QString adapted = AdaptFilter(filter, m_config.AdaptatFiltre);
    addLog(u"Filtre: \"" + adapted + u"\"  (\"" + filter + u"\")");

    // A filter is a name pattern: with a '/' it would search another folder than the one
    // the names are then copied from, and copy the wrong files.
    if (adapted.contains(u'/')) {
        logError(QStringLiteral("Un filtre ne peut pas contenir le caractère \"/\""));
        return true;
    }

    platform::FileSearch search;
    platform::FindData entry;
    if (!search.findFirst(m_repSrc + adapted, entry))
        return true;
    do {
        if ((entry.attributes & kPassedOver) == 0)
            perFile(entry.name);
    } while (!isStopped() && search.findNext(entry));
    search.close();
    return true;
}

void CopyRun::sweepDestinationOnce()
{
    if (m_swept)
        return;
    m_swept = true;
    // Temporaries that a killed run left in the destination are removed beside the copy, on
    // a thread of their own, so that listing a large destination costs the run no time; a
    // run that copies nothing never lists it. Their names keep it off this run's own
    // temporaries, which it never opens.
    try {
        m_sweeper = std::jthread([folder = m_repDst] { platform::temporaries::sweep(folder); });
    } catch (const std::system_error &) {
        platform::temporaries::sweep(m_repDst);
    }
}

int CopyRun::flushDestination()
{
    if (!m_unflushed)
        return 0;
    m_unflushed = false;
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    int error = 0;
    const auto flush = [&, folder = m_repDst] {
        const int result = platform::flushFileSystem(folder);
        const std::lock_guard lock(mutex);
        error = result;
        done = true;
        finished.notify_all();
    };
    std::thread flusher;
    try {
        flusher = std::thread(flush);
    } catch (const std::system_error &) {
        flush();
    }
    {
        std::unique_lock lock(mutex);
        while (!finished.wait_for(lock, std::chrono::milliseconds(20), [&] { return done; })) {
            if (!m_pump)
                continue;
            lock.unlock();
            m_pump();
            lock.lock();
        }
    }
    if (flusher.joinable())
        flusher.join();
    if (error)
        logError(QStringLiteral(
                     "L'écriture des fichiers copiés sur le support de destination a échoué : ")
            + platform::sysErrorMessage(error));
    return error;
}

void CopyRun::perFile(const QString &name)
{
    const QString source = m_repSrc + name;
    const QString target = m_repDst + name;
    ++m_tally.visited;

    if (m_config.DontReplace) {
        if (targetExists(name, target)) {
            addLog(u"Le fichier \"" + target + u"\" existe déjà.");
            ++m_tally.skipped;
        } else {
            addLog(u"Copie du fichier \"" + source + u"\" vers \"" + target + u'"');
            if (m_dryRun)
                m_dryRunCopies.insert(name);
            copyOne(source, target, false);
        }
        // A filter may select many thousand files: the window stays responsive, and can
        // be stopped, in this branch as in the other.
        if (m_pump)
            m_pump();
        return;
    }

    if (targetExists(name, target))
        addLog(u"Attention: Le fichier \"" + target + u"\" existe déjà, il va être remplacé.");
    addLog(u"Copie du fichier \"" + source + u"\" vers \"" + target + u'"');
    if (m_dryRun)
        m_dryRunCopies.insert(name);
    copyOne(source, target, true);
    if (m_pump)
        m_pump();
}

void CopyRun::copyOne(const QString &source, const QString &target, bool replace)
{
    if (m_dryRun)
        return;
    sweepDestinationOnce();
    m_unflushed = true;
    qint64 bytes = 0;
    try {
        CopyFileChecked(source, target, replace, &bytes);
        if (m_verify)
            VerifyCopy(source, target);
    } catch (const AppError &error) {
        logError(error.message());
        return;
    }
    ++m_tally.copied;
    m_tally.bytes += bytes;
}

bool CopyRun::targetExists(const QString &name, const QString &target) const
{
    return (m_dryRun && m_dryRunCopies.contains(name)) || platform::fileExists(target);
}

void CopyRun::logError(const QString &message)
{
    addLog(u"Erreur: " + message);
    m_log.markError();
    ++m_tally.errors;
}

void CopyRun::addLog(const QString &message)
{
    const QString text = printableLogText(message);
    if (!m_config.WithTimestamp) {
        m_log.append(text);
        return;
    }
    if (m_clock) {
        const QDateTime now = m_clock();
        if (m_stampText.isNull() || now != m_stampTime) {
            m_stampTime = now;
            m_stampText = platform::formatTimestamp(now);
        }
    } else {
        // The local time costs a look at the time-zone file; the system clock tells for
        // nothing whether the millisecond, and so the timestamp, is still the same.
        timespec clock {};
        ::clock_gettime(CLOCK_REALTIME, &clock);
        const qint64 millisecond = qint64(clock.tv_sec) * 1000 + clock.tv_nsec / 1000000;
        if (m_stampText.isNull() || millisecond != m_stampMillisecond) {
            m_stampMillisecond = millisecond;
            m_stampText = platform::formatTimestamp(platform::localNow());
        }
    }
    m_log.append(m_stampText + u" - " + text);
}

void CopyRun::appendLogFile()
{
    const QString path = m_config.LogFile;
    if (!path.isEmpty() && !m_dryRun)
        appendLogToFile(path, m_log);
}

void appendLogToFile(const QString &path, const LogSink &log)
{
    if (utf8Lengths(path).total >= kPathMax)
        throw InOutError(ENAMETOOLONG, pathNotFoundText());
    if (path.contains(QChar(0)))
        throw logFileError(EINVAL, false);

    // O_NONBLOCK: a FIFO named as the log file must not hang the window.
    const QByteArray name = platform::encodePath(path);
    const bool existed = platform::fileExists(path);
    const int fd = existed
        ? ::open(name.constData(), O_RDWR | O_APPEND | O_CLOEXEC | O_NONBLOCK)
        : ::open(name.constData(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd < 0)
        throw logFileError(errno, existed);

    int error = existed ? cutAtEndOfFileMark(fd) : 0;
    if (error == 0)
        error = writeLog(fd, log);
    const int closeError = platform::posixio::closeChecked(fd);
    if (error == 0)
        error = closeError;
    if (error != 0)
        throw logFileError(error, true);
}

QString savedLogName(const QString &chosen)
{
    // Only '/' ends a folder name here: there is no drive colon to look past.
    return platform::changeFileExt(chosen, QStringLiteral(".txt"));
}

void saveLogToFile(const QString &path, const LogSink &log)
{
    QString full;
    if (platform::fullPathName(path, full) != 0)
        full = path;
    const auto createFailed = [&full](int code) {
        return AppError(u"Impossible de créer le fichier \"" + full + u"\". "
            + platform::sysErrorMessage(code));
    };
    if (path.contains(QChar(0)))
        throw createFailed(EINVAL);

    // Replaced whole or not at all: killed while saving, the old file stays as it was.
    platform::AtomicWriter file;
    if (const int error = file.open(path))
        throw createFailed(error);
    int error = writeLogLines(
        log, [&file](const char *data, std::size_t size) { return file.write(data, size); });
    if (error == 0)
        error = file.commit();
    if (error != 0)
        throw AppError(QStringLiteral("Erreur d'écriture dans le flux"));
}
