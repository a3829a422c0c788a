#include "platform/Ansi.h"

#include <gtest/gtest.h>

#include <set>

using namespace platform;

namespace {

TEST(AnsiTest, everyByte_roundTripsThroughText)
{
    QByteArray all;
    for (int byte = 0; byte < 256; ++byte)
        all.append(char(byte));

    const QString text = fromAnsi(all);
    ASSERT_EQ(text.size(), 256);
    EXPECT_TRUE(ansiCanHold(text));
    EXPECT_EQ(toAnsi(text), all);
    const std::set<char16_t> distinct(text.utf16(), text.utf16() + text.size());
    EXPECT_EQ(distinct.size(), 256u);
}

TEST(AnsiTest, bytes_mapToWindows1252Characters)
{
    const struct
    {
        unsigned char byte;
        char16_t character;
    } cases[] = {
        { 0x41, u'A' },
        { 0x80, u'\u20AC' },
        { 0x81, u'\u0081' },
        { 0x8A, u'\u0160' },
        { 0x8D, u'\u008D' },
        { 0x8F, u'\u008F' },
        { 0x90, u'\u0090' },
        { 0x92, u'\u2019' },
        { 0x9C, u'\u0153' },
        { 0x9D, u'\u009D' },
        { 0x9F, u'\u0178' },
        { 0xA0, u'\u00A0' },
        { 0xE9, u'\u00E9' },
        { 0xFF, u'\u00FF' },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(int(c.byte));
        const QByteArray byte(1, char(c.byte));
        EXPECT_EQ(fromAnsi(byte), QString(QChar(c.character)));
        EXPECT_EQ(toAnsi(QString(QChar(c.character))), byte);
    }
}

TEST(AnsiTest, charactersTheCodePageLacks_becomeOneQuestionMarkEach)
{
    const struct
    {
        QString text;
        QByteArray bytes;
    } cases[] = {
        { QStringLiteral("日本.txt"), "??.txt" },
        { QString::fromUtf16(u"a\U0001F600b"), "a?b" }, // one character, two code units
        { QString(QChar(0xD800)) + u'x', "?x" }, // a lone surrogate
        { QString(QChar(0x0080)), "?" }, // a C1 control the code page does not hold
        { QString(QChar(0x2126)), "?" },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        EXPECT_FALSE(ansiCanHold(c.text));
        EXPECT_EQ(toAnsi(c.text), c.bytes);
    }
    EXPECT_TRUE(ansiCanHold(QStringLiteral("Éléphant € « œuvre » Ÿ")));
    EXPECT_TRUE(ansiCanHold(QString()));
}

} // namespace
