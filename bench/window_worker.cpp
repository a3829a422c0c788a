// One copy run through the real copy window (RunCopy, TfrmCopy) under the offscreen
// platform, in the replace branch without timestamps:
//   qs_bench_window --src DIR --dst DIR --filter F [--filter F ...] [--log-file FILE]
// The time runs from the call of RunCopy to the end message; the message is answered and
// the window closed as a user would. Prints "elapsed_ns", "lines" and "errors".
#include "BenchClock.h"

#include "settings/Settings.h"
#include "copy/LogModel.h"
#include "copy/uProcessCopy.h"
#include "platform/gui/Application.h"

#include <QMessageBox>
#include <QPointer>
#include <QTimer>

#include <cstdio>
#include <cstring>

namespace {

// Notes when the end message appears, answers it, then closes the copy window.
class EndMessage : public QObject
{
public:
    long long shownNs = 0;
    long long lines = 0;
    long long errors = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show && shownNs == 0) {
            if (auto *box = qobject_cast<QMessageBox *>(watched)) {
                shownNs = monotonicNs();
                QPointer<TfrmCopy> form = qobject_cast<TfrmCopy *>(box->parentWidget());
                QTimer::singleShot(0, box, [this, box, form] {
                    box->accept();
                    QTimer::singleShot(0, qApp, [this, form] { closeWindow(form); });
                });
            }
        }
        return false;
    }

private:
    // The log is read back before RunCopy destroys the window.
    void closeWindow(TfrmCopy *form)
    {
        if (!form)
            return;
        const LogModel &log = form->log();
        lines = log.size();
        for (qsizetype i = 0; i < log.size(); ++i) {
            if (log.at(i).startsWith(u"Erreur"))
                ++errors;
        }
        form->close();
    }
};

int usage()
{
    std::fprintf(stderr,
        "usage: qs_bench_window --src DIR --dst DIR --filter F [--filter F ...] "
        "[--log-file FILE]\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    platform::Application app(argc, argv);
    QString source;
    QString destination;
    QStringList filters;
    tyConfig config;
    config.DontReplace = false;
    config.AdaptatFiltre = 0;
    config.WithTimestamp = false;
    for (int i = 1; i + 1 < argc; i += 2) {
        const QString value = QString::fromLocal8Bit(argv[i + 1]);
        if (std::strcmp(argv[i], "--src") == 0)
            source = value;
        else if (std::strcmp(argv[i], "--dst") == 0)
            destination = value;
        else if (std::strcmp(argv[i], "--filter") == 0)
            filters.append(value);
        else if (std::strcmp(argv[i], "--log-file") == 0)
            config.LogFile = value;
        else
            return usage();
    }
    if (source.isEmpty() || destination.isEmpty() || filters.isEmpty() || argc % 2 == 0)
        return usage();

    EndMessage end;
    app.installEventFilter(&end);

    const long long start = monotonicNs();
    RunCopy(source, destination, filters, config);
    if (end.shownNs == 0) {
        std::fprintf(stderr, "qs_bench_window: the end message never appeared\n");
        return 1;
    }
    std::printf(
        "elapsed_ns %lld\nlines %lld\nerrors %lld\n", end.shownNs - start, end.lines, end.errors);
    return end.errors == 0 ? 0 : 1;
}
