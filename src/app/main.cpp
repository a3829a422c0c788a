// Quill Sift: the program start. No command-line arguments are interpreted, and nothing is
// saved when the main window closes.
#include "app/uBugReport.h"
#include "app/uMain.h"
#include "platform/gui/Application.h"

#include <QTimer>

int main(int argc, char **argv)
{
    platform::Application app(argc, argv);
    initApplication();
    QApplication::setApplicationVersion(bugreport::programVersion());
    bugreport::installErrorReporting();
    bugreport::installCrashHandlers(bugreport::reportFilePath());

    TfrmMain frmMain;
    frmMain.show();
    // A crash of the last run is told once, over the main window.
    QTimer::singleShot(0, &frmMain,
        [&frmMain] { bugreport::offerReportOfLastCrash(bugreport::reportFilePath(), &frmMain); });
    return QApplication::exec();
}
