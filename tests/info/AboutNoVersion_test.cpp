// A program without the version resource: the About box reports the system error through the
// top-level error reporting and still opens; the usage ping sends nothing.
#include "NetworkFixture.h"

#include "info/uAbout102.h"
#include "info/uPiwik102.h"
#include "platform/Error.h"
#include "platform/ErrorText.h"

#include <QLabel>
#include <QPlainTextEdit>

#include <gtest/gtest.h>

#include <cerrno>

using namespace Qt::StringLiterals;

namespace {

class NoVersionTest : public testinfo::NetworkTest
{
};

} // namespace

TEST_F(NoVersionTest, aboutBox_reportsTheErrorAndOpensWithTheLaterControlsAsDesigned)
{
    server->setResponse("/files/info_AboutNoVersion_test.INF",
        { 200, "[file1]\r\nnewversion=9.0.0.0\r\n[update]\r\ndescr=news\r\n", {}, true });
    const TfrmAbout102 box;
    ASSERT_EQ(testsupport::reportedErrors().size(), 1);
    EXPECT_EQ(testsupport::reportedErrors().constFirst(), platform::sysErrorMessage(ENODATA));

    EXPECT_EQ(box.findChild<QLabel *>(u"lblApplicationTitle"_s)->text(), u"Quill Sift"_s);
    EXPECT_EQ(box.findChild<QLabel *>(u"lblVersion"_s)->text(), u"Version"_s);
    EXPECT_FALSE(box.findChild<QLabel *>(u"lblNewVersion"_s)->isVisibleTo(&box));
    EXPECT_EQ(box.findChild<QPlainTextEdit *>(u"memNews"_s)->toPlainText(), u"memNews"_s);
    EXPECT_EQ(box.findChild<QLabel *>(u"lblCompilerVersion"_s)->text(), u"lblCompilerVersion"_s);
    EXPECT_TRUE(server->requests().isEmpty()); // the steps after the version were skipped
}

TEST_F(NoVersionTest, runningVersion_raisesTheSystemError)
{
    EXPECT_THROW(about::GetRunningVersionText(), AppError);
}

TEST_F(NoVersionTest, usagePing_sendsNothingAndMakesNoFile)
{
    server->setResponse("/statistiques/piwik.php", { 200, {}, {}, true });
    SendUsagePing();
    EXPECT_TRUE(server->requests().isEmpty());
    EXPECT_TRUE(temporaryFiles().isEmpty());
}
