#include "core/Utf8Blocks.h"

#if defined(__SSE2__)

#include <emmintrin.h>
#include <immintrin.h>
#include <tmmintrin.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace vantrel {

namespace {

[[gnu::always_inline]] inline __m128i Set(int byte) {
    return _mm_set1_epi8(static_cast<char>(byte));
}

// Per byte: all ones where the unsigned byte is at least `t`.
[[gnu::always_inline]] inline __m128i AtLeast(__m128i v, int t) {
    return _mm_cmpeq_epi8(_mm_max_epu8(v, Set(t)), v);
}

// The high surrogates of four-byte sequences in one half (8 positions) of a block, each on the
// third byte of its sequence: b0 holds that byte, b1 and b2 the two before it.
[[gnu::always_inline]] inline __m128i HighSurrogates(__m128i b0, __m128i b1, __m128i b2) {
    const __m128i bits =
        _mm_or_si128(_mm_or_si128(_mm_slli_epi16(_mm_and_si128(b2, _mm_set1_epi16(7)), 8),
                                  _mm_slli_epi16(_mm_and_si128(b1, _mm_set1_epi16(0x3F)), 2)),
                     _mm_and_si128(_mm_srli_epi16(b0, 4), _mm_set1_epi16(3)));
    return _mm_add_epi16(bits, _mm_set1_epi16(static_cast<short>(0xD7C0)));
}

// For each set of the eight 16-bit lanes of a register (a mask), the byte shuffle that moves the
// chosen lanes to the front in order, and how many there are.
struct PackTable {
    alignas(16) unsigned char shuffle[256][16];
    unsigned char count[256];
};

constexpr PackTable MakePackTable() {
    PackTable t{};
    for (unsigned mask = 0; mask < 256; ++mask) {
        unsigned char k = 0;
        for (unsigned lane = 0; lane < 8; ++lane) {
            if ((mask >> lane) & 1u) {
                t.shuffle[mask][2 * k] = static_cast<unsigned char>(2 * lane);
                t.shuffle[mask][2 * k + 1] = static_cast<unsigned char>(2 * lane + 1);
                ++k;
            }
        }
        for (unsigned rest = 2u * k; rest < 16; ++rest) t.shuffle[mask][rest] = 0x80;  // zero
        t.count[mask] = k;
    }
    return t;
}

constexpr PackTable kPack = MakePackTable();

// Packs the units of the emitting positions with SSE2 alone: every position is stored and only
// the emitting ones advance, without a branch.
struct PackStores {
    [[gnu::always_inline]] size_t operator()(__m128i lo, __m128i hi, unsigned emit, char16_t* out) const {
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
};

// The same with one byte shuffle per half, where the processor has SSSE3.
struct PackShuffles {
    [[gnu::target("ssse3"), gnu::always_inline]] size_t operator()(__m128i lo, __m128i hi, unsigned emit,
                                                                   char16_t* out) const {
        const unsigned low = emit & 0xFFu, high = emit >> 8;
        const __m128i first =
            _mm_shuffle_epi8(lo, _mm_load_si128(reinterpret_cast<const __m128i*>(kPack.shuffle[low])));
        const __m128i second =
            _mm_shuffle_epi8(hi, _mm_load_si128(reinterpret_cast<const __m128i*>(kPack.shuffle[high])));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), first);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + kPack.count[low]), second);
        return kPack.count[low] + kPack.count[high];
    }
};

// Decodes the 16 bytes at `in` (17 are readable) when they continue well-formed text: every
// code unit is computed at once, in position order in lo and hi, and `emit` tells the positions
// whose unit belongs to the text. `prev` holds the 16 bytes before (zeros at the start of a run)
// and becomes these. Blocks go at a fixed stride, so the next load never waits for this one.
// A unit is emitted where a character ends (the byte after it is no continuation byte) and, for
// a four-byte sequence, also on its third byte. Returns false when the block holds anything the
// byte-wise rule must decide.
[[gnu::always_inline]] inline bool DecodeBlock(const unsigned char* in, __m128i& prev, __m128i& lo,
                                               __m128i& hi, unsigned& emit) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    const __m128i zero = _mm_setzero_si128();
    const unsigned nextIsCont = (in[16] & 0xC0) == 0x80 ? 1u : 0u;
    if (_mm_movemask_epi8(v) == 0) {
        // All ASCII: whatever came before ended with the last block (it checked this byte).
        lo = _mm_unpacklo_epi8(v, zero);
        hi = _mm_unpackhi_epi8(v, zero);
        emit = 0x7FFFu | ((nextIsCont ^ 1u) << 15);
        prev = v;
        return true;
    }
    // b1, b2, b3: the byte one, two and three positions before each, across the block edge.
    const __m128i b1 = _mm_or_si128(_mm_slli_si128(v, 1), _mm_srli_si128(prev, 15));
    const __m128i b2 = _mm_or_si128(_mm_slli_si128(v, 2), _mm_srli_si128(prev, 14));
    const __m128i b3 = _mm_or_si128(_mm_slli_si128(v, 3), _mm_srli_si128(prev, 13));
    const __m128i nonAscii = _mm_cmplt_epi8(v, zero);
    const __m128i lead2 = AtLeast(v, 0xC0), lead3 = AtLeast(v, 0xE0), lead4 = AtLeast(v, 0xF0);
    const unsigned cont = static_cast<unsigned>(_mm_movemask_epi8(_mm_andnot_si128(lead2, nonAscii)));
    const __m128i b1Lead2 = AtLeast(b1, 0xC0), b1Lead3 = AtLeast(b1, 0xE0);
    const __m128i b2Lead3 = AtLeast(b2, 0xE0), b2Lead4 = AtLeast(b2, 0xF0);
    const __m128i b3Lead4 = AtLeast(b3, 0xF0);

    // A byte must be a continuation exactly when a lead one, two or three bytes before wants it;
    // the byte after the block too, when it is none.
    const unsigned wanted =
        static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(b1Lead2, b2Lead3), b3Lead4)));
    const unsigned wantedNext = ((static_cast<unsigned>(_mm_movemask_epi8(lead2)) >> 15) |
                                 (static_cast<unsigned>(_mm_movemask_epi8(lead3)) >> 14) |
                                 (static_cast<unsigned>(_mm_movemask_epi8(lead4)) >> 13)) &
                                1u;
    // Bytes that never occur (C0, C1, F5 to FF) and second bytes out of their lead's range.
    __m128i bad = _mm_or_si128(_mm_cmpeq_epi8(_mm_and_si128(v, Set(0xFE)), Set(0xC0)), AtLeast(v, 0xF5));
    const __m128i belowA0 = _mm_andnot_si128(AtLeast(v, 0xA0), Set(0xFF));
    const __m128i below90 = _mm_andnot_si128(AtLeast(v, 0x90), Set(0xFF));
    bad = _mm_or_si128(bad, _mm_and_si128(_mm_cmpeq_epi8(b1, Set(0xE0)), belowA0));
    bad = _mm_or_si128(bad, _mm_andnot_si128(belowA0, _mm_cmpeq_epi8(b1, Set(0xED))));
    bad = _mm_or_si128(bad, _mm_and_si128(_mm_cmpeq_epi8(b1, Set(0xF0)), below90));
    bad = _mm_or_si128(bad, _mm_andnot_si128(below90, _mm_cmpeq_epi8(b1, Set(0xF4))));
    if ((wanted ^ cont) != 0 || (wantedNext & ~nextIsCont) != 0 || _mm_movemask_epi8(bad) != 0) return false;

    // Every unit but a high surrogate is b0 | b1 << 6 | b2 << 12 (b0 the byte where it ends) once
    // each byte is masked for the form that ends there: ASCII, the end of a two- or three-byte
    // sequence, or a low surrogate (DC00 plus the last ten bits of the code point).
    const __m128i ascii = _mm_cmpeq_epi8(nonAscii, zero);
    const __m128i two = _mm_andnot_si128(b1Lead3, b1Lead2);
    const __m128i three = _mm_andnot_si128(b2Lead4, b2Lead3);
    const __m128i low = b3Lead4;
    const __m128i high = b2Lead4;
    const __m128i m0 = _mm_or_si128(Set(0x3F), _mm_and_si128(ascii, Set(0x40)));
    const __m128i m1 =
        _mm_or_si128(_mm_or_si128(_mm_and_si128(two, Set(0x1F)), _mm_and_si128(three, Set(0x3F))),
                     _mm_and_si128(low, Set(0x0F)));
    const __m128i x0 = _mm_and_si128(v, m0);
    const __m128i x1 = _mm_or_si128(_mm_and_si128(b1, m1), _mm_and_si128(low, Set(0x30)));
    const __m128i x2 =
        _mm_or_si128(_mm_and_si128(b2, _mm_and_si128(three, Set(0x0F))), _mm_and_si128(low, Set(0x0D)));
    // x2 is at most 0F, so shifting the packed bytes by 4 moves no bit into the next byte.
    lo = _mm_or_si128(_mm_unpacklo_epi8(x0, zero),
                      _mm_or_si128(_mm_slli_epi16(_mm_unpacklo_epi8(x1, zero), 6),
                                   _mm_unpacklo_epi8(zero, _mm_slli_epi16(x2, 4))));
    hi = _mm_or_si128(_mm_unpackhi_epi8(x0, zero),
                      _mm_or_si128(_mm_slli_epi16(_mm_unpackhi_epi8(x1, zero), 6),
                                   _mm_unpackhi_epi8(zero, _mm_slli_epi16(x2, 4))));
    const int highMask = _mm_movemask_epi8(high);
    if (highMask != 0) {
        const __m128i hl = _mm_unpacklo_epi8(high, high), hh = _mm_unpackhi_epi8(high, high);
        lo = _mm_or_si128(
            _mm_andnot_si128(hl, lo),
            _mm_and_si128(hl, HighSurrogates(_mm_unpacklo_epi8(v, zero), _mm_unpacklo_epi8(b1, zero),
                                             _mm_unpacklo_epi8(b2, zero))));
        hi = _mm_or_si128(
            _mm_andnot_si128(hh, hi),
            _mm_and_si128(hh, HighSurrogates(_mm_unpackhi_epi8(v, zero), _mm_unpackhi_epi8(b1, zero),
                                             _mm_unpackhi_epi8(b2, zero))));
    }
    emit = ((~cont & 0xFFFFu) >> 1) | ((nextIsCont ^ 1u) << 15) | static_cast<unsigned>(highMask);
    prev = v;
    return true;
}

// Decode whole blocks from in[i] on while they are well-formed, advancing i and w.
void DecodeBlocksSse2(const unsigned char* in, size_t n, size_t& i, char16_t* out, size_t& w) {
    __m128i prev = _mm_setzero_si128(), lo, hi;
    unsigned emit;
    for (; i + 17 <= n && DecodeBlock(in + i, prev, lo, hi, emit); i += 16)
        w += PackStores()(lo, hi, emit, out + w);
}

[[gnu::target("ssse3")]] void DecodeBlocksSsse3(const unsigned char* in, size_t n, size_t& i, char16_t* out,
                                                size_t& w) {
    __m128i prev = _mm_setzero_si128(), lo, hi;
    unsigned emit;
    for (; i + 17 <= n && DecodeBlock(in + i, prev, lo, hi, emit); i += 16)
        w += PackShuffles()(lo, hi, emit, out + w);
}

#define VANTREL_AVX2 [[gnu::target("avx2"), gnu::always_inline]] inline
VANTREL_AVX2 __m256i Set32(int byte) {
    return _mm256_set1_epi8(static_cast<char>(byte));
}
VANTREL_AVX2 __m256i AtLeast32(__m256i x, int t) {
    return _mm256_cmpeq_epi8(_mm256_max_epu8(x, Set32(t)), x);
}
VANTREL_AVX2 uint32_t Mask32(__m256i x) {
    return static_cast<uint32_t>(_mm256_movemask_epi8(x));
}
// The 16 bytes of one half as 16-bit units.
VANTREL_AVX2 __m256i Widen(__m256i x, bool upper) {
    return _mm256_cvtepu8_epi16(upper ? _mm256_extracti128_si256(x, 1) : _mm256_castsi256_si128(x));
}
// HighSurrogates over 16 positions.
VANTREL_AVX2 __m256i HighSurrogates16(__m256i b0, __m256i b1, __m256i b2) {
    const __m256i bits =
        _mm256_or_si256(_mm256_or_si256(_mm256_slli_epi16(_mm256_and_si256(b2, _mm256_set1_epi16(7)), 8),
                                        _mm256_slli_epi16(_mm256_and_si256(b1, _mm256_set1_epi16(0x3F)), 2)),
                        _mm256_and_si256(_mm256_srli_epi16(b0, 4), _mm256_set1_epi16(3)));
    return _mm256_add_epi16(bits, _mm256_set1_epi16(static_cast<short>(0xD7C0)));
}
VANTREL_AVX2 __m256i Units16(__m256i x0, __m256i x1, __m256i x2, bool upper) {
    return _mm256_or_si256(Widen(x0, upper), _mm256_or_si256(_mm256_slli_epi16(Widen(x1, upper), 6),
                                                             _mm256_slli_epi16(Widen(x2, upper), 12)));
}

// The rule of DecodeBlock over 32 bytes at once (33 readable), where the processor has AVX2. The
// byte shifts across the block edge take the 16 bytes before each half; units come out as two
// runs of 16 in position order.
VANTREL_AVX2 bool DecodeBlock32(const unsigned char* in, __m256i& prev, __m256i& lo, __m256i& hi,
                                uint32_t& emit) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
    const __m256i zero = _mm256_setzero_si256();
    const uint32_t nextIsCont = (in[32] & 0xC0) == 0x80 ? 1u : 0u;
    if (Mask32(v) == 0) {
        lo = Widen(v, false);
        hi = Widen(v, true);
        emit = 0x7FFFFFFFu | ((nextIsCont ^ 1u) << 31);
        prev = v;
        return true;
    }
    // Per half: the 16 bytes before it, then the bytes one, two and three positions back.
    const __m256i before = _mm256_permute2x128_si256(prev, v, 0x21);
    const __m256i b1 = _mm256_alignr_epi8(v, before, 15);
    const __m256i b2 = _mm256_alignr_epi8(v, before, 14);
    const __m256i b3 = _mm256_alignr_epi8(v, before, 13);
    const __m256i nonAscii = _mm256_cmpgt_epi8(zero, v);
    const __m256i lead2 = AtLeast32(v, 0xC0), lead3 = AtLeast32(v, 0xE0), lead4 = AtLeast32(v, 0xF0);
    const uint32_t cont = Mask32(_mm256_andnot_si256(lead2, nonAscii));
    const __m256i b1Lead2 = AtLeast32(b1, 0xC0), b1Lead3 = AtLeast32(b1, 0xE0);
    const __m256i b2Lead3 = AtLeast32(b2, 0xE0), b2Lead4 = AtLeast32(b2, 0xF0);
    const __m256i b3Lead4 = AtLeast32(b3, 0xF0);
    const uint32_t wanted = Mask32(_mm256_or_si256(_mm256_or_si256(b1Lead2, b2Lead3), b3Lead4));
    const uint32_t wantedNext = ((Mask32(lead2) >> 31) | (Mask32(lead3) >> 30) | (Mask32(lead4) >> 29)) & 1u;
    __m256i bad =
        _mm256_or_si256(_mm256_cmpeq_epi8(_mm256_and_si256(v, Set32(0xFE)), Set32(0xC0)), AtLeast32(v, 0xF5));
    const __m256i belowA0 = _mm256_andnot_si256(AtLeast32(v, 0xA0), Set32(0xFF));
    const __m256i below90 = _mm256_andnot_si256(AtLeast32(v, 0x90), Set32(0xFF));
    bad = _mm256_or_si256(bad, _mm256_and_si256(_mm256_cmpeq_epi8(b1, Set32(0xE0)), belowA0));
    bad = _mm256_or_si256(bad, _mm256_andnot_si256(belowA0, _mm256_cmpeq_epi8(b1, Set32(0xED))));
    bad = _mm256_or_si256(bad, _mm256_and_si256(_mm256_cmpeq_epi8(b1, Set32(0xF0)), below90));
    bad = _mm256_or_si256(bad, _mm256_andnot_si256(below90, _mm256_cmpeq_epi8(b1, Set32(0xF4))));
    if ((wanted ^ cont) != 0 || (wantedNext & ~nextIsCont) != 0 || Mask32(bad) != 0) return false;

    const __m256i ascii = _mm256_cmpeq_epi8(nonAscii, zero);
    const __m256i two = _mm256_andnot_si256(b1Lead3, b1Lead2);
    const __m256i three = _mm256_andnot_si256(b2Lead4, b2Lead3);
    const __m256i low = b3Lead4;
    const __m256i high = b2Lead4;
    const __m256i m0 = _mm256_or_si256(Set32(0x3F), _mm256_and_si256(ascii, Set32(0x40)));
    const __m256i m1 = _mm256_or_si256(
        _mm256_or_si256(_mm256_and_si256(two, Set32(0x1F)), _mm256_and_si256(three, Set32(0x3F))),
        _mm256_and_si256(low, Set32(0x0F)));
    const __m256i x0 = _mm256_and_si256(v, m0);
    const __m256i x1 = _mm256_or_si256(_mm256_and_si256(b1, m1), _mm256_and_si256(low, Set32(0x30)));
    const __m256i x2 = _mm256_or_si256(_mm256_and_si256(b2, _mm256_and_si256(three, Set32(0x0F))),
                                       _mm256_and_si256(low, Set32(0x0D)));
    lo = Units16(x0, x1, x2, false);
    hi = Units16(x0, x1, x2, true);
    const uint32_t highMask = Mask32(high);
    if (highMask != 0) {
        const __m256i hl = _mm256_cvtepi8_epi16(_mm256_castsi256_si128(high));
        const __m256i hh = _mm256_cvtepi8_epi16(_mm256_extracti128_si256(high, 1));
        lo =
            _mm256_blendv_epi8(lo, HighSurrogates16(Widen(v, false), Widen(b1, false), Widen(b2, false)), hl);
        hi = _mm256_blendv_epi8(hi, HighSurrogates16(Widen(v, true), Widen(b1, true), Widen(b2, true)), hh);
    }
    emit = (~cont >> 1) | ((nextIsCont ^ 1u) << 31) | highMask;
    prev = v;
    return true;
}

// Stores the emitted units of 16 positions in order (a byte shuffle per eight); returns how many.
VANTREL_AVX2 size_t Pack16(__m256i units, uint32_t emit, char16_t* out) {
    const unsigned first = emit & 0xFFu, second = (emit >> 8) & 0xFFu;
    const __m256i shuffle = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(kPack.shuffle[first]))),
        _mm_load_si128(reinterpret_cast<const __m128i*>(kPack.shuffle[second])), 1);
    const __m256i packed = _mm256_shuffle_epi8(units, shuffle);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(packed));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + kPack.count[first]),
                     _mm256_extracti128_si256(packed, 1));
    return kPack.count[first] + kPack.count[second];
}

[[gnu::target("avx2")]] void DecodeBlocksAvx2(const unsigned char* in, size_t n, size_t& i, char16_t* out,
                                              size_t& w) {
    __m256i prev = _mm256_setzero_si256(), lo, hi;
    uint32_t emit;
    for (; i + 33 <= n && DecodeBlock32(in + i, prev, lo, hi, emit); i += 32) {
        w += Pack16(lo, emit, out + w);
        w += Pack16(hi, emit >> 16, out + w);
    }
    // The rest in blocks of 16, going on from the last 16 bytes decoded.
    __m128i prev16 = _mm256_extracti128_si256(prev, 1), lo16, hi16;
    unsigned emit16;
    for (; i + 17 <= n && DecodeBlock(in + i, prev16, lo16, hi16, emit16); i += 16)
        w += PackShuffles()(lo16, hi16, emit16, out + w);
}

#undef VANTREL_AVX2

// UTF-8 size: per unit, one byte more from U+0080 on and one more from U+0800 on, one less for
// each half of a surrogate pair. The lanes count the units that do NOT add a byte, as -1 each
// (a compare's all-ones); 16-bit lanes hold at most 10,922 steps of -3, so they are summed into
// 32-bit lanes every 8,192 steps.
constexpr size_t kStepsPerSum = 8192;

int64_t Utf8ExtraBytesSse2(const char16_t* text, size_t n, size_t& i) {
    const __m128i below80 = _mm_set1_epi16(0x7F), below800 = _mm_set1_epi16(0x7FF);
    const __m128i surrogateBits = _mm_set1_epi16(static_cast<short>(0xF800));
    const __m128i surrogate = _mm_set1_epi16(static_cast<short>(0xD800));
    const __m128i zero = _mm_setzero_si128();
    int64_t extra = 0;
    while (n - i >= 8) {
        const size_t steps = std::min((n - i) / 8, kStepsPerSum);
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
        extra += 2 * static_cast<int64_t>(steps * 8) + _mm_cvtsi128_si32(sum);
    }
    return extra;
}

[[gnu::target("avx2")]] int64_t Utf8ExtraBytesAvx2(const char16_t* text, size_t n, size_t& i) {
    const __m256i below80 = _mm256_set1_epi16(0x7F), below800 = _mm256_set1_epi16(0x7FF);
    const __m256i surrogateBits = _mm256_set1_epi16(static_cast<short>(0xF800));
    const __m256i surrogate = _mm256_set1_epi16(static_cast<short>(0xD800));
    const __m256i zero = _mm256_setzero_si256();
    int64_t extra = 0;
    while (n - i >= 16) {
        const size_t steps = std::min((n - i) / 16, kStepsPerSum);
        __m256i lanes = zero;
        for (size_t s = 0; s < steps; ++s, i += 16) {
            const __m256i u = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(text + i));
            lanes = _mm256_add_epi16(lanes, _mm256_cmpeq_epi16(_mm256_subs_epu16(u, below80), zero));
            lanes = _mm256_add_epi16(lanes, _mm256_cmpeq_epi16(_mm256_subs_epu16(u, below800), zero));
            lanes =
                _mm256_add_epi16(lanes, _mm256_cmpeq_epi16(_mm256_and_si256(u, surrogateBits), surrogate));
        }
        const __m256i wide = _mm256_madd_epi16(lanes, _mm256_set1_epi16(1));
        __m128i sum = _mm_add_epi32(_mm256_castsi256_si128(wide), _mm256_extracti128_si256(wide, 1));
        sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, 0x4E));
        sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, 0xB1));
        extra += 2 * static_cast<int64_t>(steps * 16) + _mm_cvtsi128_si32(sum);
    }
    return extra;
}

}  // namespace

int64_t Utf8ExtraBytesAny(const char16_t* text, size_t n, size_t& i) {
    static const auto count = __builtin_cpu_supports("avx2") ? Utf8ExtraBytesAvx2 : Utf8ExtraBytesSse2;
    return count(text, n, i);
}

void DecodeBlocksAny(const unsigned char* in, size_t n, size_t& i, char16_t* out, size_t& w) {
    // Chosen once, on first use (after the processor's features are known).
    static const auto blocks = __builtin_cpu_supports("avx2")    ? DecodeBlocksAvx2
                               : __builtin_cpu_supports("ssse3") ? DecodeBlocksSsse3
                                                                 : DecodeBlocksSse2;
    blocks(in, n, i, out, w);
}

}  // namespace vantrel

#endif
