#pragma once
// The 16-byte block of the wide UTF-8 decoders, shared by the SSE2, SSSE3 and AVX2 paths. Each
// includes it into a file built with its own instruction set, so everything here has internal
// linkage: a copy built for AVX2 must never stand in for the SSE2 path's (the linker keeps one
// copy of an inline function with external linkage, whichever file it came from).
#include <emmintrin.h>
#include <tmmintrin.h>

#include <cstddef>

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

// The units of the emitting positions packed to the front: for each set of the eight 16-bit lanes
// of a register (a mask), the byte shuffle that moves the chosen lanes to the front in order, and
// how many there are.
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

// Stores the units of the emitting positions in order, with one byte shuffle per half (SSSE3).
struct PackShuffles {
    [[gnu::always_inline]] size_t operator()(__m128i lo, __m128i hi, unsigned emit, char16_t* out) const {
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

}  // namespace
}  // namespace vantrel
