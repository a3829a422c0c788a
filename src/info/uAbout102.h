#pragma once

#include "info/Download.h"
#include "info/VersionInfoReader.h"

#include <QByteArrayView>
#include <QDialog>
#include <QString>
#include <QUrl>

#include <chrono>

class QLabel;
class QPlainTextEdit;
class QPushButton;

// The About box: title, running version, operating system and compiler lines, the news and the
// new-version notice from the publisher's update file, and three links. English texts.
class TfrmAbout102 : public QDialog
{
    Q_OBJECT

public:
    // Fills every control (FormCreate). An error raised meanwhile goes to the top-level error
    // reporting and the box still opens, with the remaining controls as designed.
    explicit TfrmAbout102(QWidget *parent = nullptr);
    ~TfrmAbout102() override;

    // Opens the page of the control's Tag: 1 the wiki, 2 the donation page, 3 the licence
    // terms; any other tag opens nothing.
    void WebLinkClick(QObject *Sender);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void FormCreate();
    void BitBtn1Click();

    QLabel *Image1;
    QLabel *imgBug;
    QLabel *lblApplicationTitle;
    QLabel *lblVersion;
    QLabel *lblVersionHistory;
    QLabel *lblNewVersion;
    QPlainTextEdit *memNews;
    QLabel *lblWindowsVersion;
    QLabel *lblCompilerVersion;
    QLabel *lblWebSite;
    QLabel *imgDonate;
    QPushButton *bbtEula;
    QPushButton *BitBtn1;

    // The link the left button went down on, until it comes up again.
    QObject *pressedLink = nullptr;
};

// Creates the box, shows it modally and destroys it when it closes.
void ShowAboutBox(QWidget *parent);

namespace about {

// The running executable's fixed file version; raises AppError with the last system error text
// when its version resource cannot be read.
TVersionNumber GetRunningVersion();
QString GetRunningVersionText();

// The fetches of the update file for one opening of the box share one time-out, so that a
// silent server holds the box at most that long in all; once one fetch has timed out, the
// next is not tried. A fetch that fails at once leaves the time to the next.
class UpdateFetches
{
public:
    UpdateFetches();
    // Downloads the update file into file; false when that failed or was not tried.
    bool download(info::TempFile &file);

private:
    std::chrono::steady_clock::time_point m_deadline;
    bool m_timedOut = false;
};

// Whether the update file announces a higher version than the running one; false when it
// cannot be fetched.
bool IsNewVersionAvailable(UpdateFetches &fetches);
// The update file's news, its "\n" and "\N" turned into line feeds; empty when it cannot be
// fetched.
QString ReadUpdateNews(UpdateFetches &fetches);

// The update file's address: "/files/" and the executable's own name with the extension ".INF".
QString UpdateFileUrl();

// A "newversion" text: three parts up to a dot each, the rest is the build; a part that is no
// integer counts 0, and each is taken modulo 65536 ("1.5" is 1.0.0.5).
TVersionNumber ParseVersionText(const QString &text);

struct OperatingSystem
{
    QString productName;
    int major = 0;
    int minor = 0;
    int build = 0;
    int servicePack = 0;
    bool is64Bits = false;
};
// A system from its os-release text (PRETTY_NAME, else NAME, else "Linux"), the kernel release
// ("6.1.0-18-amd64": 6, 1, 0) and the machine name of uname ("x86_64").
OperatingSystem DescribeSystem(
    QByteArrayView osRelease, const QString &kernelRelease, const QString &machine);
// The running system.
OperatingSystem CurrentOperatingSystem();
QString FormatOperatingSystem(const OperatingSystem &system);

// The compiler release the program was built with ("GCC 12.2.0").
QString GetCompilerVersionText();

// The page opened for a link's Tag; empty for any other tag.
QUrl WebPageForTag(int tag);

} // namespace about
