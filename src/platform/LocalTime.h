#pragma once

#include <QDateTime>
#include <QString>

namespace platform {

// GetLocalTime, to the millisecond.
QDateTime localNow();

// The regional short date, a blank and the regional long time without a time zone; at
// exactly 00:00:00.000 the date alone.
QString formatTimestamp(const QDateTime &local);

} // namespace platform
