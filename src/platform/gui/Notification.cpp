#include "platform/gui/Notification.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QVariantMap>

namespace platform {

void notifyDesktop(const QString &summary, const QString &body)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    QDBusMessage call
        = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.Notifications"),
            QStringLiteral("/org/freedesktop/Notifications"),
            QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    // The desktop entry lets the desktop group the notification with the program's windows.
    const QVariantMap hints { { QStringLiteral("desktop-entry"), QStringLiteral("quillsift") } };
    call << QStringLiteral("Quill Sift") << uint(0) << QStringLiteral("quillsift") << summary
         << body << QStringList() << hints << int(-1);
    // The notification's number is of no use here: no answer is waited for, so a service
    // that is missing or stuck never holds the window.
    bus.send(call);
}

} // namespace platform
