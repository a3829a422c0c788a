#pragma once

#include <QString>

// The usage-statistics request: one visit recorded with the product's Piwik analytics server
// each time the main window is first shown. Its query carries nothing but the site number.
// Silent on every failure; raises nothing.
void SendUsagePing();

namespace piwik {

// The site number of an executable name as the table holds it (upper case); -1 for none.
int SiteNumberOf(const QString &executableName);

// What SendUsagePing does once it has read OriginalFileName from the running executable.
void SendUsagePingFor(const QString &originalFileName);

} // namespace piwik
