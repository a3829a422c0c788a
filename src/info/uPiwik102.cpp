#include "info/uPiwik102.h"

#include "info/Download.h"
#include "info/ServerUrls.h"
#include "info/VersionInfoReader.h"

#include <QCoreApplication>

#include <array>
#include <memory>

using namespace Qt::StringLiterals;

namespace piwik {

namespace {

struct Site
{
    QLatin1StringView executable;
    int site;
};

// The publisher's programs and the Piwik site each one is counted under; -1: not counted.
constexpr std::array<Site, 12> kSites { {
    { "ORVTIDY.EXE"_L1, 4 },
    { "ORVRENAME.EXE"_L1, 5 },
    { "ORVHASH.EXE"_L1, 6 },
    { "ORVSETUP.EXE"_L1, -1 },
    { "ORVSPLIT.EXE"_L1, 7 },
    { "ORVVIEW.EXE"_L1, 8 },
    { "QUILLSIFT.EXE"_L1, 14 },
    { "ORVTAGS.EXE"_L1, 9 },
    { "ORVDIFF.EXE"_L1, 10 },
    { "ORVUPDATE.EXE"_L1, -1 },
    { "ORVPRINT.EXE"_L1, 11 },
    { "ORVZIP.EXE"_L1, 13 },
} };

} // namespace

int SiteNumberOf(const QString &executableName)
{
    for (const Site &entry : kSites) {
        if (executableName == entry.executable)
            return entry.site;
    }
    return -1;
}

void SendUsagePingFor(const QString &originalFileName)
{
    // Unicode upper case, not the locale's: a Turkish dotted capital I must not lose the match.
    const int site = SiteNumberOf(originalFileName.toUpper());
    if (site < 0)
        return;
    info::TempFile response = info::MakeTempFileName(u".tmp"_s);
    if (!response.isValid())
        return;
    const QString address = info::analyticsUrl() + u"/statistiques/piwik.php?idsite="_s
        + QString::number(site) + u"&rec=1"_s;
    // The answer is never read; the response file goes with `response`, success or not.
    info::DownloadUrlToFile(address, response, info::kPingTimeout);
}

} // namespace piwik

void SendUsagePing()
{
    try {
        QString name;
        {
            const std::unique_ptr<TVersionInfoReader> reader(
                new TVersionInfoReader(QCoreApplication::instance()));
            name = reader->OriginalFileName();
        }
        piwik::SendUsagePingFor(name);
    } catch (...) {
        // The ping never disturbs the start.
    }
}
