#include "platform/LocalTime.h"

#include <QLocale>

namespace platform {

QDateTime localNow()
{
    return QDateTime::currentDateTime();
}

QString timeFormatWithoutZone(const QString &format)
{
    QString result;
    result.reserve(format.size());
    bool quoted = false;
    bool dropNextBlank = false;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format[i];
        if (c == u'\'') {
            quoted = !quoted;
            result.append(c);
            dropNextBlank = false;
            continue;
        }
        if (quoted || c != u't') {
            if (!(dropNextBlank && c.isSpace()))
                result.append(c);
            dropNextBlank = false;
            continue;
        }
        while (i + 1 < format.size() && format[i + 1] == u't')
            ++i;
        // The zone's own blank goes with it: the one before it, or after it at the start.
        if (!result.isEmpty() && result.back().isSpace())
            result.chop(1);
        else
            dropNextBlank = true;
    }
    // Brackets that held nothing but the zone.
    result.remove(QStringLiteral("()"));
    return result.trimmed();
}

QString formatTimestamp(const QDateTime &local)
{
    const QLocale locale = QLocale::system();
    const QString date = locale.toString(local.date(), QLocale::ShortFormat);
    if (local.time() == QTime(0, 0))
        return date;
    return date + u' '
        + locale.toString(
            local.time(), timeFormatWithoutZone(locale.timeFormat(QLocale::LongFormat)));
}

} // namespace platform
