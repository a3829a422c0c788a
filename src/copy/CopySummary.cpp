#include "copy/CopySummary.h"

#include <QStringList>

namespace {

// Counts and sizes are never negative.
QString grouped(qint64 value)
{
    QString digits = QString::number(value);
    for (qsizetype at = digits.size() - 3; at > 0; at -= 3)
        digits.insert(at, QChar(0x00A0));
    return digits;
}

// One decimal with a decimal comma, as French writes it.
QString oneDecimal(double value)
{
    return QString::number(value, 'f', 1).replace(u'.', u',');
}

} // namespace

QString summaryText(const CopyTally &tally)
{
    return u"Copiés : " + grouped(tally.copied) + u"   Ignorés : " + grouped(tally.skipped)
        + u"   Erreurs : " + grouped(tally.errors);
}

QString summaryText(const CopyTally &tally, qint64 remaining)
{
    if (remaining < 0)
        return summaryText(tally);
    return summaryText(tally) + u"   Temps restant : " + durationText(remaining);
}

qint64 remainingTime(qint64 visited, qint64 total, qint64 elapsed)
{
    constexpr qint64 kFirstFiles = 10;
    constexpr qint64 kFirstMilliseconds = 2000;
    if (visited < kFirstFiles || elapsed < kFirstMilliseconds || visited >= total)
        return -1;
    return qint64(double(elapsed) * double(total - visited) / double(visited));
}

QString finalSummaryText(const CopyTally &tally, qint64 milliseconds)
{
    return summaryText(tally) + u"   Total : " + byteCountText(tally.bytes) + u" en "
        + durationText(milliseconds);
}

QString notificationText(const CopyTally &tally)
{
    if (tally.errors == 0)
        return summaryText(tally);
    return u"Erreurs : " + grouped(tally.errors) + u"   Copiés : " + grouped(tally.copied)
        + u"   Ignorés : " + grouped(tally.skipped);
}

QString byteCountText(qint64 bytes)
{
    if (bytes < 1024)
        return grouped(bytes) + (bytes == 1 || bytes == 0 ? u" octet" : u" octets");
    static const char16_t *const units[] = { u"Ko", u"Mo", u"Go", u"To" };
    double value = double(bytes) / 1024;
    int unit = 0;
    // Rounded first, so that 1023,96 Ko reads 1,0 Mo and not 1024,0 Ko.
    while (unit < 3 && value >= 1023.95) {
        value /= 1024;
        ++unit;
    }
    return oneDecimal(value) + u' ' + QStringView(units[unit]);
}

QString durationText(qint64 milliseconds)
{
    if (milliseconds < 0)
        milliseconds = 0;
    if (milliseconds < 59950)
        return oneDecimal(double(milliseconds) / 1000) + u" s";
    const qint64 seconds = (milliseconds + 500) / 1000;
    const QString secondsText = QStringLiteral("%1 s").arg(seconds % 60, 2, 10, QChar(u'0'));
    if (seconds < 3600)
        return QStringLiteral("%1 min ").arg(seconds / 60) + secondsText;
    return QStringLiteral("%1 h %2 min ")
               .arg(seconds / 3600)
               .arg(seconds / 60 % 60, 2, 10, QChar(u'0'))
        + secondsText;
}
