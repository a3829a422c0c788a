// Settings files with bytes no editor would write: the values are read and written back by
// the rules, as far as they can be.
#include "settings/Settings.h"
#include "support/Fixtures.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

class SettingsBadInputTest : public testsupport::TempDirTest
{
};

// The platform's reader hands a value over in a buffer that ends at its first NUL: what
// follows is not part of the value, and writing the value back drops it from the file.
TEST_F(SettingsBadInputTest, valuesWithNulBytes_areReadUpToTheFirstNul)
{
    constexpr char kBytes[] = "[ACME]\r\n"
                              "DontReplace=1\0garbage\r\n"
                              "AdaptatFiltre=3\0\0\r\n"
                              "WithTimestamp=\0"
                              "0\r\n"
                              "LogFile=/tmp/journal.log\0/etc/passwd\r\n"
                              "ExtendedView=1\0\r\n";
    const QString ini = writeFile(u"Options.ini"_s, QByteArray(kBytes, sizeof kBytes - 1));

    const tyConfig config = readConfig(ini);
    EXPECT_TRUE(config.DontReplace);
    EXPECT_EQ(config.AdaptatFiltre, 3);
    EXPECT_TRUE(config.WithTimestamp); // an empty value: the key's default
    EXPECT_EQ(config.LogFile, u"/tmp/journal.log"_s);
    EXPECT_TRUE(config.ExtendedView);

    writeConfig(config, ini);
    EXPECT_EQ(readFile(u"Options.ini"_s),
        "[ACME]\r\nDontReplace=1\r\nAdaptatFiltre=3\r\nWithTimestamp=1\r\n"
        "LogFile=/tmp/journal.log\r\nExtendedView=1\r\n");
}

} // namespace
