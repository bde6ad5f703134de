#include "core/Utf8.h"

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vantrel {

namespace {

constexpr char32_t kInvalid = 0x110000;

bool IsContinuation(unsigned char b) {
    return (b & 0xC0) == 0x80;
}

// The rule of UTF-8, in one place: decodes the sequence starting with the non-ASCII byte in[0].
// Returns the bytes consumed and stores the code point, or kInvalid for a maximal ill-formed
// subpart (Unicode 15, 3.9 D93b), which is consumed whole and becomes one U+FFFD: overlong forms,
// encoded surrogates and values above U+10FFFF are rejected at their second byte.
size_t DecodeSequence(const unsigned char* in, size_t n, char32_t& cp) {
    const unsigned char b0 = in[0];
    cp = kInvalid;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        if (n < 2 || !IsContinuation(in[1])) return 1;
        cp = ((b0 & 0x1Fu) << 6) | (in[1] & 0x3Fu);
        return 2;
    }
    if (b0 >= 0xE0 && b0 <= 0xEF) {
        const unsigned char lo = b0 == 0xE0 ? 0xA0 : 0x80, hi = b0 == 0xED ? 0x9F : 0xBF;
        if (n < 2 || in[1] < lo || in[1] > hi) return 1;
        if (n < 3 || !IsContinuation(in[2])) return 2;
        cp = ((b0 & 0x0Fu) << 12) | ((in[1] & 0x3Fu) << 6) | (in[2] & 0x3Fu);
        return 3;
    }
    if (b0 >= 0xF0 && b0 <= 0xF4) {
        const unsigned char lo = b0 == 0xF0 ? 0x90 : 0x80, hi = b0 == 0xF4 ? 0x8F : 0xBF;
        if (n < 2 || in[1] < lo || in[1] > hi) return 1;
        if (n < 3 || !IsContinuation(in[2])) return 2;
        if (n < 4 || !IsContinuation(in[3])) return 3;
        cp = ((b0 & 0x07u) << 18) | ((in[1] & 0x3Fu) << 12) | ((in[2] & 0x3Fu) << 6) | (in[3] & 0x3Fu);
        return 4;
    }
    return 1;
}

size_t PutCodePoint(char32_t cp, char16_t* out) {
    if (cp == kInvalid) {
        *out = u'\uFFFD';
        return 1;
    }
    if (cp < 0x10000) {
        *out = static_cast<char16_t>(cp);
        return 1;
    }
    cp -= 0x10000;
    out[0] = static_cast<char16_t>(0xD800 + (cp >> 10));
    out[1] = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    return 2;
}

// Widens the ASCII run at the start of [in, in + n) into `out`; returns its length.
size_t WidenAscii(const unsigned char* in, size_t n, char16_t* out) {
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

}  // namespace

// The decoder writes forward and never passes its input when both share one buffer (the bytes
// in its upper half): a unit is stored only after every byte it overwrites was read.
size_t DecodeUtf8(const char* bytes, size_t n, char16_t* out) {
    const auto* in = reinterpret_cast<const unsigned char*>(bytes);
    size_t i = 0, w = 0;
    while (i < n) {
        const size_t ascii = WidenAscii(in + i, n - i, out + w);
        i += ascii;
        w += ascii;
        if (i == n) break;
        char32_t cp;
        i += DecodeSequence(in + i, n - i, cp);
        w += PutCodePoint(cp, out + w);
    }
    return w;
}

size_t WidenLatin1(const char* bytes, size_t n, char16_t* out) {
    const auto* in = reinterpret_cast<const unsigned char*>(bytes);
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_unpacklo_epi8(v, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 8), _mm_unpackhi_epi8(v, zero));
    }
#endif
    for (; i < n; ++i) out[i] = in[i];
    return n;
}

size_t ValidUtf8Length(std::string_view bytes) {
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t n = bytes.size();
    size_t i = 0;
    while (i < n) {
        if (in[i] < 0x80) {
            ++i;
            continue;
        }
        char32_t cp;
        const size_t length = DecodeSequence(in + i, n - i, cp);
        if (cp == kInvalid) break;
        i += length;
    }
    return i;
}

}  // namespace vantrel
