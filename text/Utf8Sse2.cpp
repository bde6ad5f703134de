// The UTF-8 kernels for SSE2, the baseline of x86-64: the 16-byte block decoder packed with plain
// stores, and the counters, the widening and the narrowing 16 bytes or 8 units at a time. Built with -msse2
// (text/CMakeLists.txt). The SSSE3 and AVX2 paths share the counters.
#include <emmintrin.h>

#include "text/Utf8Block.h"
#include "text/Utf8Kernels.h"

namespace vantrel {

namespace {

// Packs the units of the emitting positions with SSE2 alone: every position is stored and only
// the emitting ones advance, without a branch.
[[gnu::always_inline]] inline size_t PackStores(__m128i lo, __m128i hi, unsigned emit, char16_t* out) {
    alignas(16) char16_t units[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(units), lo);
    _mm_store_si128(reinterpret_cast<__m128i*>(units + 8), hi);
    size_t w = 0;
    for (int j = 0; j < 16; ++j) {
        out[w] = units[j];
        w += (emit >> j) & 1u;
    }
    return w;
}

}  // namespace

void DecodeBlocksSse2(const unsigned char* in, size_t n, size_t& i, char16_t* out, size_t& w) {
    __m128i prev = _mm_setzero_si128(), lo, hi;
    unsigned emit;
    for (; i + 17 <= n && DecodeBlock(in + i, prev, lo, hi, emit); i += 16)
        w += PackStores(lo, hi, emit, out + w);
}

void WidenLatin1Sse2(const unsigned char* in, size_t n, char16_t* out) {
    size_t i = 0;
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_unpacklo_epi8(v, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 8), _mm_unpackhi_epi8(v, zero));
    }
    WidenLatin1Portable(in + i, n - i, out + i);
}

int64_t Latin1Utf8LengthSse2(const unsigned char* in, size_t n) {
    // Each byte's top bit moved to its bottom, then summed eight bytes at a time (no population
    // count instruction in the baseline instruction set).
    size_t i = 0;
    const __m128i zero = _mm_setzero_si128();
    __m128i sums = zero;
    for (; i + 16 <= n; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        const __m128i tops = _mm_and_si128(_mm_srli_epi16(v, 7), _mm_set1_epi8(1));
        sums = _mm_add_epi64(sums, _mm_sad_epu8(tops, zero));
    }
    return static_cast<int64_t>(i) + _mm_cvtsi128_si64(sums) +
           _mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)) + Latin1Utf8LengthPortable(in + i, n - i);
}

int64_t Utf8LengthSse2(const char16_t* text, size_t n) {
    // Per unit, one byte more from U+0080 on and one more from U+0800 on, one less for each half of
    // a surrogate pair. The lanes count the units that do NOT add a byte, as -1 each (a compare's
    // all-ones); 16-bit lanes hold at most 10,922 steps of -3, so they are summed into 32-bit
    // lanes every 8,192 steps.
    constexpr size_t kStepsPerSum = 8192;
    const __m128i below80 = _mm_set1_epi16(0x7F), below800 = _mm_set1_epi16(0x7FF);
    const __m128i surrogateBits = _mm_set1_epi16(static_cast<short>(0xF800));
    const __m128i surrogate = _mm_set1_epi16(static_cast<short>(0xD800));
    const __m128i zero = _mm_setzero_si128();
    size_t i = 0;
    int64_t bytes = 0;
    while (n - i >= 8) {
        const size_t steps = (n - i) / 8 < kStepsPerSum ? (n - i) / 8 : kStepsPerSum;
        __m128i lanes = zero;
        for (size_t s = 0; s < steps; ++s, i += 8) {
            const __m128i u = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
            lanes = _mm_add_epi16(lanes, _mm_cmpeq_epi16(_mm_subs_epu16(u, below80), zero));
            lanes = _mm_add_epi16(lanes, _mm_cmpeq_epi16(_mm_subs_epu16(u, below800), zero));
            lanes = _mm_add_epi16(lanes, _mm_cmpeq_epi16(_mm_and_si128(u, surrogateBits), surrogate));
        }
        __m128i sum = _mm_madd_epi16(lanes, _mm_set1_epi16(1));
        sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, 0x4E));
        sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, 0xB1));
        bytes += 3 * static_cast<int64_t>(steps * 8) + _mm_cvtsi128_si32(sum);
    }
    return bytes + Utf8LengthPortable(text + i, n - i);
}

size_t NarrowAsciiSse2(const char16_t* text, size_t n, char* out) {
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
        const __m128i high = _mm_and_si128(units, _mm_set1_epi16(static_cast<short>(0xFF80)));
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(high, _mm_setzero_si128())) != 0xFFFF) break;
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(units, units));
    }
    return i;
}

}  // namespace vantrel
