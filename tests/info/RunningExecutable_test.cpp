// The program after its file was replaced (a package upgrade) or removed while it runs: a copy
// of a probe program is started from a temporary folder, its file is then changed, and the probe
// reports what it finds about itself.
#include "ElfImage.h"

#include "info/VersionResourceBuilder.h"
#include "platform/Paths.h"
#include "support/Fixtures.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QProcess>
#include <QUrl>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>

using namespace Qt::StringLiterals;

namespace {

// What an upgrade puts in place: an executable of another version and another name.
QByteArray upgradedProgram()
{
    verres::Resource resource;
    resource.fixed.fileVersionMS = (9u << 16) | 8u;
    resource.fixed.fileVersionLS = (7u << 16) | 6u;
    resource.translations = { 0x04E40409u };
    resource.stringTables = { { "040904E4", { { "OriginalFilename", "ORVDIFF.EXE" } } } };
    return testinfo::makeElf(
        { { ".text", QByteArray(40, '\x90') },
            { verres::kSectionName, testinfo::toBytes(verres::build(resource)) } })
        .bytes;
}

class RunningExecutableTest : public testsupport::TempDirTest
{
protected:
    // Starts a copy of the probe at `installed`, runs `change` on disk once it is running,
    // then has it report. Returns its report by key.
    QMap<QString, QString> runChanged(
        const QString &installed, const std::function<void(const QString &)> &change)
    {
        QMap<QString, QString> report;
        if (!QFile::copy(QStringLiteral(QS_RUNNING_PROBE), installed)) {
            ADD_FAILURE() << "cannot copy the probe to " << installed.toStdString();
            return report;
        }
        QProcess probe;
        probe.start(installed, {});
        if (!probe.waitForStarted(10000) || !probe.waitForReadyRead(10000)
            || probe.readLine().trimmed() != "ready") {
            ADD_FAILURE() << "the probe did not start: " << probe.errorString().toStdString();
            probe.kill();
            probe.waitForFinished();
            return report;
        }
        change(installed);
        probe.write("go\n");
        probe.closeWriteChannel();
        EXPECT_TRUE(probe.waitForFinished(30000));
        EXPECT_EQ(probe.exitCode(), 0) << probe.readAllStandardError().toStdString();
        for (const QByteArray &line : probe.readAllStandardOutput().split('\n')) {
            const qsizetype equal = line.indexOf('=');
            if (equal > 0)
                report.insert(
                    QString::fromUtf8(line.left(equal)), QString::fromUtf8(line.mid(equal + 1)));
        }
        return report;
    }

    // Writes a new file and renames it over the old name, as a package upgrade does.
    void replace(const QString &installed) const
    {
        const QString next = installed + u".dpkg-new"_s;
        testsupport::writeBytes(next, upgradedProgram());
        ASSERT_EQ(
            ::rename(QFile::encodeName(next).constData(), QFile::encodeName(installed).constData()),
            0);
    }
};

TEST_F(RunningExecutableTest, replacedOrRemovedWhileRunning_versionPathAndNameStayThoseOfTheProgram)
{
    const QString strangerName = file(u"quillsift (deleted)"_s);
    struct Case
    {
        const char *what;
        QString name;
        std::function<void(const QString &)> change;
    };
    const Case cases[] = {
        { "left alone", u"quillsift"_s, [](const QString &) {} },
        { "replaced by an upgrade", u"quillsift"_s,
            [this](const QString &installed) { replace(installed); } },
        { "removed", u"quillsift"_s,
            [](const QString &installed) { ASSERT_TRUE(QFile::remove(installed)); } },
        { "removed, a stranger holding the name the kernel reports", u"quillsift"_s,
            [&](const QString &installed) {
                ASSERT_TRUE(QFile::remove(installed));
                testsupport::writeBytes(strangerName, "not the program");
            } },
        { "really named \"... (deleted)\", left alone", u"quillsift (deleted)"_s,
            [](const QString &) {} },
        { "really named \"... (deleted)\", replaced", u"quillsift (deleted)"_s,
            [this](const QString &installed) { replace(installed); } },
        { "really named \"... (deleted)\", removed", u"quillsift (deleted)"_s,
            [](const QString &installed) { ASSERT_TRUE(QFile::remove(installed)); } },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const QString folder = makeDir(u"run"_s);
        const QString installed = folder + u'/' + c.name;
        const QMap<QString, QString> report = runChanged(installed, c.change);

        EXPECT_EQ(report.value(u"about"_s), u"1.4.2018.209"_s);
        EXPECT_EQ(report.value(u"reader"_s), u"1.4.2018.209"_s);
        EXPECT_EQ(report.value(u"original"_s), u"QUILLSIFT.EXE"_s);
        EXPECT_EQ(report.value(u"site"_s), u"14"_s);
        EXPECT_EQ(report.value(u"installed"_s), installed);
        EXPECT_EQ(report.value(u"update"_s),
            u"/files/"_s
                + QString::fromLatin1(
                    QUrl::toPercentEncoding(platform::changeFileExt(c.name, u".INF"_s))));

        ASSERT_TRUE(QDir(folder).removeRecursively());
        QFile::remove(strangerName);
    }
}

} // namespace
