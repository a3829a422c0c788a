// The main of every test program: a real Qt application under the offscreen platform, with
// the user's folders pointed at a private temporary folder so that no test touches them.
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
    for (const char *sub : {"/home", "/home/.config", "/home/.local/share", "/tmp"})
        QDir().mkpath(root + QString::fromLatin1(sub));
    qputenv("HOME", QFile::encodeName(root + QStringLiteral("/home")));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(root + QStringLiteral("/home/.config")));
    qputenv("XDG_DATA_HOME", QFile::encodeName(root + QStringLiteral("/home/.local/share")));
    qputenv("TMPDIR", QFile::encodeName(root + QStringLiteral("/tmp")));
    qunsetenv("XDG_DESKTOP_DIR");
    qunsetenv("XDG_DOCUMENTS_DIR");
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");

    platform::Application app(argc, argv);
    app.setApplicationName(QStringLiteral("Quill Sift"));
    testsupport::installErrorRecorder();
    return RUN_ALL_TESTS();
}
