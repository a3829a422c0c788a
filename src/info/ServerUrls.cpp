#include "info/ServerUrls.h"

#ifndef QS_PUBLISHER_URL
#error "QS_PUBLISHER_URL comes from the build settings"
#endif
#ifndef QS_ANALYTICS_URL
#error "QS_ANALYTICS_URL comes from the build settings"
#endif
#ifndef QS_SUPPORT_EMAIL
#error "QS_SUPPORT_EMAIL comes from the build settings"
#endif

namespace info {

namespace {

QString publisherOverride;
QString analyticsOverride;

QString withoutTrailingSlashes(QString url)
{
    while (url.endsWith(u'/'))
        url.chop(1);
    return url;
}

} // namespace

QString publisherUrl()
{
    return withoutTrailingSlashes(
        publisherOverride.isEmpty() ? QStringLiteral(QS_PUBLISHER_URL) : publisherOverride);
}

QString analyticsUrl()
{
    return withoutTrailingSlashes(
        analyticsOverride.isEmpty() ? QStringLiteral(QS_ANALYTICS_URL) : analyticsOverride);
}

QString supportAddress()
{
    return QStringLiteral(QS_SUPPORT_EMAIL);
}

void setServerUrlsForTesting(const QString &publisher, const QString &analytics)
{
    publisherOverride = publisher;
    analyticsOverride = analytics;
}

} // namespace info
