// quillsift-copy onto the file systems users copy to, each mounted by the test itself
// (tests/fs/mount-fs): USB sticks (FAT32, exFAT), NTFS disks, btrfs, xfs, tmpfs, an SSH share
// and an SMB share mounted the desktop way (gvfs). The program copies from a local folder; on
// the same mount `cp -p` copies the same files, and the program must do no worse: where cp
// keeps a file, its mode, its time or its holes, the program keeps them too, and where the
// file system refuses a name the program says so in French.
//
// The file system is the one QS_FS names (one test program per file system, see
// CMakeLists.txt); file names travel as bytes, as Linux names are bytes.
#include "support/Fixtures.h"

#include <QByteArray>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <set>
#include <string>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// What each file system holds, as observed with cp -p on these mounts.
struct FileSystem
{
    const char *kind;
    bool caseInsensitive; // "A.TXT" and "a.txt" are one file
    bool holdsModes; // chmod is kept (else every file shows the mount's fixed mode)
    long long timeResolutionNs; // of the modification time kept
    bool needsPort; // a server on 127.0.0.1
};

const FileSystem kFileSystems[] = {
    { "fat32", true, false, 2'000'000'000, false }, // fusefat -o rw+
    { "exfat", true, false, 1'000'000'000, false }, // exfat-fuse keeps whole seconds
    { "ntfs", false, false, 100, false }, // ntfs-3g without "permissions"
    { "btrfs", false, true, 1, false },
    { "xfs", false, true, 1, false },
    { "tmpfs", false, true, 1, false },
    { "sshfs", false, true, 1'000'000'000, true }, // SFTP times are whole seconds
    { "smb", true, false, 1'000'000'000, true }, // smbd through gvfs, whole seconds
};

using Names = std::set<std::string>;

std::string toBytes(const QString &path)
{
    return QFile::encodeName(path).toStdString();
}

Names listing(const std::string &folder)
{
    Names names;
    DIR *dir = opendir(folder.c_str());
    if (!dir) {
        ADD_FAILURE() << "cannot read " << folder;
        return names;
    }
    while (const dirent *entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.insert(name);
    }
    closedir(dir);
    return names;
}

std::string describe(const Names &names)
{
    std::string text;
    for (const std::string &name : names)
        text += (text.empty() ? "" : ", ") + name;
    return "{" + text + "}";
}

std::string folded(std::string name)
{
    for (char &c : name)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return name;
}

// By the path's bytes (a QFile would take the name as text).
QByteArray readAll(const std::string &path)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return "<unreadable>";
    QByteArray content;
    char buffer[1 << 16];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0)
        content.append(buffer, n);
    close(fd);
    return content;
}

// The file holds exactly these bytes (said briefly: contents can be megabytes).
testing::AssertionResult holds(const std::string &path, const QByteArray &expected)
{
    struct stat st = {};
    if (lstat(path.c_str(), &st) != 0)
        return testing::AssertionFailure() << path << " is missing";
    const QByteArray content = readAll(path);
    if (content == expected)
        return testing::AssertionSuccess();
    qsizetype at = 0;
    while (at < content.size() && at < expected.size() && content[at] == expected[at])
        ++at;
    return testing::AssertionFailure() << path << " holds " << content.size() << " bytes, not the "
                                       << expected.size() << " expected; they differ from byte "
                                       << at;
}

struct stat statOf(const std::string &path)
{
    struct stat st = {};
    EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
    return st;
}

long long nanoseconds(const timespec &t)
{
    return static_cast<long long>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

// Deterministic content that differs from file to file and from place to place.
QByteArray pattern(qsizetype size, char salt)
{
    QByteArray bytes(size, Qt::Uninitialized);
    quint32 x = 2463534242u + static_cast<quint8>(salt);
    for (qsizetype i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        bytes[i] = static_cast<char>(x);
    }
    return bytes;
}

// A file with the given content, mode and times (seconds since the epoch plus nanoseconds).
void makeFile(const std::string &path, const QByteArray &content, mode_t mode = 0644,
    long long mtimeSec = 1'615'000'007, long nsec = 123'456'789)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(fd, 0) << path;
    ASSERT_EQ(write(fd, content.constData(), static_cast<size_t>(content.size())), content.size());
    // A file system without modes (FAT) refuses the change, as it refuses cp's.
    if (fchmod(fd, mode) != 0) {
        ASSERT_TRUE(errno == ENOSYS || errno == EPERM || errno == EOPNOTSUPP) << path;
    }
    ASSERT_EQ(close(fd), 0);
    // By path after the close: an SMB server sets the time at the last close of the file.
    const timespec times[2] = { { mtimeSec - 86400, 0 }, { mtimeSec, nsec } };
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

// A sparse file: data of the given size at each offset, holes elsewhere up to size.
void makeSparseFile(const std::string &path, off_t size, const std::vector<off_t> &dataAt,
    qsizetype dataSize)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0) << path;
    for (const off_t offset : dataAt) {
        const QByteArray data = pattern(dataSize, static_cast<char>(offset >> 20));
        ASSERT_EQ(pwrite(fd, data.constData(), static_cast<size_t>(data.size()), offset),
            data.size());
    }
    ASSERT_EQ(ftruncate(fd, size), 0);
    ASSERT_EQ(close(fd), 0);
}

// Removes a folder and what it holds, by their bytes (QDir decodes names, and cannot remove
// one that is not UTF-8), without crossing into another mount.
void removeTree(const std::string &folder)
{
    nftw(
        folder.c_str(),
        [](const char *path, const struct stat *, int, FTW *) {
            remove(path); // what cannot go is left for the folder's own removal
            return 0;
        },
        16, FTW_DEPTH | FTW_PHYS | FTW_MOUNT);
}

int freePort()
{
    const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (s < 0 || bind(s, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
        || getsockname(s, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        if (s >= 0)
            close(s);
        return 0;
    }
    close(s);
    return ntohs(address.sin_port);
}

struct Outcome
{
    int status = -1;
    QStringList lines;
    QString text() const { return lines.join(u'\n'); }
    qsizetype count(const QString &prefix) const
    {
        return std::count_if(
            lines.begin(), lines.end(), [&](const QString &l) { return l.startsWith(prefix); });
    }
};

// The mounted file system, shared by every test of the program: mounted once, taken down
// once, also when a test fails.
class Mount
{
public:
    const FileSystem *fs = nullptr;
    std::string mountPoint; // where copies go
    std::string backing; // the same files on the server's disk (the mount point otherwise)
    QString failure; // why nothing is mounted

    void up()
    {
        const QByteArray kind = qgetenv("QS_FS");
        for (const FileSystem &candidate : kFileSystems) {
            if (kind == candidate.kind)
                fs = &candidate;
        }
        if (!fs) {
            failure = QStringLiteral("QS_FS names no known file system: ") + QString::fromUtf8(kind);
            return;
        }
        if (geteuid() != 0) {
            failure = QStringLiteral("mounting needs root");
            return;
        }
        m_dir = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/qs-fs-XXXXXX"));
        QStringList arguments { QStringLiteral("up"), QString::fromLatin1(fs->kind),
            m_dir->filePath(QStringLiteral("work")) };
        if (fs->needsPort)
            arguments << QString::number(freePort());
        QProcess script;
        script.start(QStringLiteral(QS_MOUNT_FS), arguments);
        if (!script.waitForFinished(90000)) {
            script.kill();
            script.waitForFinished();
            failure = QStringLiteral("mount-fs up did not end within 90 s");
            return;
        }
        const QString err = QString::fromLocal8Bit(script.readAllStandardError()).trimmed();
        if (script.exitStatus() != QProcess::NormalExit || script.exitCode() != 0) {
            failure = QStringLiteral("cannot mount ") + QString::fromLatin1(fs->kind)
                + QStringLiteral(": ") + err;
            return;
        }
        for (const QByteArray &line : script.readAllStandardOutput().split('\n')) {
            if (line.startsWith("mount="))
                mountPoint = line.mid(6).toStdString();
            else if (line.startsWith("backing="))
                backing = line.mid(8).toStdString();
        }
        if (mountPoint.empty() || backing.empty())
            failure = QStringLiteral("mount-fs up said nowhere it mounted: ") + err;
    }

    void down()
    {
        if (!m_dir)
            return;
        QProcess script;
        script.start(QStringLiteral(QS_MOUNT_FS),
            { QStringLiteral("down"), m_dir->filePath(QStringLiteral("work")) });
        if (!script.waitForFinished(60000) || script.exitCode() != 0) {
            ADD_FAILURE() << "mount-fs down failed: " << script.readAllStandardError().toStdString();
            m_dir->setAutoRemove(false);
        } else {
            removeTree(toBytes(m_dir->path()));
        }
        m_dir.reset();
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

Mount &mount()
{
    static Mount instance;
    return instance;
}

class Destination : public testsupport::TempDirTest
{
protected:
    static void SetUpTestSuite() { mount().up(); }
    static void TearDownTestSuite() { mount().down(); }

    void SetUp() override
    {
        TempDirTest::SetUp();
        ASSERT_TRUE(mount().failure.isEmpty()) << mount().failure.toStdString();
        fs = mount().fs;
        const std::string test = testing::UnitTest::GetInstance()->current_test_info()->name();
        onMount = mount().mountPoint + "/" + test;
        onBacking = mount().backing + "/" + test;
        ASSERT_EQ(mkdir(onMount.c_str(), 0755), 0) << onMount;
        src = toBytes(makeDir(QStringLiteral("src")));
    }

    void TearDown() override { removeTree(src); }

    // A fresh folder on the mount.
    std::string destination(const std::string &name) const
    {
        const std::string folder = onMount + "/" + name;
        EXPECT_EQ(mkdir(folder.c_str(), 0755), 0) << folder;
        return folder;
    }

    // The same folder on the server's disk.
    std::string backingOf(const std::string &folder) const
    {
        return onBacking + folder.substr(onMount.size());
    }

    Outcome copy(const std::string &from, const std::string &to, bool dontReplace,
        const QStringList &filters = { QStringLiteral("*") }) const
    {
        QProcess process;
        start(process, from, to, dontReplace, filters);
        Outcome run;
        if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit) {
            ADD_FAILURE() << "quillsift-copy did not end normally";
            process.kill();
            process.waitForFinished();
            return run;
        }
        run.status = process.exitCode();
        run.lines = QString::fromUtf8(process.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
        const QByteArray err = process.readAllStandardError();
        EXPECT_EQ(err, QByteArray());
        // Whatever failed, it failed in words: no bare error number.
        EXPECT_EQ(run.count(QStringLiteral("Erreur: Erreur système")), 0) << run.text().toStdString();
        return run;
    }

    void start(QProcess &process, const std::string &from, const std::string &to,
        bool dontReplace, const QStringList &filters) const
    {
        const QString settings = writeFile(QStringLiteral("settings.ini"),
            QByteArray("[ACME]\r\nDontReplace=") + (dontReplace ? "1" : "0")
                + "\r\nAdaptatFiltre=0\r\nWithTimestamp=0\r\n");
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), makeDir(QStringLiteral("config")));
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(QS_COPY_PROGRAM),
            QStringList { QStringLiteral("--settings"), settings,
                QFile::decodeName(QByteArray::fromStdString(from)),
                QFile::decodeName(QByteArray::fromStdString(to)) }
                + filters);
        ASSERT_TRUE(process.waitForStarted());
    }

    // cp -p (or cp -n -p) of one file into a folder: what the same mount allows. Run
    // without QProcess, whose arguments are text: a name that is not UTF-8 must reach cp as
    // its bytes.
    static int cp(const std::string &file, const std::string &folder, bool noClobber = false)
    {
        const std::string target = folder + "/";
        std::vector<const char *> argv { "cp", "-p" };
        if (noClobber)
            argv.push_back("-n");
        argv.insert(argv.end(), { file.c_str(), target.c_str(), nullptr });
        const pid_t child = fork();
        if (child == 0) {
            const int null = open("/dev/null", O_WRONLY);
            dup2(null, STDERR_FILENO);
            execvp("cp", const_cast<char *const *>(argv.data()));
            _exit(127);
        }
        int status = 0;
        if (child < 0 || waitpid(child, &status, 0) != child)
            return -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    QString copyLine(const std::string &from, const std::string &to, const std::string &name) const
    {
        return QStringLiteral("Copie du fichier \"") + QFile::decodeName((from + "/" + name).c_str())
            + QStringLiteral("\" vers \"") + QFile::decodeName((to + "/" + name).c_str())
            + QStringLiteral("\"");
    }

    const FileSystem *fs = nullptr;
    std::string onMount;
    std::string onBacking;
    std::string src;
};

// New files: content exact; the mode as cp -p keeps it on this mount; the modification time
// to the file system's resolution (cp -p loses it on SMB through gvfs, where the server sets
// the time at the last close: there the copy does better).
TEST_F(Destination, newFiles_areCopiedWhole_withTheModeCpKeepsAndTheirTime)
{
    const struct
    {
        const char *name;
        QByteArray content;
        mode_t mode;
        long long mtime;
        long nsec;
    } files[] = {
        { "texte.txt", "bonjour\n", 0644, 1'615'000'007, 123'456'789 },
        { "vide.txt", "", 0600, 1'600'000'001, 999'999'999 },
        { "script.sh", "#!/bin/sh\necho oui\n", 0755, 1'500'000'003, 1 },
        { "gros.bin", pattern(3 << 20, 'g'), 0640, 1'700'000'005, 500'000'000 },
    };
    Names names;
    for (const auto &f : files) {
        makeFile(src + "/" + f.name, f.content, f.mode, f.mtime, f.nsec);
        names.insert(f.name);
    }
    const std::string ours = destination("ours");
    const std::string theirs = destination("cp");

    const Outcome run = copy(src, ours, false);

    EXPECT_EQ(run.status, 0) << run.text().toStdString();
    EXPECT_EQ(run.count(QStringLiteral("Erreur")), 0) << run.text().toStdString();
    EXPECT_EQ(listing(ours), names) << describe(listing(ours));
    for (const auto &f : files) {
        SCOPED_TRACE(f.name);
        EXPECT_TRUE(run.lines.contains(copyLine(src, ours, f.name))) << run.text().toStdString();
        cp(src + "/" + f.name, theirs);
        EXPECT_TRUE(holds(theirs + "/" + f.name, f.content)) << "cp -p itself";
        const testing::AssertionResult copied = holds(ours + "/" + f.name, f.content);
        if (!copied) {
            ADD_FAILURE() << copied.message();
            continue;
        }
        const struct stat mine = statOf(ours + "/" + f.name);
        const struct stat cps = statOf(theirs + "/" + f.name);
        EXPECT_EQ(mine.st_mode, cps.st_mode);
        if (fs->holdsModes) {
            EXPECT_EQ(mine.st_mode & 07777, f.mode);
        }
        EXPECT_LT(std::llabs(nanoseconds(mine.st_mtim) - (f.mtime * 1'000'000'000 + f.nsec)),
            fs->timeResolutionNs);
    }
}

TEST_F(Destination, replace_putsTheNewContentAndTimeInEveryExistingTarget)
{
    const std::string ours = destination("ours");
    const struct
    {
        const char *name;
        QByteArray old;
        QByteArray now;
    } files[] = {
        // Shorter than the old content: nothing of it may remain.
        { "court.txt", "un ancien contenu bien plus long", "neuf", },
        { "long.bin", pattern(1 << 20, 'o'), pattern(2 << 20, 'n') },
    };
    for (const auto &f : files) {
        makeFile(ours + "/" + f.name, f.old, 0600, 1'400'000'000, 0);
        makeFile(src + "/" + f.name, f.now, 0644, 1'615'000'007, 0);
    }

    const Outcome run = copy(src, ours, false);

    EXPECT_EQ(run.status, 0) << run.text().toStdString();
    EXPECT_EQ(listing(ours), Names({ "court.txt", "long.bin" })) << describe(listing(ours));
    for (const auto &f : files) {
        SCOPED_TRACE(f.name);
        EXPECT_TRUE(run.lines.contains(QStringLiteral("Attention: Le fichier \"")
            + QFile::decodeName((ours + "/" + f.name).c_str())
            + QStringLiteral("\" existe déjà, il va être remplacé.")))
            << run.text().toStdString();
        EXPECT_TRUE(holds(ours + "/" + f.name, f.now));
        EXPECT_LT(std::llabs(nanoseconds(statOf(ours + "/" + f.name).st_mtim)
                      - 1'615'000'007'000'000'000LL),
            fs->timeResolutionNs);
    }
}

TEST_F(Destination, dontReplace_copiesTheNewFileAndLeavesTheExistingOne)
{
    const std::string ours = destination("ours");
    makeFile(ours + "/existant.txt", "ancien", 0644, 1'400'000'000, 0);
    const long long oldTime = nanoseconds(statOf(ours + "/existant.txt").st_mtim);
    makeFile(src + "/existant.txt", "nouveau");
    makeFile(src + "/nouveau.txt", "tout neuf");

    const Outcome run = copy(src, ours, true);

    EXPECT_EQ(run.status, 0) << run.text().toStdString();
    EXPECT_EQ(run.text().toStdString(),
        QStringList({ QStringLiteral("Filtre: \"*\"  (\"*\")"),
            QStringLiteral("Le fichier \"") + QFile::decodeName((ours + "/existant.txt").c_str())
                + QStringLiteral("\" existe déjà."),
            copyLine(src, ours, "nouveau.txt") })
            .join(u'\n')
            .toStdString());
    EXPECT_EQ(listing(ours), Names({ "existant.txt", "nouveau.txt" })) << describe(listing(ours));
    EXPECT_TRUE(holds(ours + "/existant.txt", "ancien"));
    EXPECT_EQ(nanoseconds(statOf(ours + "/existant.txt").st_mtim), oldTime);
    EXPECT_TRUE(holds(ours + "/nouveau.txt", "tout neuf"));
}

// "rapport.txt" copied where "Rapport.TXT" is: on a file system that ignores case they are one
// file, which cp replaces (or, with -n, leaves); elsewhere they are two.
TEST_F(Destination, nameDifferingOnlyInCase_endsAsCpLeavesIt)
{
    makeFile(src + "/rapport.txt", "nouveau");
    for (const bool dontReplace : { false, true }) {
        SCOPED_TRACE(dontReplace ? "don't replace" : "replace");
        const std::string ours = destination(dontReplace ? "ours-n" : "ours");
        const std::string theirs = destination(dontReplace ? "cp-n" : "cp");
        makeFile(ours + "/Rapport.TXT", "ancien");
        makeFile(theirs + "/Rapport.TXT", "ancien");

        const Outcome run = copy(src, ours, dontReplace);
        cp(src + "/rapport.txt", theirs, dontReplace);

        EXPECT_EQ(run.status, 0) << run.text().toStdString();
        const Names mine = listing(ours);
        const Names cps = listing(theirs);
        ASSERT_EQ(mine.size(), cps.size()) << describe(mine) << " against cp's " << describe(cps);
        ASSERT_EQ(mine.size(), fs->caseInsensitive ? 1u : 2u) << describe(mine);
        if (fs->caseInsensitive) {
            // Either spelling names the one file; what it holds is what cp left.
            EXPECT_EQ(folded(*mine.begin()), "rapport.txt");
            EXPECT_EQ(readAll(ours + "/rapport.txt"), readAll(theirs + "/rapport.txt"));
            EXPECT_TRUE(holds(ours + "/rapport.txt", dontReplace ? "ancien" : "nouveau"));
            EXPECT_TRUE(run.text().contains(QStringLiteral("existe déjà"))) << run.text().toStdString();
        } else {
            EXPECT_EQ(mine, cps);
            EXPECT_TRUE(holds(ours + "/Rapport.TXT", "ancien"));
            EXPECT_TRUE(holds(ours + "/rapport.txt", "nouveau"));
        }
    }
}

// A file with holes takes no more room than cp's copy of it (where the file system holds
// holes, it stays sparse), measured on the disk that holds the files.
TEST_F(Destination, sparseFile_takesNoMoreRoomThanCpsCopy)
{
    const off_t mib = 1 << 20;
    makeSparseFile(src + "/creux.img", 8 * mib, { 2 * mib, 5 * mib }, 64 << 10);
    makeSparseFile(src + "/vide.img", 4 * mib, {}, 0);
    const std::string ours = destination("ours");
    const std::string theirs = destination("cp");

    const Outcome run = copy(src, ours, false);

    int failed = 0;
    for (const char *name : { "creux.img", "vide.img" }) {
        SCOPED_TRACE(name);
        const QByteArray content = readAll(src + "/" + name);
        // cp may complain (about the mode, on FAT) and still copy: what counts is the file.
        cp(src + "/" + name, theirs);
        const bool cpCopied = readAll(theirs + "/" + name) == content;
        if (!listing(ours).count(name)) {
            // Where cp fails the program may fail too, but in words and leaving nothing.
            EXPECT_FALSE(cpCopied) << "cp copies it";
            ++failed;
            continue;
        }
        EXPECT_TRUE(holds(ours + "/" + name, content));
        if (!cpCopied)
            continue;
        const blkcnt_t mine = statOf(backingOf(ours) + "/" + name).st_blocks;
        const blkcnt_t cps = statOf(backingOf(theirs) + "/" + name).st_blocks;
        // 256 KiB of slack for allocation granularity and preallocation.
        EXPECT_LE(mine * 512, cps * 512 + (256 << 10))
            << "ours takes " << mine * 512 << " bytes, cp's " << cps * 512;
    }
    EXPECT_EQ(run.count(QStringLiteral("Erreur: ")), failed) << run.text().toStdString();
    EXPECT_EQ(run.status, failed ? 1 : 0) << run.text().toStdString();
    EXPECT_EQ(listing(ours).size(), 2u - static_cast<unsigned>(failed)) << describe(listing(ours));
}

// Names that are not UTF-8 (Latin-1 archives) are copied under their own bytes, never merged
// with another name; where the file system refuses a name (as cp finds), the copy fails in
// words, and nothing reaches the destination under another name.
TEST_F(Destination, nonUtf8Name_isCopiedUnderItsOwnBytesOrRefusedInWords)
{
    const std::string names[] = {
        "caf\xE9.txt", // Latin-1
        "caf\xE8.txt", // Latin-1, a second name that must stay apart
        "caf\xC3\xA9.txt", // UTF-8
        "caf\xEF\xBF\xBD.txt", // UTF-8 of the replacement character itself
    };
    for (const std::string &name : names)
        makeFile(src + "/" + name, QByteArray::fromStdString("contenu de " + name));
    const std::string ours = destination("ours");
    const std::string theirs = destination("cp");

    const Outcome run = copy(src, ours, false);

    Names expected;
    int refused = 0;
    for (const std::string &name : names) {
        cp(src + "/" + name, theirs);
        const bool kept = listing(theirs).count(name)
            && readAll(theirs + "/" + name) == readAll(src + "/" + name);
        if (kept)
            expected.insert(name);
        else
            ++refused;
    }
    EXPECT_EQ(listing(ours), expected)
        << describe(listing(ours)) << " where cp keeps " << describe(expected);
    for (const std::string &name : expected)
        EXPECT_TRUE(holds(ours + "/" + name, readAll(src + "/" + name))) << name;
    EXPECT_EQ(run.count(QStringLiteral("Copie du fichier")), 4) << run.text().toStdString();
    EXPECT_EQ(run.count(QStringLiteral("Erreur: ")), refused) << run.text().toStdString();
    EXPECT_EQ(run.status, refused ? 1 : 0);
}

// Killed while it replaces large files: every target holds its old or its new content,
// whole; the next complete run leaves the new files and nothing else.
TEST_F(Destination, killedMidRun_leavesEveryTargetWhole_andTheNextRunLeavesNothing)
{
    const std::string ours = destination("ours");
    const char *const names[] = { "a.bin", "b.bin", "c.bin" };
    for (const char *name : names) {
        makeFile(src + "/" + name, pattern(4 << 20, name[0]));
        makeFile(ours + "/" + name, pattern(1 << 20, static_cast<char>(name[0] + 16)));
    }

    // The kill comes with the third entry the run creates or renames into the folder: while
    // the second file is being written, one file replaced before it.
    const int watch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, ours.c_str(), IN_CREATE | IN_MOVED_TO), 0);
    QProcess process;
    start(process, src, ours, false, { QStringLiteral("*") });
    int events = 0;
    bool killed = false;
    for (int waited = 0; !killed && waited < 30000 && process.state() != QProcess::NotRunning;) {
        pollfd p = { watch, POLLIN, 0 };
        if (poll(&p, 1, 10) <= 0) {
            waited += 10;
            process.waitForFinished(0);
            continue;
        }
        alignas(inotify_event) char buffer[4096];
        ssize_t length = read(watch, buffer, sizeof buffer);
        for (ssize_t at = 0; at < length && !killed;) {
            const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
            if (++events == 3) {
                ::kill(static_cast<pid_t>(process.processId()), SIGKILL);
                killed = true;
            }
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    close(watch);
    process.waitForFinished(10000);
    ASSERT_TRUE(killed) << "the run ended (or stalled) before its third entry, after " << events;
    ASSERT_EQ(process.exitStatus(), QProcess::CrashExit);

    for (const char *name : names) {
        SCOPED_TRACE(name);
        const QByteArray now = readAll(ours + "/" + name);
        EXPECT_TRUE(now == pattern(4 << 20, name[0]) || now == pattern(1 << 20, static_cast<char>(name[0] + 16)))
            << "holds " << now.size() << " bytes of neither";
    }

    const Outcome next = copy(src, ours, false);
    EXPECT_EQ(next.status, 0) << next.text().toStdString();
    EXPECT_EQ(listing(ours), Names(std::begin(names), std::end(names))) << describe(listing(ours));
    for (const char *name : names)
        EXPECT_TRUE(holds(ours + "/" + name, pattern(4 << 20, name[0]))) << name;
}

} // namespace
