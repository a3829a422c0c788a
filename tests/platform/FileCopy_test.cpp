#include "platform/FileCopy.h"

#include "FileSizeLimit.h"
#include "support/Fixtures.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace platform;
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
    static void setMtime(const QString &p, timespec mtime)
    {
        const timespec times[2] = { { 0, UTIME_OMIT }, mtime };
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

TEST_P(FileCopyTest, newTarget_getsContentModeAndModificationTime)
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
        setMtime(from, { 1500000000, 123456789 });

        qint64 bytes = -1;
        ASSERT_EQ(copy(from, to, true, &bytes), 0);
        EXPECT_EQ(testsupport::readBytes(to), c.content);
        EXPECT_EQ(bytes, c.content.size());
        const struct stat st = statOf(to);
        EXPECT_EQ(st.st_mode & 07777, c.mode); // the set-user bit is not carried over
        EXPECT_EQ(st.st_mtim.tv_sec, 1500000000);
        EXPECT_EQ(st.st_mtim.tv_nsec, 123456789);
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

INSTANTIATE_TEST_SUITE_P(Temporaries, FileCopyTest,
    ::testing::Values(&copyFile, &copyFileWithNamedTemporary),
    [](const auto &param) { return std::string(param.index == 0 ? "unnamed" : "named"); });

} // namespace
