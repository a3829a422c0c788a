// The version reader on real executables (this test program and a probe carry the program's
// version resource), on files without one, and on damaged ELF files and resources.
#include "ElfImage.h"

#include "info/VersionInfoReader.h"
#include "info/VersionResource.h"
#include "info/VersionResourceBuilder.h"
#include "platform/Paths.h"
#include "support/Fixtures.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <functional>
#include <sys/stat.h>

using namespace Qt::StringLiterals;
using testinfo::ElfImage;
using testinfo::makeElf;
using testinfo::toBytes;

namespace {

TVersionNumber v(int a, int b, int c, int d)
{
    return { std::uint16_t(a), std::uint16_t(b), std::uint16_t(c), std::uint16_t(d) };
}

int sign(int value)
{
    return (value > 0) - (value < 0);
}

// The twelve string items, by property.
QStringList stringItems(const TVersionInfoReader &reader)
{
    return { reader.Comments(), reader.CompanyName(), reader.FileDescription(),
        reader.FileVersion(), reader.InternalName(), reader.LegalCopyright(),
        reader.LegalTrademarks(), reader.OriginalFileName(), reader.PrivateBuild(),
        reader.ProductName(), reader.ProductVersion(), reader.SpecialBuild() };
}

void expectNoInformation(const TVersionInfoReader &reader)
{
    EXPECT_FALSE(reader.HaveInfo());
    EXPECT_EQ(reader.CurrentTranslation(), -1);
    EXPECT_EQ(reader.NumTranslations(), 0);
    EXPECT_EQ(reader.FixedFileInfo(), info::VS_FIXEDFILEINFO {});
    EXPECT_EQ(reader.FileVersionNumber().toString(), u"0.0.0.0"_s);
    EXPECT_EQ(reader.ProductVersionNumber().toString(), u"0.0.0.0"_s);
    for (int index = 0; index < 5; ++index)
        EXPECT_EQ(reader.GetFixedFileInfoItem(index), 0u);
    for (const QString &item : stringItems(reader))
        EXPECT_TRUE(item.isEmpty()) << item.toStdString();
    EXPECT_TRUE(reader.Language().isEmpty());
    EXPECT_TRUE(reader.CharSet().isEmpty());
    EXPECT_EQ(reader.LanguageCode(), 0);
    EXPECT_EQ(reader.CharSetCode(), 0);
    EXPECT_TRUE(reader.TranslationKey().isEmpty());
    EXPECT_TRUE(reader.GetStringFileInfo(u"OriginalFileName"_s).isEmpty());
}

// Every value of the program's own version resource.
void expectProgramResource(const TVersionInfoReader &reader)
{
    ASSERT_TRUE(reader.HaveInfo());
    EXPECT_EQ(reader.FileVersionNumber().toString(), u"1.4.2018.209"_s);
    EXPECT_EQ(QString(reader.ProductVersionNumber()), u"1.4.0.0"_s);
    const info::VS_FIXEDFILEINFO &fixed = reader.FixedFileInfo();
    EXPECT_EQ(fixed.dwSignature, 0xFEEF04BDu);
    EXPECT_EQ(fixed.dwStrucVersion, 0x00010000u);
    EXPECT_EQ(reader.FileFlagsMask(), 0x3Fu);
    EXPECT_EQ(reader.FileFlags(), 0u);
    EXPECT_EQ(reader.FileOS(), 4u);
    EXPECT_EQ(reader.FileType(), 1u);
    EXPECT_EQ(reader.FileSubType(), 0u);
    EXPECT_EQ(reader.GetFixedFileInfoItem(5), 0u);
    EXPECT_EQ(reader.GetFixedFileInfoItem(-1), 0u);

    EXPECT_EQ(reader.NumTranslations(), 1);
    EXPECT_EQ(reader.CurrentTranslation(), 0);
    EXPECT_EQ(reader.TranslationKey(), u"040904E4"_s);
    EXPECT_EQ(reader.LanguageCode(), 1033);
    EXPECT_EQ(reader.CharSetCode(), 1252);
    EXPECT_EQ(reader.Language(), u"English (United States)"_s);
    EXPECT_EQ(reader.CharSet(), u"1252 (ANSI - Latin I)"_s);

    const QStringList items = stringItems(reader);
    const QString legal = u"Copyright © Orvane. All rights reserved."_s;
    const QStringList expected { QString(), QString(), u"quillSift"_s, u"1.4.2018.209"_s,
        u"quillSift"_s, legal, legal, u"QUILLSIFT.EXE"_s, QString(), u"quillSift"_s, u"1.4"_s,
        QString() };
    for (int index = 0; index < 12; ++index)
        EXPECT_EQ(items[index], expected[index])
            << TVersionInfoReader::StringItemName(index).toStdString();
    // Item names match without regard to case.
    EXPECT_EQ(reader.StringFileInfo(u"originalfilename"_s), u"QUILLSIFT.EXE"_s);
    EXPECT_EQ(reader.GetStringFileInfo(u"PRODUCTVERSION"_s), u"1.4"_s);
    EXPECT_TRUE(reader.GetStringFileInfo(u"NoSuchItem"_s).isEmpty());
}

verres::Resource sampleResource()
{
    verres::Resource resource;
    resource.fixed.fileVersionMS = (2u << 16) | 7u;
    resource.fixed.fileVersionLS = (65535u << 16) | 1u;
    resource.fixed.productVersionMS = 3u << 16;
    resource.fixed.fileOS = 0x40004;
    resource.translations = { 0x04E40409u };
    resource.stringTables = { { "040904E4", { { "OriginalFilename", "sample.exe" } } } };
    return resource;
}

QByteArray sampleElf(const verres::Resource &resource = sampleResource())
{
    return makeElf(
        { { ".text", QByteArray(40, '\x90') },
            { verres::kSectionName, toBytes(verres::build(resource)) }, { ".data", "data" } })
        .bytes;
}

class VersionReaderTest : public testsupport::TempDirTest
{
};

} // namespace

TEST(VersionNumberTest, textForm_isFourDecimalParts)
{
    EXPECT_EQ(v(1, 4, 2018, 209).toString(), u"1.4.2018.209"_s);
    EXPECT_EQ(QString(v(0, 0, 0, 0)), u"0.0.0.0"_s);
    EXPECT_EQ(v(65535, 65535, 65535, 65535).toString(), u"65535.65535.65535.65535"_s);
}

TEST(VersionNumberTest, order_comparesPartsInTurnAsUnsignedNumbers)
{
    struct Case
    {
        TVersionNumber left;
        TVersionNumber right;
        int difference; // of the first pair that differs
    };
    const Case cases[] = {
        { v(1, 10, 0, 0), v(1, 9, 65535, 65535), 1 },
        { v(2, 0, 0, 0), v(2, 0, 0, 0), 0 },
        { v(0, 0, 0, 1), v(0, 0, 0, 0), 1 },
        { v(1, 4, 2018, 209), v(1, 4, 2018, 210), -1 },
        { v(1, 4, 2018, 209), v(1, 0, 0, 5), 4 },
        { v(65535, 0, 0, 0), v(1, 65535, 65535, 65535), 65534 },
        { v(0, 0, 0, 65535), v(0, 0, 1, 0), -1 },
        { v(0, 0, 0, 0), v(0, 0, 0, 65535), -65535 },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.left.toString().toStdString() + " vs " + c.right.toString().toStdString());
        EXPECT_EQ(c.left.compare(c.right), c.difference);
        EXPECT_EQ(c.right.compare(c.left), -c.difference);
        const int s = sign(c.difference);
        EXPECT_EQ(c.left == c.right, s == 0);
        EXPECT_EQ(c.left != c.right, s != 0);
        EXPECT_EQ(c.left < c.right, s < 0);
        EXPECT_EQ(c.left <= c.right, s <= 0);
        EXPECT_EQ(c.left > c.right, s > 0);
        EXPECT_EQ(c.left >= c.right, s >= 0);
    }
}

TEST_F(VersionReaderTest, newReader_readsTheRunningExecutable)
{
    QObject owner;
    auto *reader = new TVersionInfoReader(&owner);
    EXPECT_EQ(reader->parent(), &owner);
    EXPECT_EQ(reader->FileName(), platform::executablePath());
    expectProgramResource(*reader);
}

TEST_F(VersionReaderTest, probeExecutable_carriesTheSameResource)
{
    TVersionInfoReader reader;
    reader.setFileName(QStringLiteral(QS_VERSION_PROBE));
    EXPECT_EQ(reader.FileName(), QStringLiteral(QS_VERSION_PROBE));
    expectProgramResource(reader);
}

TEST_F(VersionReaderTest, fileWithoutResource_givesNoInformationAndRaisesNothing)
{
    const QString fifo = file(u"fifo"_s);
    ASSERT_EQ(::mkfifo(platform::encodePath(fifo).constData(), 0600), 0);
    const QByteArray plainElf
        = makeElf({ { ".text", "code" }, { ".qs_versionx", "almost" } }).bytes;
    QByteArray cutBeforeHeaders = sampleElf();
    cutBeforeHeaders.truncate(cutBeforeHeaders.size() - 10);

    struct Case
    {
        const char *what;
        QString path;
    };
    const Case cases[] = {
        { "missing file", file(u"missing"_s) },
        { "empty file", writeFile(u"empty"_s, {}) },
        { "text file", writeFile(u"notes.txt"_s, "Quill Sift\r\nVERSION 1.4.2018.209\r\n") },
        { "folder", makeDir(u"folder"_s) },
        { "fifo", fifo },
        { "ELF without the section", QStringLiteral(QS_PLAIN_PROBE) },
        { "made ELF without the section", writeFile(u"plain.elf"_s, plainElf) },
        { "ELF cut before its section headers", writeFile(u"cut.elf"_s, cutBeforeHeaders) },
        { "path under a regular file", file(u"notes.txt/x"_s) },
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        TVersionInfoReader reader; // starts with the running executable's information
        ASSERT_TRUE(reader.HaveInfo());
        reader.setFileName(c.path);
        expectNoInformation(reader);
    }
}

TEST_F(VersionReaderTest, noResource_setsErrnoForTheCaller)
{
    errno = 0;
    EXPECT_EQ(info::getFileVersionInfoSize(file(u"missing"_s)), 0u);
    EXPECT_EQ(errno, ENOENT);
    errno = 0;
    EXPECT_EQ(info::getFileVersionInfoSize(writeFile(u"a.txt"_s, "text")), 0u);
    EXPECT_EQ(errno, ENODATA);
    char buffer[8];
    errno = 0;
    EXPECT_FALSE(info::getFileVersionInfo(QStringLiteral(QS_PLAIN_PROBE), 0, 8, buffer));
    EXPECT_EQ(errno, ENODATA);
}

TEST_F(VersionReaderTest, currentTranslationOutOfRange_readsBackMinusOneAndEmptiesItems)
{
    TVersionInfoReader reader;
    ASSERT_EQ(reader.NumTranslations(), 1);
    for (const int index : { reader.NumTranslations(), -5, -1, INT_MAX, INT_MIN }) {
        SCOPED_TRACE(index);
        reader.setCurrentTranslation(index);
        EXPECT_EQ(reader.CurrentTranslation(), -1);
        EXPECT_TRUE(reader.TranslationKey().isEmpty());
        for (const QString &item : stringItems(reader))
            EXPECT_TRUE(item.isEmpty());
        EXPECT_EQ(reader.LanguageCode(), 0);
        EXPECT_EQ(reader.CharSetCode(), 0);
        // Code 0: the neutral language and the system's ANSI code page.
        EXPECT_EQ(reader.Language(), u"Language Neutral"_s);
        EXPECT_EQ(reader.CharSet(), u"1252 (ANSI - Latin I)"_s);
        EXPECT_EQ(reader.FileVersionNumber().toString(), u"1.4.2018.209"_s);
    }
    reader.setCurrentTranslation(0);
    EXPECT_EQ(reader.OriginalFileName(), u"QUILLSIFT.EXE"_s);
}

TEST_F(VersionReaderTest, severalTranslations_eachGivesItsKeyLanguageCodePageAndItems)
{
    struct Translation
    {
        std::uint16_t language;
        std::uint16_t codePage;
        QString key;
        QString languageName;
        QString charSet;
    };
    const Translation translations[] = {
        { 0x0409, 1252, u"040904E4"_s, u"English (United States)"_s, u"1252 (ANSI - Latin I)"_s },
        { 0x040C, 1200, u"040C04B0"_s, u"French (France)"_s,
            u"1200 (Unicode UTF-16, little endian byte order)"_s },
        { 0x0000, 1201, u"000004B1"_s, u"Language Neutral"_s,
            u"1201 (Unicode UTF-16, big endian byte order)"_s },
        { 0x0407, 12000, u"04072EE0"_s, u"German (Germany)"_s,
            u"12000 (Unicode UTF-32, little endian byte order)"_s },
        { 0x0410, 12001, u"04102EE1"_s, u"Italian (Italy)"_s,
            u"12001 (Unicode UTF-32, big endian byte order)"_s },
        { 0x0C0C, 65001, u"0C0CFDE9"_s, u"French (Canada)"_s, u"65001 (UTF-8)"_s },
        { 0x7FFF, 4242, u"7FFF1092"_s, u"Language Neutral"_s, u"4242 (Unknown Code Page)"_s },
    };
    verres::Resource resource = sampleResource();
    resource.translations.clear();
    resource.stringTables.clear();
    for (const Translation &t : translations) {
        resource.translations.push_back(t.language | (std::uint32_t(t.codePage) << 16));
        // Tables are looked up without regard to case.
        resource.stringTables.push_back({ t.key.toLower().toStdString(),
            { { "FileDescription", "for " + t.key.toStdString() } } });
    }
    TVersionInfoReader reader;
    reader.setFileName(writeFile(u"multi.elf"_s, sampleElf(resource)));
    ASSERT_TRUE(reader.HaveInfo());
    ASSERT_EQ(reader.NumTranslations(), int(std::size(translations)));
    EXPECT_EQ(reader.CurrentTranslation(), 0);
    for (int index = 0; index < reader.NumTranslations(); ++index) {
        const Translation &t = translations[index];
        SCOPED_TRACE(t.key.toStdString());
        reader.setCurrentTranslation(index);
        EXPECT_EQ(reader.CurrentTranslation(), index);
        EXPECT_EQ(reader.TranslationKey(), t.key);
        EXPECT_EQ(reader.LanguageCode(), t.language);
        EXPECT_EQ(reader.CharSetCode(), t.codePage);
        EXPECT_EQ(reader.Language(), t.languageName);
        EXPECT_EQ(reader.CharSet(), t.charSet);
        EXPECT_EQ(reader.FileDescription(), u"for "_s + t.key);
    }
}

TEST_F(VersionReaderTest, partialResources_giveWhatTheyHold)
{
    TVersionInfoReader reader;

    verres::Resource noFixed = sampleResource();
    noFixed.hasFixedPart = false;
    reader.setFileName(writeFile(u"nofixed.elf"_s, sampleElf(noFixed)));
    EXPECT_TRUE(reader.HaveInfo());
    EXPECT_EQ(reader.FixedFileInfo(), info::VS_FIXEDFILEINFO {});
    EXPECT_EQ(reader.OriginalFileName(), u"sample.exe"_s);

    verres::Resource noTranslation = sampleResource();
    noTranslation.hasTranslations = false;
    reader.setFileName(writeFile(u"notrans.elf"_s, sampleElf(noTranslation)));
    EXPECT_TRUE(reader.HaveInfo());
    EXPECT_EQ(reader.FileVersionNumber().toString(), u"2.7.65535.1"_s);
    EXPECT_EQ(reader.ProductVersionNumber().toString(), u"3.0.0.0"_s);
    EXPECT_EQ(reader.FileOS(), 0x40004u);
    EXPECT_EQ(reader.NumTranslations(), 0);
    EXPECT_EQ(reader.CurrentTranslation(), -1);
    EXPECT_TRUE(reader.OriginalFileName().isEmpty());

    // The item exists, but the path "\StringFileInfo\040904E4\{name}" would pass 255 characters.
    verres::Resource longName = sampleResource();
    const std::string name(250, 'N');
    longName.stringTables[0].items.emplace_back(name, "long");
    reader.setFileName(writeFile(u"long.elf"_s, sampleElf(longName)));
    EXPECT_EQ(reader.OriginalFileName(), u"sample.exe"_s);
    EXPECT_TRUE(reader.GetStringFileInfo(QString::fromStdString(name)).isEmpty());
}

TEST_F(VersionReaderTest, everyElfClassAndByteOrder_isRead)
{
    const QByteArray resource = toBytes(verres::build(sampleResource()));
    for (const bool is64 : { false, true }) {
        for (const bool bigEndian : { false, true }) {
            SCOPED_TRACE(std::string(is64 ? "64" : "32") + (bigEndian ? " big" : " little"));
            const ElfImage image = makeElf(
                { { ".text", "x" }, { verres::kSectionName, resource } }, is64, bigEndian);
            TVersionInfoReader reader;
            reader.setFileName(writeFile(u"class.elf"_s, image.bytes));
            EXPECT_TRUE(reader.HaveInfo());
            EXPECT_EQ(reader.OriginalFileName(), u"sample.exe"_s);
        }
    }
}

TEST_F(VersionReaderTest, damagedElfHeaders_giveNoInformation)
{
    const QByteArray resource = toBytes(verres::build(sampleResource()));
    const int section = 2; // after .text
    struct Damage
    {
        const char *what;
        std::function<void(ElfImage &)> apply;
    };
    const Damage damages[] = {
        { "section headers past the end",
            [](ElfImage &e) { e.put(e.shoffField(), std::uint64_t(e.bytes.size()) + 8, 8); } },
        { "section headers at a huge offset",
            [](ElfImage &e) { e.put(e.shoffField(), ~std::uint64_t(0) - 16, 8); } },
        { "more section headers than the file holds",
            [](ElfImage &e) { e.put(e.shnumField(), 0xFFF0, 2); } },
        { "section header entries too small",
            [](ElfImage &e) { e.put(e.shentsizeField(), 8, 2); } },
        { "name table index out of range", [](ElfImage &e) { e.put(e.shstrndxField(), 40, 2); } },
        { "extended numbering with an empty null section",
            [](ElfImage &e) { e.put(e.shnumField(), 0, 2); } },
        { "name offset past the name table",
            [&](ElfImage &e) { e.put(e.nameField(section), 0x7FFFFFFF, 4); } },
        { "content past the end",
            [&](ElfImage &e) {
                e.put(e.offsetField(section), std::uint64_t(e.bytes.size()) - 4, 8);
            } },
        { "content size wrapping around",
            [&](ElfImage &e) { e.put(e.sizeField(section), ~std::uint64_t(0), 8); } },
        { "content without file bytes (NOBITS)",
            [&](ElfImage &e) { e.put(e.typeField(section), 8, 4); } },
        { "content shorter than its resource",
            [&](ElfImage &e) {
                e.put(e.sizeField(section), std::uint64_t(resource.size()) - 4, 8);
            } },
        { "not an ELF magic", [](ElfImage &e) { e.bytes[1] = 'X'; } },
        { "unknown ELF class", [](ElfImage &e) { e.bytes[4] = 7; } },
    };
    for (const Damage &damage : damages) {
        SCOPED_TRACE(damage.what);
        ElfImage image = makeElf({ { ".text", "x" }, { verres::kSectionName, resource } });
        damage.apply(image);
        TVersionInfoReader reader;
        reader.setFileName(writeFile(u"damaged.elf"_s, image.bytes));
        expectNoInformation(reader);
    }
}

TEST_F(VersionReaderTest, everyTruncationAndByteDamage_isReadSafely)
{
    const QByteArray good = sampleElf();
    const QString path = file(u"fuzz.elf"_s);
    TVersionInfoReader reader;
    for (qsizetype length = 0; length < good.size(); ++length) {
        testsupport::writeBytes(path, good.left(length));
        reader.setFileName(path);
        ASSERT_FALSE(reader.HaveInfo()) << "cut at " << length;
    }
    for (qsizetype at = 0; at < good.size(); ++at) {
        for (const char value : { '\x00', '\xFF' }) {
            QByteArray damaged = good;
            damaged[at] = value;
            testsupport::writeBytes(path, damaged);
            reader.setFileName(path); // must neither crash nor read out of bounds
            // At most the item's own characters, and its NUL if that was damaged: nothing beyond.
            EXPECT_LE(reader.OriginalFileName().size(), 11) << "byte " << at;
        }
    }
}

TEST(VersionQueryTest, paths_nameBlocksWithoutRegardToCase)
{
    const QByteArray block = toBytes(verres::build(sampleResource()));
    QByteArrayView value;
    ASSERT_TRUE(info::verQueryValue(block, u"\\", &value));
    EXPECT_EQ(value.size(), 52);
    ASSERT_TRUE(info::verQueryValue(block, u"\\varfileinfo\\TRANSLATION", &value));
    EXPECT_EQ(value.size(), 4);
    ASSERT_TRUE(
        info::verQueryValue(block, u"\\StringFileInfo\\040904e4\\ORIGINALFILENAME", &value));
    EXPECT_EQ(value.size(), qsizetype(sizeof u"sample.exe")); // UTF-16 with its NUL
    EXPECT_FALSE(info::verQueryValue(block, u"\\StringFileInfo\\\\OriginalFileName", &value));
    EXPECT_TRUE(value.isEmpty());
    EXPECT_FALSE(info::verQueryValue(block, u"\\StringFileInfo\\040904E4\\Comments", &value));
    EXPECT_FALSE(info::verQueryValue(block, u"StringFileInfo", &value));
    EXPECT_FALSE(info::verQueryValue(block.left(5), u"\\", &value));

    verres::Resource noFixed = sampleResource();
    noFixed.hasFixedPart = false;
    EXPECT_FALSE(info::verQueryValue(toBytes(verres::build(noFixed)), u"\\", &value));
}

TEST(VersionQueryTest, damagedResource_isWalkedWithinItsBounds)
{
    const QByteArray good = toBytes(verres::build(sampleResource()));
    const QString item = u"\\StringFileInfo\\040904E4\\OriginalFilename"_s;
    QByteArrayView value;
    ASSERT_TRUE(info::verQueryValue(good, item, &value));
    for (qsizetype length = 0; length < good.size(); ++length) {
        // A copy of its own, so that the sanitizer sees any read past the end.
        const QByteArray cut = good.left(length);
        info::verQueryValue(cut, item, &value);
        info::verQueryValue(cut, u"\\VarFileInfo\\Translation", &value);
    }
    for (qsizetype at = 0; at < good.size(); ++at) {
        for (const char byte : { '\x00', '\x01', '\xFF' }) {
            QByteArray damaged = good;
            damaged[at] = byte;
            if (info::verQueryValue(damaged, item, &value)) {
                EXPECT_GE(value.data(), damaged.constData());
                EXPECT_LE(value.data() + value.size(), damaged.constData() + damaged.size());
            }
        }
    }
}
