#include "DesktopEntryReader.h"

#include "options/DesktopEntry.h"
#include "platform/Error.h"
#include "support/Fixtures.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <sys/stat.h>

using testsupport::TempDirTest;

namespace {

mode_t modeOf(const QString &path)
{
    struct stat st
    {
    };
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return 0;
    return st.st_mode & 07777;
}

// Debian's desktop-file-utils, when installed: a second reader of the written file.
QString validatorProgram()
{
    return QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
}

// The folders where the desktop looks for icons are the test's own, and empty at first.
class CreateShortcutTest : public TempDirTest
{
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        for (const char *name : { "HOME", "XDG_DATA_HOME", "XDG_DATA_DIRS" })
            m_savedEnvironment.append({ name, qgetenv(name) });
        qputenv("HOME", QFile::encodeName(makeDir(QStringLiteral("home"))));
        qputenv("XDG_DATA_HOME", QFile::encodeName(makeDir(QStringLiteral("home/.local/share"))));
        qputenv("XDG_DATA_DIRS",
            QFile::encodeName(makeDir(QStringLiteral("usr/local/share")) + QLatin1Char(':')
                + makeDir(QStringLiteral("usr/share"))));
    }

    void TearDown() override
    {
        for (const auto &[name, value] : m_savedEnvironment)
            qputenv(name, value);
    }

    QString entryFile() const { return file(QStringLiteral("Quill Sift.desktop")); }

    QList<std::pair<const char *, QByteArray>> m_savedEnvironment;
};

// Executable paths that a careless quoting would break or turn into something else.
const char *const kHostilePaths[] = {
    "/usr/bin/quillsift",
    "/opt/Quill Sift/quillsift",
    "/opt/  two  blanks /quill sift",
    "/opt/say \"hi\"/quillsift",
    "/opt/it's/quillsift",
    "/opt/100%/quillsift",
    "/opt/%f %u %%/quillsift",
    "/opt/$HOME/${PATH}/quillsift",
    "/opt/back\\slash/quillsift",
    "/opt/two\\\\backslashes\\/quillsift",
    "/opt/\\s\\n not escapes/quillsift",
    "/opt/`id`/quillsift",
    "/opt/mix \\\"$`%;&|<>*?#()~=/quillsift",
    "/opt/été ünïcode 日本/quillsift",
    "/opt/emoji \xF0\x9F\x98\x80/quillsift",
    "/opt/trailing\\",
};

TEST_F(CreateShortcutTest, hostileExecutablePaths_readBackAsTheSameProgram)
{
    const QString validator = validatorProgram();
    for (const char *raw : kHostilePaths) {
        const QString program = QString::fromUtf8(raw);
        SCOPED_TRACE(program.toStdString());

        options::CreateShortcut(program, entryFile());

        const QByteArray written = testsupport::readBytes(entryFile());
        const std::optional<QStringList> command = entryreader::commandLine(written);
        ASSERT_TRUE(command.has_value()) << written.toStdString();
        EXPECT_EQ(*command, QStringList { program });
        EXPECT_EQ(
            entryreader::rawValue(written, QStringLiteral("Type")), QStringLiteral("Application"));
        EXPECT_EQ(
            entryreader::rawValue(written, QStringLiteral("Name")), QStringLiteral("Quill Sift"));
        EXPECT_FALSE(entryreader::rawValue(written, QStringLiteral("Comment")).has_value());

        if (!validator.isEmpty()) {
            QProcess validate;
            validate.start(validator, { entryFile() });
            ASSERT_TRUE(validate.waitForFinished(10000));
            EXPECT_EQ(validate.exitCode(), 0) << validate.readAllStandardOutput().toStdString()
                                              << validate.readAllStandardError().toStdString();
        }
    }
    if (validator.isEmpty())
        GTEST_SKIP() << "desktop-file-validate is not installed; only our own reader checked";
}

TEST_F(CreateShortcutTest, entry_holdsTypeNameAndQuotedExecOnly)
{
    options::CreateShortcut(QStringLiteral("/usr/bin/quillsift"), entryFile());

    EXPECT_EQ(testsupport::readBytes(entryFile()),
        QByteArray("[Desktop Entry]\n"
                   "Type=Application\n"
                   "Name=Quill Sift\n"
                   "Exec=\"/usr/bin/quillsift\"\n"));
    EXPECT_EQ(modeOf(entryFile()), mode_t(0755));
}

// The entry names the icon only where the desktop's icon lookup finds it: in the hicolor theme
// of an icon folder, or in a pixmaps folder. A name it cannot find would show as a missing
// icon.
TEST_F(CreateShortcutTest, icon_namedOnlyWhereTheDesktopFindsIt)
{
    const struct
    {
        const char *name;
        const char *installed; // below the test's folder; nothing when null
        bool named;
    } cases[] = {
        { "no icon anywhere", nullptr, false },
        { "system hicolor, scalable", "usr/share/icons/hicolor/scalable/apps/quillsift.svg", true },
        { "local hicolor, fixed size", "usr/local/share/icons/hicolor/48x48/apps/quillsift.png",
            true },
        { "user's data folder", "home/.local/share/icons/hicolor/256x256/apps/quillsift.png",
            true },
        { "user's icon folder", "home/.icons/hicolor/32x32/apps/quillsift.png", true },
        { "pixmaps", "usr/share/pixmaps/quillsift.xpm", true },
        { "another theme only", "usr/share/icons/Adwaita/48x48/apps/quillsift.png", false },
        { "another program's icon", "usr/share/icons/hicolor/48x48/apps/quillsift-old.png", false },
        { "not in the apps context", "usr/share/icons/hicolor/48x48/quillsift.png", false },
        { "a folder of that name", "usr/share/pixmaps/quillsift.png/", false },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QString installed;
        if (c.installed) {
            const QString relative = QString::fromLatin1(c.installed);
            installed = relative.endsWith(u'/') ? makeDir(relative)
                                                : writeFile(relative, QByteArray("icon"));
        }

        options::CreateShortcut(QStringLiteral("/usr/bin/quillsift"), entryFile());

        const QByteArray written = testsupport::readBytes(entryFile());
        const std::optional<QString> icon = entryreader::rawValue(written, QStringLiteral("Icon"));
        EXPECT_EQ(icon, c.named ? std::optional(QStringLiteral("quillsift")) : std::nullopt)
            << written.toStdString();
        EXPECT_EQ(entryreader::commandLine(written),
            QStringList { QStringLiteral("/usr/bin/quillsift") });
        if (!installed.isEmpty()) {
            EXPECT_TRUE(
                QFileInfo(installed).isDir() ? QDir().rmdir(installed) : QFile::remove(installed));
        }
    }
}

TEST_F(CreateShortcutTest, existingFile_isReplacedWholeAndMadeExecutable)
{
    writeFile(QStringLiteral("Quill Sift.desktop"),
        QByteArray("[Desktop Entry]\nType=Application\nName=Old\nComment=old one\n"
                   "Exec=/old/path --with-arguments and a much longer line\n"));
    ::chmod(QFile::encodeName(entryFile()).constData(), 0600);

    options::CreateShortcut(QStringLiteral("/opt/new/quillsift"), entryFile());

    const QByteArray written = testsupport::readBytes(entryFile());
    EXPECT_EQ(
        entryreader::commandLine(written), QStringList { QStringLiteral("/opt/new/quillsift") });
    EXPECT_FALSE(written.contains("Comment"));
    EXPECT_FALSE(written.contains("Old"));
    EXPECT_EQ(modeOf(entryFile()), mode_t(0755));
    EXPECT_EQ(QDir(path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
        QStringList { QStringLiteral("Quill Sift.desktop") });
}

// A launcher that is a link (into a dotfiles folder, say) is itself replaced by the new
// launcher; the file it pointed to keeps its content and its mode.
TEST_F(CreateShortcutTest, launcherThatIsALink_isReplacedAndItsTargetLeftAlone)
{
    const QByteArray targetContent("[Desktop Entry]\nType=Application\nName=Mine\nExec=/mine\n");
    const QString target = writeFile(QStringLiteral("elsewhere/mine.desktop"), targetContent);
    ::chmod(QFile::encodeName(target).constData(), 0640);
    const QString missing = file(QStringLiteral("elsewhere/gone.desktop"));

    for (const QString &pointsTo : { target, missing }) {
        SCOPED_TRACE(pointsTo.toStdString());
        QFile::remove(entryFile());
        ASSERT_TRUE(QFile::link(pointsTo, entryFile()));

        options::CreateShortcut(QStringLiteral("/usr/bin/quillsift"), entryFile());

        const QFileInfo entry(entryFile());
        EXPECT_FALSE(entry.isSymLink());
        EXPECT_TRUE(entry.isFile());
        EXPECT_EQ(entryreader::commandLine(testsupport::readBytes(entryFile())),
            QStringList { QStringLiteral("/usr/bin/quillsift") });
        EXPECT_EQ(modeOf(entryFile()), mode_t(0755));
        EXPECT_EQ(testsupport::readBytes(target), targetContent);
        EXPECT_EQ(modeOf(target), mode_t(0640));
        EXPECT_FALSE(QFileInfo::exists(missing));
    }
}

// A line feed would end the Exec line and start a key of its own; other control characters
// and bytes that are not UTF-8 cannot be carried by the entry either. Refused, and an
// existing launcher is left as it was.
TEST_F(CreateShortcutTest, pathTheEntryCannotCarry_isRefusedAndNothingWritten)
{
    const QByteArray before("[Desktop Entry]\nType=Application\nName=Quill Sift\nExec=/a\n");
    writeFile(QStringLiteral("Quill Sift.desktop"), before);

    const QString refused[] = {
        QStringLiteral("/opt/line\nExec=/bin/evil"),
        QStringLiteral("/opt/tab\there"),
        QStringLiteral("/opt/carriage\rreturn"),
        QStringLiteral("/opt/escape\x1b[0m"),
        QStringLiteral("/opt/delete\x7f"),
        QString::fromUtf8("/opt/next\xC2\x85line"),
        QString::fromUtf8("/opt/not utf8 \xFF/quillsift"),
        QStringLiteral("quillsift"),
        QString(),
    };
    for (const QString &program : refused) {
        SCOPED_TRACE(program.toStdString());
        try {
            options::CreateShortcut(program, entryFile());
            ADD_FAILURE() << "no error raised";
        } catch (const AppError &error) {
            EXPECT_TRUE(error.message().startsWith(
                QStringLiteral("Impossible de créer le raccourci : le chemin du programme")))
                << error.message().toStdString();
        }
        EXPECT_EQ(testsupport::readBytes(entryFile()), before);
    }
}

TEST_F(CreateShortcutTest, unwritableFile_raisesInOutErrorNamingIt)
{
    // Fails for root too: the folder part is a regular file (ENOTDIR), or the entry's name
    // is taken by a folder (EISDIR).
    const QString underFile
        = writeFile(QStringLiteral("plain"), "x") + QStringLiteral("/Quill Sift.desktop");
    const QString onFolder = makeDir(QStringLiteral("Quill Sift.desktop"));
    for (const QString &target : { underFile, onFolder }) {
        SCOPED_TRACE(target.toStdString());
        try {
            options::CreateShortcut(QStringLiteral("/usr/bin/quillsift"), target);
            ADD_FAILURE() << "no error raised";
        } catch (const InOutError &error) {
            EXPECT_NE(error.code(), 0);
            EXPECT_TRUE(error.message().startsWith(
                QStringLiteral("Impossible d'écrire le raccourci \"%1\" : ").arg(target)))
                << error.message().toStdString();
        }
    }
    EXPECT_TRUE(QFileInfo(onFolder).isDir());
}

} // namespace
