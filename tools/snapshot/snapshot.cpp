// Renders the main window in both layouts and the copy window after a run to PNG files,
// headless: qs_snapshot [output folder, default "docs"].
//
// The settings and the sample folders live in a temporary folder; the user's own settings
// are never touched.
#include "app/uMain.h"
#include "platform/gui/Application.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <functional>

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

// Runs action on the next modal widget that is not `before`, polling from the event loop.
void onModal(QWidget *before, std::function<void(QWidget *)> action, int triesLeft = 500)
{
    QTimer::singleShot(10, qApp, [before, action, triesLeft] {
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

} // namespace

int main(int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The pictures show the French interface with French dates, whatever the machine's locale.
    qputenv("LC_ALL", "fr_FR.UTF-8");
    // Fixed paths read better in the pictures than random temporary names.
    const QString root = QDir::tempPath() + u"/quillsift-demo"_s;
    QDir(root).removeRecursively();
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(root + u"/config"_s));

    platform::Application app(argc, argv);
    initApplication();

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
        // The copy window once the run has ended: the end message answered, then pictured.
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

    QDir(root).removeRecursively();
    return failed ? 1 : 0;
}
