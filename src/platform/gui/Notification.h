#pragma once

#include <QString>

// Desktop notifications (org.freedesktop.Notifications on the session bus).
namespace platform {

// One notification with the program's name and icon. Sent without waiting for an answer:
// without a session bus or a notification service, nothing happens.
void notifyDesktop(const QString &summary, const QString &body);

} // namespace platform
