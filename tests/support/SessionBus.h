#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <memory>

namespace testsupport {

// A private D-Bus session bus for one test program: a dbus-daemon of its own with the session
// bus's rules but no service folders, so that asking for a service nobody runs starts nothing
// installed on this machine. Stopped when the object goes.
//
//   if (!PrivateSessionBus::daemonInstalled()) GTEST_SKIP() << "dbus-daemon ... missing";
//   ASSERT_TRUE(bus.start()) << bus.error().toStdString();
//   qputenv("DBUS_SESSION_BUS_ADDRESS", bus.address().toUtf8()); // before the first use
class PrivateSessionBus
{
public:
    PrivateSessionBus();
    ~PrivateSessionBus();
    PrivateSessionBus(const PrivateSessionBus &) = delete;
    PrivateSessionBus &operator=(const PrivateSessionBus &) = delete;

    static bool daemonInstalled();
    // Starts the daemon and waits for its address; false with error() saying why.
    bool start();
    QString address() const { return m_address; }
    QString error() const { return m_error; }

private:
    QTemporaryDir m_dir;
    std::unique_ptr<QProcess> m_daemon;
    QString m_address;
    QString m_error;
};

// A value of a D-Bus address (a socket's folder, for one) with every byte outside the
// address format's plain set written as %XX, as the format requires.
QByteArray escapeBusAddressValue(const QByteArray &value);

} // namespace testsupport
