// The end of a long run behind other windows, told on the desktop: against a private session
// bus (a dbus-daemon started here) and a notification service of the test's own on it.
#include "copy/LogModel.h"
#include "copy/uProcessCopy.h"
#include "settings/Settings.h"
#include "support/Fixtures.h"
#include "support/Modal.h"
#include "support/SessionBusTest.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDialog>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QVariantMap>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

const QString kService = u"org.freedesktop.Notifications"_s;
const QString kPath = u"/org/freedesktop/Notifications"_s;

class FakeNotifications : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Call
    {
        QString appName;
        uint replacesId;
        QString appIcon;
        QString summary;
        QString body;
        QStringList actions;
        QVariantMap hints;
        int expireTimeout;
    };
    QList<Call> calls;
    bool answers = true; // a stuck service takes the call and never answers

public Q_SLOTS:
    uint Notify(const QString &appName, uint replacesId, const QString &appIcon,
        const QString &summary, const QString &body, const QStringList &actions,
        const QVariantMap &hints, int expireTimeout, const QDBusMessage &message)
    {
        calls.append(
            { appName, replacesId, appIcon, summary, body, actions, hints, expireTimeout });
        if (!answers)
            message.setDelayedReply(true);
        return uint(calls.size());
    }

    QStringList GetCapabilities() { return { u"body"_s }; }
};

class CopyNotifyTest : public testsupport::SessionBusTest
{
protected:
    void SetUp() override
    {
        SessionBusTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        config.DontReplace = false;
        config.AdaptatFiltre = 0;
        config.WithTimestamp = false;
    }

    tyConfig config;
};

// The service on a connection of its own, as the desktop's would be.
class ServiceOnTheBus
{
public:
    explicit ServiceOnTheBus(const QString &address)
        : m_connection(QDBusConnection::connectToBus(address, u"fake-notifications"_s))
    {
        m_registered = m_connection.registerObject(kPath, &service, QDBusConnection::ExportAllSlots)
            && m_connection.registerService(kService);
    }
    ~ServiceOnTheBus()
    {
        m_connection.unregisterService(kService);
        m_connection.unregisterObject(kPath);
        QDBusConnection::disconnectFromBus(u"fake-notifications"_s);
    }
    bool registered() const { return m_registered; }

    FakeNotifications service;

private:
    QDBusConnection m_connection;
    bool m_registered = false;
};

TEST_F(CopyNotifyTest, endOfALongRunBehindOtherWindows_isNotifiedOnce_withTheSummaryCounts)
{
    const struct
    {
        const char *name;
        bool service;
        bool answers;
        bool windowActive;
        std::chrono::milliseconds after;
        bool stop;
        bool error;
        const char *summary; // none expected when null
    } cases[] = {
        { "behind another window", true, true, false, 0ms, false, false, "Copie terminée" },
        { "with an error", true, true, false, 0ms, false, true, "Copie terminée" },
        { "stopped", true, true, false, 0ms, true, false, "Copie arrêtée" },
        { "the active window", true, true, true, 0ms, false, false, nullptr },
        { "shorter than the threshold", true, true, false, 1h, false, false, nullptr },
        { "a service that never answers", true, false, false, 0ms, false, false, "Copie terminée" },
        { "no notification service", false, true, false, 0ms, false, false, nullptr },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const QString run = QString::fromLatin1(c.name).replace(u' ', u'-');
        const QString src = makeDir(run + u"/src"_s);
        const QString dst = makeDir(run + u"/dst"_s);
        for (int i = 0; i < 5; ++i)
            writeFile(run + u"/src/f%1.txt"_s.arg(i), "0123456789");
        if (c.error) {
            writeFile(run + u"/src/e.txt"_s, "x");
            makeDir(run + u"/dst/e.txt"_s);
        }
        std::unique_ptr<ServiceOnTheBus> bus;
        if (c.service) {
            bus = std::make_unique<ServiceOnTheBus>(busAddress());
            ASSERT_TRUE(bus->registered());
            bus->service.answers = c.answers;
        }
        const QStringList filters = { u"*.txt"_s };

        TfrmCopy form(config);
        form.FRepSrc = src + u'/';
        form.FRepDst = dst + u'/';
        form.FFilter = &filters;
        form.setNotifyAfter(c.after);

        // At every pump point from the first file on, up to the last one, the window that
        // is to be active at the end is made so: a window manager may hand the activation
        // back to the copy window meanwhile.
        QPointer<QWidget> wanted = &form;
        if (!c.windowActive) {
            wanted = new QWidget(&form, Qt::Window);
            wanted->setObjectName(u"other"_s);
            wanted->resize(200, 100);
        }
        bool placed = true;
        bool armed = false;
        QString seen;
        QTimer step;
        step.setInterval(0);
        QObject::connect(&step, &QTimer::timeout, &form, [&] {
            if (form.findChild<QPushButton *>(u"bbtClose"_s)->isEnabled() || form.log().size() < 2)
                return;
            if (QApplication::activeWindow() != wanted) {
                wanted->show();
                wanted->activateWindow();
                placed = placed
                    && QTest::qWaitFor([&] { return QApplication::activeWindow() == wanted; });
            }
            if (armed)
                return;
            armed = true;
            if (c.stop)
                QTest::mouseClick(form.findChild<QPushButton *>(u"bbtStop"_s), Qt::LeftButton);
            testsupport::onNextModal([&](QWidget *box) {
                seen = testsupport::dialogText(box);
                for (QAbstractButton *button : box->findChildren<QAbstractButton *>()) {
                    if (button->text() == u"OK"_s)
                        button->click();
                }
                QTimer::singleShot(0, &form, [&form] { form.close(); });
            });
        });
        step.start();
        // A run gone wrong ends the test instead of leaving the window open for ever.
        QTimer watchdog;
        watchdog.setSingleShot(true);
        watchdog.setInterval(15000);
        QObject::connect(&watchdog, &QTimer::timeout, &form, [&] {
            ADD_FAILURE() << "the run did not end";
            while (QWidget *modal = QApplication::activeModalWidget()) {
                if (auto *dialog = qobject_cast<QDialog *>(modal))
                    dialog->done(QDialog::Rejected);
                else
                    modal->close();
                if (modal == &form)
                    break;
            }
        });
        watchdog.start();

        form.exec();

        EXPECT_TRUE(armed);
        EXPECT_TRUE(placed);
        // The end is announced in the window in every case, the service stuck or missing.
        EXPECT_EQ(seen,
            c.stop ? u"La copie des fichiers a été arrêtée."_s
                   : u"La copie des fichiers est terminée."_s);
        EXPECT_TRUE(testsupport::reportedErrors().isEmpty());
        if (!bus)
            continue;
        if (c.summary) {
            // QTRY_* would leave the test without a failure of its own.
            ASSERT_TRUE(QTest::qWaitFor([&] { return bus->service.calls.size() == 1; }));
            const FakeNotifications::Call &call = bus->service.calls.first();
            EXPECT_EQ(call.appName, u"Quill Sift"_s);
            EXPECT_EQ(call.appIcon, u"quillsift"_s);
            EXPECT_EQ(call.replacesId, 0u);
            EXPECT_EQ(call.summary, QString::fromUtf8(c.summary));
            const QString counts = c.stop ? u"Copiés : 1   Ignorés : 0   Erreurs : 0"_s
                : c.error                 ? u"Erreurs : 1   Copiés : 5   Ignorés : 0"_s
                                          : u"Copiés : 5   Ignorés : 0   Erreurs : 0"_s;
            EXPECT_EQ(call.body, counts);
            EXPECT_TRUE(call.actions.isEmpty());
            EXPECT_EQ(call.expireTimeout, -1);
        }
        // A call made after the run reaches the service after any notification of the run.
        QDBusPendingCall after = QDBusConnection::sessionBus().asyncCall(
            QDBusMessage::createMethodCall(kService, kPath, kService, u"GetCapabilities"_s));
        EXPECT_TRUE(QTest::qWaitFor([&] { return after.isFinished(); }));
        EXPECT_EQ(bus->service.calls.size(), c.summary ? 1 : 0);
    }
}

} // namespace

#include "uProcessCopyNotify_test.moc"
