// The UTF-8 decoder and counters on every instruction-set path this processor runs, the portable
// one included: each against the reference decoder and the encoder, whatever the cuts.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "support/Utf8Reference.h"
#include "text/Text.h"
#include "text/TextBuffer.h"
#include "text/Utf8.h"
#include "text/Utf8Kernels.h"

namespace vantrel {
namespace {

std::u16string DecodeInPieces(const Utf8Kernels& path, const std::string& bytes,
                              const std::vector<size_t>& cuts) {
    TextBuffer text;
    Utf8Decoder decoder(path);
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

TEST(Utf8PathsTest, PortableFirstAndTheChosenOneLast) {
    const auto paths = Utf8Kernels::all();
    ASSERT_FALSE(paths.empty());
    EXPECT_STREQ(paths.front().name, "portable");
    EXPECT_EQ(&Utf8Kernels::best(), &paths.back());
    std::string names;
    for (const Utf8Kernels& path : paths) names += std::string(names.empty() ? "" : " ") + path.name;
    RecordProperty("paths", names);
    std::printf("UTF-8 paths run here: %s\n", names.c_str());
}

TEST(Utf8PathsTest, EveryPathMatchesTheReferenceHoweverTheBytesAreCut) {
    for (const Utf8Kernels& path : Utf8Kernels::all()) {
        SCOPED_TRACE(path.name);
        std::mt19937 rng(99);
        for (int round = 0; round < 300; ++round) {
            // Every tenth text well-formed and long enough for several blocks of each width.
            const std::string bytes = round % 10 == 0 ? test::RandomUtf8Bytes(rng, 60 + round % 80, true)
                                                      : test::RandomUtf8Bytes(rng, round % 40);
            const std::u16string expected = test::ReferenceDecode(bytes);
            std::u16string whole(bytes.size(), u'\0');
            whole.resize(DecodeUtf8(bytes.data(), bytes.size(), whole.data(), path));
            ASSERT_EQ(whole, expected) << round;
            // Valid exactly when the text encodes back to the same bytes.
            ASSERT_EQ(IsValidUtf8(bytes), ToUtf8(expected) == bytes) << round;
            // Every split point, then a few cuts at once (several pieces inside one sequence too).
            for (size_t cut = 0; cut <= bytes.size(); ++cut)
                ASSERT_EQ(DecodeInPieces(path, bytes, {cut}), expected) << round;
            std::vector<size_t> cuts;
            for (size_t at = 0; at < bytes.size(); at += std::uniform_int_distribution<size_t>(1, 5)(rng))
                cuts.push_back(at);
            ASSERT_EQ(DecodeInPieces(path, bytes, cuts), expected) << round;
        }
    }
}

// The counts must equal the encoder's bytes for every length (the wide blocks and the rest after
// them) and across the point where the narrow lane counts are summed.
TEST(Utf8PathsTest, EveryPathCountsTheEncodedBytes) {
    const char16_t kinds[] = {u'a',      u'b',      u'<',   u'\u007F', u'z',
                              u'\u00E9', u'\u20AC', 0xD83D, u'\u07FF', u'\u0800'};
    std::u16string text;
    uint32_t seed = 7;
    while (text.size() < 300'000) {
        seed = seed * 1103515245u + 12345u;
        const char16_t unit = kinds[(seed >> 16) % 10];
        text.push_back(unit);
        if (unit == 0xD83D) text.push_back(0xDE00);
    }
    const std::string encoded = ToUtf8(text);
    EXPECT_EQ(FromUtf8(encoded), text);  // the encoder's ASCII runs and the rest between them
    const std::u16string wide(200'000, u'\u4E00');
    std::string latin1;
    for (int i = 0; i < 600; ++i) latin1.push_back(static_cast<char>(i * 7 % 256));
    const auto* latin1Bytes = reinterpret_cast<const unsigned char*>(latin1.data());

    for (const Utf8Kernels& path : Utf8Kernels::all()) {
        SCOPED_TRACE(path.name);
        for (size_t length = 0; length <= 80; ++length) {
            std::u16string_view part(text.data(), length);
            if (length > 0 && part.back() == 0xD83D) part.remove_suffix(1);
            EXPECT_EQ(path.utf8Length(part.data(), part.size()), static_cast<int64_t>(ToUtf8(part).size()))
                << length;
        }
        EXPECT_EQ(path.utf8Length(text.data(), text.size()), static_cast<int64_t>(encoded.size()));
        EXPECT_EQ(path.utf8Length(wide.data(), wide.size()), 600'000);
        EXPECT_EQ(path.utf8Length(u"a\xD83D", 2), 3);  // an unpaired surrogate counts two
        // The encoder's ASCII runs: whole eights, up to the eight that holds another unit.
        for (size_t other : {size_t{0}, size_t{7}, size_t{8}, size_t{15}, size_t{16}, size_t{40}}) {
            std::u16string units(41, u'a');
            units[other] = u'\u00E9';
            std::string bytes(units.size(), '\0');
            const size_t taken = path.narrowAscii(units.data(), units.size(), bytes.data());
            EXPECT_EQ(taken, other / 8 * 8) << other;
            EXPECT_EQ(bytes.substr(0, taken), std::string(taken, 'a')) << other;
        }
        EXPECT_EQ(path.narrowAscii(u"abcdefg", 7, std::string(7, '\0').data()), 0u);  // fewer than eight
        for (size_t length : {size_t{0}, size_t{15}, size_t{16}, size_t{17}, size_t{600}}) {
            std::u16string widened(length, u'\0');
            path.widenLatin1(latin1Bytes, length, widened.data());
            EXPECT_EQ(widened, std::u16string(latin1Bytes, latin1Bytes + length)) << length;
            EXPECT_EQ(path.latin1Utf8Length(latin1Bytes, length),
                      static_cast<int64_t>(ToUtf8(widened).size()))
                << length;
        }
    }
}

}  // namespace
}  // namespace vantrel
