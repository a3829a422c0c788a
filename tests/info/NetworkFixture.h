#pragma once

#include "HttpsServer.h"

#include "info/Download.h"
#include "info/ServerUrls.h"
#include "support/Fixtures.h"

#include <QDir>

#include <memory>

namespace testinfo {

// A fresh local HTTPS server per test, trusted by the downloads and standing in for both the
// publisher's and the analytics server.
class NetworkTest : public testsupport::TempDirTest
{
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        for (const char *proxy : { "http_proxy", "https_proxy", "HTTPS_PROXY", "ALL_PROXY",
                 "all_proxy", "NO_PROXY", "no_proxy" })
            qunsetenv(proxy);
        server = std::make_unique<HttpsServer>(path());
        ASSERT_TRUE(server->isListening());
        info::setDownloadCaFileForTesting(server->caFile());
        info::setServerUrlsForTesting(server->url(), server->url());
    }

    void TearDown() override
    {
        info::setServerUrlsForTesting(QString(), QString());
        info::setDownloadCaFileForTesting(QString());
        info::setDownloadTimeoutCapForTesting(std::chrono::milliseconds(0));
        server.reset();
    }

    // Points both servers at an address of 127.0.0.1 where nothing listens.
    void serversDown()
    {
        const QString down = QStringLiteral("https://127.0.0.1:%1").arg(closedPort());
        info::setServerUrlsForTesting(down, down);
    }

    // The files directly in the temporary folder (the test's own folder is a subfolder).
    static QStringList temporaryFiles()
    {
        return QDir(QDir::tempPath()).entryList(QDir::Files | QDir::Hidden | QDir::System);
    }

    std::unique_ptr<HttpsServer> server;
};

} // namespace testinfo
