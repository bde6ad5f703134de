// Body bytes to page text: the charset rule, UTF-8 with replacement characters, the text buffer
// kept across bodies, and what a lying length costs. The decoder's every instruction-set path is
// checked against a reference in tests/text/Utf8_test.cpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>

#include <malloc.h>
#include <random>

#include "FetcherTestSupport.h"
#include "net/TextDecoder.h"
#include "support/Utf8Reference.h"
#include "text/Text.h"
#include "text/TextBuffer.h"
#include "text/Utf8.h"

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

// Each body's text starts empty in the buffer of the last one, whatever the sizes and the
// encodings in turn, and a body cut off inside a sequence leaves nothing for the next.
TEST(TextDecoderTest, BufferIsReusedAcrossBodiesOfDifferentSizes) {
    TextDecoder decoder;
    const std::string large(300000, 'x');
    decoder.start(true);
    decoder.write(large.data(), large.size());
    EXPECT_EQ(decoder.finish().size(), large.size());
    const char16_t* buffer = decoder.finish().data();
    const size_t capacity = decoder.capacity();

    struct Body {
        bool utf8;
        std::string bytes;
        std::u16string text;
    };
    const Body bodies[] = {
        {true, "caf\xC3\xA9\xE2\x82", u"caf\u00E9\uFFFD"},
        {true, "\xAC", u"\uFFFD"},  // not the end of the last body's sequence
        {false, "caf\xC3\xA9", u"caf\u00C3\u00A9"},
        {true, std::string(200000, 'y') + "\xF0\x9F\x98\x80", std::u16string(200000, u'y') + u"\U0001F600"},
        {true, "", u""},
    };
    for (const Body& body : bodies) {
        decoder.start(body.utf8);
        decoder.write(body.bytes.data(), body.bytes.size());
        EXPECT_EQ(decoder.finish(), body.text);
        EXPECT_EQ(decoder.finish().data(), buffer);
    }
    EXPECT_EQ(decoder.capacity(), capacity);

    // A body cut off by a failure is never finished: the next one starts clean all the same.
    decoder.start(true);
    decoder.write("\xF0\x9F", 2);
    decoder.start(true);
    decoder.write("\x98\x80", 2);
    EXPECT_EQ(decoder.finish(), u"\uFFFD\uFFFD");

    // Past a megabyte the text moves into the range set aside for it and grows there; a far
    // smaller text after it gives the memory back.
    decoder.start(false);
    const std::string big(3u << 20, '\xE9');
    for (size_t at = 0; at < big.size(); at += 32768) decoder.write(big.data() + at, 32768);
    const std::u16string_view text = decoder.finish();
    EXPECT_EQ(text.size(), big.size());
    EXPECT_EQ(text.find_first_not_of(u'\u00E9'), std::u16string_view::npos);
    decoder.start(true);
    decoder.finish();
    decoder.start(true);
    EXPECT_LT(decoder.capacity(), big.size() / 4);

    // Released once read, a large text gives its memory back at once; a small one keeps its room.
    for (size_t at = 0; at < big.size(); at += 32768) decoder.write(big.data() + at, 32768);
    decoder.releaseText();
    EXPECT_EQ(decoder.capacity(), 0u);
    decoder.start(true);
    decoder.write("small", 5);
    const size_t small = decoder.capacity();
    decoder.releaseText();
    EXPECT_EQ(decoder.finish(), u"");
    EXPECT_EQ(decoder.capacity(), small);
}

// Handed on piece by piece, the text is the same as kept whole, a sequence cut between writes
// included, and the buffer stays the size of one write.
TEST(TextDecoderTest, TextInPiecesIsTheWholeTextAndIsNotKept) {
    std::mt19937 rng(7);
    std::string bytes;
    while (bytes.size() < (3u << 20)) bytes += test::RandomUtf8Bytes(rng, 64);
    bytes += "\xF0\x9F";  // cut off at the end
    TextDecoder whole;
    whole.start(true);
    whole.write(bytes.data(), bytes.size());
    const std::u16string expected(whole.finish());

    std::u16string joined;
    size_t calls = 0;
    const TextDecoder::Pieces pieces = [&](std::u16string_view piece) {
        EXPECT_FALSE(piece.empty());
        joined += piece;
        ++calls;
    };
    TextDecoder decoder;
    decoder.start(true, &pieces);
    for (size_t at = 0; at < bytes.size(); at += 32767)
        decoder.write(bytes.data() + at, std::min<size_t>(32767, bytes.size() - at));
    EXPECT_TRUE(decoder.finish().empty());
    EXPECT_EQ(joined, expected);
    EXPECT_EQ(decoder.units(), expected.size());
    EXPECT_GT(calls, 90u);
    EXPECT_LE(decoder.capacity(), 65536u);
}

long statusKb(const char* field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with(field)) return std::atol(line.c_str() + std::strlen(field));
    return -1;
}

// An announced length is only a bound: nothing is sized from it before the bytes come.
TEST(TextDecoderTest, LyingContentLengthCostsOnlyWhatArrived) {
    // Writing 5 resets the peak resident size to the current one (Linux 4.0 and later).
    ASSERT_TRUE(std::ofstream("/proc/self/clear_refs") << "5");
    const long before = statusKb("VmRSS:");
    const size_t mappedBefore = mallinfo2().hblkhd;
    for (const char* type : {"text/html", "text/html; charset=utf-8"}) {
        test::MemoryPeers peers;
        peers.add()->feed("HTTP/1.1 200 OK\r\nContent-Type: " + std::string(type) +
                          "\r\nContent-Length: 134217728\r\n\r\n0123456789");
        PageFetcher fetcher(peers.options());
        EXPECT_EQ(fetcher.fetch(u"http://h/"), u"0123456789");
        // Neither touched nor merely reserved.
        EXPECT_LT(mallinfo2().hblkhd, mappedBefore + (1u << 20)) << type;
    }
    EXPECT_LT(statusKb("VmHWM:") - before, 4096);
}

TEST(TextDecoderTest, Latin1KeepsEveryByte) {
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    const std::u16string text = TextDecoder::decode(all + all, "text/html");
    ASSERT_EQ(text.size(), 512u);
    for (int i = 0; i < 512; ++i) EXPECT_EQ(text[i], static_cast<char16_t>(i % 256));
}

}  // namespace
}  // namespace vantrel
