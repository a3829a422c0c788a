#pragma once

#include <QString>

// The publisher's web server (update file, wiki and licence pages) and the analytics server
// (usage ping): build settings QS_PUBLISHER_URL and QS_ANALYTICS_URL, without a trailing '/'.
// The publisher's support mail address (bug reports): build setting QS_SUPPORT_EMAIL.
namespace info {

QString publisherUrl();
QString analyticsUrl();
QString supportAddress();

// Tests only: points both at a local server; an empty text restores the built-in address.
void setServerUrlsForTesting(const QString &publisher, const QString &analytics);

} // namespace info
