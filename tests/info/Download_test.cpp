// Downloads against a local HTTPS server: only a complete HTTPS success counts, at most
// 1 MiB is stored, redirections stay on HTTPS, and the temporary file is ours alone.
#include "NetworkFixture.h"

#include "platform/Paths.h"

#include <QFile>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using testinfo::Response;

namespace {

class DownloadTest : public testinfo::NetworkTest
{
protected:
    QByteArray contentOf(const info::TempFile &file)
    {
        return testsupport::readBytes(file.fileName());
    }
    static bool fetched(const QString &url, info::TempFile &file)
    {
        return info::DownloadUrlToFile(url, file, info::kUpdateFileTimeout)
            == info::DownloadResult::Succeeded;
    }
};

} // namespace

TEST_F(DownloadTest, makeTempFileName_createsPrivateEmptyFileRemovedWithIt)
{
    QString name;
    {
        info::TempFile first = info::MakeTempFileName(u".tmp"_s);
        const info::TempFile second = info::MakeTempFileName(u".tmp"_s);
        ASSERT_TRUE(first.isValid());
        ASSERT_TRUE(second.isValid());
        name = first.fileName();
        EXPECT_NE(name, second.fileName());
        EXPECT_TRUE(name.startsWith(QDir::tempPath() + u'/'));
        EXPECT_TRUE(name.endsWith(u".tmp"_s));
        struct stat st
        {
        };
        ASSERT_EQ(::lstat(platform::encodePath(name).constData(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode));
        EXPECT_EQ(st.st_mode & 07777, 0600u);
        EXPECT_EQ(st.st_size, 0);
        EXPECT_EQ(st.st_uid, ::geteuid());
        EXPECT_EQ(temporaryFiles().size(), 2);

        info::TempFile moved = std::move(first);
        EXPECT_FALSE(first.isValid());
        EXPECT_EQ(moved.fileName(), name);
    }
    EXPECT_FALSE(QFile::exists(name));
    EXPECT_TRUE(temporaryFiles().isEmpty());
}

TEST_F(DownloadTest, noTemporaryFolder_makesNoFileAndFetchesNothing)
{
    const QByteArray saved = qgetenv("TMPDIR");
    qputenv("TMPDIR", platform::encodePath(file(u"missing"_s)));
    info::TempFile file = info::MakeTempFileName(u".tmp"_s);
    qputenv("TMPDIR", saved);
    EXPECT_FALSE(file.isValid());
    server->setResponse("/x", { 200, "body", {}, true });
    EXPECT_FALSE(fetched(server->url() + u"/x"_s, file));
    EXPECT_TRUE(server->requests().isEmpty());
}

TEST_F(DownloadTest, answers_onlyACompleteSuccessCountsAndAtMostOneMebibyteIsStored)
{
    const QByteArray mebibyte(info::kMaxDownloadBytes, 'm');
    struct Case
    {
        const char *what;
        Response response;
        bool ok;
        QByteArray stored;
    };
    const Case cases[] = {
        { "200 with a body", { 200, "hello", {}, true }, true, "hello" },
        { "200 with an empty body", { 200, {}, {}, true }, true, {} },
        { "200 whose body runs until the end", { 200, "until close", {}, false }, true,
            "until close" },
        { "404", { 404, "not here", {}, true }, false, {} },
        { "500 with a body", { 500, "oops", {}, true }, false, {} },
        { "exactly 1 MiB", { 200, mebibyte, {}, true }, true, mebibyte },
        { "1 MiB and a byte, announced", { 200, mebibyte + 'x', {}, true }, false, {} },
        { "1 MiB and a byte, unannounced", { 200, mebibyte + 'x', {}, false }, false, {} },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        server->setResponse("/case", c.response);
        info::TempFile file = info::MakeTempFileName(u".tmp"_s);
        ASSERT_TRUE(file.isValid());
        EXPECT_EQ(fetched(server->url() + u"/case?q=1"_s, file), c.ok);
        EXPECT_EQ(contentOf(file), c.stored);
        EXPECT_EQ(server->requests().constLast().target, QByteArray("/case?q=1"));
        file.remove();
        EXPECT_TRUE(temporaryFiles().isEmpty());
    }
}

TEST_F(DownloadTest, redirections_areFollowedUpToFive)
{
    // /r1 -> /r2 -> ... -> /r6 -> /final
    for (int hop = 1; hop <= 6; ++hop) {
        const QByteArray next
            = hop == 6 ? QByteArray("/final") : QByteArray("/r" + QByteArray::number(hop + 1));
        server->setResponse("/r" + QByteArray::number(hop),
            { 302, {}, { { "Location", server->url().toUtf8() + next } }, true });
    }
    server->setResponse("/final", { 200, "arrived", {}, true });

    info::TempFile file = info::MakeTempFileName(u".tmp"_s);
    EXPECT_TRUE(fetched(server->url() + u"/r2"_s, file)); // five redirections
    EXPECT_EQ(contentOf(file), QByteArray("arrived"));
    EXPECT_FALSE(fetched(server->url() + u"/r1"_s, file)); // six
    EXPECT_TRUE(contentOf(file).isEmpty());
}

TEST_F(DownloadTest, plainHttp_isRefusedAlsoAsARedirection)
{
    testinfo::PlainListener plain;
    const QString plainUrl = u"http://127.0.0.1:%1/x"_s.arg(plain.port());
    info::TempFile file = info::MakeTempFileName(u".tmp"_s);

    EXPECT_FALSE(fetched(plainUrl, file));

    server->setResponse("/to-http", { 302, {}, { { "Location", plainUrl.toUtf8() } }, true });
    EXPECT_FALSE(fetched(server->url() + u"/to-http"_s, file));
    EXPECT_EQ(server->requests().size(), 1);

    EXPECT_FALSE(fetched(u"file:///etc/hostname"_s, file));
    EXPECT_TRUE(contentOf(file).isEmpty());
    EXPECT_EQ(plain.connections(), 0);
}

TEST_F(DownloadTest, untrustedCertificateOrClosedPort_fails)
{
    server->setResponse("/x", { 200, "body", {}, true });
    info::TempFile file = info::MakeTempFileName(u".tmp"_s);

    const testinfo::HttpsServer other(makeDir(u"other"_s));
    info::setDownloadCaFileForTesting(other.caFile());
    EXPECT_FALSE(fetched(server->url() + u"/x"_s, file));
    info::setDownloadCaFileForTesting(QString()); // the system's certificates
    EXPECT_FALSE(fetched(server->url() + u"/x"_s, file));
    EXPECT_TRUE(server->requests().isEmpty());

    info::setDownloadCaFileForTesting(server->caFile());
    // Refused at once: a failure, not a time-out, so that the About box still tries again.
    EXPECT_EQ(info::DownloadUrlToFile(u"https://127.0.0.1:%1/x"_s.arg(testinfo::closedPort()), file,
                  info::kUpdateFileTimeout),
        info::DownloadResult::Failed);
    EXPECT_TRUE(fetched(server->url() + u"/x"_s, file));
}

// Each way a server can stay silent ends at the time-out, as a time-out, with nothing stored.
TEST_F(DownloadTest, silentServers_timeOutAndStoreNothing)
{
    info::setDownloadTimeoutCapForTesting(std::chrono::milliseconds(300));
    server->setResponse("/silent", { 200, "never sent", {}, true, true });
    testinfo::PlainListener plain;
    const testinfo::FullListener full;
    ASSERT_TRUE(full.isReady());
    const struct
    {
        const char *what;
        QString url;
    } cases[] = {
        { "reads the request and never answers", server->url() + u"/silent"_s },
        { "accepts but never speaks TLS", u"https://127.0.0.1:%1/x"_s.arg(plain.port()) },
        { "connection never comes up", u"https://127.0.0.1:%1/x"_s.arg(full.port()) },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        info::TempFile file = info::MakeTempFileName(u".tmp"_s);
        EXPECT_EQ(info::DownloadUrlToFile(c.url, file, info::kPingTimeout),
            info::DownloadResult::TimedOut);
        EXPECT_TRUE(contentOf(file).isEmpty());
    }
    EXPECT_EQ(server->requests().size(), 1);
    EXPECT_EQ(plain.connections(), 1);
}

// The README and the manual tell users how long a silent server can hold a window.
TEST(DownloadTimeoutTest, documentedTimeouts_areTheOnesUsed)
{
    const auto seconds = [](std::chrono::milliseconds timeout) {
        return QString::number(std::chrono::duration_cast<std::chrono::seconds>(timeout).count());
    };
    const auto text = [](const char *relative) {
        return QString::fromUtf8(
            testsupport::readBytes(QStringLiteral(QS_SOURCE_DIR "/") + QLatin1StringView(relative)))
            .simplified();
    };
    const QString readme = text("README.md");
    const QString manual = text("data/man/quillsift.1.in");
    EXPECT_TRUE(readme.contains(u"at most "_s + seconds(info::kPingTimeout) + u" s"_s));
    EXPECT_TRUE(
        readme.contains(u"at most "_s + seconds(info::kUpdateFileTimeout) + u" s in all"_s));
    EXPECT_TRUE(manual.contains(u"au plus "_s + seconds(info::kPingTimeout) + u" secondes"_s));
    EXPECT_TRUE(manual.contains(
        u"au plus "_s + seconds(info::kUpdateFileTimeout) + u" secondes en tout"_s));
}

TEST_F(DownloadTest, nameTakenOverMeanwhile_bodyStaysInOurFileAndStrangerIsKept)
{
    server->setResponse("/x", { 200, "downloaded", {}, true });
    const QString victim = writeFile(u"victim.txt"_s, "precious");
    info::TempFile file = info::MakeTempFileName(u".tmp"_s);
    const QString name = file.fileName();
    const QString moved = QDir::tempPath() + u"/moved-away"_s;
    ASSERT_TRUE(QFile::rename(name, moved));
    ASSERT_TRUE(QFile::link(victim, name));

    EXPECT_TRUE(fetched(server->url() + u"/x"_s, file));
    EXPECT_EQ(testsupport::readBytes(victim), QByteArray("precious"));
    EXPECT_EQ(testsupport::readBytes(moved), QByteArray("downloaded"));

    file.remove();
    EXPECT_TRUE(QFileInfo(name).isSymLink()); // not ours to delete
    QFile::remove(name);
    QFile::remove(moved);
}
