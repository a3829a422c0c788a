// The main of every test program: a real Qt application under the offscreen platform (or the
// one QT_QPA_PLATFORM names, xcb under support/run-x11), with the user's folders pointed at a
// private temporary folder so that no test touches them.
//
// A test that cannot run for want of a tool or service calls GTEST_SKIP() with the reason. The
// program then exits QS_TEST_SKIP_RETURN_CODE (ctest's SKIP_RETURN_CODE, set by qs_add_test)
// when nothing failed, so that ctest lists it as skipped, never as passed. Under CI, where
// scripts/install-deps has installed everything, a skip is a failure.
#include "support/Fixtures.h"

#include "platform/gui/Application.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace {

bool underCi()
{
    const QByteArray ci = qgetenv("CI").trimmed().toLower();
    return !ci.isEmpty() && ci != "0" && ci != "false" && ci != "no";
}

} // namespace

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/quillsift-test-XXXXXX"));
    if (!home.isValid())
        return 2;
    const QString root = home.path();
    for (const char *sub : { "/home", "/home/.config", "/home/.local/share", "/tmp" })
        QDir().mkpath(root + QString::fromLatin1(sub));
    qputenv("HOME", QFile::encodeName(root + QStringLiteral("/home")));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(root + QStringLiteral("/home/.config")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(root + QStringLiteral("/home/.local/share")));
    qputenv("TMPDIR", QFile::encodeName(root + QStringLiteral("/tmp")));
    qunsetenv("XDG_DESKTOP_DIR");
    qunsetenv("XDG_DOCUMENTS_DIR");
    // No session bus: not the user's, and not one that libdbus would start for the X display
    // (its "autolaunch" when the address is unset). Tests that need a bus start their own.
    qputenv("DBUS_SESSION_BUS_ADDRESS",
        "unix:path=" + QFile::encodeName(root + QStringLiteral("/no-session-bus")));

    platform::Application app(argc, argv);
    app.setApplicationName(QStringLiteral("Quill Sift"));
    testsupport::installErrorRecorder();
    const int status = RUN_ALL_TESTS();
    const int skipped = ::testing::UnitTest::GetInstance()->skipped_test_count();
    if (status != 0 || skipped == 0)
        return status;
    if (underCi()) {
        std::fprintf(stderr,
            "%d test(s) skipped, listed above: under CI (CI=%s) a skip is a failure, for CI "
            "installs every tool and service the tests need (scripts/packages.txt)\n",
            skipped, qgetenv("CI").constData());
        return 1;
    }
    return QS_TEST_SKIP_RETURN_CODE;
}
