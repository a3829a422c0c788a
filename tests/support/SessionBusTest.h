#pragma once

#include "support/Fixtures.h"
#include "support/SessionBus.h"

#include <QDBusConnection>
#include <QDBusError>

#include <gtest/gtest.h>

namespace testsupport {

// A test whose program talks to a private session bus of its own, started once for the suite
// before the program's first use of the session bus. A derived SetUp calls this one first and
// returns when IsSkipped() or HasFatalFailure() says so. Links Qt DBus.
class SessionBusTest : public TempDirTest
{
protected:
    static void SetUpTestSuite()
    {
        if (!PrivateSessionBus::daemonInstalled())
            return;
        s_bus = new PrivateSessionBus;
        if (s_bus->start())
            qputenv("DBUS_SESSION_BUS_ADDRESS", s_bus->address().toUtf8());
    }

    static void TearDownTestSuite()
    {
        delete s_bus;
        s_bus = nullptr;
    }

    void SetUp() override
    {
        TempDirTest::SetUp();
        if (!s_bus)
            GTEST_SKIP() << "dbus-daemon is not installed (Debian package dbus)";
        ASSERT_FALSE(s_bus->address().isEmpty()) << s_bus->error().toStdString();
        ASSERT_TRUE(QDBusConnection::sessionBus().isConnected())
            << QDBusConnection::sessionBus().lastError().message().toStdString();
    }

    static QString busAddress() { return s_bus->address(); }

private:
    static inline PrivateSessionBus *s_bus = nullptr;
};

} // namespace testsupport
