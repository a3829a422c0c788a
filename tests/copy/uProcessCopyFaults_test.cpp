// Faults of the copy seen through the copy window: what its list shows must be what the log
// file and the saved log hold, line for line.
#include "copy/LogModel.h"
#include "copy/uProcessCopy.h"
#include "settings/Settings.h"
#include "support/Fixtures.h"
#include "support/Modal.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QListView>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using testsupport::readBytes;

namespace {

class ProcessCopyFaultsTest : public testsupport::TempDirTest
{
protected:
    void SetUp() override
    {
        TempDirTest::SetUp();
        src = makeDir(u"src"_s);
        dst = makeDir(u"dst"_s);
        config.DontReplace = false;
        config.AdaptatFiltre = 0;
        config.WithTimestamp = false;
    }

    tyConfig config;
    QString src;
    QString dst;
};

TEST_F(ProcessCopyFaultsTest, nameWithALineFeed_staysOneLineInTheListTheLogFileAndTheSavedLog)
{
    const QString name = u"rapport\nfinal.txt"_s;
    writeFile(u"src/"_s + name, "contenu");
    writeFile(u"src/suite.txt"_s, "suite");
    config.LogFile = file(u"journal.log"_s);
    const QStringList filters = { u"*.txt"_s };

    QStringList rows;
    QString endMessage;
    QTimer afterTheEnd;
    afterTheEnd.setInterval(10);
    testsupport::onNextModal([&](QWidget *modal) {
        auto *form = qobject_cast<TfrmCopy *>(modal);
        ASSERT_NE(form, nullptr);
        testsupport::answerNextModal(u"OK"_s, &endMessage);
        // Once the end message is closed the list is final: read it, save it, close.
        QObject::connect(&afterTheEnd, &QTimer::timeout, form, [&, form] {
            if (endMessage.isEmpty() || QApplication::activeModalWidget() != form)
                return;
            afterTheEnd.stop();
            const auto *list = form->findChild<QListView *>(u"lbxLog"_s);
            for (int row = 0; row < list->model()->rowCount(); ++row)
                rows << list->model()->index(row, 0).data().toString();
            testsupport::onNextModal([this](QWidget *dialog) {
                auto *save = qobject_cast<QFileDialog *>(dialog);
                ASSERT_NE(save, nullptr);
                save->selectFile(file(u"sauve.txt"_s));
                static_cast<QDialog *>(save)->accept(); // QFileDialog's own accept()
            });
            QTest::mouseClick(form->findChild<QPushButton *>(u"bbtSave"_s), Qt::LeftButton);
            QTest::mouseClick(form->findChild<QPushButton *>(u"bbtClose"_s), Qt::LeftButton);
        });
        afterTheEnd.start();
    });

    RunCopy(src, dst, filters, config);

    EXPECT_EQ(endMessage, u"La copie des fichiers est terminée."_s);
    const QString shown = u"rapport?final.txt"_s;
    const QStringList expected { u"Filtre: \"*.txt\"  (\"*.txt\")"_s,
        u"Copie du fichier \""_s + src + u'/' + shown + u"\" vers \""_s + dst + u'/' + shown + u'"',
        u"Copie du fichier \""_s + src + u"/suite.txt\" vers \""_s + dst + u"/suite.txt\""_s };
    EXPECT_EQ(rows, expected);
    const QByteArray lines = (expected.join(u"\r\n"_s) + u"\r\n"_s).toLatin1();
    EXPECT_EQ(readBytes(config.LogFile), lines);
    EXPECT_EQ(readFile(u"sauve.txt"_s), lines);
    EXPECT_EQ(readBytes(dst + u'/' + name), "contenu");
    EXPECT_TRUE(testsupport::reportedErrors().isEmpty())
        << testsupport::reportedErrors().join(u'\n').toStdString();
}

} // namespace
