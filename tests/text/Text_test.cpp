#include "text/Text.h"
#include "text/Utf8.h"

#include <gtest/gtest.h>

#include <limits>

namespace vantrel {
namespace {

constexpr int32_t kDefault = 77;

struct IntCase {
    std::u16string_view text;
    int32_t expected;
};

TEST(IntFromTextTest, FollowsEveryRuleOfTheFormat) {
    const IntCase cases[] = {
        {u"0", 0},
        {u"12", 12},
        {u"007", 7},
        {u"+5", 5},
        {u"-5", -5},
        {u"-0", 0},
        {u"   42", 42},
        {u"2147483647", 2147483647},
        {u"-2147483648", std::numeric_limits<int32_t>::min()},
        {u"2147483648", kDefault},   // out of range: never wrapped
        {u"-2147483649", kDefault},  // nor clamped
        {u"99999999999999999999", kDefault},
        {u"$10", 16},
        {u"x1f", 31},
        {u"X1F", 31},
        {u"0x10", 16},
        {u"0XaB", 171},
        {u"$FFFFFFFF", -1},
        {u"$80000000", std::numeric_limits<int32_t>::min()},
        {u"$7FFFFFFF", 2147483647},
        {u"$000000000000FF", 255},  // leading zeros are not significant
        {u"$100000000", kDefault},  // nine significant digits
        {u"-$10", -16},             // a sign before the prefix negates
        {u"+0x10", 16},
        {u"-$FFFFFFFF", 1},
        {u"-$80000000", std::numeric_limits<int32_t>::min()},
        {u"$0", 0},
        {u"", kDefault},
        {u"   ", kDefault},
        {u"-", kDefault},
        {u"+", kDefault},
        {u"$", kDefault},
        {u"0x", kDefault},
        {u"-0x", kDefault},
        {u"$-1", kDefault},
        {u"$G", kDefault},
        {u"12 ", kDefault},  // trailing blank
        {u"12\t", kDefault},
        {u"\t12", kDefault},  // only the space character is skipped
        {u"1.5", kDefault},
        {u"12a", kDefault},
        {u"- 1", kDefault},
        {u"+-1", kDefault},
        {u"3x", kDefault},
        {u"\uFF11", kDefault},  // a full-width digit is not a digit
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IntFromText(c.text, kDefault), c.expected) << std::string(c.text.begin(), c.text.end());
    }
}

struct Int64Case {
    std::u16string_view text;
    int64_t expected;
};

TEST(IntFromTextTest, WideVariantCoversTheSixtyFourBitRange) {
    constexpr int64_t kDefault64 = -5;
    const Int64Case cases[] = {
        {u"2147483648", 2147483648LL},
        {u"4102444800", 4102444800LL},
        {u"9223372036854775807", std::numeric_limits<int64_t>::max()},
        {u"-9223372036854775808", std::numeric_limits<int64_t>::min()},
        {u"9223372036854775808", kDefault64},
        {u"-9223372036854775809", kDefault64},
        {u"$FFFFFFFF", 4294967295LL},
        {u"$FFFFFFFFFFFFFFFF", -1},
        {u"$8000000000000000", std::numeric_limits<int64_t>::min()},
        {u"$00000000000000000001", 1},
        {u"$10000000000000000", kDefault64},  // seventeen significant digits
        {u"-0x10", -16},
        {u"0", 0},
        {u"abc", kDefault64},
        {u"", kDefault64},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IntFromText64(c.text, kDefault64), c.expected) << std::string(c.text.begin(), c.text.end());
    }
}

TEST(IntToTextTest, WritesPlainDecimal) {
    EXPECT_EQ(IntToText(0), u"0");
    EXPECT_EQ(IntToText(-1), u"-1");
    EXPECT_EQ(IntToText(1234567), u"1234567");
    EXPECT_EQ(IntToText(std::numeric_limits<int64_t>::min()), u"-9223372036854775808");
    EXPECT_EQ(IntToText(std::numeric_limits<int64_t>::max()), u"9223372036854775807");
}

TEST(TrimTest, RemovesCodesUpToBlankFromBothEndsOnly) {
    EXPECT_EQ(Trim(u" \t\r\n label \x01\x1F"), u"label");
    EXPECT_EQ(Trim(std::u16string(u"\0a b\0", 5)), u"a b");
    EXPECT_EQ(Trim(u"\u00A0a\u3000"), u"\u00A0a\u3000");  // other blanks are kept
    EXPECT_EQ(Trim(u"!a!"), u"!a!");
    EXPECT_EQ(Trim(u" \t "), u"");
    EXPECT_EQ(Trim(u""), u"");
}

TEST(Utf8Test, DecodesValidTextAndKeepsTheByteOrderMark) {
    EXPECT_EQ(FromUtf8("plain ascii text, longer than eight"), u"plain ascii text, longer than eight");
    EXPECT_EQ(FromUtf8("\xC3\xA9l\xC3\xA8ve \xE2\x82\xAC"), u"\u00E9l\u00E8ve \u20AC");
    EXPECT_EQ(FromUtf8("\xEF\xBB\xBFx"), u"\uFEFFx");
    EXPECT_EQ(FromUtf8("\xF0\x9F\x98\x80"), u"\xD83D\xDE00");  // U+1F600 as a surrogate pair
    EXPECT_EQ(FromUtf8("\xF4\x8F\xBF\xBF"), u"\xDBFF\xDFFF");  // U+10FFFF
    EXPECT_EQ(FromUtf8(std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
}

TEST(Utf8Test, ReplacesEachMaximalInvalidSubpartByOneReplacementCharacter) {
    EXPECT_EQ(FromUtf8("\x80"), u"\uFFFD");
    EXPECT_EQ(FromUtf8("a\xFF"
                       "b"),
              u"a\uFFFDb");
    EXPECT_EQ(FromUtf8("\xC0\xAF"), u"\uFFFD\uFFFD");            // overlong "/"
    EXPECT_EQ(FromUtf8("\xE0\x80\xAF"), u"\uFFFD\uFFFD\uFFFD");  // overlong, three bytes
    EXPECT_EQ(FromUtf8("\xF0\x80\x80\xAF"), u"\uFFFD\uFFFD\uFFFD\uFFFD");
    EXPECT_EQ(FromUtf8("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");            // encoded surrogate D800
    EXPECT_EQ(FromUtf8("\xF4\x90\x80\x80"), u"\uFFFD\uFFFD\uFFFD\uFFFD");  // above U+10FFFF
    EXPECT_EQ(FromUtf8("\xE2\x82"), u"\uFFFD");                            // truncated at the end
    EXPECT_EQ(FromUtf8("\xE2\x82x"), u"\uFFFDx");                          // cut short mid-text
    EXPECT_EQ(FromUtf8("\xF0\x9F\x98"), u"\uFFFD");
    EXPECT_EQ(FromUtf8("\xF0\x9F\x98\xC3\xA9"), u"\uFFFD\u00E9");  // the breaking byte starts anew
    EXPECT_EQ(FromUtf8("\xC3"), u"\uFFFD");
    EXPECT_EQ(FromUtf8("01234567\xC3"
                       "89abcdef"),
              u"01234567\uFFFD89abcdef");
}

TEST(Utf8Test, EncodesAndReplacesUnpairedSurrogates) {
    EXPECT_EQ(ToUtf8(u"\u00E9\u20AC"), "\xC3\xA9\xE2\x82\xAC");
    EXPECT_EQ(ToUtf8(u"\xD83D\xDE00"), "\xF0\x9F\x98\x80");
    EXPECT_EQ(ToUtf8(u"a\xD83D"), "a\xEF\xBF\xBD");
    EXPECT_EQ(ToUtf8(u"\xDE00\xD83D"
                     "b"),
              "\xEF\xBF\xBD\xEF\xBF\xBD"
              "b");
    const std::u16string mixed = u"x\uFEFF\u0100\uFFFF\xDBFF\xDFFF";
    EXPECT_EQ(FromUtf8(ToUtf8(mixed)), mixed);
    // Three bytes a unit on both sides of the room kept on the stack, and far past it.
    for (const size_t units : {85, 86, 100000}) {
        std::string expected;
        for (size_t i = 0; i < units; ++i) expected += "\xE2\x82\xAC";
        EXPECT_EQ(ToUtf8(std::u16string(units, u'\u20AC')), expected) << units;
    }
}

TEST(TextTest, Latin1AsciiAndCaseInsensitiveCompare) {
    EXPECT_EQ(FromLatin1("caf\xE9\xFF"), u"caf\u00E9\u00FF");
    EXPECT_EQ(FromAscii("count"), u"count");
    EXPECT_TRUE(EqualsIgnoreAsciiCase(u"WEB1", u"web1"));
    EXPECT_TRUE(EqualsIgnoreAsciiCase(u"[Main]", u"[mAIN]"));
    EXPECT_FALSE(EqualsIgnoreAsciiCase(u"\u00C9", u"\u00E9"));  // only ASCII letters fold
    EXPECT_FALSE(EqualsIgnoreAsciiCase(u"@", u"`"));
    EXPECT_FALSE(EqualsIgnoreAsciiCase(u"ab", u"abc"));
    EXPECT_EQ(ToUpperAscii(u"max-age\u00E9"), u"MAX-AGE\u00E9");
    EXPECT_EQ(ToLowerAscii(u"[Web1]"), u"[web1]");
    EXPECT_EQ(TrimSpacesAndTabs(u" \t a b\r\t"), u"a b\r");
}

TEST(TextTest, ByteStringHelpers) {
    EXPECT_EQ(TrimBytes(std::string_view("\0 \r\n close \x7F\t", 12)), "close \x7F");
    EXPECT_EQ(TrimBytes(" \x80 "), "\x80");
    EXPECT_TRUE(EqualsIgnoreAsciiCase(std::string_view("Keep-Alive"), "keep-ALIVE"));
    EXPECT_FALSE(EqualsIgnoreAsciiCase(std::string_view("\xC9"), "\xE9"));
    EXPECT_EQ(FindIgnoreAsciiCase("text/html; Charset=x", "CHARSET"), 11u);
    EXPECT_EQ(FindIgnoreAsciiCase("gzip, chunked", "CHUNKED"), 6u);
    EXPECT_EQ(FindIgnoreAsciiCase("chunk", "chunked"), std::string_view::npos);
}

}  // namespace
}  // namespace vantrel
