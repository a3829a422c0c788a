#include "platform/LocalTime.h"

#include <QLocale>

#include <gtest/gtest.h>

using namespace platform;

namespace {

TEST(LocalTimeTest, timeFormatWithoutZone_dropsZoneFieldsAndTheirBlank)
{
    const struct
    {
        const char *format;
        const char *expected;
    } cases[] = {
        { "HH:mm:ss t", "HH:mm:ss" },
        { "h:mm:ss AP t", "h:mm:ss AP" },
        { "HH:mm:ss tttt", "HH:mm:ss" },
        { "t HH:mm:ss", "HH:mm:ss" },
        { "HH:mm:ss (t)", "HH:mm:ss" },
        { "HH 'h' mm 'min' ss 's' t", "HH 'h' mm 'min' ss 's'" },
        { "HH:mm:ss 'at' t", "HH:mm:ss 'at'" }, // a quoted 't' is text
        { "H:mm:ss", "H:mm:ss" },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.format);
        EXPECT_EQ(
            timeFormatWithoutZone(QString::fromLatin1(c.format)), QString::fromLatin1(c.expected));
    }
}

TEST(LocalTimeTest, formatTimestamp_isShortDateBlankLongTimeWithoutZone)
{
    const QDateTime moment(QDate(2024, 3, 9), QTime(14, 5, 7, 250));
    const QLocale locale = QLocale::system();
    const QString expected = locale.toString(moment.date(), QLocale::ShortFormat) + u' '
        + locale.toString(
            moment.time(), timeFormatWithoutZone(locale.timeFormat(QLocale::LongFormat)));
    EXPECT_EQ(formatTimestamp(moment), expected);
    EXPECT_FALSE(formatTimestamp(moment).contains(moment.timeZoneAbbreviation()));
    if (locale.name() == QLatin1String("fr_FR")) {
        EXPECT_EQ(formatTimestamp(moment), QStringLiteral("09/03/2024 14:05:07"));
    }
}

TEST(LocalTimeTest, formatTimestamp_atExactMidnight_isTheDateAlone)
{
    const QDate day(2024, 12, 31);
    const QString date = QLocale::system().toString(day, QLocale::ShortFormat);

    EXPECT_EQ(formatTimestamp(QDateTime(day, QTime(0, 0, 0, 0))), date);
    // One millisecond later the time is there, although it shows as 00:00:00.
    const QString later = formatTimestamp(QDateTime(day, QTime(0, 0, 0, 1)));
    EXPECT_TRUE(later.startsWith(date + u' ')) << later.toStdString();
    EXPECT_GT(later.size(), date.size() + 1);
}

} // namespace
