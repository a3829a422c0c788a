// A program the tests start, then replace or remove on disk while it runs. Once it has read a
// line on its standard input it prints, one per line, what it finds about itself at that
// moment: the running version as the About box reads it, the version, original file name and
// site number the usage ping reads, the path a launcher or a restart would start, and the update
// file the About box would ask for.
#include "info/ServerUrls.h"
#include "info/VersionInfoReader.h"
#include "info/uAbout102.h"
#include "info/uPiwik102.h"
#include "platform/Error.h"
#include "platform/Paths.h"

#include <cstdio>
#include <iostream>
#include <string>

namespace {

void print(const char *key, const QString &value)
{
    std::cout << key << '=' << value.toStdString() << '\n';
}

} // namespace

int main()
{
    std::cout << "ready" << std::endl;
    std::string line;
    std::getline(std::cin, line);

    try {
        print("about", about::GetRunningVersionText());
    } catch (const AppError &error) {
        print("about", QStringLiteral("error: ") + error.message());
    }
    const TVersionInfoReader reader;
    print("reader", reader.FileVersionNumber().toString());
    print("original", reader.OriginalFileName());
    print("site", QString::number(piwik::SiteNumberOf(reader.OriginalFileName().toUpper())));
    print("installed", platform::executablePath());
    print("update", about::UpdateFileUrl().mid(info::publisherUrl().size()));
    std::cout.flush();
    return 0;
}
