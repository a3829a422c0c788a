#include "options/FileManager.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

namespace options {

namespace {

// Long enough for a file manager started on demand by the bus, short enough that a stuck
// service does not leave the request hanging.
constexpr int kShowItemsTimeoutMs = 5000;

void openFolderOf(const QString &file)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(file).absolutePath()));
}

} // namespace

void showFileInFileManager(const QString &file)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openFolderOf(file);
        return;
    }

    QDBusMessage call
        = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.FileManager1"),
            QStringLiteral("/org/freedesktop/FileManager1"),
            QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    const QString uri = QString::fromLatin1(QUrl::fromLocalFile(file).toEncoded());
    call << QStringList { uri } << QString();

    // The watcher belongs to the application, not to the window that asked: the answer may
    // come after that window is gone.
    auto *watcher = new QDBusPendingCallWatcher(
        bus.asyncCall(call, kShowItemsTimeoutMs), QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, QCoreApplication::instance(),
        [file](QDBusPendingCallWatcher *finished) {
            if (finished->isError())
                openFolderOf(file);
            finished->deleteLater();
        });
}

} // namespace options
