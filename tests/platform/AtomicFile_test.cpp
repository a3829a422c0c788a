#include "platform/AtomicFile.h"

#include "FileSizeLimit.h"
#include "support/Fixtures.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <cerrno>
#include <sys/stat.h>

using namespace platform;
using namespace Qt::StringLiterals;

namespace {

class AtomicFileTest : public testsupport::TempDirTest
{
protected:
    QStringList entries() const
    {
        return QDir(path()).entryList(
            QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    }
    mode_t modeOf(const QString &p) const
    {
        struct stat st = {};
        ::stat(QFile::encodeName(p).constData(), &st);
        return st.st_mode & 07777;
    }
};

TEST_F(AtomicFileTest, replace_writesContentAndKeepsMode)
{
    const QString target = writeFile(u"Options.ini"_s, "old content that is longer");
    ASSERT_EQ(::chmod(QFile::encodeName(target).constData(), 0640), 0);

    EXPECT_EQ(writeFileAtomic(target, "new"), 0);
    EXPECT_EQ(readFile(u"Options.ini"_s), QByteArray("new"));
    EXPECT_EQ(modeOf(target), mode_t(0640));
    EXPECT_EQ(entries(), QStringList { u"Options.ini"_s });
}

TEST_F(AtomicFileTest, newFile_getsTheUsualModeForNewFiles)
{
    const mode_t mask = ::umask(022);
    const QString target = file(u"new.txt"_s);
    EXPECT_EQ(writeFileAtomic(target, QByteArray()), 0);
    ::umask(mask);
    EXPECT_TRUE(QFile::exists(target));
    EXPECT_EQ(modeOf(target), mode_t(0644));
}

TEST_F(AtomicFileTest, link_isWrittenThroughToItsTarget)
{
    makeDir(u"real"_s);
    const QString real = writeFile(u"real/Options.ini"_s, "old");
    ASSERT_EQ(::symlink("real/Options.ini", QFile::encodeName(file(u"link.ini"_s)).constData()), 0);

    EXPECT_EQ(writeFileAtomic(file(u"link.ini"_s), "new"), 0);
    EXPECT_EQ(readFile(u"real/Options.ini"_s), QByteArray("new"));
    EXPECT_TRUE(QFileInfo(file(u"link.ini"_s)).isSymLink());
}

TEST_F(AtomicFileTest, failures_returnErrnoAndLeaveNothingBehind)
{
    makeDir(u"folder"_s);
    const QString plain = writeFile(u"plain"_s, "x");
    EXPECT_EQ(writeFileAtomic(file(u"missing/file"_s), "x"), ENOENT);
    EXPECT_EQ(writeFileAtomic(plain + u"/file"_s, "x"), ENOTDIR);
    EXPECT_EQ(writeFileAtomic(file(u"folder"_s), "x"), EISDIR);
    EXPECT_EQ(entries(), (QStringList { u"folder"_s, u"plain"_s }));
    EXPECT_TRUE(
        QDir(file(u"folder"_s))
            .isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot));
}

TEST_F(AtomicFileTest, writeFailingHalfWay_keepsOldFileAndLeavesNoTemporary)
{
    const QString target = writeFile(u"Options.ini"_s, "old");
    const QByteArray big(64 * 1024, 'n');
    const int result = runWithFileSizeLimit(1000, [&] { return writeFileAtomic(target, big); });
    EXPECT_EQ(result, EFBIG);
    EXPECT_EQ(readFile(u"Options.ini"_s), QByteArray("old"));
    EXPECT_EQ(entries(), QStringList { u"Options.ini"_s });
}

TEST_F(AtomicFileTest, readWholeFile_readsContentAndRefusesNonFiles)
{
    QByteArray data = "unchanged";
    const QByteArray content(100000, 'c');
    writeFile(u"big"_s, content);
    EXPECT_EQ(readWholeFile(file(u"big"_s), data), 0);
    EXPECT_EQ(data, content);

    writeFile(u"empty"_s, QByteArray());
    EXPECT_EQ(readWholeFile(file(u"empty"_s), data), 0);
    EXPECT_TRUE(data.isEmpty());

    data = "unchanged";
    EXPECT_EQ(readWholeFile(file(u"missing"_s), data), ENOENT);
    EXPECT_EQ(readWholeFile(path(), data), EISDIR);
    // A FIFO without a writer would block an ordinary open: it must come back at once.
    ASSERT_EQ(::mkfifo(QFile::encodeName(file(u"fifo"_s)).constData(), 0644), 0);
    EXPECT_EQ(readWholeFile(file(u"fifo"_s), data), EINVAL);
    EXPECT_EQ(data, QByteArray("unchanged"));
}

} // namespace
