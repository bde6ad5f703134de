// Body bytes to page text: the charset rule, UTF-8 with replacement characters, and decoding in
// place inside the buffer the body was read into.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "core/Text.h"
#include "net/TextDecoder.h"

namespace vantrel {
namespace {

using namespace std::string_literals;

TEST(TextDecoderTest, CharsetParameter) {
    EXPECT_EQ(TextDecoder::charsetOf("text/html; charset=UTF-8"), "UTF-8");
    EXPECT_EQ(TextDecoder::charsetOf("text/html;CHARSET = \"utf8\" ; x"), "utf8");
    EXPECT_EQ(TextDecoder::charsetOf("text/html; charset=\"utf-8"), "utf-8");
    EXPECT_EQ(TextDecoder::charsetOf("text/html; charset=utf-8 ; level=1"), "utf-8 ");
    EXPECT_EQ(TextDecoder::charsetOf("text/html; xcharset=latin1; charset=utf-8"), "latin1");
    EXPECT_EQ(TextDecoder::charsetOf("text/html"), "");
    EXPECT_TRUE(TextDecoder::isUtf8("text/html; charset=Utf8"));
    EXPECT_FALSE(TextDecoder::isUtf8("text/html; charset=utf-8 ;"));
}

TEST(TextDecoderTest, MalformedUtf8GivesOneReplacementPerMaximalSubpart) {
    struct Row {
        std::string bytes;
        std::u16string text;
    };
    const Row rows[] = {
        {"\xC3\xA9", u"\u00E9"},
        {"\xEF\xBB\xBF"
         "a",
         u"\uFEFFa"},
        {"\xF0\x9F\x98\x80", u"\U0001F600"},
        {"\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
        {"\xC0\xAF", u"\uFFFD\uFFFD"},                      // overlong
        {"\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},            // overlong three-byte
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},            // a surrogate
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // past U+10FFFF
        {"\xE2\x82"
         "x",
         u"\uFFFDx"},                 // truncated, then ASCII
        {"\xF0\x9F\x98", u"\uFFFD"},  // truncated at the end
        {"\x80\xBF", u"\uFFFD\uFFFD"},
        {"\xFF"
         "a\0"s,
         u"\uFFFDa\0"s},
    };
    for (const Row& row : rows) EXPECT_EQ(FromUtf8(row.bytes), row.text) << row.bytes;
    EXPECT_TRUE(IsValidUtf8("caf\xC3\xA9 \xEF\xBF\xBD"));
    EXPECT_FALSE(IsValidUtf8("caf\xE9"));
}

// Random mixes of ASCII runs, valid sequences and stray bytes, long enough for the block paths.
std::string randomBytes(std::mt19937& rng) {
    static const char* pieces[] = {"abcdefghijklmnopqrstuvwxyz",
                                   "\xC3\xA9",
                                   "\xE2\x82\xAC",
                                   "\xF0\x9F\x98\x80",
                                   "\xFF",
                                   "\x80",
                                   "\xE2\x82",
                                   "\xF0\x9F",
                                   "\0"};
    std::string out;
    const int count = std::uniform_int_distribution<int>(0, 40)(rng);
    for (int i = 0; i < count; ++i) {
        const char* piece = pieces[std::uniform_int_distribution<int>(0, 8)(rng)];
        const size_t length = piece[0] == 0 ? 1 : std::strlen(piece);
        out.append(piece, std::uniform_int_distribution<size_t>(1, length)(rng));
    }
    return out;
}

TEST(TextDecoderTest, DecodingInPlaceMatchesDecodingIntoANewText) {
    std::mt19937 rng(99);
    for (int round = 0; round < 2000; ++round) {
        const std::string bytes = randomBytes(rng);
        for (bool utf8 : {false, true}) {
            // As the fetcher lays it out: the text sized for the announced length, the bytes that
            // came (possibly fewer) in its upper half.
            const size_t announced = bytes.size() + (round % 3);
            std::u16string text = TextDecoder::allocate(announced);
            std::memcpy(reinterpret_cast<char*>(text.data()) + announced, bytes.data(), bytes.size());
            TextDecoder::decodeInPlace(text, bytes.size(), utf8);
            EXPECT_EQ(text, utf8 ? FromUtf8(bytes) : FromLatin1(bytes)) << round;
        }
    }
}

TEST(TextDecoderTest, Latin1KeepsEveryByte) {
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    const std::u16string text = FromLatin1(all + all);
    ASSERT_EQ(text.size(), 512u);
    for (int i = 0; i < 512; ++i) EXPECT_EQ(text[i], static_cast<char16_t>(i % 256));
}

}  // namespace
}  // namespace vantrel
