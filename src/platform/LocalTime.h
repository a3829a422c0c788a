#pragma once

#include <QDateTime>
#include <QString>

namespace platform {

// GetLocalTime, to the millisecond.
QDateTime localNow();

// The regional short date, a blank and the regional long time without a time zone; at
// exactly 00:00:00.000 the date alone.
QString formatTimestamp(const QDateTime &local);

// A QTime format without its time-zone fields ('t' runs outside quotes) and the blank that
// set them apart.
QString timeFormatWithoutZone(const QString &format);

} // namespace platform
