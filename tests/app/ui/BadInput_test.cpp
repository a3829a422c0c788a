// Bad input met at start-up and in the editor, through the real main window: damaged or huge
// settings files, list files of 100,000 entries or of invalid text, a filter box of 10,000
// lines or of a line of 100,000 characters. No crash, no hang, the start-up finishes, and
// defaults stand where the settings rules give them.
#include "MainWindowFixture.h"
#include "app/uMain.h"
#include "copy/LogModel.h"
#include "copy/uProcessCopy.h"
#include "folders/FileDialogDriver.h"
#include "folders/uEditeListeRepertoires.h"
#include "support/Fixtures.h"
#include "support/Modal.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRandomGenerator>
#include <QStringEncoder>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

using namespace Qt::Literals::StringLiterals;
using testsupport::reportedErrors;
using uitest::onNextModalOf;

namespace {

const QString kEndMessage = u"La copie des fichiers est terminée."_s;

QByteArray randomBytes(qsizetype size, quint32 startValue)
{
    QRandomGenerator generator(startValue);
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char(generator.bounded(256));
    return bytes;
}

QByteArray linesOf(const QStringList &entries, QStringConverter::Encoding encoding)
{
    QStringEncoder encoder(encoding);
    return encoder.encode(entries.join(u"\r\n"_s) + u"\r\n"_s);
}

// Answers every question of the start-up with "&Non" (keep the entry), and counts them.
class KeepEveryEntry
{
public:
    KeepEveryEntry()
    {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box)
                return;
            for (QAbstractButton *button : box->buttons()) {
                if (button->text() == u"&Non"_s) {
                    questions.append(box->text());
                    button->click();
                    return;
                }
            }
        });
        m_timer.start();
    }

    QStringList questions;

private:
    QTimer m_timer;
};

class BadInputTest : public uitest::MainWindowFixture
{
protected:
    // A settings folder holding this one file only, and no error reported yet.
    void onlySettingsFile(const QString &name, const QByteArray &bytes) const
    {
        QDir(file(u"config"_s)).removeRecursively();
        writeSettings(name, bytes);
        reportedErrors().clear();
    }

    static void expectDefaults(const tyConfig &config)
    {
        const tyConfig defaults;
        EXPECT_EQ(config.DontReplace, defaults.DontReplace);
        EXPECT_EQ(config.AdaptatFiltre, defaults.AdaptatFiltre);
        EXPECT_EQ(config.WithTimestamp, defaults.WithTimestamp);
        EXPECT_EQ(config.LogFile, defaults.LogFile);
        EXPECT_EQ(config.ExtendedView, defaults.ExtendedView);
    }

    // Pastes the text into the filter box, presses the copy button and answers the end
    // message; returns the copy window's log.
    QStringList copyWithFilters(TfrmMain &window, const QString &filters)
    {
        auto *memFilter = child<QPlainTextEdit>(window, u"memFilter"_s);
        memFilter->setFocus();
        QGuiApplication::clipboard()->setText(filters);
        QTest::keySequence(memFilter, QKeySequence::Paste);
        EXPECT_EQ(memFilter->toPlainText().size(), filters.size());

        QStringList log;
        QString endMessage;
        onNextModalOf<TfrmCopy>("the copy window", [&](TfrmCopy *form) {
            testsupport::onNextModal(
                [&, form](QWidget *box) {
                    endMessage = testsupport::dialogText(box);
                    for (qsizetype i = 0; i < form->log().size(); ++i)
                        log << form->log().at(i);
                    static_cast<QMessageBox *>(box)->accept();
                    QTimer::singleShot(0, form, [form] { form->close(); });
                },
                60000);
        });
        auto *bbtCopie = child<QPushButton>(window, u"bbtCopie"_s);
        EXPECT_TRUE(bbtCopie->isEnabled());
        QTest::mouseClick(bbtCopie, Qt::LeftButton);
        EXPECT_EQ(endMessage, kEndMessage);
        return log;
    }
};

TEST_F(BadInputTest, damagedSettingsFile_startUpFinishesWithDefaultsAndKeepsItsBytes)
{
    QByteArray random = randomBytes(64 * 1024, 1);
    random[0] = 'x'; // no byte-order mark by chance
    QByteArray textLines;
    for (int i = 0; textLines.size() < 900 * 1024; ++i)
        textLines += "[section " + QByteArray::number(i) + "]\r\nclef=" + QByteArray(200, 'v')
            + "\r\n; commentaire\r\n";
    const struct
    {
        const char *what;
        QByteArray bytes;
        bool kept; // the file still begins with every byte it had
    } cases[] = {
        { "random bytes", random, true },
        { "random bytes after a UTF-8 mark", "\xEF\xBB\xBF" + randomBytes(64 * 1024, 2), true },
        { "random bytes after a UTF-16 mark, odd length", "\xFF\xFE" + randomBytes(4097, 3),
            false },
        { "NUL bytes only", QByteArray(8192, '\0'), true },
        { "900 KiB of other sections", textLines, true },
        { "900 KiB in the LogFile value", "[ACME]\r\nLogFile=" + QByteArray(900 * 1024, 'j'),
            false },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        onlySettingsFile(u"Options.ini"_s, c.bytes);

        const auto window = openWindow();

        EXPECT_TRUE(reportedErrors().isEmpty()) << reportedErrors().join(u'\n').toStdString();
        EXPECT_TRUE(window->isVisible());
        // The start-up ran to its end: both list files written, the layout applied.
        EXPECT_TRUE(QFileInfo::exists(settingsFile(u"RepDst.txt"_s)));
        EXPECT_TRUE(child<QWidget>(*window, u"edtRepSrc"_s)->isHidden());
        tyConfig config = window->config();
        if (c.bytes.startsWith("[ACME]\r\nLogFile=")) {
            // Read cut to 2047 characters, and written back cut.
            EXPECT_EQ(config.LogFile, QString(2047, u'j'));
            config.LogFile.clear();
        }
        expectDefaults(config);
        const QByteArray written = readSettings(u"Options.ini"_s);
        if (c.kept)
            EXPECT_TRUE(written.startsWith(c.bytes));
        else
            EXPECT_LT(written.size(), c.bytes.size() + 200);
        // What was written back reads back the same, and the next start changes nothing.
        const auto again = openWindow();
        EXPECT_EQ(again->config().LogFile, window->config().LogFile);
        EXPECT_EQ(readSettings(u"Options.ini"_s), written);
        EXPECT_TRUE(reportedErrors().isEmpty()) << reportedErrors().join(u'\n').toStdString();
    }
}

// No settings file of a person reaches a mebibyte: a larger one (9 MB of short lines, a value
// of 10 MiB, a sparse file of 512 MiB) is not read, which the user is told as for any file
// that cannot be read, and nothing writes over it. One of exactly a mebibyte is read.
TEST_F(BadInputTest, settingsFileAboveAMebibyte_notReadNorWrittenBack_userTold)
{
    QByteArray shortLines;
    while (shortLines.size() < 9 * 1000 * 1000)
        shortLines += "k=v\r\n";
    shortLines += "[ACME]\r\nDontReplace=1\r\n";
    QByteArray atTheBound = "[ACME]\r\nDontReplace=1\r\n;";
    atTheBound += QByteArray(1024 * 1024 - atTheBound.size() - 2, 'c') + "\r\n";
    const qint64 sparseSize = qint64(512) * 1024 * 1024;
    const struct
    {
        const char *what;
        QByteArray bytes;
        qint64 size; // the file's size, beyond its bytes a hole
        bool read;
    } cases[] = {
        { "9 MB of short lines, then the section", shortLines, shortLines.size(), false },
        { "10 MiB in the LogFile value",
            "[ACME]\r\nDontReplace=1\r\nLogFile=" + QByteArray(10 * 1024 * 1024, 'j') + "\r\n", -1,
            false },
        { "sparse, 512 MiB", "[ACME]\r\nDontReplace=1\r\n", sparseSize, false },
        { "exactly a mebibyte", atTheBound, atTheBound.size(), true },
    };
    const QString options = settingsFile(u"Options.ini"_s);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        onlySettingsFile(u"Options.ini"_s, c.bytes);
        const qint64 size = c.size < 0 ? c.bytes.size() : c.size;
        {
            QFile grown(options);
            ASSERT_TRUE(grown.resize(size)); // ftruncate: what lies beyond the bytes is a hole
        }
        // The file's size and its first bytes, without reading 512 MiB.
        const auto unchanged = [&] {
            QFile file(options);
            EXPECT_EQ(file.size(), size);
            ASSERT_TRUE(file.open(QIODevice::ReadOnly));
            EXPECT_EQ(file.read(c.bytes.size()), c.bytes);
        };

        const auto window = openWindow();

        EXPECT_TRUE(window->isVisible());
        EXPECT_EQ(window->config().DontReplace, c.read);
        if (c.read) {
            EXPECT_TRUE(reportedErrors().isEmpty()) << reportedErrors().join(u'\n').toStdString();
            continue;
        }
        EXPECT_EQ(reportedErrors(), QStringList { u"Impossible d'écrire dans "_s + options });
        reportedErrors().clear();
        // The start-up ended there, as for any settings file it cannot read.
        EXPECT_FALSE(QFileInfo::exists(settingsFile(u"RepSrc.txt"_s)));
        unchanged();

        onNextModalOf<QDialog>("the options dialog", [](QDialog *dialog) {
            EXPECT_EQ(dialog->objectName(), u"frmOptions"_s);
            if (auto *ok = dialog->findChild<QPushButton *>(u"bbtOk"_s))
                ok->click();
            else
                dialog->close();
        });
        QTest::mouseClick(child<QPushButton>(*window, u"bbtOptions"_s), Qt::LeftButton);
        EXPECT_EQ(reportedErrors(),
            QStringList { u"Les réglages n'ont pas pu être lus au démarrage : le fichier \""_s
                + options + u"\" n'est pas modifié."_s });
        reportedErrors().clear();
        unchanged();
    }
}

// 100,000 questions would be no answer to anything: the entries name existing folders, but
// for one, about which the user is asked once.
TEST_F(BadInputTest, listFilesOf100000Entries_oneQuestionThenEverythingKeptAndEditable)
{
    QStringList folders;
    for (int i = 0; i < 10; ++i)
        folders << makeDir(u"dossiers/d%1"_s.arg(i));
    QStringList entries;
    for (int i = 0; i < 100000; ++i)
        entries << folders.at(i % 10) + QString(i % 3, u'/');
    const QString gone = file(u"disparu"_s);
    QStringList withGone = entries;
    withGone.insert(50000, gone);
    writeSettings(u"RepSrc.txt"_s, linesOf(withGone, QStringConverter::Utf8));
    const QByteArray dstBytes = "\xFF\xFE" + linesOf(entries, QStringConverter::Utf16LE);
    writeSettings(u"RepDst.txt"_s, dstBytes);

    QString question;
    testsupport::answerNextModal(u"&Oui"_s, &question);
    const auto window = openWindow();

    EXPECT_TRUE(reportedErrors().isEmpty()) << reportedErrors().join(u'\n').toStdString();
    EXPECT_EQ(question,
        u"Le répertoire source \""_s + gone
            + u"\" est introuvable.\nVoulez-vous le supprimer de la liste des répertoires ?"_s);
    EXPECT_EQ(window->repSrc().entries, entries);
    EXPECT_EQ(window->repDst().entries, entries);
    auto *cbxRepSrc = child<QComboBox>(*window, u"cbxRepSrc"_s);
    auto *cbxRepDst = child<QComboBox>(*window, u"cbxRepDst"_s);
    EXPECT_EQ(cbxRepSrc->count(), 100000);
    EXPECT_EQ(cbxRepDst->count(), 100000);
    // Written back without the removed entry, each in its own encoding.
    EXPECT_EQ(readSettings(u"RepSrc.txt"_s), linesOf(entries, QStringConverter::Utf8));
    EXPECT_EQ(readSettings(u"RepDst.txt"_s), dstBytes);

    // The last entries can be chosen; the copy button follows.
    cbxRepSrc->setFocus();
    QTest::keyClick(cbxRepSrc, Qt::Key_End);
    cbxRepDst->setFocus();
    QTest::keyClick(cbxRepDst, Qt::Key_End);
    EXPECT_EQ(cbxRepSrc->currentIndex(), 99999);
    EXPECT_TRUE(child<QPushButton>(*window, u"bbtCopie"_s)->isEnabled());

    // The editor takes the whole list: the first entry selected, the edit rule compares a
    // typed text with every entry.
    const QString added = file(u"nouveau"_s);
    bool edited = false;
    onNextModalOf<TfrmEditeListeRepertoires>("the editor", [&](TfrmEditeListeRepertoires *frm) {
        EXPECT_EQ(frm->lbxFolders->count(), 100000);
        EXPECT_EQ(frm->SelectedIndex(), 0);
        // Typed in the end: the text up to its last character is put in at once.
        const QString upper = folders.at(9).toUpper();
        frm->edtFolder->setText(upper.chopped(1));
        QTest::keyClicks(frm->edtFolder, upper.right(1));
        EXPECT_FALSE(frm->bbtAdd->isEnabled()); // equal to an entry but for the letter case
        frm->edtFolder->setText(added.chopped(1));
        QTest::keyClicks(frm->edtFolder, added.right(1));
        EXPECT_TRUE(frm->bbtAdd->isEnabled());
        QTest::mouseClick(frm->bbtAdd, Qt::LeftButton);
        QTest::mouseClick(frm->bbtOk, Qt::LeftButton);
        edited = true;
    });
    QTest::mouseClick(child<QPushButton>(*window, u"bbtRepSrc"_s), Qt::LeftButton);

    EXPECT_TRUE(edited);
    EXPECT_EQ(cbxRepSrc->count(), 100001);
    EXPECT_EQ(readSettings(u"RepSrc.txt"_s),
        linesOf(entries + QStringList { added }, QStringConverter::Utf8));
    EXPECT_TRUE(reportedErrors().isEmpty()) << reportedErrors().join(u'\n').toStdString();
}

// Invalid text is decoded as well as it can be: what is no character becomes U+FFFD (or, for
// a lone half of a UTF-16 pair, stays that half); such an entry names no folder, so the user
// is asked about it, and what is kept is written back as it was read.
TEST_F(BadInputTest, listFilesOfInvalidText_decodedAskedAboutAndWrittenBackStably)
{
    const QString folder = makeDir(u"Données"_s);
    const auto utf16 = [](const QString &text, QStringConverter::Encoding encoding) {
        return QByteArray(QStringEncoder(encoding).encode(text));
    };
    const QByteArray folderLine = folder.toUtf8() + "\r\n";
    const struct
    {
        const char *what;
        QByteArray bytes;
        bool hasFolder = true; // the first entry is the folder, decoded right
    } cases[] = {
        { "invalid UTF-8 after a UTF-8 mark",
            "\xEF\xBB\xBF" + folderLine
                + "/a\xC3(\r\n\xFF\xFE\xFD\r\n/surrogate\xED\xA0\x80\r\n/overlong\xC0\xAF\r\n/"
                  "cut\xE2\x82" },
        { "odd-length UTF-16LE",
            "\xFF\xFE" + utf16(folder + u"\r\n/b"_s, QStringConverter::Utf16LE) + "X" },
        { "odd-length UTF-16BE",
            "\xFE\xFF" + utf16(folder + u"\r\n/b"_s, QStringConverter::Utf16BE) + "X" },
        { "lone surrogates in UTF-16LE",
            "\xFF\xFE"
                + utf16(folder + u"\r\n"_s + QChar(0xD800) + u"/\r\n/"_s + QChar(0xDC00),
                    QStringConverter::Utf16LE) },
        { "a mark alone, then NUL bytes", QByteArray("\xEF\xBB\xBF\0\0\r\n\0", 8), false },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        onlySettingsFile(u"RepSrc.txt"_s, c.bytes);
        const FolderList decoded = decodeFolderList(c.bytes);

        KeepEveryEntry keep;
        const auto window = openWindow();

        EXPECT_TRUE(reportedErrors().isEmpty()) << reportedErrors().join(u'\n').toStdString();
        EXPECT_EQ(window->repSrc().entries, decoded.entries);
        EXPECT_EQ(child<QComboBox>(*window, u"cbxRepSrc"_s)->count(), decoded.entries.size());
        // One question for every entry but the folder.
        EXPECT_EQ(keep.questions.size(), decoded.entries.size() - decoded.entries.count(folder));
        if (c.hasFolder) {
            EXPECT_EQ(decoded.entries.value(0), folder);
        }
        // What no character stands for, also cut off by the end of the file, shows.
        EXPECT_TRUE(decoded.entries.constLast().contains(QChar::ReplacementCharacter)
            || decoded.entries.constLast().contains(QChar(0xDC00)) || !c.hasFolder)
            << decoded.entries.constLast().toStdString();
        for (const QString &entry : decoded.entries)
            EXPECT_TRUE(entry == folder || !QFileInfo(entry).isDir()) << entry.toStdString();

        // Read back, what was written gives the same entries, and is then left as it is.
        const QByteArray written = readSettings(u"RepSrc.txt"_s);
        EXPECT_EQ(decodeFolderList(written).entries, decoded.entries);
        const auto again = openWindow();
        EXPECT_EQ(again->repSrc().entries, decoded.entries);
        EXPECT_EQ(readSettings(u"RepSrc.txt"_s), written);

        // The editor opens the same file, and saves it so that it reads back the same.
        const QString saved = file(u"copie.txt"_s);
        FolderList list = again->repSrc();
        onNextModalOf<TfrmEditeListeRepertoires>("the editor", [&](TfrmEditeListeRepertoires *frm) {
            frm->SetList({});
            folderstest::answerNextFileDialog(settingsFile(u"RepSrc.txt"_s));
            QTest::mouseClick(frm->bbtOpen, Qt::LeftButton);
            EXPECT_EQ(frm->List().entries, decoded.entries);
            folderstest::answerNextFileDialog(saved);
            QTest::mouseClick(frm->bbtSave, Qt::LeftButton);
            QTest::mouseClick(frm->bbtOk, Qt::LeftButton);
        });
        EXPECT_TRUE(EditeListeRepertoires(list, u"Liste"_s, again.get()));
        EXPECT_EQ(list.entries, decoded.entries);
        EXPECT_EQ(decodeFolderList(testsupport::readBytes(saved)).entries, decoded.entries);
        EXPECT_TRUE(reportedErrors().isEmpty()) << reportedErrors().join(u'\n').toStdString();
    }
}

TEST_F(BadInputTest, filterBoxOf10000Lines_everyLineRunsThroughTheCopy)
{
    const QString data = makeDir(u"Data"_s);
    const QString backup = makeDir(u"Backup"_s);
    for (int i = 0; i < 20; ++i)
        writeFile(u"Data/f%1.txt"_s.arg(i, 4, 10, QLatin1Char('0')), "x");
    writeSettings(u"RepSrc.txt"_s, data.toUtf8() + "\r\n");
    writeSettings(u"RepDst.txt"_s, backup.toUtf8() + "\r\n");
    const QString logFile = file(u"journal.log"_s);
    writeSettings(
        u"Options.ini"_s, "[ACME]\r\nWithTimestamp=0\r\nLogFile=" + logFile.toUtf8() + "\r\n");
    const auto window = openWindow();
    child<QComboBox>(*window, u"cbxRepSrc"_s)->setCurrentIndex(0);
    child<QComboBox>(*window, u"cbxRepDst"_s)->setCurrentIndex(0);

    QStringList lines;
    for (int i = 0; i < 10000; ++i)
        lines << u"f%1"_s.arg(i, 4, 10, QLatin1Char('0'));
    const QStringList log = copyWithFilters(*window, lines.join(u'\n'));

    // Widened to "fNNNN*.*": every line logs its filter, the first twenty copy their file.
    ASSERT_EQ(log.size(), 10020);
    EXPECT_EQ(log.at(0), u"Filtre: \"f0000*.*\"  (\"f0000\")"_s);
    EXPECT_EQ(log.at(1),
        u"Copie du fichier \""_s + data + u"/f0000.txt\" vers \""_s + backup + u"/f0000.txt\""_s);
    EXPECT_EQ(log.last(), u"Filtre: \"f9999*.*\"  (\"f9999\")"_s);
    EXPECT_EQ(QDir(backup).entryList(QDir::Files).size(), 20);
    EXPECT_EQ(testsupport::readBytes(logFile).count("\r\n"), 10020);
    EXPECT_TRUE(reportedErrors().isEmpty()) << reportedErrors().join(u'\n').toStdString();
}

TEST_F(BadInputTest, filterLinesOf100000Characters_reachTheCopyWholeAndSelectByTheRules)
{
    const QString data = makeDir(u"Data"_s);
    const QString backup = makeDir(u"Backup"_s);
    writeFile(u"Data/a.txt"_s, "a");
    writeFile(u"Data/b.txt"_s, "b");
    writeSettings(u"RepSrc.txt"_s, data.toUtf8() + "\r\n");
    writeSettings(u"RepDst.txt"_s, backup.toUtf8() + "\r\n");
    writeSettings(u"Options.ini"_s, "[ACME]\r\nWithTimestamp=0\r\nAdaptatFiltre=0\r\n");
    const auto window = openWindow();
    child<QComboBox>(*window, u"cbxRepSrc"_s)->setCurrentIndex(0);
    child<QComboBox>(*window, u"cbxRepDst"_s)->setCurrentIndex(0);

    const QStringList lines { QString(100000, u'a'), QString(100000, u'*'),
        QString(99995, u'*') + u".txt"_s, QString(100000, u'?') };
    const QStringList log = copyWithFilters(*window, lines.join(u'\n'));

    const auto copy = [&](const QString &name) -> QString {
        return u"Copie du fichier \""_s + data + u'/' + name + u"\" vers \""_s + backup + u'/'
            + name + u'"';
    };
    const auto replace = [&](const QString &name) -> QString {
        return u"Attention: Le fichier \""_s + backup + u'/' + name
            + u"\" existe déjà, il va être remplacé."_s;
    };
    const auto filter = [](const QString &line) -> QString {
        return u"Filtre: \""_s + line + u"\"  (\""_s + line + u"\")"_s;
    };
    // A name is at most 255 bytes: the letters select nothing, the stars everything, and the
    // question marks, which never take a dot, none of these names.
    EXPECT_EQ(log,
        (QStringList { filter(lines[0]), filter(lines[1]), copy(u"a.txt"_s), copy(u"b.txt"_s),
            filter(lines[2]), replace(u"a.txt"_s), copy(u"a.txt"_s), replace(u"b.txt"_s),
            copy(u"b.txt"_s), filter(lines[3]) }));
    EXPECT_EQ(QDir(backup).entryList(QDir::Files), (QStringList { u"a.txt"_s, u"b.txt"_s }));
    EXPECT_TRUE(reportedErrors().isEmpty()) << reportedErrors().join(u'\n').toStdString();
}

} // namespace
