#include "text/Utf8.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "text/TextBuffer.h"
#include "text/Utf8Blocks.h"

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

// Decodes from `in` until the bytes end or, unless `final`, until a sequence is cut off by the
// end. Returns the bytes consumed; `written` receives the units stored (at most one per byte), and
// `utf8Bytes` grows by the size of their text in UTF-8: the bytes consumed, but three for each
// U+FFFD that took the place of an ill-formed subpart.
size_t Decode(const unsigned char* in, size_t n, char16_t* out, size_t& written, int64_t& utf8Bytes,
              bool final) {
    size_t i = 0, w = 0;
    int64_t replaced = 0;  // UTF-8 bytes the replacements add (or save) against what they took
    while (i < n) {
#if defined(__SSE2__)
        // Whole well-formed blocks at once (core/Utf8Blocks.cpp); the byte-wise rule does the rest.
        if (i + 17 <= n) {
            const size_t begin = i;
            DecodeBlocksAny(in, n, i, out, w);
            // The blocks stop inside a character or before one: the byte-wise rule takes over at
            // its start, and a high surrogate already emitted for it is taken back.
            size_t start = i;
            while (start > begin && i - start < 4 && (in[start] & 0xC0) == 0x80) --start;
            if (start < i && in[start] >= 0xF0 && i - start >= 3) --w;
            i = start;
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
        if (cp == kInvalid) replaced += 3 - static_cast<int64_t>(length);
    }
    written = w;
    utf8Bytes += static_cast<int64_t>(i) + replaced;
    return i;
}

}  // namespace

size_t DecodeUtf8(const char* bytes, size_t n, char16_t* out) {
    size_t written;
    int64_t utf8Bytes = 0;
    Decode(reinterpret_cast<const unsigned char*>(bytes), n, out, written, utf8Bytes, true);
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

int64_t Latin1Utf8Length(std::string_view bytes) {
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t n = bytes.size();
    int64_t length = static_cast<int64_t>(n);
    size_t i = 0;
#if defined(__SSE2__)
    // Each byte's top bit moved to its bottom, then summed eight bytes at a time (no population
    // count instruction in the baseline instruction set).
    const __m128i zero = _mm_setzero_si128();
    __m128i sums = zero;
    for (; i + 16 <= n; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        const __m128i tops = _mm_and_si128(_mm_srli_epi16(v, 7), _mm_set1_epi8(1));
        sums = _mm_add_epi64(sums, _mm_sad_epu8(tops, zero));
    }
    length += _mm_cvtsi128_si64(sums) + _mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums));
#endif
    for (; i < n; ++i) length += in[i] >> 7;
    return length;
}

int64_t Utf8Length(std::u16string_view text) {
    const size_t n = text.size();
    size_t i = 0;
    int64_t bytes = static_cast<int64_t>(n);
#if defined(__SSE2__)
    // Per unit, one byte more from U+0080 on and one more from U+0800 on, one less for each half of
    // a surrogate pair. The lanes count the units that do NOT add a byte, as -1 each (a compare's
    // all-ones); 16-bit lanes hold at most 10,922 steps of -3, so they are summed into 32-bit
    // lanes every 8,192 steps.
    constexpr size_t kStepsPerSum = 8192;
    const __m128i below80 = _mm_set1_epi16(0x7F), below800 = _mm_set1_epi16(0x7FF);
    const __m128i surrogateBits = _mm_set1_epi16(static_cast<short>(0xF800));
    const __m128i surrogate = _mm_set1_epi16(static_cast<short>(0xD800));
    const __m128i zero = _mm_setzero_si128();
    while (n - i >= 8) {
        const size_t steps = std::min((n - i) / 8, kStepsPerSum);
        __m128i lanes = zero;
        for (size_t s = 0; s < steps; ++s, i += 8) {
            const __m128i u = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
            lanes = _mm_add_epi16(lanes, _mm_cmpeq_epi16(_mm_subs_epu16(u, below80), zero));
            lanes = _mm_add_epi16(lanes, _mm_cmpeq_epi16(_mm_subs_epu16(u, below800), zero));
            lanes = _mm_add_epi16(lanes, _mm_cmpeq_epi16(_mm_and_si128(u, surrogateBits), surrogate));
        }
        __m128i sum = _mm_madd_epi16(lanes, _mm_set1_epi16(1));
        sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, 0x4E));
        sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, 0xB1));
        bytes += 2 * static_cast<int64_t>(steps * 8) + _mm_cvtsi128_si32(sum);
    }
#endif
    for (; i < n; ++i) {
        const char16_t unit = text[i];
        bytes += (unit >= 0x80) + (unit >= 0x800) - ((unit & 0xF800) == 0xD800);
    }
    return bytes;
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
        const size_t used = Decode(joined, length, out.room(length), written, utf8Bytes_, false);
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
    const size_t used = Decode(in, n, out.room(n), written, utf8Bytes_, false);
    out.commit(written);
    pendingCount_ = n - used;
    std::memcpy(pending_, in + used, pendingCount_);
}

void Utf8Decoder::finish(TextBuffer& out) {
    if (pendingCount_ > 0) {
        size_t written;
        Decode(pending_, pendingCount_, out.room(pendingCount_), written, utf8Bytes_, true);
        out.commit(written);
    }
    pendingCount_ = 0;
}

}  // namespace vantrel
