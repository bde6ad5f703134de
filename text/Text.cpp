#include "text/Text.h"

#include <limits>
#include <memory>
#include <type_traits>

#include "text/Utf8.h"
#include "text/Utf8Kernels.h"

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

template <typename Char>
Char LowerAscii(Char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<Char>(c + 32) : c;
}

template <typename Char>
Char UpperAscii(Char c) {
    return c >= 'a' && c <= 'z' ? static_cast<Char>(c - 32) : c;
}

template <typename Char>
bool EqualsIgnoreCase(std::basic_string_view<Char> a, std::basic_string_view<Char> b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    return true;
}

// Removes the characters for which `trimmed` holds from both ends.
template <typename Char, typename Predicate>
std::basic_string_view<Char> TrimIf(std::basic_string_view<Char> text, Predicate trimmed) {
    size_t begin = 0, end = text.size();
    while (begin < end && trimmed(text[begin])) ++begin;
    while (end > begin && trimmed(text[end - 1])) --end;
    return text.substr(begin, end - begin);
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
    return std::u16string(TrimIf(text, IsTrimmed));
}

std::u16string_view TrimSpacesAndTabs(std::u16string_view text) {
    return TrimIf(text, [](char16_t c) { return c == u' ' || c == u'\t'; });
}

std::string_view TrimBytes(std::string_view text) {
    return TrimIf(text, [](char c) { return static_cast<unsigned char>(c) <= 32; });
}

std::string ToUtf8(std::u16string_view text) {
    // Written through a pointer into room for the longest form (three bytes a unit; a surrogate
    // pair takes four for its two), then copied out at its size. The room is never cleared: of a
    // large text's room only the pages written are ever touched.
    char small[256];
    const std::unique_ptr<char[]> large(text.size() * 3 > sizeof small ? new char[text.size() * 3] : nullptr);
    char* const begin = large ? large.get() : small;
    char* p = begin;
    const size_t n = text.size();
    const auto narrowAscii = Utf8Kernels::best().narrowAscii;
    for (size_t i = 0; i < n; ++i) {
        // Runs of ASCII, the most of most pages, eight units at a time.
        if (text[i] < 0x80) {
            const size_t run = narrowAscii(text.data() + i, n - i, p);
            i += run;
            p += run;
            if (i == n) break;
        }
        uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            *p++ = static_cast<char>(c);
        } else if (c < 0x800) {
            *p++ = static_cast<char>(0xC0 | (c >> 6));
            *p++ = static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            *p++ = static_cast<char>(0xE0 | (c >> 12));
            *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            *p++ = static_cast<char>(0x80 | (c & 0x3F));
        } else {
            *p++ = static_cast<char>(0xF0 | (c >> 18));
            *p++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            *p++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            *p++ = static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return std::string(begin, p);
}

std::u16string FromUtf8(std::string_view bytes) {
    std::u16string out(bytes.size(), u'\0');
    out.resize(DecodeUtf8(bytes.data(), bytes.size(), out.data()));
    return out;
}

bool IsValidUtf8(std::string_view bytes) {
    return ValidUtf8Length(bytes) == bytes.size();
}

std::u16string FromLatin1(std::string_view bytes) {
    std::u16string out(bytes.size(), u'\0');
    WidenLatin1(bytes.data(), bytes.size(), out.data());
    return out;
}

std::u16string FromAscii(std::string_view text) {
    return FromLatin1(text);
}

bool EqualsIgnoreAsciiCase(std::u16string_view a, std::u16string_view b) {
    return EqualsIgnoreCase(a, b);
}

bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b) {
    return EqualsIgnoreCase(a, b);
}

std::u16string ToLowerAscii(std::u16string_view text) {
    std::u16string out(text);
    for (char16_t& c : out) c = LowerAscii(c);
    return out;
}

std::u16string ToUpperAscii(std::u16string_view text) {
    std::u16string out(text);
    for (char16_t& c : out) c = UpperAscii(c);
    return out;
}

size_t FindIgnoreAsciiCase(std::string_view text, std::string_view needle) {
    if (needle.size() > text.size()) return std::string_view::npos;
    for (size_t i = 0; i + needle.size() <= text.size(); ++i)
        if (EqualsIgnoreCase(text.substr(i, needle.size()), needle)) return i;
    return std::string_view::npos;
}

}  // namespace vantrel
