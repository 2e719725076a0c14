#include "runtime/FixedText.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(FixedText, CutsAtCharacterBoundary)
{
    struct Case { const char *pText; int nMax; const char *pExpected; };
    const Case cases[] = {
        {"abc", 5, "abc"},
        {"abcdef", 3, "abc"},
        {"ab\xc3\xa9", 3, "ab"},             // é would be split after its lead byte
        {"ab\xc3\xa9", 4, "ab\xc3\xa9"},
        {"\xe2\x82\xac\xe2\x82\xac", 5, "\xe2\x82\xac"}, // two euro signs, the second cut inside
        {"\xf0\x9f\x98\x80x", 3, ""},          // a four-byte character that does not fit at all
        {"abc", 0, ""},
    };
    for (const Case &c : cases)
        EXPECT_EQ(FixedText::CutUtf8(QByteArray(c.pText), c.nMax), QByteArray(c.pExpected)) << c.pText << " " << c.nMax;
}

TEST(FixedText, CopyKeepsTheTerminatorAndZeroFills)
{
    char field[8];
    std::memset(field, 'x', sizeof field);
    EXPECT_EQ(FixedText::Copy(field, QByteArray("abcdefghij")), 7);
    EXPECT_STREQ(field, "abcdefg");

    std::memset(field, 'x', sizeof field);
    EXPECT_EQ(FixedText::Copy(field, QByteArray("ab")), 2);
    for (size_t i = 2; i < sizeof field; ++i)
        EXPECT_EQ(field[i], '\0');

    char unterminated[4] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(FixedText::Read(unterminated), QByteArray("abcd"));
    const char local[6] = {'\xC3', '\xA9', 't', '\xC3', '\xA9', '\0'};
    EXPECT_EQ(FixedText::ReadLocal(local), QString::fromUtf8("\xC3\xA9t\xC3\xA9"));
    EXPECT_EQ(FixedText::ReadLocal(local, 3), QString::fromUtf8("\xC3\xA9t"));
}
