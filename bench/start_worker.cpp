// The program's start as main.cpp does it, up to the main window's first paint:
//   qs_bench_start ANALYTICS_URL
// The usage ping goes to ANALYTICS_URL (a closed port on 127.0.0.1 in the benchmark). Prints
// "shown_ns" with the monotonic clock at the moment the first paint is done, then ends.
#include "BenchClock.h"

#include "app/uBugReport.h"
#include "app/uMain.h"
#include "info/ServerUrls.h"
#include "platform/gui/Application.h"

#include <QEvent>
#include <QTimer>

#include <cstdio>

namespace {

// Quits once the first paint of the watched window has been handled.
class FirstPaint : public QObject
{
protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && !m_seen) {
            m_seen = true;
            QTimer::singleShot(0, this, [] {
                std::printf("shown_ns %lld\n", monotonicNs());
                std::fflush(stdout);
                QCoreApplication::exit(0);
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    bool m_seen = false;
};

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: qs_bench_start ANALYTICS_URL\n");
        return 2;
    }
    const QString analytics = QString::fromLocal8Bit(argv[1]);
    platform::Application app(argc, argv);
    info::setServerUrlsForTesting(QString(), analytics);
    initApplication();
    QApplication::setApplicationVersion(bugreport::programVersion());
    bugreport::installErrorReporting();
    bugreport::installCrashHandlers(bugreport::reportFilePath());

    TfrmMain frmMain;
    FirstPaint firstPaint;
    frmMain.installEventFilter(&firstPaint);
    frmMain.show();
    return QApplication::exec();
}
