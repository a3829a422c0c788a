#include "copy/LogModel.h"
#include "copy/uProcessCopy.h"
#include "platform/Error.h"
#include "platform/SystemCalls.h"
#include "settings/Settings.h"
#include "support/Fixtures.h"
#include "support/Keys.h"
#include "support/Modal.h"

#include <QApplication>
#include <QBoxLayout>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>
#include <tuple>

using testsupport::readBytes;

namespace {

const QString kEndMessage = QStringLiteral("La copie des fichiers est terminée.");
const QString kStopMessage = QStringLiteral("La copie des fichiers a été arrêtée.");
const QString kStopLine = QStringLiteral("Copie arrêtée par l'utilisateur.");

// Ends a test that went wrong instead of leaving a modal window open for ever: past the
// deadline, every modal widget is closed in turn.
class Watchdog
{
public:
    Watchdog()
    {
        m_timer.setInterval(200);
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] {
            if (++m_ticks < 75) // 15 s
                return;
            if (QWidget *modal = QApplication::activeModalWidget()) {
                ADD_FAILURE() << "closing " << modal->objectName().toStdString();
                if (auto *dialog = qobject_cast<QDialog *>(modal))
                    dialog->done(QDialog::Rejected);
                else
                    modal->close();
            }
        });
        m_timer.start();
    }

private:
    QTimer m_timer;
    int m_ticks = 0;
};

QByteArray crLfLines(const TfrmCopy &form)
{
    QByteArray bytes;
    for (qsizetype i = 0; i < form.log().size(); ++i)
        bytes += form.log().at(i).toLatin1() + "\r\n";
    return bytes;
}

class ProcessCopyTest : public testsupport::TempDirTest
{
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        src = makeDir(QStringLiteral("src"));
        dst = makeDir(QStringLiteral("dst"));
        config.DontReplace = false;
        config.AdaptatFiltre = 0;
        config.WithTimestamp = false;
        config.LogFile.clear();
    }

    // Hands the copy window to action once RunCopy has opened it.
    static void onCopyWindow(std::function<void(TfrmCopy *)> action)
    {
        testsupport::onNextModal([action](QWidget *modal) {
            auto *form = qobject_cast<TfrmCopy *>(modal);
            if (!form) {
                ADD_FAILURE() << "the modal window is not the copy window";
                return;
            }
            action(form);
        });
    }

    // Calls step on every pass of the event loop, including the passes the run's pump
    // makes, until it returns true (or the test ends).
    void everyPass(std::function<bool()> step)
    {
        auto *timer = new QTimer(&m_steps);
        timer->setInterval(0);
        QObject::connect(timer, &QTimer::timeout, timer, [timer, step] {
            if (step()) {
                timer->stop();
                timer->deleteLater();
            }
        });
        timer->start();
    }

    static QPushButton *button(TfrmCopy *form, const char *name)
    {
        return form->findChild<QPushButton *>(QString::fromLatin1(name));
    }

    tyConfig config;
    QString src;
    QString dst;
    Watchdog watchdog;
    QObject m_steps;
};

TEST_F(ProcessCopyTest, runCopy_logsCopiesAnnouncesTheEnd_thenFocusesClose)
{
    writeFile(QStringLiteral("src/a.txt"), "alpha");
    writeFile(QStringLiteral("src/b.txt"), "beta");
    config.LogFile = writeFile(QStringLiteral("journal.log"), "old\r\n");
    const QStringList filters = { QStringLiteral("*.txt") };

    QString seen;
    bool focusOnClose = false;
    QStringList rows;
    QByteArray expectedLogFile;
    onCopyWindow([&](TfrmCopy *form) {
        EXPECT_EQ(form->objectName(), QStringLiteral("frmCopy"));
        EXPECT_EQ(form->windowTitle(), QStringLiteral("Copie des fichiers"));
        EXPECT_TRUE(form->isModal());
        EXPECT_NE(form->findChild<QWidget *>(QStringLiteral("Panel1")), nullptr);
        EXPECT_NE(form->findChild<QWidget *>(QStringLiteral("Panel2")), nullptr);
        EXPECT_EQ(button(form, "bbtSave")->text(), QStringLiteral("Sauver le log"));
        EXPECT_EQ(button(form, "bbtClose")->text(), QStringLiteral("&Fermer"));
        auto *timer = form->findChild<QTimer *>(QStringLiteral("tmrCopy"));
        ASSERT_NE(timer, nullptr);
        EXPECT_EQ(timer->interval(), 10);
        EXPECT_TRUE(timer->isSingleShot());
        auto *dialog = form->findChild<QFileDialog *>(QStringLiteral("SaveDialog"));
        ASSERT_NE(dialog, nullptr);
        EXPECT_TRUE(dialog->testOption(QFileDialog::DontUseNativeDialog));
        EXPECT_EQ(dialog->nameFilters(), QStringList { QStringLiteral("Fichier texte (*.txt)") });

        testsupport::answerNextModal(QStringLiteral("OK"), &seen);
        everyPass([&, this, form] {
            if (seen.isEmpty() || QApplication::activeModalWidget() != form)
                return false;
            focusOnClose = form->focusWidget() == button(form, "bbtClose");
            auto *list = form->findChild<QListView *>(QStringLiteral("lbxLog"));
            for (int row = 0; row < list->model()->rowCount(); ++row)
                rows << list->model()->index(row, 0).data().toString();
            expectedLogFile = "old\r\n" + crLfLines(*form);
            QTest::mouseClick(button(form, "bbtClose"), Qt::LeftButton);
            return true;
        });
    });

    RunCopy(src, dst, filters, config);

    EXPECT_EQ(seen, kEndMessage);
    EXPECT_TRUE(focusOnClose);
    // The folders got their trailing delimiter.
    EXPECT_EQ(rows,
        (QStringList { QStringLiteral("Filtre: \"*.txt\"  (\"*.txt\")"),
            u"Copie du fichier \"" + src + u"/a.txt\" vers \"" + dst + u"/a.txt\"",
            u"Copie du fichier \"" + src + u"/b.txt\" vers \"" + dst + u"/b.txt\"" }));
    EXPECT_EQ(readFile(QStringLiteral("dst/a.txt")), "alpha");
    EXPECT_EQ(readFile(QStringLiteral("dst/b.txt")), "beta");
    EXPECT_EQ(readBytes(config.LogFile), expectedLogFile);
    EXPECT_TRUE(testsupport::reportedErrors().isEmpty());
}

TEST_F(ProcessCopyTest, whileRunning_closingIsRefused_andTheLogCanBeSaved)
{
    for (int i = 0; i < 40; ++i)
        writeFile(QStringLiteral("src/f%1.txt").arg(i, 2, 10, QLatin1Char('0')), "x");
    const QStringList filters = { QStringLiteral("*.txt") };
    const QString partial = file(QStringLiteral("partiel.log"));

    bool refused = false;
    bool cursorBusy = false;
    QString seen;
    QByteArray finalLog;
    onCopyWindow([&](TfrmCopy *form) {
        everyPass([&, this, form] {
            QPushButton *close = button(form, "bbtClose");
            if (close->isEnabled() || form->log().size() == 0)
                return false; // not copying yet
            // A pump point inside the run.
            cursorBusy = QApplication::overrideCursor()
                && QApplication::overrideCursor()->shape() == Qt::WaitCursor;
            const bool closed = form->close();
            QTest::keyClick(form, Qt::Key_Escape);
            refused = !closed && form->isVisible() && !close->isEnabled();

            testsupport::onNextModal([&](QWidget *modal) {
                auto *dialog = qobject_cast<QFileDialog *>(modal);
                ASSERT_NE(dialog, nullptr);
                dialog->selectFile(partial);
                static_cast<QDialog *>(dialog)->accept(); // QFileDialog's own accept()
            });
            QTest::mouseClick(button(form, "bbtSave"), Qt::LeftButton);

            testsupport::answerNextModal(QStringLiteral("OK"), &seen);
            everyPass([&, this, form] {
                if (seen.isEmpty() || QApplication::activeModalWidget() != form)
                    return false;
                finalLog = crLfLines(*form);
                EXPECT_TRUE(form->close()); // the title-bar button works again
                return true;
            });
            return true;
        });
    });

    RunCopy(src, dst, filters, config);

    EXPECT_TRUE(refused);
    EXPECT_TRUE(cursorBusy);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    EXPECT_EQ(seen, kEndMessage);
    // The saved log holds the lines logged up to the pump point, as .txt.
    const QByteArray saved = readFile(QStringLiteral("partiel.txt"));
    EXPECT_FALSE(saved.isEmpty());
    EXPECT_TRUE(finalLog.startsWith(saved));
    EXPECT_LT(saved.size(), finalLog.size());
    EXPECT_FALSE(QFile::exists(partial));
}

// The counts the label shows, read back from its text.
struct ShownCounts
{
    int copied = -1;
    int skipped = -1;
    int errors = -1;
};

ShownCounts countsIn(const QString &summary)
{
    static const QRegularExpression pattern(
        QStringLiteral("^Copiés : (\\d+)   Ignorés : (\\d+)   Erreurs : (\\d+)"
                       "(   Total : .* en .* s|   Temps restant : .* s)?$"));
    const QRegularExpressionMatch match = pattern.match(QString(summary).remove(QChar(0x00A0)));
    if (!match.hasMatch())
        return {};
    return { match.captured(1).toInt(), match.captured(2).toInt(), match.captured(3).toInt() };
}

// What the published rows say happened: a copy line without an error line after it is a
// copy that succeeded.
ShownCounts countsOf(const QStringList &rows)
{
    ShownCounts counts { 0, 0, 0 };
    for (qsizetype i = 0; i < rows.size(); ++i) {
        if (rows.at(i).startsWith(u"Copie du fichier")
            && !(i + 1 < rows.size() && rows.at(i + 1).startsWith(u"Erreur: ")))
            ++counts.copied;
        else if (rows.at(i).endsWith(u"existe déjà."))
            ++counts.skipped;
        else if (rows.at(i).startsWith(u"Erreur: "))
            ++counts.errors;
    }
    return counts;
}

QStringList rowsOf(TfrmCopy *form)
{
    auto *list = form->findChild<QListView *>(QStringLiteral("lbxLog"));
    QStringList rows;
    for (int row = 0; row < list->model()->rowCount(); ++row)
        rows << list->model()->index(row, 0).data().toString();
    return rows;
}

TEST_F(ProcessCopyTest, summary_followsTheRunAndEndsWithBytesAndDuration)
{
    // Replace branch, so that the window pumps after every file: 60 copies of 10 bytes, and
    // 3 files whose target is a folder.
    for (int i = 0; i < 60; ++i)
        writeFile(QStringLiteral("src/f%1.txt").arg(i, 2, 10, QLatin1Char('0')), "0123456789");
    for (const char *name : { "e1.txt", "e2.txt", "e3.txt" }) {
        writeFile(u"src/" + QString::fromLatin1(name), "x");
        makeDir(u"dst/" + QString::fromLatin1(name));
    }
    const QStringList filters = { QStringLiteral("*.txt") };

    QList<std::pair<ShownCounts, ShownCounts>> duringRun; // shown, and told by the rows
    QString atEnd;
    QString accessibleAtEnd;
    QStringList rowsAtEnd;
    onCopyWindow([&](TfrmCopy *form) {
        auto *label = form->findChild<QLabel *>(QStringLiteral("lblSummary"));
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(countsIn(label->text()).copied, 0); // before the run: all zero
        everyPass([&, form, label] {
            if (button(form, "bbtClose")->isEnabled())
                return !duringRun.isEmpty();
            duringRun.append({ countsIn(label->text()), countsOf(rowsOf(form)) });
            return false;
        });
        testsupport::onNextModal([&, form, label](QWidget *modal) {
            atEnd = label->text();
            accessibleAtEnd = label->accessibleName();
            rowsAtEnd = rowsOf(form);
            modal->close();
            QTimer::singleShot(0, form, [form] { form->close(); });
        });
    });

    RunCopy(src, dst, filters, config);

    ASSERT_FALSE(duringRun.isEmpty());
    for (const auto &[shown, told] : duringRun) {
        EXPECT_EQ(shown.copied, told.copied);
        EXPECT_EQ(shown.skipped, 0);
        EXPECT_EQ(shown.errors, told.errors);
    }
    // The rows still growing while the label kept up with them.
    EXPECT_LT(duringRun.front().second.copied, 60);
    static const QRegularExpression final(QStringLiteral(
        "^Copiés : 60   Ignorés : 0   Erreurs : 3   Total : 600 octets en \\d+,\\d s$"));
    EXPECT_TRUE(final.match(atEnd).hasMatch()) << atEnd.toStdString();
    EXPECT_EQ(accessibleAtEnd, atEnd);
    // The label adds no line to the log.
    EXPECT_EQ(rowsAtEnd.size(), 1 + 63 + 3);
}

TEST_F(ProcessCopyTest, summary_doubleClickSelectsEachErrorInTurn)
{
    // Errors for b.txt (row 3) and z.txt (the last row, far below the visible rows).
    config.DontReplace = true;
    for (const char *name : { "a.txt", "b.txt", "c.txt", "z.txt" })
        writeFile(u"src/" + QString::fromLatin1(name), "x");
    for (int i = 0; i < 100; ++i)
        writeFile(QStringLiteral("src/m%1.txt").arg(i, 3, 10, QLatin1Char('0')), "x");
    makeDir(QStringLiteral("dst/b.txt"));
    makeDir(QStringLiteral("dst/z.txt"));
    writeFile(QStringLiteral("dst/c.txt"), "kept");
    const QStringList filters = { QStringLiteral("*.txt") };

    QString summary;
    QList<int> selected;
    QList<bool> inView;
    int lastRow = -1;
    QString seen;
    onCopyWindow([&](TfrmCopy *form) {
        testsupport::answerNextModal(QStringLiteral("OK"), &seen);
        everyPass([&, form] {
            if (seen.isEmpty() || QApplication::activeModalWidget() != form)
                return false;
            auto *label = form->findChild<QLabel *>(QStringLiteral("lblSummary"));
            auto *list = form->findChild<QListView *>(QStringLiteral("lbxLog"));
            summary = label->text();
            lastRow = list->model()->rowCount() - 1;
            for (int i = 0; i < 3; ++i) {
                QTest::mouseDClick(label, Qt::LeftButton);
                QApplication::processEvents();
                const QModelIndex current = list->currentIndex();
                selected << current.row();
                const QRect shown = list->visualRect(current);
                inView << (shown.top() >= 0 && shown.bottom() <= list->viewport()->height());
            }
            form->close();
            return true;
        });
    });

    RunCopy(src, dst, filters, config);

    EXPECT_TRUE(
        summary.startsWith(u"Copiés : 101   Ignorés : 1   Erreurs : 2   Total : 101 octets en "))
        << summary.toStdString();
    EXPECT_EQ(selected, (QList<int> { 3, lastRow, 3 }));
    EXPECT_EQ(inView, (QList<bool> { true, true, true }));
}

// The copy lines among the rows, as the targets they name.
QStringList copiedTargets(const QStringList &rows)
{
    static const QRegularExpression copy(QStringLiteral("^Copie du fichier \".*\" vers \"(.*)\"$"));
    QStringList targets;
    for (const QString &row : rows) {
        if (const QRegularExpressionMatch match = copy.match(row); match.hasMatch())
            targets << match.captured(1);
    }
    return targets;
}

TEST_F(ProcessCopyTest, stopButton_besideFermer_disabledOutsideTheRun)
{
    TfrmCopy form(config);
    QPushButton *stop = button(&form, "bbtStop");
    ASSERT_NE(stop, nullptr);
    EXPECT_EQ(stop->text(), QStringLiteral("&Arrêter"));
    EXPECT_FALSE(stop->isEnabled());
    EXPECT_FALSE(stop->autoDefault());
    // Left of "&Fermer" in the row of buttons, and between it and "Sauver le log" for Tab.
    QWidget *panel = form.findChild<QWidget *>(QStringLiteral("Panel1"));
    auto *row = qobject_cast<QBoxLayout *>(panel->layout());
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->indexOf(stop) + 1, row->indexOf(button(&form, "bbtClose")));
    EXPECT_EQ(button(&form, "bbtSave")->nextInFocusChain(), stop);
    EXPECT_EQ(stop->nextInFocusChain(), button(&form, "bbtClose"));
}

// Pressed while the run works, in either branch: the file in progress is copied whole, no
// later one is touched, the log ends with the stop line and reaches the log file, and the
// stop is announced instead of the end.
TEST_F(ProcessCopyTest, stopButton_endsTheRunAfterTheFileInProgress_inEitherBranch)
{
    constexpr int kFiles = 300;
    for (int i = 0; i < kFiles; ++i)
        writeFile(QStringLiteral("src/f%1.txt").arg(i, 3, 10, QLatin1Char('0')),
            QByteArray(4096, char('a' + i % 26)));
    const QStringList filters = { QStringLiteral("*.txt"), QStringLiteral("f1*") };

    for (const bool dontReplace : { false, true }) {
        SCOPED_TRACE(dontReplace ? "don't replace" : "replace");
        QDir(dst).removeRecursively();
        QDir().mkpath(dst);
        config.DontReplace = dontReplace;
        config.LogFile = file(QStringLiteral("journal.log"));
        QFile::remove(config.LogFile);

        bool enabledWhileRunning = false;
        bool enabledAfter = true;
        bool barLeftShort = false;
        bool focusOnClose = false;
        QString seen;
        QStringList rows;
        onCopyWindow([&](TfrmCopy *form) {
            everyPass([&, form] {
                QPushButton *stop = button(form, "bbtStop");
                if (button(form, "bbtClose")->isEnabled() || form->log().size() < 3)
                    return false; // copying the second file at least
                enabledWhileRunning = stop->isEnabled();
                QTest::mouseClick(stop, Qt::LeftButton);
                testsupport::answerNextModal(QStringLiteral("OK"), &seen);
                everyPass([&, form] {
                    if (seen.isEmpty() || QApplication::activeModalWidget() != form)
                        return false;
                    enabledAfter = button(form, "bbtStop")->isEnabled();
                    auto *bar = form->findChild<QProgressBar *>(QStringLiteral("pgbCopy"));
                    barLeftShort = bar->value() < bar->maximum();
                    focusOnClose = form->focusWidget() == button(form, "bbtClose");
                    rows = rowsOf(form);
                    QTest::mouseClick(button(form, "bbtClose"), Qt::LeftButton);
                    return true;
                });
                return true;
            });
        });

        RunCopy(src, dst, filters, config);

        EXPECT_TRUE(enabledWhileRunning);
        EXPECT_FALSE(enabledAfter);
        EXPECT_TRUE(barLeftShort);
        EXPECT_TRUE(focusOnClose);
        EXPECT_EQ(seen, kStopMessage);
        ASSERT_FALSE(rows.isEmpty());
        EXPECT_EQ(rows.last(), kStopLine);
        // Stopped early, not at the end of a filter.
        const QStringList targets = copiedTargets(rows);
        EXPECT_GE(targets.size(), 2);
        EXPECT_LT(targets.size(), kFiles / 2);
        QStringList expected;
        for (const QString &target : targets) {
            expected << QFileInfo(target).fileName();
            EXPECT_EQ(readBytes(target), readBytes(src + u'/' + QFileInfo(target).fileName()));
        }
        EXPECT_EQ(
            QDir(dst).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), expected);
        QByteArray lines;
        for (const QString &row : rows)
            lines += row.toLatin1() + "\r\n";
        EXPECT_EQ(readBytes(config.LogFile), lines);
        EXPECT_TRUE(testsupport::reportedErrors().isEmpty());
    }
}

// Its length is the number of files the run visits (a file selected by two filters twice,
// no hidden file or folder), known before the first copy; its value follows the log, and the
// bar is full at the end.
TEST_F(ProcessCopyTest, progressBar_underTheLog_countsTheFilesBeforeTheFirstCopy)
{
    for (int i = 0; i < 30; ++i)
        writeFile(QStringLiteral("src/f%1.txt").arg(i, 2, 10, QLatin1Char('0')), "x");
    writeFile(QStringLiteral("src/.cache.txt"), "h");
    writeFile(QStringLiteral("src/notes.doc"), "d");
    writeFile(QStringLiteral("src/dir.txt/inner.txt"), "i");
    const QStringList filters = { QStringLiteral("*.txt"), QStringLiteral("f0*") };
    constexpr int kVisits = 30 + 10;

    QList<std::tuple<int, int, int>> duringRun; // maximum, value, copy lines shown
    int maximumAtEnd = -1;
    int valueAtEnd = -1;
    bool underTheLog = false;
    onCopyWindow([&](TfrmCopy *form) {
        auto *bar = form->findChild<QProgressBar *>(QStringLiteral("pgbCopy"));
        ASSERT_NE(bar, nullptr);
        auto *list = form->findChild<QListView *>(QStringLiteral("lbxLog"));
        underTheLog = bar->parentWidget() == list->parentWidget()
            && bar->geometry().top() >= list->geometry().bottom()
            && bar->geometry().left() == list->geometry().left();
        everyPass([&, form, bar] {
            if (button(form, "bbtClose")->isEnabled())
                return !duringRun.isEmpty();
            const QStringList rows = rowsOf(form);
            if (!rows.isEmpty())
                duringRun.append({ bar->maximum(), bar->value(), int(copiedTargets(rows).size()) });
            return false;
        });
        testsupport::onNextModal([&, form, bar](QWidget *modal) {
            maximumAtEnd = bar->maximum();
            valueAtEnd = bar->value();
            modal->close();
            QTimer::singleShot(0, form, [form] { form->close(); });
        });
    });

    RunCopy(src, dst, filters, config);

    EXPECT_TRUE(underTheLog);
    ASSERT_FALSE(duringRun.isEmpty());
    for (const auto &[maximum, value, copied] : duringRun) {
        EXPECT_EQ(maximum, kVisits);
        EXPECT_EQ(value, copied);
    }
    EXPECT_LT(std::get<1>(duringRun.front()), kVisits);
    EXPECT_EQ(maximumAtEnd, kVisits);
    EXPECT_EQ(valueAtEnd, kVisits);
}

TEST_F(ProcessCopyTest, logFileIsAFolder_reportsTheErrorWithoutEndMessage)
{
    writeFile(QStringLiteral("src/a.txt"), "alpha");
    config.LogFile = makeDir(QStringLiteral("journal"));
    const QStringList filters = { QStringLiteral("*.txt") };

    bool closeEnabled = false;
    bool noEndMessage = false;
    bool cursorRestored = false;
    onCopyWindow([&](TfrmCopy *form) {
        everyPass([&, this, form] {
            if (testsupport::reportedErrors().isEmpty())
                return false;
            noEndMessage = QApplication::activeModalWidget() == form;
            closeEnabled = button(form, "bbtClose")->isEnabled();
            cursorRestored = QApplication::overrideCursor() == nullptr;
            QTest::mouseClick(button(form, "bbtClose"), Qt::LeftButton);
            return true;
        });
    });

    RunCopy(src, dst, filters, config);

    EXPECT_EQ(
        testsupport::reportedErrors(), QStringList { QStringLiteral("Accès au fichier refusé") });
    EXPECT_TRUE(noEndMessage);
    EXPECT_TRUE(closeEnabled);
    EXPECT_TRUE(cursorRestored);
    EXPECT_EQ(readFile(QStringLiteral("dst/a.txt")), "alpha");
}

TEST_F(ProcessCopyTest, saveLog_journalLogIsWrittenAsJournalTxtInWindows1252)
{
    writeFile(QStringLiteral("src/été.txt"), "x");
    writeFile(QStringLiteral("src/ő.txt"), "y");
    const QStringList filters = { QStringLiteral("*.txt") };

    QString seen;
    onCopyWindow([&](TfrmCopy *form) {
        testsupport::answerNextModal(QStringLiteral("OK"), &seen);
        everyPass([&, this, form] {
            if (seen.isEmpty() || QApplication::activeModalWidget() != form)
                return false;
            testsupport::onNextModal([&](QWidget *modal) {
                auto *dialog = qobject_cast<QFileDialog *>(modal);
                ASSERT_NE(dialog, nullptr);
                EXPECT_EQ(dialog->objectName(), QStringLiteral("SaveDialog"));
                dialog->selectFile(file(QStringLiteral("journal.log")));
                static_cast<QDialog *>(dialog)->accept(); // QFileDialog's own accept()
            });
            QTest::mouseClick(button(form, "bbtSave"), Qt::LeftButton);
            QTest::mouseClick(button(form, "bbtClose"), Qt::LeftButton);
            return true;
        });
    });

    RunCopy(src, dst, filters, config);

    const QByteArray srcBytes = QFile::encodeName(src);
    const QByteArray dstBytes = QFile::encodeName(dst);
    EXPECT_EQ(readFile(QStringLiteral("journal.txt")),
        "Filtre: \"*.txt\"  (\"*.txt\")\r\n"
        "Copie du fichier \""
            + srcBytes + "/\xE9t\xE9.txt\" vers \"" + dstBytes
            + "/\xE9t\xE9.txt\"\r\n"
              "Copie du fichier \""
            + srcBytes + "/?.txt\" vers \"" + dstBytes + "/?.txt\"\r\n");
    EXPECT_FALSE(QFile::exists(file(QStringLiteral("journal.log"))));
    EXPECT_TRUE(testsupport::reportedErrors().isEmpty());
}

// The copy window has no cancel button: Escape never closes it, after the run either. Enter
// presses "&Fermer", which has the focus once the end is announced.
TEST_F(ProcessCopyTest, afterTheRun_escapeLeavesTheWindowOpen_enterPressesFermer)
{
    writeFile(QStringLiteral("src/a.txt"), "alpha");
    const QStringList filters = { QStringLiteral("*.txt") };

    QString seen;
    bool openAfterEscape = false;
    onCopyWindow([&](TfrmCopy *form) {
        testsupport::answerNextModal(QStringLiteral("OK"), &seen);
        everyPass([&, form] {
            if (seen.isEmpty() || QApplication::activeModalWidget() != form)
                return false;
            testsupport::pressKey(form, Qt::Key_Escape);
            openAfterEscape = form->isVisible();
            testsupport::pressKey(form, Qt::Key_Return);
            return true;
        });
    });

    RunCopy(src, dst, filters, config);

    EXPECT_EQ(seen, kEndMessage);
    EXPECT_TRUE(openAfterEscape);
}

// The name typed is not the file written (its extension becomes ".txt"): no question about
// it, and the .txt file of that name is replaced.
TEST_F(ProcessCopyTest, saveLog_asksNothing_andReplacesTheTxtFileOfThatName)
{
    writeFile(QStringLiteral("src/a.txt"), "alpha");
    writeFile(QStringLiteral("journal.log"), "ancien log");
    writeFile(QStringLiteral("journal.txt"), "ancien texte");
    const QStringList filters = { QStringLiteral("*.txt") };

    QString seen;
    QString question;
    onCopyWindow([&](TfrmCopy *form) {
        testsupport::answerNextModal(QStringLiteral("OK"), &seen);
        everyPass([&, this, form] {
            if (seen.isEmpty() || QApplication::activeModalWidget() != form)
                return false;
            testsupport::onNextModal([&, this](QWidget *modal) {
                auto *dialog = qobject_cast<QFileDialog *>(modal);
                ASSERT_NE(dialog, nullptr);
                auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
                ASSERT_NE(name, nullptr);
                name->setText(file(QStringLiteral("journal.log")));
                // A question would be the next modal window; it is answered so the test ends.
                everyPass([&question, dialog] {
                    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
                    if (box) {
                        question = box->text();
                        box->button(QMessageBox::Yes)->click();
                    }
                    return box != nullptr || !dialog->isVisible();
                });
                testsupport::pressKey(dialog, Qt::Key_Return);
            });
            QTest::mouseClick(button(form, "bbtSave"), Qt::LeftButton);
            QTest::mouseClick(button(form, "bbtClose"), Qt::LeftButton);
            return true;
        });
    });

    RunCopy(src, dst, filters, config);

    EXPECT_TRUE(question.isEmpty()) << question.toStdString();
    EXPECT_TRUE(readFile(QStringLiteral("journal.txt")).startsWith("Filtre: "));
    EXPECT_EQ(readFile(QStringLiteral("journal.log")), "ancien log");
}

// An empty folder text would become the root folder once it gets its delimiter.
TEST_F(ProcessCopyTest, emptyFolderText_isRefusedBeforeAnyWindowOpens)
{
    const QStringList filters = { QStringLiteral("*") };
    const struct
    {
        QString source;
        QString destination;
        QString error;
    } cases[] = {
        { QString(), dst, QStringLiteral("Aucun répertoire source n'est choisi.") },
        { src, QString(), QStringLiteral("Aucun répertoire de destination n'est choisi.") },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.error.toStdString());
        try {
            RunCopy(c.source, c.destination, filters, config);
            ADD_FAILURE() << "no error";
        } catch (const AppError &error) {
            EXPECT_EQ(error.message(), c.error);
        }
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    }
}

} // namespace

namespace {

std::atomic<bool> g_flushStarted = false;
std::atomic<bool> g_flushEnded = false;

// A slow device: a USB stick that takes its time to write out what was copied.
int slowSyncfs(int fd)
{
    g_flushStarted = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    const int result = platform::syscalls::real().syncfs(fd);
    g_flushEnded = true;
    return result;
}

TEST_F(ProcessCopyTest, endMessage_waitsForTheCopiesToReachTheDevice_whileTheWindowAnswers)
{
    platform::syscalls::Override device;
    device.calls().syncfs = slowSyncfs;
    g_flushStarted = false;
    g_flushEnded = false;
    writeFile(QStringLiteral("src/a.txt"), "alpha");

    int passesWhileFlushing = 0;
    bool flushedBeforeTheMessage = false;
    QString seen;
    onCopyWindow([&](TfrmCopy *form) {
        everyPass([&] {
            if (g_flushStarted && !g_flushEnded)
                ++passesWhileFlushing;
            return g_flushEnded.load();
        });
        testsupport::onNextModal([&, form](QWidget *modal) {
            flushedBeforeTheMessage = g_flushEnded;
            seen = testsupport::dialogText(modal);
            modal->close();
            QTimer::singleShot(0, form, [form] { form->close(); });
        });
    });

    RunCopy(src, dst, { QStringLiteral("*.txt") }, config);

    EXPECT_EQ(seen, kEndMessage);
    EXPECT_TRUE(flushedBeforeTheMessage);
    EXPECT_GE(passesWhileFlushing, 5);
    EXPECT_EQ(readFile(QStringLiteral("dst/a.txt")), "alpha");
}

} // namespace
