#include "net/TextDecoder.h"

#include <cstdint>
#include <cstring>

#include <sys/mman.h>

#include "net/HttpResponseReader.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vantrel {

namespace {

// Widens the ASCII run at the start of [in, in + n) into `out`; returns its length.
size_t widenAscii(const unsigned char* in, size_t n, char16_t* out) {
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        if (_mm_movemask_epi8(v) != 0) break;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_unpacklo_epi8(v, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 8), _mm_unpackhi_epi8(v, zero));
    }
#endif
    for (; i + 8 <= n; i += 8) {
        uint64_t w;
        std::memcpy(&w, in + i, 8);
        if (w & 0x8080808080808080ull) break;
        for (size_t k = 0; k < 8; ++k) out[i + k] = in[i + k];
    }
    while (i < n && in[i] < 0x80) {
        out[i] = in[i];
        ++i;
    }
    return i;
}

constexpr char32_t kInvalid = 0x110000;

bool cont(unsigned char b) {
    return (b & 0xC0) == 0x80;
}

// Decodes one sequence starting with the non-ASCII byte at in[i]. Returns the bytes consumed and
// stores the code point, or kInvalid for a maximal ill-formed subpart (Unicode 15, 3.9 D93b).
size_t decodeOne(const unsigned char* in, size_t n, size_t i, char32_t& cp) {
    const unsigned char b0 = in[i];
    cp = kInvalid;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        if (i + 1 < n && cont(in[i + 1])) {
            cp = ((b0 & 0x1Fu) << 6) | (in[i + 1] & 0x3Fu);
            return 2;
        }
        return 1;
    }
    if (b0 >= 0xE0 && b0 <= 0xEF) {
        const unsigned char lo = b0 == 0xE0 ? 0xA0 : 0x80, hi = b0 == 0xED ? 0x9F : 0xBF;
        if (i + 1 >= n || in[i + 1] < lo || in[i + 1] > hi) return 1;
        if (i + 2 >= n || !cont(in[i + 2])) return 2;
        cp = ((b0 & 0x0Fu) << 12) | ((in[i + 1] & 0x3Fu) << 6) | (in[i + 2] & 0x3Fu);
        return 3;
    }
    if (b0 >= 0xF0 && b0 <= 0xF4) {
        const unsigned char lo = b0 == 0xF0 ? 0x90 : 0x80, hi = b0 == 0xF4 ? 0x8F : 0xBF;
        if (i + 1 >= n || in[i + 1] < lo || in[i + 1] > hi) return 1;
        if (i + 2 >= n || !cont(in[i + 2])) return 2;
        if (i + 3 >= n || !cont(in[i + 3])) return 3;
        cp = ((b0 & 0x07u) << 18) | ((in[i + 1] & 0x3Fu) << 12) | ((in[i + 2] & 0x3Fu) << 6) |
             (in[i + 3] & 0x3Fu);
        return 4;
    }
    return 1;
}

}  // namespace

std::string TextDecoder::charsetOf(std::string_view contentType) {
    const size_t at = FindIgnoreCase(contentType, "CHARSET");
    if (at == std::string_view::npos) return {};
    std::string_view rest = TrimBytes(contentType.substr(at + 7));
    if (!rest.empty() && rest.front() == '=') rest = TrimBytes(rest.substr(1));
    if (!rest.empty() && rest.front() == '"') {
        rest.remove_prefix(1);
        return std::string(rest.substr(0, rest.find('"')));
    }
    return std::string(rest.substr(0, rest.find(';')));
}

std::u16string TextDecoder::decode(std::string_view body, std::string_view contentType) {
    return isUtf8(contentType) ? fromUtf8(body) : fromLatin1(body);
}

// The cores below write the text forward over their input when both share one buffer (the
// bytes in its upper half): a unit is stored only after every byte it overwrites was read, since
// output position w never passes input position i and blocks are loaded before they are stored.
size_t TextDecoder::widenLatin1(const unsigned char* in, size_t n, char16_t* out) {
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_unpacklo_epi8(v, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 8), _mm_unpackhi_epi8(v, zero));
    }
#endif
    for (; i < n; ++i) {
        const char16_t c = in[i];
        out[i] = c;
    }
    return n;
}

size_t TextDecoder::decodeUtf8(const unsigned char* in, size_t n, char16_t* out) {
    size_t i = 0, w = 0;
    while (i < n) {
#if defined(__SSE2__)
        if (i + 32 <= n) {
            // Sixteen bytes widened at once; when some are not ASCII, only the leading ASCII run
            // counts and the rest is written over later. With 32 bytes left, the block stored
            // ends before any byte not yet decoded, also in place.
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
            const __m128i zero = _mm_setzero_si128();
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + w), _mm_unpacklo_epi8(v, zero));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + w + 8), _mm_unpackhi_epi8(v, zero));
            const int mask = _mm_movemask_epi8(v);
            if (mask == 0) {
                i += 16;
                w += 16;
                continue;
            }
            const int ascii = __builtin_ctz(static_cast<unsigned>(mask));
            i += ascii;
            w += ascii;
        } else
#endif
        {
            const size_t ascii = widenAscii(in + i, n - i, out + w);
            i += ascii;
            w += ascii;
            if (i == n) break;
        }
        const unsigned b0 = in[i];
        if (b0 >= 0xC2 && b0 <= 0xDF && i + 1 < n && cont(in[i + 1])) {
            out[w++] = static_cast<char16_t>(((b0 & 0x1Fu) << 6) | (in[i + 1] & 0x3Fu));
            i += 2;
            continue;
        }
        char32_t cp;
        i += decodeOne(in, n, i, cp);
        if (cp == kInvalid) {
            out[w++] = u'\uFFFD';
        } else if (cp >= 0x10000) {
            cp -= 0x10000;
            out[w++] = static_cast<char16_t>(0xD800 + (cp >> 10));
            out[w++] = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out[w++] = static_cast<char16_t>(cp);
        }
    }
    return w;
}

std::u16string TextDecoder::allocate(size_t units) {
    std::u16string text;
    text.reserve(units);
    // Large pages for a large text: a fraction of the page faults when it is first written.
    if (units * 2 >= (4u << 20)) {
        const auto begin = (reinterpret_cast<uintptr_t>(text.data()) + 4095) & ~uintptr_t{4095};
        const auto end = (reinterpret_cast<uintptr_t>(text.data() + units)) & ~uintptr_t{4095};
        if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
    }
    text.resize(units);
    return text;
}

void TextDecoder::decodeInPlace(std::u16string& text, size_t count, bool utf8) {
    const auto* in = reinterpret_cast<const unsigned char*>(text.data()) + text.size();
    const size_t written = utf8 ? decodeUtf8(in, count, text.data()) : widenLatin1(in, count, text.data());
    text.resize(written);
}

bool TextDecoder::isUtf8(std::string_view contentType) {
    const std::string charset = charsetOf(contentType);
    return EqualsIgnoreCase(charset, "UTF-8") || EqualsIgnoreCase(charset, "UTF8");
}

std::u16string TextDecoder::fromLatin1(std::string_view bytes) {
    std::u16string out = allocate(bytes.size());
    widenLatin1(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), out.data());
    return out;
}

std::u16string TextDecoder::fromUtf8(std::string_view bytes) {
    // Every byte yields at most one UTF-16 unit (a 4-byte sequence yields two), so the bytes'
    // count bounds the text: one allocation, shortened at the end.
    std::u16string out = allocate(bytes.size());
    out.resize(decodeUtf8(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), out.data()));
    return out;
}

bool TextDecoder::isValidUtf8(std::string_view bytes) {
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
    for (size_t i = 0; i < bytes.size();) {
        if (in[i] < 0x80) {
            ++i;
            continue;
        }
        char32_t cp;
        i += decodeOne(in, bytes.size(), i, cp);
        if (cp == kInvalid) return false;
    }
    return true;
}

}  // namespace vantrel
