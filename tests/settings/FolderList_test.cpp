#include "settings/FolderList.h"

#include "../platform/FileSizeLimit.h"
#include "platform/Ansi.h"
#include "platform/Error.h"
#include "support/Bytes.h"
#include "support/Fixtures.h"

#include <QDir>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using testsupport::utf16;
using testsupport::utf8WithMark;

namespace {

class FolderListTest : public testsupport::TempDirTest
{
protected:
    QString list() const { return file(u"RepSrc.txt"_s); }
};

// Each file is read, then written back through real files.
TEST_F(FolderListTest, everyEncodingAndLineBreak_readAndWrittenBack)
{
    QByteArray allHighBytes;
    for (int byte = 0x80; byte < 0x100; ++byte)
        allHighBytes.append(char(byte));
    const struct
    {
        const char *name;
        QByteArray file;
        QStringList entries;
        TextEncoding encoding;
        QByteArray written;
    } cases[] = {
        { "empty file", QByteArray(), {}, TextEncoding::Ansi, QByteArray() },
        { "CR LF", "/a\r\n/b c\r\n", { u"/a"_s, u"/b c"_s }, TextEncoding::Ansi, "/a\r\n/b c\r\n" },
        { "LF", "/a\n/b\n", { u"/a"_s, u"/b"_s }, TextEncoding::Ansi, "/a\r\n/b\r\n" },
        { "CR", "/a\r/b\r", { u"/a"_s, u"/b"_s }, TextEncoding::Ansi, "/a\r\n/b\r\n" },
        { "mixed, no final break", "/a\r\n/b\n/c\r/d", { u"/a"_s, u"/b"_s, u"/c"_s, u"/d"_s },
            TextEncoding::Ansi, "/a\r\n/b\r\n/c\r\n/d\r\n" },
        { "blank line in the middle", "/a\r\n\r\n/b\r\n", { u"/a"_s, QString(), u"/b"_s },
            TextEncoding::Ansi, "/a\r\n\r\n/b\r\n" },
        { "CR then CR LF", "/a\r\r\n", { u"/a"_s, QString() }, TextEncoding::Ansi, "/a\r\n\r\n" },
        { "LF then CR", "/a\n\r/b", { u"/a"_s, QString(), u"/b"_s }, TextEncoding::Ansi,
            "/a\r\n\r\n/b\r\n" },
        { "a lone break", "\n", { QString() }, TextEncoding::Ansi, "\r\n" },
        { "blanks kept", "  /a b/ \t\r\n", { u"  /a b/ \t"_s }, TextEncoding::Ansi,
            "  /a b/ \t\r\n" },
        { "Windows-1252",
            "/donn\xE9"
            "es\r\n"
                + allHighBytes + "\r\n",
            { u"/données"_s, platform::fromAnsi(allHighBytes) }, TextEncoding::Ansi,
            "/donn\xE9"
            "es\r\n"
                + allHighBytes + "\r\n" },
        { "UTF-8 without mark is Windows-1252", "/\xC3\xA9t\xC3\xA9\r\n", { u"/Ã©tÃ©"_s },
            TextEncoding::Ansi, "/\xC3\xA9t\xC3\xA9\r\n" },
        { "UTF-8", utf8WithMark(u"/données/été\r\n/日本\n"_s), { u"/données/été"_s, u"/日本"_s },
            TextEncoding::Utf8, utf8WithMark(u"/données/été\r\n/日本\r\n"_s) },
        { "UTF-8 mark alone", "\xEF\xBB\xBF", {}, TextEncoding::Utf8, "\xEF\xBB\xBF" },
        { "UTF-8, a second mark is text", "\xEF\xBB\xBF\xEF\xBB\xBF/a\r\n", { u"\uFEFF/a"_s },
            TextEncoding::Utf8, "\xEF\xBB\xBF\xEF\xBB\xBF/a\r\n" },
        { "UTF-16LE", utf16(u"/é☃\r\n/b\r"_s, true), { u"/é☃"_s, u"/b"_s }, TextEncoding::Utf16LE,
            utf16(u"/é☃\r\n/b\r\n"_s, true) },
        { "UTF-16BE", utf16(u"/é☃\n\n/b"_s, false), { u"/é☃"_s, QString(), u"/b"_s },
            TextEncoding::Utf16BE, utf16(u"/é☃\r\n\r\n/b\r\n"_s, false) },
        { "UTF-16LE mark alone", "\xFF\xFE", {}, TextEncoding::Utf16LE, "\xFF\xFE" },
        { "UTF-16BE mark alone", "\xFE\xFF", {}, TextEncoding::Utf16BE, "\xFE\xFF" },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        testsupport::writeBytes(list(), c.file);
        const FolderList read = readFolderListFile(list());
        EXPECT_EQ(read.entries, c.entries);
        EXPECT_EQ(read.encoding, c.encoding);

        EXPECT_EQ(writeFolderListFile(list(), read), c.encoding);
        EXPECT_EQ(readFile(u"RepSrc.txt"_s), c.written);
        EXPECT_EQ(readFolderListFile(list()), read);
    }
}

TEST_F(FolderListTest, emptiedListFromUtf8File_writesTheMarkAlone)
{
    testsupport::writeBytes(list(), utf8WithMark(u"/a\r\n/b\r\n"_s));
    FolderList folders = readFolderListFile(list());
    folders.entries.clear();
    writeFolderListFile(list(), folders);
    EXPECT_EQ(readFile(u"RepSrc.txt"_s), QByteArray("\xEF\xBB\xBF"));
}

TEST_F(FolderListTest, entryWindows1252Lacks_isWrittenAsUtf8WithMark)
{
    const FolderList folders { { u"/données"_s, u"/photos/東京"_s }, TextEncoding::Ansi };
    TextEncoding written = TextEncoding::Ansi;
    EXPECT_EQ(encodeFolderList(folders, &written), utf8WithMark(u"/données\r\n/photos/東京\r\n"_s));
    EXPECT_EQ(written, TextEncoding::Utf8);

    EXPECT_EQ(writeFolderListFile(list(), folders), TextEncoding::Utf8);
    const FolderList back = readFolderListFile(list());
    EXPECT_EQ(back.entries, folders.entries);
    EXPECT_EQ(back.encoding, TextEncoding::Utf8);
}

// Found by fuzzing: in Windows-1252 these first folders began with the bytes of a mark.
TEST_F(FolderListTest, firstEntryThatWouldReadAsAMark_isWrittenAsUtf8WithMark)
{
    for (const QString &first : { u"ÿþ/a"_s, u"þÿ"_s, u"ï»¿/dossier"_s }) {
        SCOPED_TRACE(first.toStdString());
        const FolderList folders { { first, u"/b"_s }, TextEncoding::Ansi };
        EXPECT_EQ(writeFolderListFile(list(), folders), TextEncoding::Utf8);
        const FolderList back = readFolderListFile(list());
        EXPECT_EQ(back.entries, folders.entries);
        EXPECT_EQ(back.encoding, TextEncoding::Utf8);
    }
    // Further down such bytes are ordinary text.
    const FolderList later { { u"/a"_s, u"ÿþ"_s }, TextEncoding::Ansi };
    EXPECT_EQ(encodeFolderList(later), QByteArray("/a\r\n\xFF\xFE\r\n"));
}

TEST_F(FolderListTest, fileCannotBeRead_raisesImpossibleDOuvrir)
{
    makeDir(u"folder.txt"_s);
    writeFile(u"plain"_s, "x");
    const struct
    {
        QString path;
        QString message;
    } cases[] = {
        { file(u"none.txt"_s),
            u"Impossible d'ouvrir le fichier \""_s + file(u"none.txt"_s)
                + u"\". Impossible de trouver le fichier spécifié"_s },
        { file(u"plain/RepSrc.txt"_s),
            u"Impossible d'ouvrir le fichier \""_s + file(u"plain/RepSrc.txt"_s)
                + u"\". Impossible de trouver le chemin spécifié"_s },
        { file(u"folder.txt"_s),
            u"Impossible d'ouvrir le fichier \""_s + file(u"folder.txt"_s)
                + u"\". Accès refusé"_s },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        try {
            readFolderListFile(c.path);
            ADD_FAILURE() << "no error";
        } catch (const AppError &error) {
            EXPECT_EQ(error.message(), c.message);
        }
    }
}

TEST_F(FolderListTest, fileCannotBeCreated_raisesImpossibleDeCreer)
{
    writeFile(u"plain"_s, "x");
    const QString target = file(u"plain/RepDst.txt"_s);
    try {
        writeFolderListFile(target, { { u"/a"_s }, TextEncoding::Ansi });
        ADD_FAILURE() << "no error";
    } catch (const AppError &error) {
        EXPECT_EQ(error.message(),
            u"Impossible de créer le fichier \""_s + target
                + u"\". Impossible de trouver le chemin spécifié"_s);
    }
}

TEST_F(FolderListTest, writeFailingHalfWay_leavesTheOldFileWhole)
{
    const QByteArray old = "/ancien\r\n";
    testsupport::writeBytes(list(), old);
    FolderList folders;
    for (int i = 0; i < 100; ++i)
        folders.entries.append(u"/dossier/numéro/%1"_s.arg(i));

    const int status = runWithFileSizeLimit(64, [&] {
        try {
            writeFolderListFile(list(), folders);
            return 0;
        } catch (const AppError &error) {
            return error.message().startsWith(u"Impossible de créer le fichier"_s) ? 1 : 2;
        }
    });
    EXPECT_EQ(status, 1);
    EXPECT_EQ(readFile(u"RepSrc.txt"_s), old);
    EXPECT_EQ(QDir(path()).entryList(QDir::Files | QDir::Hidden), QStringList { u"RepSrc.txt"_s });
}

} // namespace
