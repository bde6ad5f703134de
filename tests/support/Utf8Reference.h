#pragma once
// The reference the UTF-8 decoder is checked against, and random bytes to check it with: shared
// by the text tests (every instruction-set path) and the page decoder's tests.
#include <algorithm>
#include <iterator>
#include <random>
#include <string>

namespace vantrel::test {

// A plain reading of the well-formed byte sequences table (Unicode 15, table 3-7), decoding one
// maximal subpart at a time: the reference the fast decoder must match.
inline std::u16string ReferenceDecode(const std::string& bytes) {
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
// ranges, stray and cut-off sequences; with `validOnly` only the well-formed pieces (the first
// ten), so that long runs go through the block paths.
inline std::string RandomUtf8Bytes(std::mt19937& rng, int pieceCount, bool validOnly = false) {
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

}  // namespace vantrel::test
