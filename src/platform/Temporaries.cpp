#include "platform/Temporaries.h"

#include "platform/Paths.h"

#include <QList>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <pthread.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::temporaries {

namespace {

constexpr char kPrefix[] = ".qs-";
constexpr size_t kPrefixLength = sizeof kPrefix - 1;
constexpr size_t kTagLength = 6;
constexpr size_t kMaxNumberLength = 20;

bool isLetterOrDigit(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

void appendTag(QByteArray &out, std::uint64_t bits)
{
    static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    for (size_t i = 0; i < kTagLength; ++i, bits /= 62)
        out.append(letters[bits % 62]);
}

std::uint64_t hashOf(const QByteArray &bytes, std::uint64_t hash = 14695981039346656037ull)
{
    for (const char c : bytes) {
        hash ^= std::uint8_t(c);
        hash *= 1099511628211ull;
    }
    return hash;
}

QByteArray readSmallFile(const char *path)
{
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    char buffer[1024];
    QByteArray content;
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        content.append(buffer, got);
    }
    ::close(fd);
    return content;
}

// The state and the start time (ticks since boot) in the text of /proc/PID/stat. The command
// name, in parentheses, may hold anything: the fields are counted after its end, the state
// being the third field and the start time the 22nd.
bool parseStat(const QByteArray &stat, char &state, std::uint64_t &start)
{
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0)
        return false;
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    if (fields.size() < 20 || fields[0].size() != 1)
        return false;
    state = fields[0][0];
    bool ok = false;
    start = fields[19].toULongLong(&ok);
    return ok;
}

enum class Liveness { Gone, Running, Unknown };

// A process by its number: gone, or running since start (ticks since boot). A zombie has
// ended for good.
Liveness processState(pid_t pid, std::uint64_t start)
{
    if (::kill(pid, 0) != 0 && errno == ESRCH)
        return Liveness::Gone;
    // It exists: a /proc that hides it, or that it left meanwhile, tells nothing more.
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", int(pid));
    const QByteArray stat = readSmallFile(path);
    if (stat.isEmpty())
        return Liveness::Unknown;
    char state = 0;
    std::uint64_t started = 0;
    if (!parseStat(stat, state, started))
        return Liveness::Unknown;
    if (state == 'Z' || state == 'X')
        return Liveness::Gone;
    return started == start ? Liveness::Running : Liveness::Gone;
}

// Who this process is, in the terms of our names.
struct Identity
{
    pid_t pid = -1;
    QByteArray host; // tag of the machine and the process namespace
    QByteArray boot; // tag of the kernel's boot, empty when unknown
    std::uint64_t start = 0; // 0 when unknown
    QByteArray prefix; // ".qs-HOST-BOOT-PID-START-"
};

Identity lookUpIdentity()
{
    Identity self;
    self.pid = ::getpid();
    QByteArray machine = readSmallFile("/etc/machine-id");
    if (machine.isEmpty())
        machine = readSmallFile("/var/lib/dbus/machine-id");
    if (machine.isEmpty()) {
        char name[256] = {};
        ::gethostname(name, sizeof name - 1);
        machine = name;
    }
    // Containers of one image share the machine's number, not their process numbers.
    struct stat ns = {};
    if (::stat("/proc/self/ns/pid", &ns) == 0)
        machine += ':' + QByteArray::number(quint64(ns.st_ino));
    appendTag(self.host, hashOf(machine.trimmed()));
    const QByteArray boot = readSmallFile("/proc/sys/kernel/random/boot_id").trimmed();
    if (!boot.isEmpty())
        appendTag(self.boot, hashOf(boot));
    else
        self.boot = QByteArray(kTagLength, '0');

    char state = 0;
    if (boot.isEmpty() || !parseStat(readSmallFile("/proc/self/stat"), state, self.start))
        self.start = 0;
    self.prefix = kPrefix + self.host + '-' + self.boot + '-' + QByteArray::number(self.pid) + '-'
        + QByteArray::number(quint64(self.start)) + '-';
    return self;
}

std::atomic<unsigned> forks = 0;

// Looked up once per thread, and again in a forked child, which tells it without a call to
// getpid for every name.
const Identity &identity()
{
    static const int counted = ::pthread_atfork(nullptr, nullptr, [] { ++forks; });
    (void)counted;
    thread_local Identity self;
    thread_local unsigned lookedUpAt = 0;
    const unsigned now = forks.load(std::memory_order_relaxed);
    if (self.pid < 0 || lookedUpAt != now) {
        self = lookUpIdentity();
        lookedUpAt = now;
    }
    return self;
}

struct ParsedName
{
    QByteArray host;
    QByteArray boot;
    pid_t pid = 0;
    std::uint64_t start = 0;
};

bool parseTag(const char *&at, QByteArray *tag)
{
    for (size_t i = 0; i < kTagLength; ++i) {
        if (!isLetterOrDigit(at[i]))
            return false;
    }
    if (tag)
        *tag = QByteArray(at, kTagLength);
    at += kTagLength;
    return true;
}

bool parseNumber(const char *&at, std::uint64_t &value)
{
    value = 0;
    size_t digits = 0;
    while (at[digits] >= '0' && at[digits] <= '9') {
        if (digits == kMaxNumberLength)
            return false;
        value = value * 10 + std::uint64_t(at[digits] - '0');
        ++digits;
    }
    if (digits == 0 || (digits > 1 && at[0] == '0'))
        return false;
    at += digits;
    return true;
}

bool parseName(const char *name, ParsedName *parsed)
{
    if (std::strncmp(name, kPrefix, kPrefixLength) != 0)
        return false;
    const char *at = name + kPrefixLength;
    std::uint64_t pid = 0;
    std::uint64_t start = 0;
    if (!parseTag(at, parsed ? &parsed->host : nullptr) || *at++ != '-'
        || !parseTag(at, parsed ? &parsed->boot : nullptr) || *at++ != '-' || !parseNumber(at, pid)
        || *at++ != '-' || !parseNumber(at, start) || *at++ != '-' || !parseTag(at, nullptr)
        || *at != '\0')
        return false;
    if (pid == 0 || pid > std::uint64_t(INT32_MAX))
        return false;
    if (parsed) {
        parsed->pid = pid_t(pid);
        parsed->start = start;
    }
    return true;
}

// Whether the writer of a parsed name is gone, remembered for the sweep's other names.
class Judge
{
public:
    bool gone(const ParsedName &name)
    {
        const Identity &self = identity();
        if (name.host != self.host || self.start == 0)
            return false; // another machine or namespace: nothing here can tell
        if (name.boot != self.boot)
            return true; // this machine has started again since
        if (name.start == 0)
            return false;
        const auto key = std::make_pair(name.pid, name.start);
        const auto known = m_verdicts.find(key);
        if (known != m_verdicts.end())
            return known->second;
        const bool verdict = processState(name.pid, name.start) == Liveness::Gone;
        m_verdicts.emplace(key, verdict);
        return verdict;
    }

private:
    std::map<std::pair<pid_t, std::uint64_t>, bool> m_verdicts;
};

} // namespace

QByteArray newName()
{
    thread_local std::mt19937_64 generator { std::random_device {}() };
    QByteArray name = identity().prefix;
    appendTag(name, generator());
    return name;
}

bool isTemporaryName(const char *name)
{
    return parseName(name, nullptr);
}

bool writerIsGone(const char *name)
{
    ParsedName parsed;
    if (!parseName(name, &parsed))
        return false;
    return Judge().gone(parsed);
}

int sweep(int dirFd)
{
    // A descriptor of its own: closedir closes it, and the listing starts at the beginning.
    const int listFd = ::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listFd < 0)
        return 0;
    DIR *const listing = ::fdopendir(listFd);
    if (!listing) {
        ::close(listFd);
        return 0;
    }
    Judge judge;
    int removed = 0;
    while (const dirent *entry = ::readdir(listing)) {
        ParsedName parsed;
        if (entry->d_name[0] != '.' || !parseName(entry->d_name, &parsed))
            continue;
        if (entry->d_type != DT_REG) {
            struct stat st = {};
            if (entry->d_type != DT_UNKNOWN
                || ::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0
                || !S_ISREG(st.st_mode))
                continue;
        }
        // The name alone proves its writer gone: nobody else ever makes that name again,
        // so it can go without being opened.
        if (judge.gone(parsed) && ::unlinkat(dirFd, entry->d_name, 0) == 0)
            ++removed;
    }
    ::closedir(listing);
    return removed;
}

int sweep(const QString &folder)
{
    if (folder.isEmpty() || folder.contains(QChar(0)))
        return 0;
    const int dirFd = ::open(encodePath(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return 0;
    const int removed = sweep(dirFd);
    ::close(dirFd);
    return removed;
}

} // namespace platform::temporaries
