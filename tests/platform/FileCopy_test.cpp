#include "platform/FileCopy.h"

#include "FileSizeLimit.h"
#include "platform/SystemCalls.h"
#include "support/Fixtures.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace platform;
using testsupport::readBytes;
using namespace Qt::StringLiterals;

namespace {

using CopyFunction = int (*)(const QString &, const QString &, bool, qint64 *);

using FileCopyCompareTest = testsupport::TempDirTest;

// Every case runs through the unnamed temporary file and through the named one that stands
// in for it on file systems without unnamed files.
class FileCopyTest : public testsupport::TempDirTest,
                     public ::testing::WithParamInterface<CopyFunction>
{
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        src = makeDir(u"src"_s);
        dst = makeDir(u"dst"_s);
    }

    int copy(const QString &from, const QString &to, bool failIfExists, qint64 *bytes = nullptr)
    {
        return GetParam()(from, to, failIfExists, bytes);
    }

    static struct stat statOf(const QString &p)
    {
        struct stat st = {};
        ::stat(QFile::encodeName(p).constData(), &st);
        return st;
    }
    static void setMode(const QString &p, mode_t mode)
    {
        ASSERT_EQ(::chmod(QFile::encodeName(p).constData(), mode), 0);
    }
    static void setTimes(const QString &p, timespec atime, timespec mtime)
    {
        const timespec times[2] = { atime, mtime };
        ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(p).constData(), times, 0), 0);
    }
    static void link(const QByteArray &target, const QString &name)
    {
        ASSERT_EQ(::symlink(target.constData(), QFile::encodeName(name).constData()), 0);
    }
    // Everything in the destination folder, hidden temporaries included.
    QStringList destinationEntries() const
    {
        return QDir(dst).entryList(
            QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    }

    QString src, dst;
};

TEST_P(FileCopyTest, newTarget_getsContentModeAndBothTimes)
{
    QByteArray large(3 * 1024 * 1024 + 7, Qt::Uninitialized);
    for (qsizetype i = 0; i < large.size(); ++i)
        large[i] = char((i * 7919) >> 3);
    const struct
    {
        const char *name;
        QByteArray content;
        mode_t mode;
    } cases[] = {
        { "empty", QByteArray(), 0600 },
        { "small", QByteArray(4096, 's'), 0640 },
        { "large", large, 0755 },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString from = src + u'/' + QString::fromLatin1(c.name);
        const QString to = dst + u'/' + QString::fromLatin1(c.name);
        testsupport::writeBytes(from, c.content);
        setMode(from, c.mode | S_ISUID);
        setTimes(from, { 1600000000, 5 }, { 1500000000, 123456789 });

        qint64 bytes = -1;
        ASSERT_EQ(copy(from, to, true, &bytes), 0);
        // Looked at before the copy is read, which may change its access time.
        const struct stat st = statOf(to);
        EXPECT_EQ(st.st_mode & 07777, c.mode); // the set-user bit is not carried over
        EXPECT_EQ(st.st_mtim.tv_sec, 1500000000);
        EXPECT_EQ(st.st_mtim.tv_nsec, 123456789);
        EXPECT_EQ(st.st_atim.tv_sec, 1600000000);
        EXPECT_EQ(st.st_atim.tv_nsec, 5);
        EXPECT_EQ(testsupport::readBytes(to), c.content);
        EXPECT_EQ(bytes, c.content.size());
    }
    EXPECT_EQ(destinationEntries(), (QStringList { u"empty"_s, u"large"_s, u"small"_s }));
}

TEST_P(FileCopyTest, replace_putsTheNewContentInPlace)
{
    const QString from = writeFile(u"src/a.txt"_s, "new content");
    const QString to = writeFile(u"dst/a.txt"_s, "old content, longer than the new one");
    setMode(to, 0600);

    EXPECT_EQ(copy(from, to, false), 0);
    EXPECT_EQ(testsupport::readBytes(to), QByteArray("new content"));
    EXPECT_EQ(statOf(to).st_mode & 07777, statOf(from).st_mode & 07777);
    EXPECT_EQ(destinationEntries(), QStringList { u"a.txt"_s });
}

TEST_P(FileCopyTest, failIfExists_leavesAnExistingTargetAlone)
{
    const QString from = writeFile(u"src/a.txt"_s, "new");
    const QString to = writeFile(u"dst/a.txt"_s, "old");
    EXPECT_EQ(copy(from, to, true), EEXIST);
    EXPECT_EQ(testsupport::readBytes(to), QByteArray("old"));
    EXPECT_EQ(destinationEntries(), QStringList { u"a.txt"_s });
}

TEST_P(FileCopyTest, readOnlyTarget_isRefusedEvenForRoot)
{
    const QString from = writeFile(u"src/a.txt"_s, "new");
    const QString to = writeFile(u"dst/a.txt"_s, "old");
    setMode(to, 0444);
    EXPECT_EQ(copy(from, to, false), EACCES);
    EXPECT_EQ(testsupport::readBytes(to), QByteArray("old"));
    EXPECT_EQ(destinationEntries(), QStringList { u"a.txt"_s });
}

TEST_P(FileCopyTest, unusableSourceOrTarget_givesItsErrorAndCopiesNothing)
{
    const QString plain = writeFile(u"src/a.txt"_s, "x");
    makeDir(u"src/folder"_s);
    makeDir(u"dst/folder"_s);
    link("nowhere", src + u"/dangling"_s);
    ASSERT_EQ(::mkfifo(QFile::encodeName(src + u"/fifo"_s).constData(), 0644), 0);

    const struct
    {
        QString from, to;
        bool failIfExists;
        int error;
    } cases[] = {
        { src + u"/missing"_s, dst + u"/missing"_s, false, ENOENT },
        { src + u"/dangling"_s, dst + u"/dangling"_s, false, ENOENT },
        // A FIFO without a writer: opening it the ordinary way would wait for ever.
        { src + u"/fifo"_s, dst + u"/fifo"_s, false, EACCES },
        { src + u"/folder"_s, dst + u"/x"_s, false, EISDIR },
        { plain, dst + u"/folder"_s, false, EISDIR },
        { plain, dst + u"/folder"_s, true, EISDIR },
        { plain, dst + u"/missing/a.txt"_s, false, ENOTDIR },
        { plain, dst + u"/missing/a.txt"_s, true, ENOTDIR },
        { plain, plain + u"/a.txt"_s, false, ENOTDIR },
        { plain, plain + u"/a.txt"_s, true, ENOTDIR },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.from.toStdString() + " -> " + c.to.toStdString());
        EXPECT_EQ(copy(c.from, c.to, c.failIfExists), c.error);
    }
    EXPECT_EQ(destinationEntries(), QStringList { u"folder"_s });
    EXPECT_TRUE(
        QDir(dst + u"/folder"_s).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
}

TEST_P(FileCopyTest, linkSource_copiesWhatItPointsTo)
{
    writeFile(u"src/real.txt"_s, "real content");
    setMode(src + u"/real.txt"_s, 0640);
    link("real.txt", src + u"/link.txt"_s);

    ASSERT_EQ(copy(src + u"/link.txt"_s, dst + u"/link.txt"_s, true), 0);
    EXPECT_FALSE(QFileInfo(dst + u"/link.txt"_s).isSymLink());
    EXPECT_EQ(testsupport::readBytes(dst + u"/link.txt"_s), QByteArray("real content"));
    EXPECT_EQ(statOf(dst + u"/link.txt"_s).st_mode & 07777, mode_t(0640));
}

TEST_P(FileCopyTest, writeFailingHalfWay_keepsOldTargetAndLeavesNoTemporary)
{
    const QString from = writeFile(u"src/big.bin"_s, QByteArray(256 * 1024, 'n'));
    const QString replaced = writeFile(u"dst/big.bin"_s, "old");
    const QString fresh = dst + u"/fresh.bin"_s;
    const CopyFunction function = GetParam();

    for (const bool failIfExists : { false, true }) {
        SCOPED_TRACE(failIfExists);
        const QString to = failIfExists ? fresh : replaced;
        const int result = runWithFileSizeLimit(
            64 * 1024, [&] { return function(from, to, failIfExists, nullptr); });
        EXPECT_EQ(result, EFBIG);
    }
    EXPECT_EQ(testsupport::readBytes(replaced), QByteArray("old"));
    EXPECT_EQ(destinationEntries(), QStringList { u"big.bin"_s });
}

TEST_F(FileCopyCompareTest, copyReadBack_tellsEqualFromDifferent)
{
    const QByteArray content(600 * 1024 + 3, 'c'); // more than one read of each file
    QByteArray lastByteChanged = content;
    lastByteChanged[lastByteChanged.size() - 1] = 'x';
    const struct
    {
        const char *name;
        QByteArray copy;
        bool same;
    } cases[] = {
        { "equal", content, true },
        { "lastByteChanged", lastByteChanged, false },
        { "shorter", content.left(content.size() - 1), false },
        { "longer", content + 'c', false },
        { "empty", QByteArray(), false },
    };
    const QString from = writeFile(u"source"_s, content);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString to = writeFile(QString::fromLatin1(c.name), c.copy);
        bool same = !c.same;
        EXPECT_EQ(compareWithCopy(from, to, same), 0);
        EXPECT_EQ(same, c.same);
    }
    const QString empty = writeFile(u"emptySource"_s, QByteArray());
    bool same = false;
    EXPECT_EQ(compareWithCopy(empty, writeFile(u"emptyCopy"_s, QByteArray()), same), 0);
    EXPECT_TRUE(same);
}

TEST_F(FileCopyCompareTest, unreadableSide_givesItsError)
{
    const QString file = writeFile(u"file"_s, "x");
    bool same = true;
    EXPECT_EQ(compareWithCopy(file, path() + u"/missing"_s, same), ENOENT);
    EXPECT_FALSE(same);
    EXPECT_EQ(compareWithCopy(path() + u"/missing"_s, file, same), ENOENT);
    EXPECT_EQ(compareWithCopy(file, makeDir(u"folder"_s), same), EACCES);
}

// What the file systems that this machine cannot mount for a test answer, played through
// the calls the copy makes: the kernel's vfat (EPERM from fchmod and link, no O_TMPFILE),
// FAT and exFAT through FUSE and SMB through gvfs (neither links nor renameat2 flags), and a
// FUSE file system with unnamed files that cannot be linked.
struct Refusals
{
    int tmpfile = 0, renameNoReplace = 0, link = 0; // refused calls
};
Refusals g_refusals;
int g_fchmodError = 0, g_linkError = 0;

int fchmodRefused(int, mode_t)
{
    errno = g_fchmodError;
    return -1;
}

int linkRefused(int, const char *, int, const char *, int)
{
    ++g_refusals.link;
    errno = g_linkError;
    return -1;
}

int openatWithoutTmpfile(int dirFd, const char *name, int flags, mode_t mode)
{
    if ((flags & O_TMPFILE) == O_TMPFILE) {
        ++g_refusals.tmpfile;
        errno = EOPNOTSUPP;
        return -1;
    }
    return syscalls::real().openat(dirFd, name, flags, mode);
}

int renameat2WithoutFlags(int fromDir, const char *from, int toDir, const char *to, unsigned flags)
{
    if (flags != 0) {
        ++g_refusals.renameNoReplace;
        errno = EINVAL;
        return -1;
    }
    return syscalls::real().renameat2(fromDir, from, toDir, to, flags);
}

struct FileSystemKind
{
    const char *name;
    int fchmodError; // 0: fchmod works
    int linkError; // 0: links work
    bool tmpfile;
    bool renameNoReplace;
};

const FileSystemKind kKinds[] = {
    { "kernelVfat", EPERM, EPERM, false, true },
    { "fuseFat", ENOSYS, ENOSYS, false, false },
    { "exfatOrSmb", EOPNOTSUPP, EPERM, false, false },
    { "unnamedFilesWithoutLinks", 0, EPERM, true, true },
    { "linksWithoutRenameFlags", 0, 0, false, false },
};

void PrintTo(const FileSystemKind &kind, std::ostream *out)
{
    *out << kind.name;
}

class InjectedFileSystemTest : public testsupport::TempDirTest,
                               public ::testing::WithParamInterface<FileSystemKind>
{
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        const FileSystemKind &kind = GetParam();
        g_refusals = {};
        g_fchmodError = kind.fchmodError;
        g_linkError = kind.linkError;
        syscalls::Table &calls = m_override.calls();
        if (kind.fchmodError)
            calls.fchmod = fchmodRefused;
        if (kind.linkError)
            calls.linkat = linkRefused;
        if (!kind.tmpfile)
            calls.openat = openatWithoutTmpfile;
        if (!kind.renameNoReplace)
            calls.renameat2 = renameat2WithoutFlags;
        source = writeFile(u"src/a.txt"_s, "new content");
        setTimes(source, { 1600000000, 5 }, { 1500000000, 123456789 });
    }

    static void setTimes(const QString &p, timespec atime, timespec mtime)
    {
        const timespec times[2] = { atime, mtime };
        ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(p).constData(), times, 0), 0);
    }

    syscalls::Override m_override;
    QString source;
};

TEST_P(InjectedFileSystemTest, everyCopy_succeedsAtomically_andDontReplaceNeverReplaces)
{
    for (const CopyFunction copy : { &copyFile, &copyFileWithNamedTemporary }) {
        SCOPED_TRACE(copy == &copyFile ? "unnamed first" : "named");
        g_refusals = {};
        const QString dst = makeDir(copy == &copyFile ? u"unnamed"_s : u"named"_s);
        const QString kept = dst + u"/kept.txt"_s;
        testsupport::writeBytes(kept, "old");
        const QString replaced = dst + u"/replaced.txt"_s;
        testsupport::writeBytes(replaced, "old");

        EXPECT_EQ(copy(source, dst + u"/new1.txt"_s, true, nullptr), 0);
        EXPECT_EQ(copy(source, kept, true, nullptr), EEXIST);
        EXPECT_EQ(copy(source, replaced, false, nullptr), 0);
        EXPECT_EQ(copy(source, dst + u"/new2.txt"_s, false, nullptr), 0);
        EXPECT_EQ(copy(source, dst + u"/new3.txt"_s, true, nullptr), 0);

        EXPECT_EQ(readBytes(kept), "old");
        for (const QString &name :
            { u"new1.txt"_s, u"replaced.txt"_s, u"new2.txt"_s, u"new3.txt"_s }) {
            SCOPED_TRACE(name.toStdString());
            struct stat st = {};
            ASSERT_EQ(::stat(QFile::encodeName(dst + u'/' + name).constData(), &st), 0);
            EXPECT_EQ(st.st_mtim.tv_sec, 1500000000);
            EXPECT_EQ(st.st_mtim.tv_nsec, 123456789);
            EXPECT_EQ(readBytes(dst + u'/' + name), "new content");
        }
        EXPECT_EQ(QDir(dst).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            (QStringList {
                u"kept.txt"_s, u"new1.txt"_s, u"new2.txt"_s, u"new3.txt"_s, u"replaced.txt"_s }));
        // What the file system refuses is learnt on the first file, not asked for every one.
        EXPECT_LE(g_refusals.tmpfile, 1);
        EXPECT_LE(g_refusals.renameNoReplace, 1);
        EXPECT_LE(g_refusals.link, 1);
    }
}

using Renameat2 = int (*)(int, const char *, int, const char *, unsigned);
Renameat2 g_renameNext = nullptr;

// Another program makes the target the moment before the copy publishes its own.
int renameat2AfterTheTargetAppeared(
    int fromDir, const char *from, int toDir, const char *to, unsigned flags)
{
    const int fd = ::openat(toDir, to, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0) {
        EXPECT_EQ(::write(fd, "made meanwhile", 14), 14);
        ::close(fd);
    }
    return g_renameNext(fromDir, from, toDir, to, flags);
}

TEST_P(InjectedFileSystemTest, targetAppearingBeforeThePublish_isNeverReplacedInDontReplace)
{
    for (const CopyFunction copy : { &copyFile, &copyFileWithNamedTemporary }) {
        SCOPED_TRACE(copy == &copyFile ? "unnamed first" : "named");
        const QString dst = makeDir(copy == &copyFile ? u"unnamed"_s : u"named"_s);
        g_renameNext = m_override.calls().renameat2;
        m_override.calls().renameat2 = renameat2AfterTheTargetAppeared;
        EXPECT_EQ(copy(source, dst + u"/a.txt"_s, true, nullptr), EEXIST);
        m_override.calls().renameat2 = g_renameNext;
        EXPECT_EQ(readBytes(dst + u"/a.txt"_s), "made meanwhile");
        EXPECT_EQ(QDir(dst).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList { u"a.txt"_s });
    }
}

INSTANTIATE_TEST_SUITE_P(FileSystems, InjectedFileSystemTest, ::testing::ValuesIn(kKinds),
    [](const auto &kind) { return std::string(kind.param.name); });

// SMB through gvfs sets a file's times itself when its last descriptor closes: the copy
// sets them again once the file is closed, and learns to do so from its first file.
int closeSettingTimesToNow(int fd)
{
    ::futimens(fd, nullptr);
    return ::close(fd);
}

TEST_P(FileCopyTest, timesSetByTheFileSystemAtTheLastClose_areSetAgainAfterIt)
{
    syscalls::Override fileSystem;
    fileSystem.calls().close = closeSettingTimesToNow;
    const QString from = writeFile(u"src/a.txt"_s, "content");
    setTimes(from, { 1600000000, 5 }, { 1500000000, 123456789 });
    writeFile(u"dst/replaced.txt"_s, "old");
    for (const auto &[name, failIfExists] : { std::pair { u"new.txt"_s, true },
             std::pair { u"replaced.txt"_s, false }, std::pair { u"other.txt"_s, true } }) {
        SCOPED_TRACE(name.toStdString());
        ASSERT_EQ(copy(from, dst + u'/' + name, failIfExists), 0);
        const struct stat st = statOf(dst + u'/' + name);
        EXPECT_EQ(st.st_mtim.tv_sec, 1500000000);
        EXPECT_EQ(st.st_mtim.tv_nsec, 123456789);
    }
}

TEST_P(FileCopyTest, sparseFile_keepsItsHolesAndItsContent)
{
    constexpr off_t kMiB = 1024 * 1024;
    const struct
    {
        const char *name;
        off_t size;
        QList<off_t> data; // offsets of 4 KiB of data each
    } cases[] = {
        { "dataInTheMiddle", 20 * kMiB, { 7 * kMiB } },
        { "dataAtBothEnds", 20 * kMiB, { 0, 20 * kMiB - 4096 } },
        { "holeAtTheEnd", 20 * kMiB, { 4096, 3 * kMiB } },
        { "allHole", 20 * kMiB, {} },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString from = src + u'/' + QString::fromLatin1(c.name);
        const QString to = dst + u'/' + QString::fromLatin1(c.name);
        {
            QFile file(from);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            for (const off_t offset : c.data) {
                ASSERT_TRUE(file.seek(offset));
                ASSERT_EQ(file.write(QByteArray(4096, char('a' + offset % 23))), 4096);
            }
            ASSERT_TRUE(file.resize(c.size));
        }
        qint64 bytes = -1;
        ASSERT_EQ(copy(from, to, true, &bytes), 0);
        EXPECT_EQ(bytes, c.size);
        const struct stat st = statOf(to);
        EXPECT_EQ(st.st_size, c.size);
        EXPECT_LE(st.st_blocks * 512, statOf(from).st_blocks * 512 + 64 * 1024);
        EXPECT_TRUE(testsupport::readBytes(to) == testsupport::readBytes(from));
    }
}

// A file of holes only copies onto a file system far smaller than its length, as with cp.
TEST_P(FileCopyTest, allHoleFile_copiesOntoATinyFileSystem)
{
    const QString tiny = makeDir(u"tiny"_s);
    if (::mount("qs-tiny", QFile::encodeName(tiny).constData(), "tmpfs", 0, "size=1m") != 0)
        GTEST_SKIP() << "a 1 MiB tmpfs cannot be mounted here: " << std::strerror(errno);
    const auto unmount
        = qScopeGuard([&] { ::umount2(QFile::encodeName(tiny).constData(), MNT_DETACH); });
    const QString from = src + u"/image.raw"_s;
    {
        QFile file(from);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.resize(50 * 1024 * 1024));
    }
    ASSERT_EQ(copy(from, tiny + u"/image.raw"_s, true), 0);
    EXPECT_EQ(statOf(tiny + u"/image.raw"_s).st_size, 50 * 1024 * 1024);
}

TEST_F(FileCopyCompareTest, flushFileSystem_reportsWhatTheDeviceAnswers)
{
    EXPECT_EQ(flushFileSystem(path()), 0);
    EXPECT_EQ(flushFileSystem(path() + u"/missing"_s), ENOENT);
    syscalls::Override device;
    device.calls().syncfs = [](int) {
        errno = EIO;
        return -1;
    };
    EXPECT_EQ(flushFileSystem(path()), EIO);
}

INSTANTIATE_TEST_SUITE_P(Temporaries, FileCopyTest,
    ::testing::Values(&copyFile, &copyFileWithNamedTemporary),
    [](const auto &param) { return std::string(param.index == 0 ? "unnamed" : "named"); });

} // namespace
