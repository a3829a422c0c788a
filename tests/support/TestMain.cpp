// The main of every test program: a real Qt application under the offscreen platform (or the
// one QT_QPA_PLATFORM names, xcb under support/run-x11), with the user's folders pointed at a
// private temporary folder so that no test touches them.
#include "support/Fixtures.h"

#include "platform/gui/Application.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>

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
    return RUN_ALL_TESTS();
}
