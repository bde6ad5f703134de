#include "text/Crc32.h"
#include "text/Crc32Clmul.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace vantrel {
namespace {

uint32_t Sum(std::string_view bytes) {
    return Crc32::checksum(bytes.data(), bytes.size());
}

TEST(Crc32Test, KnownVectors) {
    EXPECT_EQ(Sum(""), 0x00000000u);
    EXPECT_EQ(Sum("abc"), 0x352441C2u);
    EXPECT_EQ(Sum("123456789"), 0xCBF43926u);
    EXPECT_EQ(Sum("The quick brown fox jumps over the lazy dog"), 0x414FA339u);
    EXPECT_EQ(Sum(std::string(32, '\0')), 0x190A55ADu);
    EXPECT_EQ(Sum(std::string(32, '\xFF')), 0xFF6CAB0Bu);
}

TEST(Crc32Test, UpdateContinuesAndAnEmptyUpdateKeepsTheRegister) {
    const std::string text = "The quick brown fox jumps over the lazy dog";
    uint32_t crc = 0xFFFFFFFFu;
    crc = Crc32::update(text.data(), 10, crc);
    crc = Crc32::update(text.data() + 10, 0, crc);
    crc = Crc32::update(text.data() + 10, text.size() - 10, crc);
    EXPECT_EQ(~crc, 0x414FA339u);
    EXPECT_EQ(Crc32::update(nullptr, 0, 0x12345678u), 0x12345678u);
}

TEST(Crc32Test, ChecksumTextHashesTheLittleEndianUtf16Bytes) {
    EXPECT_EQ(Crc32::checksumText(u"abc"), u"CRC of a text above is: AD957AB0");
    const char abcBytes[] = {'a', 0, 'b', 0, 'c', 0};
    EXPECT_EQ(Crc32::checksum(abcBytes, sizeof abcBytes), 0xAD957AB0u);

    const char aBytes[] = {'a', 0};
    char expected[40];
    std::snprintf(expected, sizeof expected, "CRC of a text above is: %08X", Crc32::checksum(aBytes, 2));
    const std::string narrow(expected);
    EXPECT_EQ(Crc32::checksumText(u"a"), std::u16string(narrow.begin(), narrow.end()));

    EXPECT_EQ(Crc32::checksumText(u""), u"CRC of a text above is: 00000000");
}

TEST(Crc32Test, ChecksumTextUsesUpperCaseZeroPaddedDigits) {
    const std::u16string text = u"\u0100\u20AC\xD83D\xDE00 page";
    std::vector<unsigned char> bytes;
    for (char16_t unit : text) {
        bytes.push_back(static_cast<unsigned char>(unit & 0xFF));
        bytes.push_back(static_cast<unsigned char>(unit >> 8));
    }
    char expected[40];
    std::snprintf(expected, sizeof expected, "CRC of a text above is: %08X",
                  Crc32::checksum(bytes.data(), bytes.size()));
    const std::string narrow(expected);
    EXPECT_EQ(Crc32::checksumText(text), std::u16string(narrow.begin(), narrow.end()));
}

TEST(Crc32Test, TextsDifferingOnlyInTheLastCharacterDiffer) {
    std::u16string a(10000, u'x');
    std::u16string b = a;
    b.back() = u'y';
    EXPECT_NE(Crc32::checksumText(a), Crc32::checksumText(b));
    std::u16string c = a;
    c.back() = static_cast<char16_t>(u'x' | 0x100);  // only the high byte of the last unit
    EXPECT_NE(Crc32::checksumText(a), Crc32::checksumText(c));
}

// Each path on its own (the table alone, and carry-less multiplication where the processor has
// it), then the chosen one.
TEST(Crc32Test, FastPathsMatchTheByteWiseTableAtEveryAlignmentAndLength) {
    std::mt19937 random(20261208);
    const Crc32Clmul::Fold fold = Crc32Clmul::fold();
    std::vector<unsigned char> buffer(4096 + 16);
    for (auto& b : buffer) b = static_cast<unsigned char>(random());
    for (size_t offset = 0; offset < 9; ++offset) {
        for (size_t length : {0u, 1u, 7u, 8u, 9u, 15u, 16u, 17u, 63u, 64u, 65u, 79u, 80u, 127u, 128u, 129u,
                              1000u, 4095u, 4096u}) {
            const uint32_t seed = random();
            const uint32_t expected = Crc32::updateBytewise(buffer.data() + offset, length, seed);
            EXPECT_EQ(Crc32::update(buffer.data() + offset, length, seed), expected)
                << offset << " " << length;
            EXPECT_EQ(Crc32::updateTable(buffer.data() + offset, length, seed), expected)
                << offset << " " << length;
            if (fold != nullptr && length >= Crc32Clmul::kMinimumBytes && length % 16 == 0) {
                EXPECT_EQ(fold(buffer.data() + offset, length, seed), expected) << offset << " " << length;
            }
        }
    }
}

TEST(Crc32Test, UnitFoldingMatchesTheLittleEndianBytes) {
    // The path taken on big-endian hosts, checked here against the bytes it stands for.
    std::mt19937 random(7);
    for (size_t length : {0u, 1u, 3u, 4u, 5u, 8u, 13u, 1001u}) {
        std::u16string text(length, u'\0');
        std::vector<unsigned char> bytes;
        for (auto& unit : text) {
            unit = static_cast<char16_t>(random());
            bytes.push_back(static_cast<unsigned char>(unit & 0xFF));
            bytes.push_back(static_cast<unsigned char>(unit >> 8));
        }
        EXPECT_EQ(Crc32::updateUtf16(text, 0xFFFFFFFFu),
                  Crc32::updateBytewise(bytes.data(), bytes.size(), 0xFFFFFFFFu))
            << "length " << length;
    }
}

}  // namespace
}  // namespace vantrel
