// The About box against a local HTTPS server standing in for the publisher's web server. This
// program carries the program's version resource (1.4.2018.209).
#include "NetworkFixture.h"

#include "info/uAbout102.h"
#include "support/Keys.h"
#include "support/Modal.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

#include <gtest/gtest.h>

#include <sys/utsname.h>

#include <vector>

using namespace Qt::StringLiterals;
using testinfo::Response;

namespace {

// The update file this program asks for: its own name with ".INF".
QByteArray updateFilePath()
{
    return "/files/" + QFileInfo(QCoreApplication::applicationFilePath()).fileName().toUtf8()
        + ".INF";
}

class UrlRecorder : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> urls;

public slots:
    void open(const QUrl &url) { urls.append(url); }
};

class AboutTest : public testinfo::NetworkTest
{
protected:
    void serveUpdateFile(const QByteArray &content)
    {
        server->setResponse(updateFilePath(), { 200, content, {}, true });
    }

    template<class T> static T *control(const TfrmAbout102 &box, const QString &name)
    {
        T *widget = box.findChild<T *>(name);
        EXPECT_NE(widget, nullptr) << name.toStdString();
        return widget;
    }
    static bool noticeShown(const TfrmAbout102 &box)
    {
        return control<QLabel>(box, u"lblNewVersion"_s)->isVisibleTo(&box);
    }
    static QString news(const TfrmAbout102 &box)
    {
        return control<QPlainTextEdit>(box, u"memNews"_s)->toPlainText();
    }
};

} // namespace

TEST_F(AboutTest, newVersionNotice_showsOnlyForAHigherPublishedVersion)
{
    struct Case
    {
        QByteArray published;
        bool shown;
    };
    const Case cases[] = {
        { "1.4.2018.210", true },
        { "1.4.2019.0", true },
        { "2.0.0.0", true },
        { "1.4.2018.209", false },
        { "1.5", false },
        { "2", false },
        { "1.4.2018.209.7", false },
        { "1.4.2018.65745", false },
        { "", false },
        { "one.four", false },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.published.toStdString());
        serveUpdateFile("[file1]\r\nnewversion=" + c.published + "\r\n");
        const TfrmAbout102 box;
        EXPECT_EQ(noticeShown(box), c.shown);
        EXPECT_TRUE(news(box).isEmpty());
    }
    EXPECT_TRUE(testsupport::reportedErrors().isEmpty());
}

TEST_F(AboutTest, opening_fetchesTheUpdateFileTwiceAndLeavesNoFile)
{
    serveUpdateFile("[file1]\r\nnewversion=1.4.2018.210\r\n[update]\r\ndescr=hello\r\n");
    const TfrmAbout102 box;
    const QList<testinfo::Request> requests = server->requests();
    ASSERT_EQ(requests.size(), 2);
    for (const testinfo::Request &request : requests) {
        EXPECT_EQ(request.method, QByteArray("GET"));
        EXPECT_EQ(request.target, updateFilePath());
    }
    EXPECT_TRUE(noticeShown(box));
    EXPECT_EQ(news(box), u"hello"_s);
    EXPECT_TRUE(temporaryFiles().isEmpty());
}

// A silent server holds the box for one time-out only: after a fetch that timed out the
// second is not tried. A fetch that fails at once leaves the second its chance.
TEST_F(AboutTest, silentServer_isAskedOnceAndTheBoxOpensWithoutNoticeNorNews)
{
    info::setDownloadTimeoutCapForTesting(std::chrono::milliseconds(300));
    testinfo::PlainListener plain;
    const testinfo::FullListener full;
    ASSERT_TRUE(full.isReady());
    const QString plainUrl = u"https://127.0.0.1:%1"_s.arg(plain.port());
    const QString fullUrl = u"https://127.0.0.1:%1"_s.arg(full.port());
    const struct
    {
        const char *what;
        QString url; // empty: the local HTTPS server
        Response response;
        int attempts; // seen by the HTTPS server or the plain listener; -1: cannot be seen
    } cases[] = {
        { "reads the request and never answers", {}, { 200, "[file1]", {}, true, true }, 1 },
        { "accepts but never speaks TLS", plainUrl, {}, 1 },
        { "connection never comes up", fullUrl, {}, -1 },
        { "no update file, at once", {}, { 404, "missing", {}, true }, 2 },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const qsizetype before = server->requests().size();
        const int plainBefore = plain.connections();
        server->setResponse(updateFilePath(), c.response);
        const QString url = c.url.isEmpty() ? server->url() : c.url;
        info::setServerUrlsForTesting(url, url);
        {
            const TfrmAbout102 box;
            EXPECT_FALSE(noticeShown(box));
            EXPECT_TRUE(news(box).isEmpty());
            EXPECT_EQ(control<QLabel>(box, u"lblVersion"_s)->text(), u"Version 1.4.2018.209"_s);
        }
        if (c.url.isEmpty()) {
            EXPECT_EQ(server->requests().size() - before, c.attempts);
        } else if (c.url == plainUrl) {
            EXPECT_EQ(plain.connections() - plainBefore, c.attempts);
        }
        EXPECT_TRUE(temporaryFiles().isEmpty());
    }
    EXPECT_TRUE(testsupport::reportedErrors().isEmpty());
}

TEST_F(AboutTest, news_turnsBackslashNInEitherCaseIntoLineBreaks)
{
    serveUpdateFile("[update]\r\ndescr=first\\nsecond\\Nthird \\ fourth\r\n");
    const TfrmAbout102 box;
    EXPECT_EQ(news(box), u"first\nsecond\nthird \\ fourth"_s);
    EXPECT_EQ(control<QPlainTextEdit>(box, u"memNews"_s)->document()->blockCount(), 3);
    EXPECT_FALSE(noticeShown(box));
}

TEST_F(AboutTest, withoutNetwork_showsVersionTitleAndSystemButNoNoticeNorNews)
{
    serversDown();
    const TfrmAbout102 box;
    EXPECT_EQ(control<QLabel>(box, u"lblApplicationTitle"_s)->text(), u"Quill Sift"_s);
    EXPECT_EQ(control<QLabel>(box, u"lblVersion"_s)->text(), u"Version 1.4.2018.209"_s);
    const QString system = control<QLabel>(box, u"lblWindowsVersion"_s)->text();
    EXPECT_TRUE(
        QRegularExpression(u"^.+ \\(Version \\d+\\.\\d+, Build \\d+, Edition (64|32) bits\\)$"_s)
            .match(system)
            .hasMatch())
        << system.toStdString();
    EXPECT_FALSE(noticeShown(box));
    EXPECT_TRUE(news(box).isEmpty()); // the design text "memNews" is replaced by nothing
    EXPECT_TRUE(testsupport::reportedErrors().isEmpty());
    EXPECT_TRUE(temporaryFiles().isEmpty());
}

TEST_F(AboutTest, missingUpdateFileOrValues_giveNoNoticeAndEmptyNews)
{
    struct Case
    {
        const char *what;
        Response response;
    };
    const Case cases[] = {
        { "no update file", { 404, "missing", {}, true } },
        { "values in other sections",
            { 200, "[other]\r\nnewversion=9.9.9.9\r\ndescr=elsewhere\r\n", {}, true } },
        { "not an INI file", { 200, QByteArray("\x00\x01\xFF\xFE garbage", 13), {}, true } },
        { "update file over 1 MiB",
            { 200, "[file1]\r\nnewversion=9.9.9.9\r\n" + QByteArray(info::kMaxDownloadBytes, ';'),
                {}, true } },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        server->setResponse(updateFilePath(), c.response);
        const TfrmAbout102 box;
        EXPECT_FALSE(noticeShown(box));
        EXPECT_TRUE(news(box).isEmpty());
    }
    EXPECT_TRUE(temporaryFiles().isEmpty());
}

TEST_F(AboutTest, controls_standWhereTheLayoutPutsThem)
{
    serveUpdateFile("[file1]\r\nnewversion=9.0.0.0\r\n");
    TfrmAbout102 box;
    EXPECT_EQ(box.objectName(), u"frmAbout102"_s);
    EXPECT_EQ(box.windowTitle(), u"About"_s);
    EXPECT_EQ(box.size(), QSize(450, 288));
    EXPECT_EQ(box.minimumSize(), box.maximumSize());

    struct Place
    {
        QString name;
        QRect rect; // a zero width or height is not checked
        bool alignedRight;
    };
    const Place places[] = {
        { u"Image1"_s, { 0, 0, 450, 288 }, false },
        { u"imgBug"_s, { 8, 8, 32, 32 }, false },
        { u"lblApplicationTitle"_s, { 170, 8, 0, 21 }, false },
        { u"lblVersion"_s, { 170, 36, 0, 16 }, false },
        { u"lblVersionHistory"_s, { 170, 64, 0, 0 }, false },
        { u"lblNewVersion"_s, { 0, 64, 442, 0 }, true },
        { u"memNews"_s, { 170, 80, 272, 137 }, false },
        { u"lblWindowsVersion"_s, { 170, 223, 0, 0 }, false },
        { u"lblCompilerVersion"_s, { 170, 239, 0, 0 }, false },
        { u"lblWebSite"_s, { 0, 239, 442, 0 }, true },
        { u"imgDonate"_s, { 268, 257, 74, 21 }, false },
        { u"bbtEula"_s, { 170, 255, 75, 25 }, false },
        { u"BitBtn1"_s, { 367, 255, 75, 25 }, false },
    };
    for (const Place &p : places) {
        SCOPED_TRACE(p.name.toStdString());
        const QWidget *widget = control<QWidget>(box, p.name);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->y(), p.rect.y());
        if (p.alignedRight) {
            EXPECT_EQ(widget->x() + widget->width(), p.rect.width()); // the right edge
        } else {
            EXPECT_EQ(widget->x(), p.rect.x());
            if (p.rect.width() > 0) {
                EXPECT_EQ(widget->width(), p.rect.width());
            }
        }
        if (p.rect.height() > 0) {
            EXPECT_EQ(widget->height(), p.rect.height());
        }
    }

    EXPECT_FALSE(control<QLabel>(box, u"imgBug"_s)->isVisibleTo(&box));
    EXPECT_EQ(control<QLabel>(box, u"imgBug"_s)->toolTip(), u"Version debug !!!"_s);
    EXPECT_EQ(control<QLabel>(box, u"lblVersionHistory"_s)->text(), u"Version History"_s);
    EXPECT_EQ(control<QLabel>(box, u"lblNewVersion"_s)->text(), u"New version available"_s);
    EXPECT_EQ(control<QLabel>(box, u"lblWebSite"_s)->text(), u"127.0.0.1"_s);
    EXPECT_EQ(control<QPushButton>(box, u"bbtEula"_s)->text(), u"E.U.L.A."_s);
    EXPECT_EQ(control<QPushButton>(box, u"BitBtn1"_s)->text(), u"&Close"_s);
    EXPECT_TRUE(control<QPlainTextEdit>(box, u"memNews"_s)->isReadOnly());
    EXPECT_FALSE(control<QLabel>(box, u"Image1"_s)->pixmap().isNull());
    EXPECT_FALSE(control<QLabel>(box, u"imgDonate"_s)->pixmap().isNull());
}

TEST_F(AboutTest, tabKey_walksCloseNewsThenEula)
{
    serversDown();
    TfrmAbout102 box;
    box.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&box));
    QStringList order;
    for (int press = 0; press < 4; ++press) {
        QWidget *focus = QApplication::focusWidget();
        ASSERT_NE(focus, nullptr);
        order.append(focus->objectName());
        QTest::keyClick(focus, Qt::Key_Tab);
    }
    EXPECT_EQ(order, (QStringList { u"BitBtn1"_s, u"memNews"_s, u"bbtEula"_s, u"BitBtn1"_s }));
    box.close();
}

TEST_F(AboutTest, links_openTheirPagesByTagAndOtherTagsNothing)
{
    serversDown();
    UrlRecorder recorder;
    QDesktopServices::setUrlHandler(u"https"_s, &recorder, "open");
    TfrmAbout102 box;
    box.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));

    QTest::mouseClick(control<QWidget>(box, u"lblWebSite"_s), Qt::LeftButton);
    QTest::mouseClick(control<QWidget>(box, u"imgDonate"_s), Qt::LeftButton);
    QTest::mouseClick(control<QWidget>(box, u"bbtEula"_s), Qt::LeftButton);
    QTest::mouseClick(control<QWidget>(box, u"lblVersion"_s), Qt::LeftButton);
    QObject tagZero;
    tagZero.setProperty("Tag", 0);
    box.WebLinkClick(&tagZero);
    QObject tagFour;
    tagFour.setProperty("Tag", 4);
    box.WebLinkClick(&tagFour);
    box.WebLinkClick(nullptr);
    QDesktopServices::unsetUrlHandler(u"https"_s);

    ASSERT_EQ(recorder.urls.size(), 3);
    for (int tag = 1; tag <= 3; ++tag) {
        const QUrl &url = recorder.urls[tag - 1];
        EXPECT_EQ(url, about::WebPageForTag(tag));
        EXPECT_EQ(url.scheme(), u"https"_s);
        EXPECT_TRUE(url.toString().startsWith(info::publisherUrl() + u'/'));
    }
    EXPECT_NE(recorder.urls[0], recorder.urls[1]);
    EXPECT_NE(recorder.urls[1], recorder.urls[2]);
    EXPECT_TRUE(about::WebPageForTag(0).isEmpty());
    box.close();
}

// As a button fires: only a press and a release both on the link open it.
TEST_F(AboutTest, links_openOnlyWhenPressedAndReleasedOnThem)
{
    serversDown();
    UrlRecorder recorder;
    QDesktopServices::setUrlHandler(u"https"_s, &recorder, "open");
    TfrmAbout102 box;
    box.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
    QWidget *site = control<QWidget>(box, u"lblWebSite"_s);
    QWidget *donate = control<QWidget>(box, u"imgDonate"_s);
    QWidget *elsewhere = control<QWidget>(box, u"lblVersion"_s);
    const QPoint outside(-4, -4);

    struct Case
    {
        const char *what;
        QWidget *press; // none: the press happened outside the program
        QWidget *release;
        QPoint releaseAt; // null: the middle of the widget
        QList<QUrl> opened;
    };
    const Case cases[] = {
        { "pressed and released on the site", site, site, {}, { about::WebPageForTag(1) } },
        { "pressed and released on the picture", donate, donate, {}, { about::WebPageForTag(2) } },
        { "pressed elsewhere, released on the site", elsewhere, site, {}, {} },
        { "pressed elsewhere, released on the picture", elsewhere, donate, {}, {} },
        { "pressed on the site, released on the picture", site, donate, {}, {} },
        { "pressed on the picture, released on the site", donate, site, {}, {} },
        { "pressed on the site, dragged off it", site, site, outside, {} },
        { "pressed on the picture, dragged off it", donate, donate, outside, {} },
        { "pressed on the site, released elsewhere", site, elsewhere, {}, {} },
        { "released on the site with no press of ours", nullptr, site, {}, {} },
        { "clicked again on the site", site, site, {}, { about::WebPageForTag(1) } },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        recorder.urls.clear();
        if (c.press)
            QTest::mousePress(c.press, Qt::LeftButton);
        QTest::mouseRelease(c.release, Qt::LeftButton, {}, c.releaseAt);
        EXPECT_EQ(recorder.urls, c.opened);
    }
    QDesktopServices::unsetUrlHandler(u"https"_s);
    box.close();
}

TEST_F(AboutTest, showAboutBox_isModalClosesWithCloseAndIsDestroyed)
{
    serversDown();
    QWidget mainWindow;
    QString seen;
    bool modal = false;
    testsupport::onNextModal([&](QWidget *box) {
        seen = box->objectName();
        modal = box->isModal();
        QTest::mouseClick(box->findChild<QPushButton *>(u"BitBtn1"_s), Qt::LeftButton);
    });
    ShowAboutBox(&mainWindow);
    EXPECT_EQ(seen, u"frmAbout102"_s);
    EXPECT_TRUE(modal);
    EXPECT_TRUE(mainWindow.findChildren<TfrmAbout102 *>().isEmpty());
}

// Close is the default and the cancel button; E.U.L.A. answers Enter once Tab has put the
// focus on it, and the read-only news box leaves Enter to Close.
TEST_F(AboutTest, keys_enterPressesTheFocusedButtonElseClose_escapeCloses)
{
    serversDown();
    const struct
    {
        const char *name;
        int tabs;
        std::vector<Qt::Key> keys;
        int pagesOpened;
    } cases[] = {
        { "Enter on Close", 0, { Qt::Key_Return }, 0 },
        { "Escape", 0, { Qt::Key_Escape }, 0 },
        { "Enter in the news", 1, { Qt::Key_Enter }, 0 },
        { "Enter on E.U.L.A., then Escape", 2, { Qt::Key_Return, Qt::Key_Escape }, 1 },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        UrlRecorder recorder;
        QDesktopServices::setUrlHandler(u"https"_s, &recorder, "open");
        TfrmAbout102 box;
        box.show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&box));
        for (int tab = 0; tab < c.tabs; ++tab)
            testsupport::pressKey(&box, Qt::Key_Tab);
        for (const Qt::Key key : c.keys) {
            EXPECT_TRUE(box.isVisible());
            testsupport::pressKey(&box, key);
        }
        QDesktopServices::unsetUrlHandler(u"https"_s);
        EXPECT_FALSE(box.isVisible());
        EXPECT_EQ(recorder.urls.size(), c.pagesOpened);
    }
}

TEST_F(AboutTest, titleAndCompilerLines)
{
    serversDown();
    QGuiApplication::setApplicationName(u"Quill & Sift"_s);
    const TfrmAbout102 box;
    QGuiApplication::setApplicationName(u"Quill Sift"_s);
    const QLabel *title = control<QLabel>(box, u"lblApplicationTitle"_s);
    EXPECT_EQ(title->text(), u"Quill & Sift"_s); // no accelerator: the ampersand stays
    EXPECT_EQ(title->textFormat(), Qt::PlainText);
    EXPECT_EQ(title->buddy(), nullptr);
    const QString compiler = control<QLabel>(box, u"lblCompilerVersion"_s)->text();
#if defined(__GNUC__) && !defined(__clang__)
    EXPECT_EQ(compiler, u"Compiled with GCC "_s + QLatin1StringView(__VERSION__));
#else
    EXPECT_TRUE(compiler.startsWith(u"Compiled with "_s));
#endif
}

TEST_F(AboutTest, systemLine_namesTheRunningKernel)
{
    serversDown();
    struct utsname names
    {
    };
    ASSERT_EQ(::uname(&names), 0);
    const QRegularExpressionMatch figures = QRegularExpression(u"^(\\d+)\\.(\\d+)(?:\\.(\\d+))?"_s)
                                                .match(QString::fromLatin1(names.release));
    ASSERT_TRUE(figures.hasMatch());
    const QString build = figures.captured(3).isEmpty() ? u"0"_s : figures.captured(3);
    const QString edition
        = QByteArrayView(names.machine) == "x86_64" ? u"Edition 64 bits"_s : QString();
    const TfrmAbout102 box;
    const QString line = control<QLabel>(box, u"lblWindowsVersion"_s)->text();
    EXPECT_TRUE(line.contains(
        u"(Version %1.%2, Build %3, "_s.arg(figures.captured(1), figures.captured(2), build)))
        << line.toStdString();
    if (!edition.isEmpty()) {
        EXPECT_TRUE(line.endsWith(edition + u')')) << line.toStdString();
    }
}

TEST(AboutParseTest, newversionText_partsUpToEachDotThenTheRestModulo65536)
{
    struct Case
    {
        QString text;
        QString parsed;
    };
    const Case cases[] = {
        { u"1.4.2018.209"_s, u"1.4.2018.209"_s },
        { u"1.5"_s, u"1.0.0.5"_s },
        { u"2"_s, u"0.0.0.2"_s },
        { u"1.4.2018.209.7"_s, u"1.4.2018.0"_s },
        { u"65536"_s, u"0.0.0.0"_s },
        { u"65537"_s, u"0.0.0.1"_s },
        { u"65536.65537.1.2"_s, u"0.1.1.2"_s },
        { u"-1.0.0.0"_s, u"65535.0.0.0"_s },
        { u"1..2"_s, u"1.0.0.2"_s },
        { u"a.b.c.d"_s, u"0.0.0.0"_s },
        { u"1.4.x.209"_s, u"1.4.0.209"_s },
        { u"99999999999.1.1.1"_s, u"0.1.1.1"_s },
        { QString(), u"0.0.0.0"_s },
    };
    for (const Case &c : cases)
        EXPECT_EQ(about::ParseVersionText(c.text).toString(), c.parsed) << c.text.toStdString();
}

TEST(AboutSystemTest, systemLine_fromOsReleaseAndKernelFigures)
{
    struct Case
    {
        QByteArray osRelease;
        QString kernel;
        QString machine;
        QString line;
    };
    const Case cases[] = {
        { "NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n",
            u"6.1.0-18-amd64"_s, u"x86_64"_s,
            u"Debian GNU/Linux 12 (bookworm) (Version 6.1, Build 0, Edition 64 bits)"_s },
        { "NAME=Fedora\nVERSION_ID=40\n", u"6.8.9-300.fc40.x86_64"_s, u"i686"_s,
            u"Fedora (Version 6.8, Build 9, Edition 32 bits)"_s },
        { "PRETTY_NAME='Arch Linux'\n", u"6.9"_s, u"aarch64"_s,
            u"Arch Linux (Version 6.9, Build 0, Edition 64 bits)"_s },
        { "PRETTY_NAME=\"Say \\\"hi\\\" \\\\ OS\"\n", u"5.15.153.1-microsoft"_s, u"x86_64"_s,
            u"Say \"hi\" \\ OS (Version 5.15, Build 153, Edition 64 bits)"_s },
        { "", u"weird"_s, u"x86_64"_s, u"Linux (Version 0.0, Build 0, Edition 64 bits)"_s },
    };
    for (const Case &c : cases) {
        EXPECT_EQ(
            about::FormatOperatingSystem(about::DescribeSystem(c.osRelease, c.kernel, c.machine)),
            c.line);
    }
    about::OperatingSystem withPack { u"Windows XP"_s, 5, 1, 2600, 3, false };
    EXPECT_EQ(about::FormatOperatingSystem(withPack),
        u"Windows XP Service Pack 3 (Version 5.1, Build 2600, Edition 32 bits)"_s);
}

// The system's name is taken as it is: directives it holds are text, not places to fill.
TEST(AboutSystemTest, systemLine_keepsDirectivesInTheSystemNameAsText)
{
    const QString names[] = {
        u"Distro %1 %2 %3"_s,
        u"100% %s %d %5:s %4:d %%"_s,
        u"%0:s%1:d%"_s,
    };
    for (const QString &name : names) {
        SCOPED_TRACE(name.toStdString());
        EXPECT_EQ(about::FormatOperatingSystem({ name, 6, 1, 76, 0, true }),
            name + u" (Version 6.1, Build 76, Edition 64 bits)"_s);
        EXPECT_EQ(about::FormatOperatingSystem({ name, 5, 2, 3790, 2, false }),
            name + u" Service Pack 2 (Version 5.2, Build 3790, Edition 32 bits)"_s);
    }
}

#include "uAbout102_test.moc"
