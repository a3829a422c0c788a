// The settings-file button against a private session bus: a dbus-daemon started here with
// the session bus's rules, and a small org.freedesktop.FileManager1 service registered on
// it by the test itself.
#include "options/uOptions.h"
#include "support/Fixtures.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDesktopServices>
#include <QFrame>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

using testsupport::TempDirTest;

namespace {

const QString kService = QStringLiteral("org.freedesktop.FileManager1");

class FakeFileManager : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

public:
    QStringList shownUris;

public Q_SLOTS:
    void ShowItems(const QStringList &uris, const QString &startupId)
    {
        Q_UNUSED(startupId);
        shownUris += uris;
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

class FileManagerTest : public TempDirTest
{
protected:
    static void SetUpTestSuite()
    {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty())
            return;
        // The session bus's rules without its service folders: asking for a service that
        // is not running must not start a real file manager installed on this machine.
        s_configDir = new QTemporaryDir;
        const QString config = s_configDir->filePath(QStringLiteral("bus.conf"));
        testsupport::writeBytes(config,
            "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
            " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
            "<busconfig>\n"
            "  <type>session</type>\n"
            "  <listen>unix:tmpdir="
                + QFile::encodeName(s_configDir->path())
                + "</listen>\n"
                  "  <auth>EXTERNAL</auth>\n"
                  "  <policy context=\"default\">\n"
                  "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                  "    <allow eavesdrop=\"true\"/>\n"
                  "    <allow own=\"*\"/>\n"
                  "  </policy>\n"
                  "</busconfig>\n");
        s_daemon = new QProcess;
        s_daemon->start(daemon,
            { QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                QStringLiteral("--print-address=1") });
        if (!s_daemon->waitForStarted(5000))
            return;
        QByteArray address;
        while (!address.contains('\n') && s_daemon->waitForReadyRead(5000))
            address += s_daemon->readAllStandardOutput();
        s_address = QString::fromUtf8(address.trimmed());
        // Read by the program's first use of the session bus, which comes after this.
        qputenv("DBUS_SESSION_BUS_ADDRESS", address.trimmed());
    }

    static void TearDownTestSuite()
    {
        if (s_daemon) {
            s_daemon->kill();
            s_daemon->waitForFinished(5000);
            delete s_daemon;
            s_daemon = nullptr;
        }
        delete s_configDir;
        s_configDir = nullptr;
    }

    void SetUp() override
    {
        TempDirTest::SetUp();
        if (s_address.isEmpty())
            GTEST_SKIP() << "dbus-daemon is not available";
        ASSERT_TRUE(QDBusConnection::sessionBus().isConnected())
            << QDBusConnection::sessionBus().lastError().message().toStdString();
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &m_opened, "open");
        m_fichConfig = writeFile(QStringLiteral("Mes réglages #1/Options.ini"), "[ACME]\r\n");
    }

    void TearDown() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }

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

    static inline QTemporaryDir *s_configDir = nullptr;
    static inline QProcess *s_daemon = nullptr;
    static inline QString s_address;

    QString m_fichConfig;
    OpenedUrls m_opened;
};

TEST_F(FileManagerTest, repConfigButton_asksTheFileManagerToShowTheSettingsFile)
{
    // The service lives on a connection of its own, as another program's would.
    QDBusConnection service = QDBusConnection::connectToBus(s_address, QStringLiteral("fake-fm"));
    ASSERT_TRUE(service.isConnected());
    FakeFileManager fake;
    ASSERT_TRUE(service.registerObject(
        QStringLiteral("/org/freedesktop/FileManager1"), &fake, QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(service.registerService(kService));

    pressRepConfig();

    QTRY_COMPARE(fake.shownUris.size(), 1);
    const QString uri = fake.shownUris[0];
    EXPECT_TRUE(uri.startsWith(QLatin1String("file:///"))) << uri.toStdString();
    EXPECT_FALSE(uri.contains(u' ')) << "a URI carries no blank: " << uri.toStdString();
    EXPECT_EQ(QUrl(uri).toLocalFile(), m_fichConfig);
    EXPECT_TRUE(m_opened.urls.isEmpty());

    service.unregisterService(kService);
    service.unregisterObject(QStringLiteral("/org/freedesktop/FileManager1"));
    QDBusConnection::disconnectFromBus(QStringLiteral("fake-fm"));
}

TEST_F(FileManagerTest, noFileManagerOnTheBus_opensTheSettingsFolder)
{
    ASSERT_FALSE(QDBusConnection::sessionBus().interface()->isServiceRegistered(kService).value());

    pressRepConfig();

    QTRY_COMPARE(m_opened.urls.size(), 1);
    EXPECT_EQ(m_opened.urls[0], QUrl::fromLocalFile(path() + QStringLiteral("/Mes réglages #1")));
}

} // namespace

#include "FileManager_test.moc"
