#include "core/Utf8.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "core/TextBuffer.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vantrel {

namespace {

constexpr char32_t kInvalid = 0x110000;

// The rule of UTF-8, in one place: decodes the sequence starting with the non-ASCII byte in[0].
// Returns the bytes consumed and stores the code point, or kInvalid for a maximal ill-formed
// subpart (Unicode 15, 3.9 D93b), which is consumed whole and becomes one U+FFFD: overlong forms,
// encoded surrogates and values above U+10FFFF are rejected at their second byte. `cut` tells
// that the subpart was still well-formed when the bytes ran out, so more bytes could complete it.
size_t DecodeSequence(const unsigned char* in, size_t n, char32_t& cp, bool& cut) {
    const unsigned char b0 = in[0];
    cp = kInvalid;
    cut = false;
    size_t length;
    unsigned char lo = 0x80, hi = 0xBF;  // range of the second byte
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2;
        cp = b0 & 0x1Fu;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3;
        cp = b0 & 0x0Fu;
        if (b0 == 0xE0) lo = 0xA0;  // overlong
        if (b0 == 0xED) hi = 0x9F;  // surrogates
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4;
        cp = b0 & 0x07u;
        if (b0 == 0xF0) lo = 0x90;  // overlong
        if (b0 == 0xF4) hi = 0x8F;  // above U+10FFFF
    } else {
        cp = kInvalid;
        return 1;
    }
    for (size_t k = 1; k < length; ++k) {
        if (k == n) {
            cut = true;
            cp = kInvalid;
            return k;
        }
        if (in[k] < lo || in[k] > hi) {
            cp = kInvalid;
            return k;
        }
        cp = (cp << 6) | (in[k] & 0x3Fu);
        lo = 0x80;
        hi = 0xBF;
    }
    return length;
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

#if defined(__SSE2__)

__m128i Set(int byte) {
    return _mm_set1_epi8(static_cast<char>(byte));
}

// Per byte: all ones where the unsigned byte is at least `t`.
__m128i AtLeast(__m128i v, int t) {
    return _mm_cmpeq_epi8(_mm_max_epu8(v, Set(t)), v);
}

// The code units of the characters that end in one half (8 positions) of a block, each at the
// position of its last byte; b0 holds the bytes, b1 and b2 the bytes one and two before each.
// The masks pick the form: ASCII, end of a two- or three-byte sequence, low or high surrogate of
// a four-byte sequence (the high one sits on its third byte).
__m128i Units(__m128i b0, __m128i b1, __m128i b2, __m128i ascii, __m128i two, __m128i three, __m128i low,
              __m128i high) {
    const __m128i m3f = _mm_set1_epi16(0x3F);
    const __m128i c0 = _mm_and_si128(b0, m3f);
    const __m128i c1 = _mm_and_si128(b1, m3f);
    const __m128i u2 = _mm_or_si128(_mm_slli_epi16(_mm_and_si128(b1, _mm_set1_epi16(0x1F)), 6), c0);
    const __m128i u3 = _mm_or_si128(_mm_or_si128(_mm_slli_epi16(b2, 12), _mm_slli_epi16(c1, 6)), c0);
    const __m128i ul =
        _mm_or_si128(_mm_set1_epi16(static_cast<short>(0xDC00)),
                     _mm_or_si128(_mm_slli_epi16(_mm_and_si128(b1, _mm_set1_epi16(0x0F)), 6), c0));
    const __m128i uh = _mm_add_epi16(
        _mm_set1_epi16(static_cast<short>(0xD7C0)),
        _mm_or_si128(
            _mm_or_si128(_mm_slli_epi16(_mm_and_si128(b2, _mm_set1_epi16(7)), 8), _mm_slli_epi16(c1, 2)),
            _mm_srli_epi16(c0, 4)));
    __m128i u = _mm_and_si128(ascii, b0);
    u = _mm_or_si128(u, _mm_and_si128(two, u2));
    u = _mm_or_si128(u, _mm_and_si128(three, u3));
    u = _mm_or_si128(u, _mm_and_si128(low, ul));
    return _mm_or_si128(u, _mm_and_si128(high, uh));
}

// Decodes the whole characters among the 16 bytes at `in` (which starts a character) when they
// are all well-formed: every code unit is computed at once, then the units of the positions
// where one ends are packed. `out` has room for 16 units. Returns the bytes consumed, 0 when the
// block holds something the byte-wise rule must decide.
size_t DecodeBlock(const unsigned char* in, char16_t* out, size_t& written) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    const __m128i zero = _mm_setzero_si128();
    if (_mm_movemask_epi8(v) == 0) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi8(v, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8), _mm_unpackhi_epi8(v, zero));
        written = 16;
        return 16;
    }
    const __m128i lead2 = AtLeast(v, 0xC0), lead3 = AtLeast(v, 0xE0), lead4 = AtLeast(v, 0xF0);
    const __m128i nonAscii = _mm_cmplt_epi8(v, zero);
    const unsigned cont = static_cast<unsigned>(_mm_movemask_epi8(_mm_andnot_si128(lead2, nonAscii)));
    const unsigned starts = ~cont & 0xFFFFu;
    // Only characters that end before the last start are decoded here.
    if ((starts & 1u) == 0 || (starts & ~1u) == 0) return 0;
    const unsigned last = 31u - static_cast<unsigned>(__builtin_clz(starts & ~1u));
    const unsigned before = (1u << last) - 1u;

    // A byte must be a continuation exactly when a lead one, two or three bytes before wants it.
    const __m128i wanted = _mm_or_si128(_mm_or_si128(_mm_slli_si128(lead2, 1), _mm_slli_si128(lead3, 2)),
                                        _mm_slli_si128(lead4, 3));
    const unsigned misplaced =
        (static_cast<unsigned>(_mm_movemask_epi8(wanted)) ^ cont) & (before | (1u << last));
    // Bytes that never occur (C0, C1, F5 to FF) and second bytes out of their lead's range.
    const __m128i prev = _mm_slli_si128(v, 1);
    __m128i bad = _mm_or_si128(_mm_cmpeq_epi8(_mm_and_si128(v, Set(0xFE)), Set(0xC0)), AtLeast(v, 0xF5));
    const __m128i belowA0 = _mm_andnot_si128(AtLeast(v, 0xA0), Set(0xFF));
    const __m128i below90 = _mm_andnot_si128(AtLeast(v, 0x90), Set(0xFF));
    bad = _mm_or_si128(bad, _mm_and_si128(_mm_cmpeq_epi8(prev, Set(0xE0)), belowA0));
    bad = _mm_or_si128(bad, _mm_andnot_si128(belowA0, _mm_cmpeq_epi8(prev, Set(0xED))));
    bad = _mm_or_si128(bad, _mm_and_si128(_mm_cmpeq_epi8(prev, Set(0xF0)), below90));
    bad = _mm_or_si128(bad, _mm_andnot_si128(below90, _mm_cmpeq_epi8(prev, Set(0xF4))));
    if (misplaced != 0 || (static_cast<unsigned>(_mm_movemask_epi8(bad)) & before) != 0) return 0;

    const __m128i b1 = _mm_slli_si128(v, 1), b2 = _mm_slli_si128(v, 2);
    const __m128i ascii = _mm_cmpeq_epi8(nonAscii, zero);
    const __m128i two = _mm_slli_si128(_mm_andnot_si128(lead3, lead2), 1);
    const __m128i three = _mm_slli_si128(_mm_andnot_si128(lead4, lead3), 2);
    const __m128i low = _mm_slli_si128(lead4, 3);
    const __m128i high = _mm_slli_si128(lead4, 2);
    const __m128i lo =
        Units(_mm_unpacklo_epi8(v, zero), _mm_unpacklo_epi8(b1, zero), _mm_unpacklo_epi8(b2, zero),
              _mm_unpacklo_epi8(ascii, ascii), _mm_unpacklo_epi8(two, two), _mm_unpacklo_epi8(three, three),
              _mm_unpacklo_epi8(low, low), _mm_unpacklo_epi8(high, high));
    const __m128i hi =
        Units(_mm_unpackhi_epi8(v, zero), _mm_unpackhi_epi8(b1, zero), _mm_unpackhi_epi8(b2, zero),
              _mm_unpackhi_epi8(ascii, ascii), _mm_unpackhi_epi8(two, two), _mm_unpackhi_epi8(three, three),
              _mm_unpackhi_epi8(low, low), _mm_unpackhi_epi8(high, high));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), lo);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8), hi);
    // A position emits a unit where a character ends (the next byte starts one) and on the third
    // byte of a four-byte sequence. Packing moves units only backwards, within `out`.
    unsigned emit = ((starts >> 1) | static_cast<unsigned>(_mm_movemask_epi8(high))) & before;
    size_t w = 0;
    while (emit != 0) {
        out[w++] = out[__builtin_ctz(emit)];
        emit &= emit - 1;
    }
    written = w;
    return last;
}

#endif

// Decodes from `in` until the bytes end or, unless `final`, until a sequence is cut off by the
// end. Returns the bytes consumed; `written` receives the units stored (at most one per byte).
size_t Decode(const unsigned char* in, size_t n, char16_t* out, size_t& written, bool final) {
    size_t i = 0, w = 0;
    while (i < n) {
#if defined(__SSE2__)
        while (i + 16 <= n) {
            size_t units;
            const size_t used = DecodeBlock(in + i, out + w, units);
            if (used == 0) break;
            i += used;
            w += units;
        }
#else
        // Pages are mostly ASCII: eight such bytes at a time.
        for (uint64_t block; i + 8 <= n; i += 8, w += 8) {
            std::memcpy(&block, in + i, 8);
            if (block & 0x8080808080808080ull) break;
            for (size_t k = 0; k < 8; ++k) out[w + k] = in[i + k];
        }
#endif
        if (i == n) break;
        if (in[i] < 0x80) {
            out[w++] = in[i++];
            continue;
        }
        char32_t cp;
        bool cut;
        const size_t length = DecodeSequence(in + i, n - i, cp, cut);
        if (cut && !final) break;
        i += length;
        w += PutCodePoint(cp, out + w);
    }
    written = w;
    return i;
}

}  // namespace

size_t DecodeUtf8(const char* bytes, size_t n, char16_t* out) {
    size_t written;
    Decode(reinterpret_cast<const unsigned char*>(bytes), n, out, written, true);
    return written;
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
        bool cut;
        const size_t length = DecodeSequence(in + i, n - i, cp, cut);
        if (cp == kInvalid) break;
        i += length;
    }
    return i;
}

void Utf8Decoder::decode(const char* bytes, size_t n, TextBuffer& out) {
    const auto* in = reinterpret_cast<const unsigned char*>(bytes);
    if (pendingCount_ > 0) {
        // The cut sequence with the next few bytes: it ends within them, or all of them join it.
        unsigned char joined[6];
        const size_t taken = std::min<size_t>(n, 3);
        std::memcpy(joined, pending_, pendingCount_);
        std::memcpy(joined + pendingCount_, in, taken);
        const size_t length = pendingCount_ + taken;
        size_t written;
        const size_t used = Decode(joined, length, out.room(length), written, false);
        out.commit(written);
        if (used < pendingCount_) {
            // Still cut: these bytes were all the input, and they are all kept.
            std::memmove(pending_, joined + used, length - used);
            pendingCount_ = length - used;
            return;
        }
        in += used - pendingCount_;
        n -= used - pendingCount_;
        pendingCount_ = 0;
    }
    size_t written;
    const size_t used = Decode(in, n, out.room(n), written, false);
    out.commit(written);
    pendingCount_ = n - used;
    std::memcpy(pending_, in + used, pendingCount_);
}

void Utf8Decoder::finish(TextBuffer& out) {
    if (pendingCount_ > 0) {
        size_t written;
        Decode(pending_, pendingCount_, out.room(pendingCount_), written, true);
        out.commit(written);
    }
    pendingCount_ = 0;
}

}  // namespace vantrel
