// The usage ping against a local HTTPS server: one GET of the site's counter and nothing else,
// silence on every failure, no file left behind. This program carries the program's version
// resource, so SendUsagePing reads "QUILLSIFT.EXE" from it.
#include "NetworkFixture.h"

#include "info/uPiwik102.h"

#include <gtest/gtest.h>

#include <functional>

using namespace Qt::StringLiterals;
using testinfo::Response;

namespace {

const QByteArray kPingPath = "/statistiques/piwik.php";

class UsagePingTest : public testinfo::NetworkTest
{
};

} // namespace

TEST_F(UsagePingTest, sendUsagePing_sendsOneGetWithTheSiteAndNothingElse)
{
    server->setResponse(kPingPath, { 200, "GIF89a", {}, true });
    SendUsagePing();
    const QList<testinfo::Request> requests = server->requests();
    ASSERT_EQ(requests.size(), 1);
    EXPECT_EQ(requests[0].method, QByteArray("GET"));
    EXPECT_EQ(requests[0].target, QByteArray("/statistiques/piwik.php?idsite=14&rec=1"));
    EXPECT_TRUE(temporaryFiles().isEmpty());
    EXPECT_TRUE(testsupport::reportedErrors().isEmpty());
}

TEST_F(UsagePingTest, nameFromTheResource_isUpperCasedThenLookedUp)
{
    server->setResponse(kPingPath, { 200, {}, {}, true });
    struct Case
    {
        QString name;
        QByteArray query; // empty: nothing is sent
    };
    const Case cases[] = {
        { u"QUILLSIFT.EXE"_s, "idsite=14&rec=1" },
        { u"quillsift.exe"_s, "idsite=14&rec=1" },
        { u"QuillSift.Exe"_s, "idsite=14&rec=1" },
        { u"orvtidy.exe"_s, "idsite=4&rec=1" },
        { u"ORVZIP.EXE"_s, "idsite=13&rec=1" },
        { u"ORVSETUP.EXE"_s, {} }, // site -1
        { u"orvupdate.exe"_s, {} }, // site -1
        { QString(), {} },
        { u"UNKNOWN.EXE"_s, {} },
        { u"QUILLSIFT"_s, {} },
        { u" QUILLSIFT.EXE"_s, {} },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name.toStdString());
        const qsizetype before = server->requests().size();
        piwik::SendUsagePingFor(c.name);
        const QList<testinfo::Request> requests = server->requests();
        if (c.query.isEmpty()) {
            EXPECT_EQ(requests.size(), before);
        } else {
            ASSERT_EQ(requests.size(), before + 1);
            EXPECT_EQ(requests.constLast().target, kPingPath + '?' + c.query);
        }
        EXPECT_TRUE(temporaryFiles().isEmpty());
    }
}

// The start waits for one time-out at most: the ping gives up on a server that never answers,
// silently, without a second try and without a file left.
TEST_F(UsagePingTest, silentServer_isGivenUpOnceSilently)
{
    info::setDownloadTimeoutCapForTesting(std::chrono::milliseconds(300));
    server->setResponse(kPingPath, { 200, "GIF89a", {}, true, true });
    EXPECT_NO_THROW(SendUsagePing());
    EXPECT_EQ(server->requests().size(), 1);
    EXPECT_TRUE(temporaryFiles().isEmpty());
    EXPECT_TRUE(testsupport::reportedErrors().isEmpty());
}

TEST_F(UsagePingTest, siteTable_comparesWholeUpperCaseNames)
{
    EXPECT_EQ(piwik::SiteNumberOf(u"QUILLSIFT.EXE"_s), 14);
    EXPECT_EQ(piwik::SiteNumberOf(u"quillsift.exe"_s), -1);
    EXPECT_EQ(piwik::SiteNumberOf(u"QUILLSIFT.EX"_s), -1);
    EXPECT_EQ(piwik::SiteNumberOf(u"ORVSETUP.EXE"_s), -1);
}

TEST_F(UsagePingTest, everyFailure_isSilentAndLeavesNoFile)
{
    testinfo::PlainListener plain;
    const QByteArray plainUrl = "http://127.0.0.1:" + QByteArray::number(plain.port()) + "/x";
    struct Case
    {
        const char *what;
        std::function<void()> arrange;
    };
    const Case cases[] = {
        { "server error",
            [&] {
                server->setResponse(kPingPath, { 500, "down", {}, true });
            } },
        { "no such page",
            [&] {
                server->setResponse(kPingPath, { 404, "missing", {}, true });
            } },
        { "redirection to plain HTTP",
            [&] {
                server->setResponse(kPingPath, { 302, {}, { { "Location", plainUrl } }, true });
            } },
        { "answer over 1 MiB",
            [&] {
                server->setResponse(
                    kPingPath, { 200, QByteArray(info::kMaxDownloadBytes + 1, 'g'), {}, false });
            } },
        { "untrusted certificate",
            [&] {
                server->setResponse(kPingPath, { 200, {}, {}, true });
                info::setDownloadCaFileForTesting(QString());
            } },
        { "closed port", [&] { serversDown(); } },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        c.arrange();
        EXPECT_NO_THROW(SendUsagePing());
        EXPECT_TRUE(temporaryFiles().isEmpty());
    }
    EXPECT_EQ(plain.connections(), 0);
    EXPECT_TRUE(testsupport::reportedErrors().isEmpty());
}
