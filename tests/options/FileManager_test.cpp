// The settings-file button against a private session bus of the test's own, with a small
// org.freedesktop.FileManager1 service registered on it by the test itself.
#include "options/uOptions.h"
#include "support/Fixtures.h"
#include "support/SessionBusTest.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QFrame>
#include <QPushButton>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

using testsupport::PrivateSessionBus;
using testsupport::TempDirTest;

namespace {

const QString kService = QStringLiteral("org.freedesktop.FileManager1");

// Answers ShowItems as a file manager does, or refuses it with an error as a broken one would.
class FakeFileManager : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

public:
    QStringList shownUris;
    bool refuse = false;

public Q_SLOTS:
    void ShowItems(const QStringList &uris, const QString &startupId)
    {
        Q_UNUSED(startupId);
        shownUris += uris;
        if (refuse)
            sendErrorReply(QDBusError::Failed, QStringLiteral("cannot show it"));
    }
};

// Stands in for the desktop's handler of file URLs (the fallback when no file manager
// answers), so that nothing is started outside the test.
class OpenedUrls : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> urls;

public Q_SLOTS:
    void open(const QUrl &url) { urls.append(url); }
};

class FileManagerTest : public testsupport::SessionBusTest
{
protected:
    void SetUp() override
    {
        SessionBusTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &m_opened, "open");
        m_fichConfig = writeFile(QStringLiteral("Mes réglages #1/Options.ini"), "[ACME]\r\n");
    }

    void TearDown() override
    {
        unregisterFileManager();
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    }

    // Registers the fake on a connection of its own, as another program's would.
    void registerFileManager()
    {
        m_service = QDBusConnection::connectToBus(busAddress(), QStringLiteral("fake-fm"));
        ASSERT_TRUE(m_service.isConnected()) << m_service.lastError().message().toStdString();
        ASSERT_TRUE(m_service.registerObject(QStringLiteral("/org/freedesktop/FileManager1"),
            &m_fake, QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(m_service.registerService(kService));
        m_registered = true;
    }

    void unregisterFileManager()
    {
        if (!m_registered)
            return;
        m_service.unregisterService(kService);
        m_service.unregisterObject(QStringLiteral("/org/freedesktop/FileManager1"));
        QDBusConnection::disconnectFromBus(QStringLiteral("fake-fm"));
        m_registered = false;
    }

    // Opens the dialog, reveals the hidden button and presses it.
    void pressRepConfig()
    {
        TfrmOptions dialog(m_fichConfig);
        dialog.show();
        auto *panel = dialog.findChild<QFrame *>(QStringLiteral("Panel1"));
        auto *ok = dialog.findChild<QPushButton *>(QStringLiteral("bbtOk"));
        QTest::mouseDClick(
            panel, Qt::LeftButton, {}, QPoint(ok->geometry().left() / 2, panel->height() / 2));
        auto *repConfig = dialog.findChild<QPushButton *>(QStringLiteral("bbtRepConfig"));
        ASSERT_TRUE(repConfig->isVisible());
        QTest::mouseClick(repConfig, Qt::LeftButton);
    }

    QString m_fichConfig;
    OpenedUrls m_opened;
    FakeFileManager m_fake;
    QDBusConnection m_service { QString() };
    bool m_registered = false;
};

TEST_F(FileManagerTest, repConfigButton_asksTheFileManagerToShowTheSettingsFile)
{
    registerFileManager();

    pressRepConfig();

    ASSERT_TRUE(QTest::qWaitFor([this] { return !m_fake.shownUris.isEmpty(); }));
    ASSERT_EQ(m_fake.shownUris.size(), 1);
    const QString uri = m_fake.shownUris[0];
    EXPECT_TRUE(uri.startsWith(QLatin1String("file:///"))) << uri.toStdString();
    EXPECT_FALSE(uri.contains(u' ')) << "a URI carries no blank: " << uri.toStdString();
    EXPECT_EQ(QUrl(uri).toLocalFile(), m_fichConfig);
    // The call's watcher goes once its answer has been handled: the fallback would have run.
    ASSERT_TRUE(
        QTest::qWaitFor([] { return qApp->findChildren<QDBusPendingCallWatcher *>().isEmpty(); }));
    EXPECT_TRUE(m_opened.urls.isEmpty());
}

TEST_F(FileManagerTest, fileManagerRefusesTheCall_opensTheSettingsFolder)
{
    m_fake.refuse = true;
    registerFileManager();

    pressRepConfig();

    ASSERT_TRUE(QTest::qWaitFor([this] { return !m_opened.urls.isEmpty(); }));
    EXPECT_EQ(m_opened.urls.size(), 1);
    EXPECT_EQ(m_fake.shownUris.size(), 1);
    EXPECT_EQ(m_opened.urls[0], QUrl::fromLocalFile(path() + QStringLiteral("/Mes réglages #1")));
}

TEST_F(FileManagerTest, noFileManagerOnTheBus_opensTheSettingsFolder)
{
    ASSERT_FALSE(QDBusConnection::sessionBus().interface()->isServiceRegistered(kService).value());

    pressRepConfig();

    ASSERT_TRUE(QTest::qWaitFor([this] { return !m_opened.urls.isEmpty(); }));
    EXPECT_EQ(m_opened.urls.size(), 1);
    EXPECT_EQ(m_opened.urls[0], QUrl::fromLocalFile(path() + QStringLiteral("/Mes réglages #1")));
}

} // namespace

#include "FileManager_test.moc"
