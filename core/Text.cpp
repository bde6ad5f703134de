#include "core/Text.h"

#include <cstring>
#include <limits>
#include <type_traits>

namespace vantrel {

namespace {

int HexDigitValue(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

// Shared by both widths. All arithmetic is on the unsigned type, so a hexadecimal value with the
// top bit set and the negation of the most negative value wrap as two's complement without
// signed overflow.
template <typename Signed>
Signed ParseInt(std::u16string_view text, Signed fallback) {
    using Unsigned = std::make_unsigned_t<Signed>;
    constexpr size_t kMaxHexDigits = sizeof(Signed) * 2;

    size_t i = 0;
    while (i < text.size() && text[i] == u' ') ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }

    size_t hexStart = std::u16string_view::npos;
    if (i < text.size() && (text[i] == u'$' || text[i] == u'x' || text[i] == u'X')) {
        hexStart = i + 1;
    } else if (i + 1 < text.size() && text[i] == u'0' && (text[i + 1] == u'x' || text[i + 1] == u'X')) {
        hexStart = i + 2;
    }

    Unsigned value = 0;
    if (hexStart != std::u16string_view::npos) {
        i = hexStart;
        if (i == text.size()) return fallback;
        size_t significant = 0;
        for (; i < text.size(); ++i) {
            int digit = HexDigitValue(text[i]);
            if (digit < 0) return fallback;
            if (value == 0 && digit == 0) continue;  // leading zeros do not count
            if (++significant > kMaxHexDigits) return fallback;
            value = static_cast<Unsigned>((value << 4) | static_cast<Unsigned>(digit));
        }
    } else {
        if (i == text.size()) return fallback;
        // The magnitude of the most negative value is one more than the largest positive one.
        const Unsigned limit =
            static_cast<Unsigned>(std::numeric_limits<Signed>::max()) + (negative ? 1u : 0u);
        for (; i < text.size(); ++i) {
            char16_t c = text[i];
            if (c < u'0' || c > u'9') return fallback;
            Unsigned digit = static_cast<Unsigned>(c - u'0');
            if (value > (limit - digit) / 10) return fallback;
            value = static_cast<Unsigned>(value * 10 + digit);
        }
    }
    if (negative) value = static_cast<Unsigned>(Unsigned{0} - value);
    return static_cast<Signed>(value);
}

bool IsTrimmed(char16_t c) {
    return c <= 32;
}

}  // namespace

int32_t IntFromText(std::u16string_view text, int32_t fallback) {
    return ParseInt<int32_t>(text, fallback);
}

int64_t IntFromText64(std::u16string_view text, int64_t fallback) {
    return ParseInt<int64_t>(text, fallback);
}

std::u16string IntToText(int64_t value) {
    uint64_t magnitude =
        value < 0 ? uint64_t{0} - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    char16_t buffer[24];
    size_t pos = sizeof(buffer) / sizeof(buffer[0]);
    do {
        buffer[--pos] = static_cast<char16_t>(u'0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) buffer[--pos] = u'-';
    return std::u16string(buffer + pos, buffer + sizeof(buffer) / sizeof(buffer[0]));
}

std::u16string Trim(std::u16string_view text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsTrimmed(text[begin])) ++begin;
    while (end > begin && IsTrimmed(text[end - 1])) --end;
    return std::u16string(text.substr(begin, end - begin));
}

std::string ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

// Decodes with the "maximal subpart" practice of the Unicode Standard (chapter 3, U+FFFD
// substitution) and the WHATWG Encoding Standard: a sequence that breaks off yields one U+FFFD
// and the breaking byte is read again as the start of the next sequence. Overlong forms,
// encoded surrogates and values above U+10FFFF are rejected at their second byte.
std::u16string FromUtf8(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t n = bytes.size();
    size_t i = 0;
    while (i < n) {
        // Pages are mostly ASCII: copy eight such bytes at a time.
        while (i + 8 <= n) {
            uint64_t block;
            std::memcpy(&block, p + i, 8);
            if (block & 0x8080808080808080ull) break;
            for (int k = 0; k < 8; ++k) out.push_back(static_cast<char16_t>(p[i + k]));
            i += 8;
        }
        if (i >= n) break;
        unsigned char lead = p[i];
        if (lead < 0x80) {
            out.push_back(lead);
            ++i;
            continue;
        }
        int needed = 0;
        uint32_t code = 0;
        unsigned char lower = 0x80;
        unsigned char upper = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            needed = 1;
            code = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            needed = 2;
            code = lead & 0x0F;
            if (lead == 0xE0) lower = 0xA0;  // overlong
            if (lead == 0xED) upper = 0x9F;  // surrogates
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            needed = 3;
            code = lead & 0x07;
            if (lead == 0xF0) lower = 0x90;  // overlong
            if (lead == 0xF4) upper = 0x8F;  // above U+10FFFF
        } else {
            out.push_back(u'\uFFFD');
            ++i;
            continue;
        }
        ++i;
        bool complete = true;
        for (int k = 0; k < needed; ++k) {
            if (i >= n || p[i] < lower || p[i] > upper) {
                complete = false;
                break;
            }
            code = (code << 6) | (p[i] & 0x3F);
            lower = 0x80;
            upper = 0xBF;
            ++i;
        }
        if (!complete) {
            out.push_back(u'\uFFFD');
        } else if (code < 0x10000) {
            out.push_back(static_cast<char16_t>(code));
        } else {
            code -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        }
    }
    return out;
}

std::u16string FromLatin1(std::string_view bytes) {
    std::u16string out(bytes.size(), u'\0');
    for (size_t i = 0; i < bytes.size(); ++i) out[i] = static_cast<unsigned char>(bytes[i]);
    return out;
}

std::u16string FromAscii(std::string_view text) {
    return FromLatin1(text);
}

bool EqualsIgnoreAsciiCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char16_t x = a[i];
        char16_t y = b[i];
        if (x >= u'A' && x <= u'Z') x = static_cast<char16_t>(x + 32);
        if (y >= u'A' && y <= u'Z') y = static_cast<char16_t>(y + 32);
        if (x != y) return false;
    }
    return true;
}

}  // namespace vantrel
