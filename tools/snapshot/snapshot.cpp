// Renders every window of the program to PNG files, headless: qs_snapshot [output folder,
// default "docs"]. The main window in both layouts, the copy window after a run, the folder-list
// editor, the options dialog, the About box, the error dialog and its bug report. Run it with
// QT_SCALE_FACTOR=2 for the high-density pictures.
//
// The settings and the sample folders live in a temporary folder; the user's own settings are
// never touched, and no request leaves the machine: both servers point at a loopback port that
// refuses connections.
#include "app/uBugReport.h"
#include "app/uMain.h"
#include "info/ServerUrls.h"
#include "platform/Error.h"
#include "platform/ErrorText.h"
#include "platform/gui/Application.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

bool failed = false;

void fail(const QString &what)
{
    std::fprintf(stderr, "qs_snapshot: %s\n", qPrintable(what));
    failed = true;
}

void writeText(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(path.left(path.lastIndexOf(u'/')));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        fail(u"cannot write "_s + path);
}

void save(QWidget *widget, const QString &path)
{
    if (!widget->grab().save(path, "PNG"))
        fail(u"cannot save "_s + path);
}

// A loopback address that refuses every connection while the socket stays open: bound, never
// listening. Empty when no port could be had.
QString refusingAddress(int &socketFd)
{
    socketFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (socketFd < 0 || ::bind(socketFd, reinterpret_cast<sockaddr *>(&address), length) != 0
        || ::getsockname(socketFd, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return {};
    return u"https://127.0.0.1:%1"_s.arg(ntohs(address.sin_port));
}

// Runs action on the next modal widget that is not `before`, polling from the event loop.
void onModal(QWidget *before, std::function<void(QWidget *)> action, int triesLeft = 500)
{
    QTimer::singleShot(10, qApp, [before = QPointer<QWidget>(before), action, triesLeft] {
        QWidget *modal = QApplication::activeModalWidget();
        if (modal && modal != before) {
            action(modal);
        } else if (triesLeft == 0) {
            fail(u"no dialog appeared"_s);
            if (modal)
                modal->close();
        } else {
            onModal(before, action, triesLeft - 1);
        }
    });
}

// Pictures the next modal window once its layout has settled, then lets finish close it.
void pictureNextModal(QWidget *before, const QString &path, std::function<void(QWidget *)> finish)
{
    onModal(before, [path, finish](QWidget *modal) {
        QTimer::singleShot(50, modal, [modal, path, finish] {
            save(modal, path);
            finish(modal);
        });
    });
}

void click(QWidget *parent, const QString &name)
{
    if (auto *button = parent->findChild<QAbstractButton *>(name))
        button->click();
    else
        fail(u"no button "_s + name);
}

void clickText(QWidget *parent, const QString &text)
{
    for (QAbstractButton *button : parent->findChildren<QAbstractButton *>()) {
        if (button->text() == text) {
            button->click();
            return;
        }
    }
    fail(u"no button "_s + text);
}

void chooseFirst(TfrmMain &window, const QString &combo)
{
    if (auto *cbx = window.findChild<QComboBox *>(combo))
        cbx->setCurrentIndex(0);
}

void typeFilters(TfrmMain &window)
{
    if (auto *mem = window.findChild<QPlainTextEdit *>(u"memFilter"_s))
        mem->setPlainText(u"rapport\n*.pdf"_s);
}

// The secondary windows that the main window's buttons open, each pictured as it opens and
// then cancelled.
void pictureSecondaryWindows(TfrmMain &window, const QString &out)
{
    const struct
    {
        QString opener;
        QString picture;
        QString closer;
    } windows[] = {
        { u"bbtRepSrc"_s, u"folder-list-editor.png"_s, u"bbtCancel"_s },
        { u"bbtOptions"_s, u"options.png"_s, u"bbtCancel"_s },
        { u"bbtAbout"_s, u"about.png"_s, u"BitBtn1"_s },
    };
    for (const auto &secondary : windows) {
        const QString closer = secondary.closer;
        pictureNextModal(nullptr, out + u'/' + secondary.picture,
            [closer](QWidget *modal) { click(modal, closer); });
        // Returns once the window has closed.
        click(&window, secondary.opener);
    }
}

// The copy window once the run has ended: the end message answered, then pictured.
void pictureCopyWindow(TfrmMain &window, const QString &out)
{
    onModal(nullptr, [out](QWidget *copyWindow) {
        onModal(copyWindow, [out, copyWindow](QWidget *endMessage) {
            clickText(endMessage, u"OK"_s);
            QTimer::singleShot(50, copyWindow, [out, copyWindow] {
                save(copyWindow, out + u"/copy-window.png"_s);
                click(copyWindow, u"bbtClose"_s);
            });
        });
    });
    auto *copy = window.findChild<QPushButton *>(u"bbtCopie"_s);
    if (!copy || !copy->isEnabled())
        fail(u"the copy button is not enabled"_s);
    else
        copy->click();
}

// The top-level error reporting with the error a failed save of the log raises, then its bug
// report, then "Continue".
void pictureErrorDialog(const QString &out, const QString &destination)
{
    pictureNextModal(nullptr, out + u"/error-dialog.png"_s, [out](QWidget *box) {
        pictureNextModal(box, out + u"/bug-report.png"_s, [](QWidget *report) {
            onModal(report, [](QWidget *again) { clickText(again, u"Continue"_s); });
            click(report, u"bbtClose"_s);
        });
        clickText(box, u"Show bug report"_s);
    });
    platform::reportUncaughtError(AppError(u"Impossible de créer le fichier \""_s + destination
        + u"/journal.txt\". "_s + platform::sysErrorMessage(EACCES)));
}

} // namespace

int main(int argc, char **argv)
{
    // The pictures show the French interface with French dates, whatever the machine's locale.
    qputenv("LC_ALL", "fr_FR.UTF-8");
    // Fixed paths read better in the pictures than random temporary names.
    const QString root = QDir::tempPath() + u"/quillsift-demo"_s;
    QDir(root).removeRecursively();
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        // A full-HD desktop at any QT_SCALE_FACTOR: the offscreen screen of 800 by 600 device
        // pixels leaves a message box at twice the density too little room for its buttons.
        const double scale = std::max(1.0, qEnvironmentVariable("QT_SCALE_FACTOR").toDouble());
        const QString screen = root + u"/screen.json"_s;
        writeText(screen,
            u"{\"screens\": [{\"name\": \"snapshot\", \"width\": %1, \"height\": %2}]}"_s
                .arg(qRound(1920 * scale))
                .arg(qRound(1080 * scale))
                .toUtf8());
        qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + QFile::encodeName(screen));
    }
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(root + u"/config"_s));

    platform::Application app(argc, argv);
    initApplication();
    bugreport::installErrorReporting();

    int refusingSocket = -1;
    const QString nowhere = refusingAddress(refusingSocket);
    if (nowhere.isEmpty()) {
        fail(u"no loopback port to point the servers at"_s);
        return 1;
    }
    info::setServerUrlsForTesting(nowhere, nowhere);

    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : u"docs"_s;
    QDir().mkpath(out);

    const QString source = root + u"/Documents/Rapports"_s;
    const QString destination = root + u"/Sauvegarde"_s;
    for (const QString &name : { u"rapport1.txt"_s, u"rapport2.txt"_s, u"rapport-annuel.pdf"_s,
             u"budget.pdf"_s, u"notes.md"_s })
        writeText(source + u'/' + name, name.toUtf8());
    QDir().mkpath(destination);
    QDir().mkpath(root + u"/Documents/Photos"_s);
    const QString settings = root + u"/config/Orvane/quillSift/"_s;
    writeText(settings + u"RepSrc.txt"_s,
        (source + u"\r\n"_s + root + u"/Documents/Photos\r\n"_s).toUtf8());
    writeText(settings + u"RepDst.txt"_s, (destination + u"\r\n"_s).toUtf8());

    for (const bool extended : { false, true }) {
        writeText(settings + u"Options.ini"_s,
            extended ? "[ACME]\r\nExtendedView=1\r\n" : "[ACME]\r\nExtendedView=0\r\n");
        TfrmMain window;
        window.show();
        chooseFirst(window, u"cbxRepSrc"_s);
        chooseFirst(window, u"cbxRepDst"_s);
        if (extended) {
            if (auto *edt = window.findChild<QLineEdit *>(u"edtRepSrc"_s))
                edt->setText(source);
        }
        typeFilters(window);
        QCoreApplication::processEvents();
        save(&window, out + (extended ? u"/main-extended.png"_s : u"/main-normal.png"_s));

        if (extended)
            continue;
        pictureSecondaryWindows(window, out);
        pictureCopyWindow(window, out);
        pictureErrorDialog(out, destination);
    }

    ::close(refusingSocket);
    QDir(root).removeRecursively();
    return failed ? 1 : 0;
}
