#include "platform/SpecialFolders.h"

#include <QDir>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <optional>

using namespace platform;

namespace {

// Sets or removes environment variables for one test and puts them back afterwards.
class SpecialFoldersTest : public ::testing::Test
{
protected:
    void TearDown() override
    {
        for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) {
            if (it->second)
                qputenv(it->first, *it->second);
            else
                qunsetenv(it->first);
        }
    }
    void setEnv(const char *name, const char *value)
    {
        m_saved.emplace_back(name,
            qEnvironmentVariableIsSet(name) ? std::optional<QByteArray>(qgetenv(name))
                                            : std::nullopt);
        if (value)
            qputenv(name, value);
        else
            qunsetenv(name);
    }

private:
    std::vector<std::pair<const char *, std::optional<QByteArray>>> m_saved;
};

TEST_F(SpecialFoldersTest, xdgFolders_orTheirFallbacksUnderHome)
{
    const struct
    {
        const char *configHome;
        const char *dataHome;
        int csidl;
        const char *expected;
    } cases[] = {
        { "/x/config", nullptr, CSIDL_APPDATA, "/x/config/" },
        { "/x/config/", nullptr, CSIDL_APPDATA, "/x/config/" },
        { nullptr, nullptr, CSIDL_APPDATA, "/h/user/.config/" },
        { "", nullptr, CSIDL_APPDATA, "/h/user/.config/" },
        { "relative/config", nullptr, CSIDL_APPDATA, "/h/user/.config/" },
        { nullptr, "/x/data", CSIDL_PROGRAMS, "/x/data/applications/" },
        { nullptr, nullptr, CSIDL_PROGRAMS, "/h/user/.local/share/applications/" },
        { nullptr, "relative", CSIDL_PROGRAMS, "/h/user/.local/share/applications/" },
        { nullptr, nullptr, 99, "" },
        { nullptr, nullptr, -1, "" },
    };
    setEnv("HOME", "/h/user");
    for (const auto &c : cases) {
        SCOPED_TRACE(::testing::Message() << c.csidl << " " << (c.configHome ? c.configHome : "-")
                                          << " " << (c.dataHome ? c.dataHome : "-"));
        setEnv("XDG_CONFIG_HOME", c.configHome);
        setEnv("XDG_DATA_HOME", c.dataHome);
        EXPECT_EQ(specialFolder(c.csidl), QString::fromLatin1(c.expected));
    }
}

TEST_F(SpecialFoldersTest, documentsAndDesktop_areTheXdgUserFoldersWithTrailingSlash)
{
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    ASSERT_FALSE(documents.isEmpty());
    ASSERT_FALSE(desktop.isEmpty());
    EXPECT_EQ(specialFolder(CSIDL_PERSONAL), documents + u'/');
    EXPECT_EQ(specialFolder(CSIDL_DESKTOP), desktop + u'/');
}

} // namespace
