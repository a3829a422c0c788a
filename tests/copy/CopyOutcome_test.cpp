// What a run reports beyond its log: the counts of its outcomes, a run that only says what it
// would do, and copies read back and compared with their source.
#include "CopyRunFixture.h"
#include "copy/CopyEngine.h"
#include "copy/CopySummary.h"
#include "platform/Error.h"
#include "support/Fixtures.h"
#include "support/OtherProcess.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace copytest;
using testsupport::readBytes;

namespace {

struct Options
{
    bool dryRun = false;
    bool verify = false;
};

class CopyOutcomeTest : public CopyRunFixture
{
protected:
    QList<QString> runWith(const QStringList &filters, Options options)
    {
        LogLines log;
        CopyRun copy(config, src, dst, log, {});
        copy.setDryRun(options.dryRun);
        copy.setVerify(options.verify);
        copy.runFilters(filters);
        copy.appendLogFile();
        tally = copy.tally();
        return log.lines;
    }

    // a.txt is new, b.txt is in the destination already, c.txt meets a folder of its name
    // there, and the second filter cannot be searched.
    void prepareMixedRun()
    {
        writeFile(QStringLiteral("src/a.txt"), "aaa");
        writeFile(QStringLiteral("src/b.txt"), "bbbbb");
        writeFile(QStringLiteral("src/c.txt"), "c");
        writeFile(QStringLiteral("dst/b.txt"), "old");
        makeDir(QStringLiteral("dst/c.txt"));
    }

    const QStringList mixedFilters { QStringLiteral("*.txt"), QStringLiteral("sub/*") };
    CopyTally tally;
};

TEST_F(CopyOutcomeTest, tally_countsCopiesFilesLeftAloneErrorsAndBytes)
{
    const struct
    {
        const char *name;
        bool dontReplace;
        CopyTally expected;
    } cases[] = {
        // a copied; b left alone; c and the filter fail.
        { "don't replace", true, { 1, 1, 2, 3 } },
        // a and b copied (b replaced); c and the filter fail.
        { "replace", false, { 2, 0, 2, 8 } },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QDir(dst).removeRecursively();
        prepareMixedRun();
        config.DontReplace = c.dontReplace;
        const QList<QString> log = runWith(mixedFilters, {});
        EXPECT_EQ(tally.copied, c.expected.copied);
        EXPECT_EQ(tally.skipped, c.expected.skipped);
        EXPECT_EQ(tally.errors, c.expected.errors);
        EXPECT_EQ(tally.bytes, c.expected.bytes);
        // The counts tell what the log says.
        EXPECT_EQ(
            log.filter(QRegularExpression(QStringLiteral("^Erreur: "))).size(), c.expected.errors);
    }
}

TEST_F(CopyOutcomeTest, dryRun_logsWhatTheRunWouldAndTouchesNothing)
{
    config.LogFile = path() + u"/journal.log";
    // a.txt is selected again: its second visit finds the copy the first one made.
    const QStringList filters = mixedFilters + QStringList { QStringLiteral("a*") };
    for (const bool dontReplace : { true, false }) {
        SCOPED_TRACE(dontReplace);
        QDir(dst).removeRecursively();
        prepareMixedRun();
        testsupport::OtherProcess killedRun;
        killedRun.finish();
        const QString dead = dst + QString::fromLatin1(killedRun.name());
        testsupport::writeBytes(dead, "left by a dead run");
        config.DontReplace = dontReplace;

        const QList<QString> dry = runWith(filters, { .dryRun = true });
        EXPECT_EQ(tally.copied, 0);
        EXPECT_EQ(tally.bytes, 0);
        EXPECT_EQ(tally.skipped, dontReplace ? 2 : 0);
        EXPECT_EQ(tally.errors, 1); // the filter's, which needs no copy to show
        EXPECT_EQ(readBytes(dst + u"b.txt"), QByteArray("old"));
        EXPECT_FALSE(QFileInfo::exists(dst + u"a.txt"));
        EXPECT_TRUE(QFileInfo::exists(dead));
        EXPECT_FALSE(QFileInfo::exists(config.LogFile));

        // The real run logs the same lines, plus the outcome of each copy.
        QList<QString> real = runWith(filters, {});
        real.removeIf([](const QString &line) {
            return line.startsWith(u"Erreur: ") && !line.contains(u"filtre");
        });
        EXPECT_EQ(dry, real);
        QFile::remove(config.LogFile);
    }
}

TEST_F(CopyOutcomeTest, verify_countsAVerifiedCopyOnce)
{
    QByteArray big(700 * 1024, Qt::Uninitialized);
    for (qsizetype i = 0; i < big.size(); ++i)
        big[i] = char(i * 31 + (i >> 11));
    writeFile(QStringLiteral("src/big.bin"), big);
    writeFile(QStringLiteral("src/empty.bin"), QByteArray());

    const QList<QString> log = runWith({ QStringLiteral("*.bin") }, { .verify = true });
    EXPECT_EQ(log,
        (QList<QString> { filterLine(QStringLiteral("*.bin")),
            copyLine(src + u"big.bin", dst + u"big.bin"),
            copyLine(src + u"empty.bin", dst + u"empty.bin") }));
    EXPECT_EQ(tally.copied, 2);
    EXPECT_EQ(tally.errors, 0);
    EXPECT_EQ(tally.bytes, big.size());
    EXPECT_EQ(readBytes(dst + u"big.bin"), big);
}

TEST_F(CopyOutcomeTest, verifyCopy_namesTheCopyThatDiffersOrTheFailedRead)
{
    const QString source = writeFile(QStringLiteral("src/a.txt"), "original");
    const QString differs = writeFile(QStringLiteral("dst/a.txt"), "originaL");
    const QString same = writeFile(QStringLiteral("dst/same.txt"), "original");
    const auto errorOf = [](const QString &from, const QString &to) {
        try {
            VerifyCopy(from, to);
        } catch (const AppError &error) {
            return error.message();
        }
        return QString();
    };
    EXPECT_EQ(errorOf(source, same), QString());
    EXPECT_EQ(errorOf(source, differs),
        u"La vérification de la copie a échoué : le fichier \"" + differs
            + u"\" diffère de sa source");
    EXPECT_EQ(errorOf(source, dst + u"missing.txt"),
        u"La vérification de la copie a échoué : " + platform::sysErrorMessage(ENOENT));
}

TEST(CopySummary, countsBytesAndDurationsReadAsFrenchWritesThem)
{
    const QChar nbsp(0x00A0);
    EXPECT_EQ(
        summaryText({ 9998, 1, 1, 0 }), u"Copiés : 9" + nbsp + u"998   Ignorés : 1   Erreurs : 1");
    EXPECT_EQ(summaryText({ 1234567, 0, 0, 0 }),
        u"Copiés : 1" + nbsp + u"234" + nbsp + u"567   Ignorés : 0   Erreurs : 0");
    EXPECT_EQ(finalSummaryText({ 2, 0, 0, 1536 }, 3240),
        QStringLiteral("Copiés : 2   Ignorés : 0   Erreurs : 0   Total : 1,5 Ko en 3,2 s"));

    const struct
    {
        qint64 bytes;
        const char16_t *text;
    } sizes[] = {
        { 0, u"0 octet" },
        { 1, u"1 octet" },
        { 1023, u"1\u00A0023 octets" },
        { 1024, u"1,0 Ko" },
        { 1024 * 1024 - 20, u"1,0 Mo" }, // not "1024,0 Ko"
        { 12 * 1024 * 1024 + 400 * 1024, u"12,4 Mo" },
        { 3LL * 1024 * 1024 * 1024, u"3,0 Go" },
        { 5LL * 1024 * 1024 * 1024 * 1024, u"5,0 To" },
    };
    for (const auto &c : sizes)
        EXPECT_EQ(byteCountText(c.bytes), QString::fromUtf16(c.text)) << c.bytes;

    const struct
    {
        qint64 milliseconds;
        const char16_t *text;
    } durations[] = {
        { 0, u"0,0 s" },
        { 420, u"0,4 s" },
        { 59940, u"59,9 s" },
        { 59950, u"1 min 00 s" },
        { 125000, u"2 min 05 s" },
        { 3725000, u"1 h 02 min 05 s" },
    };
    for (const auto &c : durations)
        EXPECT_EQ(durationText(c.milliseconds), QString::fromUtf16(c.text)) << c.milliseconds;
}

TEST(CopySummary, timeLeft_atThePaceSoFar_onceThereIsOne)
{
    const struct
    {
        qint64 visited;
        qint64 total;
        qint64 elapsed;
        qint64 remaining;
    } cases[] = {
        { 100, 400, 5000, 15000 }, { 10, 11, 2000, 200 },
        { 9, 100, 60000, -1 }, // too few files to tell
        { 500, 1000, 1999, -1 }, // too soon
        { 400, 400, 9000, -1 }, // nothing left
        { 410, 400, 9000, -1 }, // files that appeared after the count
    };
    for (const auto &c : cases) {
        EXPECT_EQ(remainingTime(c.visited, c.total, c.elapsed), c.remaining)
            << c.visited << " of " << c.total << " in " << c.elapsed << " ms";
    }

    const QChar nbsp(0x00A0);
    EXPECT_EQ(summaryText({ 1200, 3, 0, 0 }, 125000),
        u"Copiés : 1" + nbsp + u"200   Ignorés : 3   Erreurs : 0   Temps restant : 2 min 05 s");
    EXPECT_EQ(summaryText({ 1, 2, 3, 0 }, -1), summaryText({ 1, 2, 3, 0 }));

    // A notification's counts: the errors first when there are any.
    EXPECT_EQ(notificationText({ 9998, 1, 0, 0 }), summaryText({ 9998, 1, 0, 0 }));
    EXPECT_EQ(notificationText({ 9998, 1, 2, 0 }),
        u"Erreurs : 2   Copiés : 9" + nbsp + u"998   Ignorés : 1");
}

} // namespace
