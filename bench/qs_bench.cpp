// The benchmark driver and the engine run without a window.
//
//   qs_bench run --work DIR [--work4 DIR] [--rounds N] [--only 1,2,3,4,5] [--files1 N]
//                [--files4 N]
//     makes its fixtures in DIR (workload 4's in --work4) and runs each workload against
//     its peer, interleaved: one warm-up round, then N measured rounds (unless told: 11 for
//     the short workloads 1, 2 and 5, 7 for 3, 5 for 4), and prints the medians.
//   qs_bench engine --src DIR --dst DIR --filter F [--filter F ...] [--dont-replace]
//                   [--log-file FILE]
//     one copy run of the engine (CopyRun, LogLines, a pump that does nothing), with
//     AdaptatFiltre 0 and no timestamps; prints "elapsed_ns", "lines" and "errors".
//
// Workloads, each against its peer:
//   1. 10,000 files of 4 KiB (--files1), *.txt, empty destination, replace branch
//      versus bash -c 'cp -p src/*.txt dst/'; and quillsift-copy SRC DST '*' as a script runs
//      it (default settings: timestamps on, every line to standard output, its copies flushed
//      to the device before it exits) against the same cp followed by sync -f DST
//   2. the same files already in the destination, don't-replace branch (all skipped)
//      versus bash -c 'cp -n -p src/*.txt dst/'
//   3. one file of 1 GiB versus cp -p
//   4. 100,000 files of 1 KiB, three filters that each select all of them, replace branch
//      (a pump after every file; 500,003 log lines), log file set: the copy window
//      (qs_bench_window) versus the engine alone on the same work, peak memory of the
//      window's process, and the window at 200,000 files
//   5. program start to the main window's first paint (qs_bench_start), the usage ping
//      going to a closed port on 127.0.0.1
// Times of 1 to 3 are those of the whole process, for both sides, from its start to its
// end; 4 compares the runs' own times.
//
// 1 to 3 run on the disk, as a user's copy does. Their destination folders are all new and
// are kept until the end (only the 1 GiB copies are removed between rounds): ext4 without
// a journal passes over inodes deleted less than a minute before, which slows whatever
// allocates next in that block group. 4 runs on a memory file system where there is one
// (--work4): it measures what the window adds to the engine, which a disk would bury, and
// with the disk the run would take many times the budget: on a file system with online
// discard and no journal, as here, every file replaced frees blocks and waits for the
// device's discard (cp -p's truncation waits the same way). Its destinations are removed
// after each run.
#include "BenchClock.h"

#include "copy/CopyEngine.h"
#include "platform/Error.h"
#include "platform/Paths.h"
#include "settings/Settings.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <linux/fs.h>
#include <map>
#include <netinet/in.h>
#include <set>
#include <spawn.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

// ---------------------------------------------------------------------------------------
// The engine run

int engineMain(int argc, char **argv)
{
    QString source;
    QString destination;
    QStringList filters;
    tyConfig config;
    config.DontReplace = false;
    config.AdaptatFiltre = 0;
    config.WithTimestamp = false;
    for (int i = 2; i < argc; ++i) {
        const bool hasValue = i + 1 < argc;
        if (std::strcmp(argv[i], "--dont-replace") == 0) {
            config.DontReplace = true;
        } else if (hasValue && std::strcmp(argv[i], "--src") == 0) {
            source = QString::fromLocal8Bit(argv[++i]);
        } else if (hasValue && std::strcmp(argv[i], "--dst") == 0) {
            destination = QString::fromLocal8Bit(argv[++i]);
        } else if (hasValue && std::strcmp(argv[i], "--filter") == 0) {
            filters.append(QString::fromLocal8Bit(argv[++i]));
        } else if (hasValue && std::strcmp(argv[i], "--log-file") == 0) {
            config.LogFile = QString::fromLocal8Bit(argv[++i]);
        } else {
            std::fprintf(stderr, "qs_bench engine: unknown argument %s\n", argv[i]);
            return 2;
        }
    }
    if (source.isEmpty() || destination.isEmpty() || filters.isEmpty()) {
        std::fprintf(stderr, "qs_bench engine: --src, --dst and --filter are needed\n");
        return 2;
    }

    LogLines log;
    const long long start = monotonicNs();
    try {
        CopyRun run(config, platform::includeTrailingDelimiter(source),
            platform::includeTrailingDelimiter(destination), log, [] {});
        run.runFilters(filters);
        run.appendLogFile();
    } catch (const AppError &error) {
        std::fprintf(stderr, "qs_bench engine: %s\n", error.message().toLocal8Bit().constData());
        return 1;
    }
    const long long elapsed = monotonicNs() - start;

    long long errors = 0;
    for (const QString &line : log.lines) {
        if (line.startsWith(u"Erreur")) {
            if (errors == 0)
                std::fprintf(stderr, "qs_bench engine: %s\n", line.toLocal8Bit().constData());
            ++errors;
        }
    }
    std::printf(
        "elapsed_ns %lld\nlines %lld\nerrors %lld\n", elapsed, (long long)log.size(), errors);
    return errors == 0 ? 0 : 1;
}

// ---------------------------------------------------------------------------------------
// Helpers of the driver

[[noreturn]] void fail(const std::string &what)
{
    std::fprintf(stderr, "qs_bench: %s\n", what.c_str());
    std::exit(1);
}

std::string errnoText(const std::string &what)
{
    return what + ": " + std::strerror(errno);
}

std::string selfDirectory()
{
    char buffer[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0)
        fail(errnoText("/proc/self/exe"));
    std::string path(buffer, size_t(n));
    return path.substr(0, path.rfind('/'));
}

std::string loadAverage()
{
    char buffer[128] = {};
    if (FILE *file = std::fopen("/proc/loadavg", "r")) {
        if (!std::fgets(buffer, sizeof buffer, file))
            buffer[0] = 0;
        std::fclose(file);
    }
    std::string text(buffer);
    // "0.52 0.58 0.59 1/234 5678": the three averages only.
    size_t cut = 0;
    for (int fields = 0; fields < 3 && cut != std::string::npos; ++fields)
        cut = text.find(' ', cut + 1);
    return text.substr(0, cut);
}

void makeDir(const std::string &path)
{
    if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST)
        fail(errnoText("mkdir " + path));
}

// ext4 places the sub-folders of a "top" folder in block groups of their own (chattr +T).
// Each destination then takes its inodes from its own group, so that what ext4 without a
// journal makes an allocation pay (it passes over the inodes deleted within the last
// minute, six while their table is not written back) is that side's own, and does not
// fall on whichever side comes first in a group both share. Best effort: other file
// systems refuse.
void spreadSubfolders(const std::string &path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    int flags = 0;
    if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
        flags |= FS_TOPDIR_FL;
        ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
    }
    ::close(fd);
}

// Content that no file system can compress or leave sparse.
class Noise
{
public:
    void fill(char *data, size_t size)
    {
        for (size_t i = 0; i < size; i += 8) {
            m_state ^= m_state << 13;
            m_state ^= m_state >> 7;
            m_state ^= m_state << 17;
            std::memcpy(data + i, &m_state, std::min<size_t>(8, size - i));
        }
    }

private:
    unsigned long long m_state = 0x9E3779B97F4A7C15ULL;
};

void writeFile(const std::string &path, const char *data, size_t size)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        fail(errnoText("create " + path));
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0)
            fail(errnoText("write " + path));
        done += size_t(n);
    }
    ::close(fd);
}

std::string numbered(long long i)
{
    char name[32];
    std::snprintf(name, sizeof name, "f%07lld.txt", i);
    return name;
}

// count files of size bytes, f0000000.txt upward.
void makeFiles(const std::string &dir, long long count, size_t size, Noise &noise)
{
    makeDir(dir);
    std::vector<char> data(size);
    for (long long i = 0; i < count; ++i) {
        noise.fill(data.data(), size);
        writeFile(dir + '/' + numbered(i), data.data(), size);
    }
}

void makeBigFile(const std::string &path, long long size, Noise &noise)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        fail(errnoText("create " + path));
    std::vector<char> data(size_t(8) << 20);
    for (long long done = 0; done < size;) {
        const size_t piece = size_t(std::min<long long>(size - done, (long long)data.size()));
        noise.fill(data.data(), piece);
        for (size_t written = 0; written < piece;) {
            const ssize_t n = ::write(fd, data.data() + written, piece - written);
            if (n <= 0)
                fail(errnoText("write " + path));
            written += size_t(n);
        }
        done += (long long)piece;
    }
    ::close(fd);
}

long long countEntries(const std::string &dir)
{
    DIR *listing = ::opendir(dir.c_str());
    if (!listing)
        return -1;
    long long count = 0;
    while (const dirent *entry = ::readdir(listing)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            ++count;
    }
    ::closedir(listing);
    return count;
}

long long fileSize(const std::string &path)
{
    struct stat st = {};
    return ::stat(path.c_str(), &st) == 0 ? (long long)st.st_size : -1;
}

// Every round starts with the file system's dirty data on disk, so that no side pays for
// the write-back of the other.
void flushFileSystem(const std::string &work)
{
    const int fd = ::open(work.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::syncfs(fd);
        ::close(fd);
    }
}

std::string shellQuoted(const std::string &text)
{
    std::string quoted = "'";
    for (const char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

std::vector<double> ratios(const std::vector<double> &a, const std::vector<double> &b)
{
    std::vector<double> result;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        result.push_back(b[i] > 0 ? a[i] / b[i] : 0);
    return result;
}

// ---------------------------------------------------------------------------------------
// Child processes

struct Child
{
    double seconds = 0; // from just before the spawn to the end of the wait
    long long startNs = 0;
    long maxRssKiB = 0;
    int status = -1;
    std::map<std::string, long long> values; // "key value" lines of its output

    long long value(const std::string &key) const
    {
        const auto found = values.find(key);
        return found == values.end() ? -1 : found->second;
    }
};

struct Settings
{
    std::string work;
    std::string binaries;
    std::string childLog; // the children's standard error
    std::string memWork; // workload 4's fixtures: a memory file system where there is one
    int rounds = 0; // measured rounds of every workload; 0: each workload's own number
    std::set<int> only;
    long long files1 = 10000;
    long long files4 = 100000;
};

Child runChild(const Settings &settings, const std::vector<std::string> &arguments,
    const std::map<std::string, std::string> &environment = {})
{
    std::vector<std::string> envStrings;
    for (char **entry = environ; *entry; ++entry) {
        const std::string text(*entry);
        if (!environment.count(text.substr(0, text.find('='))))
            envStrings.push_back(text);
    }
    for (const auto &[key, value] : environment)
        envStrings.push_back(key + '=' + value);
    std::vector<char *> envp;
    for (std::string &text : envStrings)
        envp.push_back(text.data());
    envp.push_back(nullptr);
    std::vector<std::string> argStrings = arguments;
    std::vector<char *> argv;
    for (std::string &text : argStrings)
        argv.push_back(text.data());
    argv.push_back(nullptr);

    int output[2];
    if (::pipe2(output, O_CLOEXEC) != 0)
        fail(errnoText("pipe"));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, output[1], 1);
    posix_spawn_file_actions_addopen(
        &actions, 2, settings.childLog.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);

    Child child;
    child.startNs = monotonicNs();
    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(output[1]);
    if (spawned != 0) {
        errno = spawned;
        fail(errnoText("spawn " + arguments[0]));
    }
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(output[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        text.append(buffer, size_t(n));
    }
    ::close(output[0]);
    int status = 0;
    rusage usage = {};
    while (::wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) { }
    child.seconds = double(monotonicNs() - child.startNs) / 1e9;
    child.maxRssKiB = usage.ru_maxrss;
    child.status = status;

    size_t at = 0;
    while (at < text.size()) {
        const size_t end = std::min(text.find('\n', at), text.size());
        const std::string line = text.substr(at, end - at);
        const size_t blank = line.find(' ');
        if (blank != std::string::npos)
            child.values[line.substr(0, blank)] = std::atoll(line.c_str() + blank + 1);
        at = end + 1;
    }
    return child;
}

bool succeeded(const Child &child)
{
    return WIFEXITED(child.status) && WEXITSTATUS(child.status) == 0;
}

void require(bool condition, const std::string &what, const Settings &settings)
{
    if (!condition)
        fail(what + " (the children's messages are in " + settings.childLog + ")");
}

// ---------------------------------------------------------------------------------------
// Report

struct Line
{
    std::string workload;
    std::string figures;
    std::string target;
    bool met = false;
};

std::vector<Line> report;

// The target of a figure that is reported for information only.
const std::string kNoTarget = "none";

void addLine(
    const std::string &workload, const std::string &figures, const std::string &target, bool met)
{
    report.push_back({ workload, figures, target, met });
    if (target == kNoTarget)
        std::printf("  -> %s: %s  [no target]\n", workload.c_str(), figures.c_str());
    else
        std::printf("  -> %s: %s  [target %s: %s]\n", workload.c_str(), figures.c_str(),
            target.c_str(), met ? "met" : "MISSED");
    std::fflush(stdout);
}

__attribute__((format(printf, 1, 2))) std::string format(const char *pattern, ...)
{
    char buffer[256];
    va_list arguments;
    va_start(arguments, pattern);
    std::vsnprintf(buffer, sizeof buffer, pattern, arguments);
    va_end(arguments);
    return buffer;
}

void printRounds(const char *label, const std::vector<double> &values, const char *unit = "s")
{
    std::printf("     %-28s", label);
    for (const double value : values)
        std::printf(" %8.3f", value);
    std::printf("  %s\n", unit);
}

// The A B A B ... loop: round 0 is the warm-up and is not kept; with warmUpSides, only the
// first sides run in it.
void interleave(const Settings &settings, int defaultRounds, const char *name,
    const std::vector<std::function<double(int round)>> &sides,
    std::vector<std::vector<double>> &results, size_t warmUpSides = 0)
{
    const int rounds = settings.rounds > 0 ? settings.rounds : defaultRounds;
    std::printf("   1 warm-up round + %d measured rounds\n", rounds);
    results.assign(sides.size(), {});
    for (int round = 0; round <= rounds; ++round) {
        std::fprintf(stderr, "  %s: %s %d/%d (load %s)\n", name, round == 0 ? "warm-up" : "round",
            round, rounds, loadAverage().c_str());
        for (size_t side = 0; side < sides.size(); ++side) {
            if (round == 0 && warmUpSides != 0 && side >= warmUpSides)
                continue;
            flushFileSystem(settings.work);
            const double value = sides[side](round);
            if (round > 0)
                results[side].push_back(value);
        }
    }
}

void header(const Settings &, const char *title)
{
    std::printf("\n%s\n   load average at start: %s\n", title, loadAverage().c_str());
    std::fflush(stdout);
}

void footer()
{
    std::printf("   load average at end:   %s\n", loadAverage().c_str());
    std::fflush(stdout);
}

// ---------------------------------------------------------------------------------------
// Workloads

std::vector<std::string> engineCommand(const Settings &settings, const std::string &src,
    const std::string &dst, const std::vector<std::string> &filters, bool dontReplace,
    const std::string &logFile = {})
{
    std::vector<std::string> command
        = { settings.binaries + "/qs_bench", "engine", "--src", src, "--dst", dst };
    for (const std::string &filter : filters) {
        command.push_back("--filter");
        command.push_back(filter);
    }
    if (dontReplace)
        command.push_back("--dont-replace");
    if (!logFile.empty()) {
        command.push_back("--log-file");
        command.push_back(logFile);
    }
    return command;
}

void smallFiles(const Settings &settings)
{
    const long long kFiles = settings.files1;
    const std::string base = settings.work + "/small";
    const std::string src = base + "/src";
    std::fprintf(stderr, "fixtures: %lld files of 4 KiB\n", kFiles);
    makeDir(base);
    spreadSubfolders(base);
    Noise noise;
    makeFiles(src, kFiles, 4096, noise);
    // The command's settings: the defaults, and not the user's own file.
    const std::string defaults = base + "/defaults.ini";
    writeFile(defaults, "[ACME]\r\n", 8);

    // 1: empty destination, replace branch, against cp -p.
    header(settings,
        format("1. %lld files of 4 KiB, *.txt, empty destination, replace branch, "
               "engine without window  vs  bash -c 'cp -p src/*.txt dst/'; "
               "quillsift-copy SRC DST '*', which flushes its copies at the end,  vs  the same cp "
               "&& sync -f DST",
            kFiles)
            .c_str());
    std::vector<double> inner;
    std::string filledDestination;
    const auto engine = [&](int round) {
        const std::string dst = base + "/q" + std::to_string(round);
        makeDir(dst);
        const Child child
            = runChild(settings, engineCommand(settings, src, dst, { "*.txt" }, false));
        require(
            succeeded(child) && child.value("lines") == kFiles + 1 && countEntries(dst) == kFiles,
            "workload 1: the engine did not copy every file", settings);
        if (round > 0)
            inner.push_back(double(child.value("elapsed_ns")) / 1e9);
        return child.seconds;
    };
    const auto copy = [&](int round) {
        const std::string dst = base + "/c" + std::to_string(round);
        makeDir(dst);
        const Child child = runChild(settings,
            { "/bin/bash", "-c",
                "cp -p " + shellQuoted(src) + "/*.txt " + shellQuoted(dst) + "/" });
        require(succeeded(child) && countEntries(dst) == kFiles,
            "workload 1: cp did not copy every file", settings);
        filledDestination = dst;
        return child.seconds;
    };
    const auto command = [&](int round) {
        const std::string dst = base + "/k" + std::to_string(round);
        makeDir(dst);
        const Child child = runChild(settings,
            { settings.binaries + "/../quillsift-copy", "--settings", defaults, src, dst, "*" });
        require(succeeded(child) && countEntries(dst) == kFiles,
            "workload 1: quillsift-copy did not copy every file", settings);
        return child.seconds;
    };
    // quillsift-copy writes its copies out to the device before it exits: like for like, cp's
    // copies are written out too.
    const auto copySynced = [&](int round) {
        const std::string dst = base + "/s" + std::to_string(round);
        makeDir(dst);
        const Child child = runChild(settings,
            { "/bin/bash", "-c",
                "cp -p " + shellQuoted(src) + "/*.txt " + shellQuoted(dst) + "/ && sync -f "
                    + shellQuoted(dst) });
        require(succeeded(child) && countEntries(dst) == kFiles,
            "workload 1: cp && sync did not copy every file", settings);
        return child.seconds;
    };
    std::vector<std::vector<double>> results;
    interleave(settings, 11, "workload 1", { engine, copy, command, copySynced }, results);
    printRounds("Quill Sift engine (process)", results[0]);
    printRounds("  of which the run itself", inner);
    printRounds("cp -p", results[1]);
    printRounds("quillsift-copy", results[2]);
    printRounds("cp -p && sync -f", results[3]);
    double ratio = median(ratios(results[0], results[1]));
    const std::string files = format("%lld x 4 KiB", kFiles);
    addLine("1 (" + files + ", replace)",
        format("Quill Sift %.3f s, cp -p %.3f s, ratio %.3f", median(results[0]),
            median(results[1]), ratio),
        "<= 1.15", ratio <= 1.15);
    const double commandRatio = median(ratios(results[2], results[3]));
    addLine("1 (quillsift-copy)",
        format("quillsift-copy %.3f s, cp -p && sync -f %.3f s, ratio %.3f", median(results[2]),
            median(results[3]), commandRatio),
        "<= 1.15", commandRatio <= 1.15);
    footer();

    // 2: every file already there, don't-replace branch, against cp -n -p.
    header(settings,
        format("2. the same %lld files already in the destination, don't-replace "
               "branch  vs  bash -c 'cp -n -p src/*.txt dst/'",
            kFiles)
            .c_str());
    inner.clear();
    const auto skipEngine = [&](int round) {
        const Child child = runChild(
            settings, engineCommand(settings, src, filledDestination, { "*.txt" }, true));
        require(succeeded(child) && child.value("lines") == kFiles + 1,
            "workload 2: the engine run failed", settings);
        if (round > 0)
            inner.push_back(double(child.value("elapsed_ns")) / 1e9);
        return child.seconds;
    };
    const auto skipCopy = [&](int) {
        const Child child = runChild(settings,
            { "/bin/bash", "-c",
                "cp -n -p " + shellQuoted(src) + "/*.txt " + shellQuoted(filledDestination)
                    + "/" });
        require(succeeded(child), "workload 2: cp -n failed", settings);
        return child.seconds;
    };
    interleave(settings, 11, "workload 2", { skipEngine, skipCopy }, results);
    printRounds("Quill Sift engine (process)", results[0]);
    printRounds("  of which the run itself", inner);
    printRounds("cp -n -p", results[1]);
    ratio = median(ratios(results[0], results[1]));
    addLine("2 (" + files + ", all skipped)",
        format("Quill Sift %.3f s, cp -n -p %.3f s, ratio %.3f", median(results[0]),
            median(results[1]), ratio),
        "<= 1.2", ratio <= 1.2);
    footer();
}

void bigFile(const Settings &settings)
{
    constexpr long long kSize = 1LL << 30;
    const std::string base = settings.work + "/big";
    const std::string src = base + "/src";
    std::fprintf(stderr, "fixtures: one file of 1 GiB\n");
    makeDir(base);
    spreadSubfolders(base);
    makeDir(src);
    Noise noise;
    makeBigFile(src + "/big.bin", kSize, noise);

    header(settings, "3. one file of 1 GiB  vs  cp -p");
    std::vector<double> inner;
    const auto engine = [&](int round) {
        const std::string dst = base + "/q" + std::to_string(round);
        makeDir(dst);
        const Child child
            = runChild(settings, engineCommand(settings, src, dst, { "big.bin" }, false));
        require(succeeded(child) && fileSize(dst + "/big.bin") == kSize,
            "workload 3: the engine did not copy the file", settings);
        if (round > 0)
            inner.push_back(double(child.value("elapsed_ns")) / 1e9);
        ::unlink((dst + "/big.bin").c_str());
        return child.seconds;
    };
    const auto copy = [&](int round) {
        const std::string dst = base + "/c" + std::to_string(round);
        makeDir(dst);
        const Child child = runChild(settings, { "/bin/cp", "-p", src + "/big.bin", dst + "/" });
        require(succeeded(child) && fileSize(dst + "/big.bin") == kSize,
            "workload 3: cp did not copy the file", settings);
        ::unlink((dst + "/big.bin").c_str());
        return child.seconds;
    };
    std::vector<std::vector<double>> results;
    interleave(settings, 7, "workload 3", { engine, copy }, results);
    printRounds("Quill Sift engine (process)", results[0]);
    printRounds("  of which the run itself", inner);
    printRounds("cp -p", results[1]);
    const double ratio = median(ratios(results[0], results[1]));
    addLine("3 (1 GiB)",
        format("Quill Sift %.3f s, cp -p %.3f s, ratio %.3f", median(results[0]),
            median(results[1]), ratio),
        "<= 1.05", ratio <= 1.05);
    footer();
    ::unlink((src + "/big.bin").c_str());
}

// Removes a folder and everything in it (between rounds, not timed).
void removeTree(const Settings &settings, const std::string &path)
{
    const Child child = runChild(settings, { "/bin/rm", "-rf", path });
    require(succeeded(child), "cannot remove " + path, settings);
}

std::string fileSystemType(const std::string &path)
{
    struct statfs info = {};
    if (::statfs(path.c_str(), &info) != 0)
        return "?";
    switch ((unsigned long)info.f_type) {
    case 0x01021994UL:
        return "tmpfs";
    case 0xEF53UL:
        return "ext4";
    case 0x9123683EUL:
        return "btrfs";
    case 0x58465342UL:
        return "xfs";
    default:
        return "type " + std::to_string((unsigned long)info.f_type);
    }
}

void copyWindow(const Settings &settings)
{
    const long long files = settings.files4;
    const long long twice = 2 * files;
    // The sources, and one destination at a time; a small file takes a page (or a block)
    // and an inode.
    const long long needed = (files + twice + twice) * (4096 + 1024);
    struct statvfs space = {};
    if (::statvfs(settings.memWork.c_str(), &space) == 0
        && (long long)space.f_bavail * (long long)space.f_frsize < needed) {
        std::printf("\n4. skipped: it needs about %.1f GiB free in %s\n",
            double(needed) / double(1LL << 30), settings.memWork.c_str());
        report.push_back({ "4 (copy window)", "skipped, not enough free space", "", false });
        return;
    }

    const std::string base = settings.memWork + "/window";
    const std::string src = base + "/src";
    const std::string src2 = base + "/src2";
    std::fprintf(
        stderr, "fixtures: %lld and %lld files of 1 KiB in %s\n", files, twice, base.c_str());
    makeDir(base);
    Noise noise;
    makeFiles(src, files, 1024, noise);
    makeFiles(src2, twice, 1024, noise);
    const std::vector<std::string> filters = { "*.txt", "f*", "*" };
    const auto expectedLines = [](long long count) { return 3 + 5 * count; };

    char title[768];
    std::snprintf(title, sizeof title,
        "4. %lld files of 1 KiB, filters *.txt f* * (each selects all: %lld files handled, "
        "%lld log lines), replace branch (a pump after every file), log file set: the copy "
        "window under offscreen  vs  the engine alone; then the window at %lld files\n"
        "   fixtures in %s (%s)",
        files, 3 * files, expectedLines(files), twice, base.c_str(), fileSystemType(base).c_str());
    header(settings, title);
    const std::map<std::string, std::string> offscreen
        = { { "QT_QPA_PLATFORM", "offscreen" }, { "QT_LOGGING_RULES", "qt.qpa.*=false" } };
    std::vector<double> engineMiB;
    std::vector<double> windowMiB;
    std::vector<double> window2MiB;
    const auto engine = [&](int round) {
        const std::string dst = base + "/e" + std::to_string(round);
        makeDir(dst);
        const Child child
            = runChild(settings, engineCommand(settings, src, dst, filters, false, dst + ".log"));
        require(succeeded(child) && child.value("lines") == expectedLines(files)
                && countEntries(dst) == files,
            "workload 4: the engine run failed", settings);
        if (round > 0)
            engineMiB.push_back(double(child.maxRssKiB) / 1024);
        removeTree(settings, dst);
        ::unlink((dst + ".log").c_str());
        return double(child.value("elapsed_ns")) / 1e9;
    };
    const auto window = [&](const std::string &source, long long count, const char *prefix,
                            std::vector<double> &mebibytes, int round) {
        const std::string dst = base + "/" + prefix + std::to_string(round);
        makeDir(dst);
        std::vector<std::string> command = { settings.binaries + "/qs_bench_window", "--src",
            source, "--dst", dst, "--log-file", dst + ".log" };
        for (const std::string &filter : filters) {
            command.push_back("--filter");
            command.push_back(filter);
        }
        const Child child = runChild(settings, command, offscreen);
        require(succeeded(child) && child.value("lines") == expectedLines(count)
                && countEntries(dst) == count,
            "workload 4: the window run failed", settings);
        if (round > 0)
            mebibytes.push_back(double(child.maxRssKiB) / 1024);
        removeTree(settings, dst);
        ::unlink((dst + ".log").c_str());
        return double(child.value("elapsed_ns")) / 1e9;
    };
    std::vector<std::vector<double>> results;
    // The warm-up runs the engine and the window once; the larger run needs no warm-up of
    // its own.
    interleave(settings, 5, "workload 4",
        { engine, [&](int round) { return window(src, files, "w", windowMiB, round); },
            [&](int round) { return window(src2, twice, "x", window2MiB, round); } },
        results, 2);
    printRounds("engine alone", results[0]);
    printRounds("copy window", results[1]);
    printRounds("copy window, twice the files", results[2]);
    printRounds("engine peak memory", engineMiB, "MiB");
    printRounds("window peak memory", windowMiB, "MiB");
    printRounds("window peak, twice the files", window2MiB, "MiB");
    const double ratio = median(ratios(results[1], results[0]));
    addLine("4 (copy window / engine)",
        format("window %.2f s, engine %.2f s, ratio %.3f", median(results[1]), median(results[0]),
            ratio),
        "<= 1.6", ratio <= 1.6);
    const double peak = *std::max_element(windowMiB.begin(), windowMiB.end());
    addLine("4 (window peak memory)",
        format("%.0f MiB (largest of the rounds; %.0f MiB at twice the files)", peak,
            *std::max_element(window2MiB.begin(), window2MiB.end())),
        "<= 250 MiB", peak <= 250);
    const double growth = median(ratios(results[2], results[1]));
    addLine("4 (growth, twice the files)",
        format("%.2f s against %.2f s, ratio %.3f", median(results[2]), median(results[1]), growth),
        "<= 2.2", growth <= 2.2);
    footer();
    removeTree(settings, base);
}

void startUp(const Settings &settings)
{
    // A port that nobody listens on for as long as the socket stays bound: the connection
    // is refused at once.
    const int closedPort = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (closedPort < 0 || ::bind(closedPort, reinterpret_cast<sockaddr *>(&address), length) != 0
        || ::getsockname(closedPort, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        fail(errnoText("closed port"));
    const std::string url = "https://127.0.0.1:" + std::to_string(ntohs(address.sin_port));

    // A home of its own: the settings folder and its files are made by the warm-up, and
    // read by every measured start, as on a user's machine.
    const std::string home = settings.work + "/home";
    makeDir(home);
    makeDir(home + "/config");
    makeDir(home + "/data");
    makeDir(home + "/cache");
    makeDir(home + "/tmp");
    const std::map<std::string, std::string> environment = { { "HOME", home },
        { "XDG_CONFIG_HOME", home + "/config" }, { "XDG_DATA_HOME", home + "/data" },
        { "XDG_CACHE_HOME", home + "/cache" }, { "TMPDIR", home + "/tmp" },
        { "QT_QPA_PLATFORM", "offscreen" }, { "QT_LOGGING_RULES", "qt.qpa.*=false" } };

    header(settings,
        ("5. program start to the main window's first paint, usage ping to " + url + " (closed)")
            .c_str());
    const auto start = [&](int) {
        const Child child
            = runChild(settings, { settings.binaries + "/qs_bench_start", url }, environment);
        require(succeeded(child) && child.values.count("shown_ns"),
            "workload 5: the main window was not shown", settings);
        return double(child.value("shown_ns") - child.startNs) / 1e9;
    };
    std::vector<std::vector<double>> results;
    interleave(settings, 11, "workload 5", { start }, results);
    ::close(closedPort);
    printRounds("start to main window shown", results[0]);
    const double shown = median(results[0]);
    addLine("5 (start to main window)", format("%.3f s", shown), "<= 0.5 s", shown <= 0.5);
    footer();
}

int runMain(int argc, char **argv)
{
    Settings settings;
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        const std::string value = argv[i + 1];
        if (option == "--work") {
            settings.work = value;
        } else if (option == "--work4") {
            settings.memWork = value;
        } else if (option == "--rounds") {
            settings.rounds = std::max(1, std::atoi(value.c_str()));
        } else if (option == "--files1") {
            settings.files1 = std::max(1LL, std::atoll(value.c_str()));
        } else if (option == "--files4") {
            settings.files4 = std::max(1LL, std::atoll(value.c_str()));
        } else if (option == "--only") {
            for (const char c : value) {
                if (c >= '1' && c <= '5')
                    settings.only.insert(c - '0');
            }
        } else {
            fail("unknown option " + option);
        }
    }
    if (settings.work.empty() || argc % 2 != 0)
        fail("usage: qs_bench run --work DIR [--work4 DIR] [--rounds N] [--only 1,2,3,4,5] "
             "[--files1 N] [--files4 N]");
    if (settings.memWork.empty())
        settings.memWork = settings.work;
    settings.binaries = selfDirectory();
    settings.childLog = settings.work + "/children.log";
    spreadSubfolders(settings.work);
    const auto wanted = [&settings](int workload) {
        return settings.only.empty() || settings.only.count(workload) != 0;
    };

    std::printf("each workload: one warm-up round, then its measured rounds, the sides "
                "interleaved (A B A B ...); times are medians over the measured rounds, ratios "
                "the median of the per-round ratios\n");
    if (wanted(1) || wanted(2))
        smallFiles(settings);
    if (wanted(3))
        bigFile(settings);
    if (wanted(5))
        startUp(settings);
    if (wanted(4))
        copyWindow(settings);

    std::printf("\nSummary\n");
    bool all = true;
    for (const Line &line : report) {
        std::printf("  %-32s %-70s %-12s %s\n", line.workload.c_str(), line.figures.c_str(),
            line.target.c_str(),
            line.target == kNoTarget ? "-"
                : line.met           ? "met"
                                     : "MISSED");
        all = all && line.met;
    }
    return all ? 0 : 3;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc >= 2 && std::strcmp(argv[1], "engine") == 0)
        return engineMain(argc, argv);
    if (argc >= 2 && std::strcmp(argv[1], "run") == 0)
        return runMain(argc, argv);
    std::fprintf(stderr,
        "usage: qs_bench run --work DIR [--work4 DIR] [--rounds N] [--only 1,2,3,4,5] [--files1 "
        "N] [--files4 N]\n"
        "       qs_bench engine --src DIR --dst DIR --filter F ... [--dont-replace] "
        "[--log-file FILE]\n");
    return 2;
}
