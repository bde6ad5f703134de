// Body bytes to page text: the charset rule, UTF-8 with replacement characters against a
// reference however the bytes arrive, the text buffer kept across bodies, and what a lying
// length costs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>

#include <malloc.h>
#include <random>

#include "FetcherTestSupport.h"
#include "net/TextDecoder.h"
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

// A plain reading of the well-formed byte sequences table (Unicode 15, table 3-7), decoding one
// maximal subpart at a time: the reference the fast decoder must match.
std::u16string referenceDecode(const std::string& bytes) {
    struct Form {
        unsigned char first, last;
        unsigned char ranges[3][2];  // second to fourth byte
        int length;
    };
    static const Form forms[] = {
        {0x00, 0x7F, {}, 1},
        {0xC2, 0xDF, {{0x80, 0xBF}}, 2},
        {0xE0, 0xE0, {{0xA0, 0xBF}, {0x80, 0xBF}}, 3},
        {0xE1, 0xEC, {{0x80, 0xBF}, {0x80, 0xBF}}, 3},
        {0xED, 0xED, {{0x80, 0x9F}, {0x80, 0xBF}}, 3},
        {0xEE, 0xEF, {{0x80, 0xBF}, {0x80, 0xBF}}, 3},
        {0xF0, 0xF0, {{0x90, 0xBF}, {0x80, 0xBF}, {0x80, 0xBF}}, 4},
        {0xF1, 0xF3, {{0x80, 0xBF}, {0x80, 0xBF}, {0x80, 0xBF}}, 4},
        {0xF4, 0xF4, {{0x80, 0x8F}, {0x80, 0xBF}, {0x80, 0xBF}}, 4},
    };
    std::u16string out;
    size_t i = 0;
    while (i < bytes.size()) {
        const auto at = [&](size_t k) { return static_cast<unsigned char>(bytes[k]); };
        const Form* form = nullptr;
        for (const Form& f : forms)
            if (at(i) >= f.first && at(i) <= f.last) form = &f;
        int matched = form ? 1 : 0;
        while (form && matched < form->length && i + matched < bytes.size() &&
               at(i + matched) >= form->ranges[matched - 1][0] &&
               at(i + matched) <= form->ranges[matched - 1][1])
            ++matched;
        if (!form || matched < form->length) {
            out += u'\uFFFD';
            i += std::max(matched, 1);
            continue;
        }
        char32_t cp = form->length == 1 ? at(i) : at(i) & (0xFF >> (form->length + 1));
        for (int k = 1; k < form->length; ++k) cp = (cp << 6) | (at(i + k) & 0x3F);
        if (cp < 0x10000) {
            out += static_cast<char16_t>(cp);
        } else {
            out += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        }
        i += static_cast<size_t>(form->length);
    }
    return out;
}

// Random mixes of ASCII runs, characters of every length, bytes at the edges of the second-byte
// ranges, stray and cut-off sequences: long enough for the block paths.
// Random pieces; with `validOnly` only the well-formed ones (the first ten), so that long runs
// go through the block paths.
std::string randomBytes(std::mt19937& rng, int pieceCount, bool validOnly = false) {
    static const std::string pieces[] = {"abcdefghijklmnopqrstuvwxyz0123456789",
                                         "\xC3\xA9",
                                         "\xD0\x96",
                                         "\xE2\x82\xAC",
                                         "\xE0\xA0\x80",
                                         "\xED\x9F\xBF",
                                         "\xEF\xBF\xBD",
                                         "\xF0\x90\x80\x80",
                                         "\xF0\x9F\x98\x80",
                                         "\xF4\x8F\xBF\xBF",
                                         "\xFF",
                                         "\x80",
                                         "\xBF",
                                         "\xC0\xAF",
                                         "\xC1",
                                         "\xF5\x80",
                                         "\xE0\x9F\x80",
                                         "\xED\xA0\x80",
                                         "\xF0\x8F\xBF\xBF",
                                         "\xF4\x90\x80\x80",
                                         std::string(1, '\0')};
    std::string out;
    for (int i = 0; i < pieceCount; ++i) {
        const std::string& piece =
            pieces[std::uniform_int_distribution<size_t>(0, validOnly ? 9 : std::size(pieces) - 1)(rng)];
        // Often whole, sometimes cut short (a truncated sequence or a shorter ASCII run).
        const bool cut = std::uniform_int_distribution<int>(0, 3)(rng) == 0;
        out.append(piece, 0,
                   cut ? std::uniform_int_distribution<size_t>(1, piece.size())(rng) : piece.size());
    }
    return out;
}

std::u16string decodeInPieces(const std::string& bytes, const std::vector<size_t>& cuts) {
    TextBuffer text;
    Utf8Decoder decoder;
    size_t at = 0;
    for (size_t cut : cuts) {
        decoder.decode(bytes.data() + at, cut - at, text);
        at = cut;
    }
    decoder.decode(bytes.data() + at, bytes.size() - at, text);
    decoder.finish(text);
    // The size in UTF-8 is counted as the text is decoded, replacements included.
    EXPECT_EQ(decoder.utf8Bytes(), static_cast<int64_t>(ToUtf8(text.view()).size()));
    return std::u16string(text.view());
}

TEST(TextDecoderTest, FastDecoderMatchesTheReferenceHoweverTheBytesAreCut) {
    std::mt19937 rng(99);
    for (int round = 0; round < 300; ++round) {
        // Every tenth text well-formed and long enough for several blocks of each width.
        const std::string bytes =
            round % 10 == 0 ? randomBytes(rng, 60 + round % 80, true) : randomBytes(rng, round % 40);
        const std::u16string expected = referenceDecode(bytes);
        std::u16string whole(bytes.size(), u'\0');
        whole.resize(DecodeUtf8(bytes.data(), bytes.size(), whole.data()));
        ASSERT_EQ(whole, expected) << round;
        // Valid exactly when the text encodes back to the same bytes.
        ASSERT_EQ(IsValidUtf8(bytes), ToUtf8(expected) == bytes) << round;
        // Every split point, then a few cuts at once (several pieces inside one sequence too).
        for (size_t cut = 0; cut <= bytes.size(); ++cut)
            ASSERT_EQ(decodeInPieces(bytes, {cut}), expected) << round;
        std::vector<size_t> cuts;
        for (size_t at = 0; at < bytes.size(); at += std::uniform_int_distribution<size_t>(1, 5)(rng))
            cuts.push_back(at);
        ASSERT_EQ(decodeInPieces(bytes, cuts), expected) << round;
    }
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
}

// Handed on piece by piece, the text is the same as kept whole, a sequence cut between writes
// included, and the buffer stays the size of one write.
TEST(TextDecoderTest, TextInPiecesIsTheWholeTextAndIsNotKept) {
    std::mt19937 rng(7);
    std::string bytes;
    while (bytes.size() < (3u << 20)) bytes += randomBytes(rng, 64);
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
