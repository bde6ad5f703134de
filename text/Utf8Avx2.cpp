// The UTF-8 block decoder for AVX2: 32-byte blocks checked by table look-ups, the rest in the
// 16-byte blocks of the SSSE3 path. Built with -mavx2 (text/CMakeLists.txt), so nothing here may
// call an inline function from elsewhere, the standard library's included: the linker could keep
// this file's copy of it, built for AVX2, for every caller.
#include <immintrin.h>

#include <cstdint>

#include "text/Utf8Block.h"
#include "text/Utf8Kernels.h"

namespace vantrel {

namespace {

[[gnu::always_inline]] inline __m256i Set32(int byte) {
    return _mm256_set1_epi8(static_cast<char>(byte));
}
[[gnu::always_inline]] inline uint32_t Mask32(__m256i x) {
    return static_cast<uint32_t>(_mm256_movemask_epi8(x));
}
// A 16-entry table in both halves: _mm256_shuffle_epi8 looks up within each half.
[[gnu::always_inline]] inline __m256i Table32(const unsigned char (&t)[16]) {
    const __m128i half = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t));
    return _mm256_broadcastsi128_si256(half);
}

// Checking a block takes three table look-ups per byte instead of a compare per rule. Each pair of
// neighbouring bytes is looked up by three nibbles (the high and the low one of the byte before, the
// high one of this byte); each bit below stands for one way a pair is ill-formed (RFC 3629,
// section 4), and a pair is ill-formed where the three entries share a bit.
enum : unsigned char {
    kLeadAlone = 0x01,  // a lead byte before ASCII or another lead
    kStray = 0x02,      // a continuation byte after ASCII
    kOverlong3 = 0x04,  // E0 before 80..9F
    kTooLarge = 0x08,   // F4..FF before 90..BF
    kSurrogate = 0x10,  // ED before A0..BF
    kOverlong2 = 0x20,  // C0 or C1 before a continuation byte
    kBelow90 = 0x40,    // F0 (overlong) or F5..FF (never used) before 80..8F
    kTwoConts = 0x80,   // two continuation bytes: well-formed only where a lead wants a third or fourth
    kAnyLow = kLeadAlone | kStray | kTwoConts,  // these do not depend on the low nibble
};
// The tables, by nibble 0 to F.
// clang-format off
constexpr unsigned char kByHighBefore[16] = {
    kStray, kStray, kStray, kStray, kStray, kStray, kStray, kStray,  // ASCII
    kTwoConts, kTwoConts, kTwoConts, kTwoConts,                      // continuation bytes
    kLeadAlone | kOverlong2,                                         // C0..CF
    kLeadAlone,                                                      // D0..DF
    kLeadAlone | kOverlong3 | kSurrogate,                            // E0..EF
    kLeadAlone | kTooLarge | kBelow90,                               // F0..FF
};
constexpr unsigned char kByLowBefore[16] = {
    kAnyLow | kOverlong3 | kOverlong2 | kBelow90,  // C0, E0, F0
    kAnyLow | kOverlong2,                          // C1
    kAnyLow, kAnyLow,
    kAnyLow | kTooLarge,                           // F4
    kAnyLow | kTooLarge | kBelow90, kAnyLow | kTooLarge | kBelow90, kAnyLow | kTooLarge | kBelow90,
    kAnyLow | kTooLarge | kBelow90, kAnyLow | kTooLarge | kBelow90, kAnyLow | kTooLarge | kBelow90,
    kAnyLow | kTooLarge | kBelow90, kAnyLow | kTooLarge | kBelow90,
    kAnyLow | kTooLarge | kBelow90 | kSurrogate,   // ED
    kAnyLow | kTooLarge | kBelow90, kAnyLow | kTooLarge | kBelow90,
};
constexpr unsigned char kByHigh[16] = {
    kLeadAlone, kLeadAlone, kLeadAlone, kLeadAlone, kLeadAlone, kLeadAlone, kLeadAlone, kLeadAlone,
    kStray | kTwoConts | kOverlong2 | kOverlong3 | kBelow90,   // 80..8F
    kStray | kTwoConts | kOverlong2 | kOverlong3 | kTooLarge,  // 90..9F
    kStray | kTwoConts | kOverlong2 | kSurrogate | kTooLarge,  // A0..AF
    kStray | kTwoConts | kOverlong2 | kSurrogate | kTooLarge,  // B0..BF
    kLeadAlone, kLeadAlone, kLeadAlone, kLeadAlone,            // leads
};
// clang-format on

// All ASCII: one unit per byte, in order.
[[gnu::always_inline]] inline void StoreAscii32(__m256i v, char16_t* out) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_cvtepu8_epi16(_mm256_castsi256_si128(v)));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 16),
                        _mm256_cvtepu8_epi16(_mm256_extracti128_si256(v, 1)));
}

// The constants of DecodeBlock32 (named by value), made once per run of blocks. GCC would
// otherwise build each one anew inside the loop from a general register (three instructions, one
// of them on the shuffle port) rather than keep it; the empty asm hides where a value came from,
// so it is made once and kept in a register or on the stack.
struct Avx2Constants {
    __m256i c0F, c60, c70, c80, c7F, cC0, cE0, cF0, cDC, cD7C0;
    __m256i byHighBefore, byLowBefore, byHigh;
};
[[gnu::always_inline]] inline __m256i Kept(__m256i x) {
    asm("" : "+x"(x));
    return x;
}
[[gnu::always_inline]] inline Avx2Constants MakeAvx2Constants() {
    return {Kept(Set32(0x0F)),
            Kept(Set32(0x60)),
            Kept(Set32(0x70)),
            Kept(Set32(0x80)),
            Kept(Set32(0x7F)),
            Kept(Set32(0xC0)),
            Kept(Set32(0xE0)),
            Kept(Set32(0xF0)),
            Kept(Set32(0xDC)),
            Kept(_mm256_set1_epi16(static_cast<short>(0xD7C0))),
            Kept(Table32(kByHighBefore)),
            Kept(Table32(kByLowBefore)),
            Kept(Table32(kByHigh))};
}

// Decodes the 32 bytes `v` at `in` (33 readable), not all ASCII, when they continue well-formed
// text; b1, b2 and b3 hold the bytes one, two and three positions before each (zeros before the
// start of a run), `next` the bytes one position after. The rule of DecodeBlock, with the units
// built as bytes: `a` gets the units of positions 0-7 and 16-23, `b` those of 8-15 and 24-31 (the
// order of the unpacking instructions, which work within each half), and `emit` the positions
// whose unit belongs to the text.
//
// Each byte of `next` is checked with the one before it, so the last byte of the block is checked
// with the first of the next, and a sequence cut by the block's end goes on with the continuation
// bytes it wants. The first byte of the block was checked with the last block (at the start of a
// run, the caller checks that it is no continuation byte).
[[gnu::always_inline]] inline bool DecodeBlock32(const Avx2Constants& k, __m256i v, __m256i b1, __m256i b2,
                                                 __m256i b3, __m256i next, __m256i& a, __m256i& b,
                                                 uint32_t& emit) {
    const __m256i zero = _mm256_setzero_si256(), low4 = k.c0F;
    const __m256i pairs = _mm256_and_si256(
        _mm256_and_si256(_mm256_shuffle_epi8(k.byHighBefore, _mm256_and_si256(_mm256_srli_epi16(v, 4), low4)),
                         _mm256_shuffle_epi8(k.byLowBefore, _mm256_and_si256(v, low4))),
        _mm256_shuffle_epi8(k.byHigh, _mm256_and_si256(_mm256_srli_epi16(next, 4), low4)));
    // The top bit set where the byte of `next` has a lead two back that wants a third byte (E0 and
    // up) or three back that wants a fourth (F0 and up): exactly there must two continuation bytes
    // meet.
    const __m256i third = _mm256_subs_epu8(b1, k.c60);   // E0 - 80
    const __m256i fourth = _mm256_subs_epu8(b2, k.c70);  // F0 - 80
    const __m256i error = _mm256_xor_si256(pairs, _mm256_and_si256(_mm256_or_si256(third, fourth), k.c80));
    if (!_mm256_testz_si256(error, error)) return false;

    // Each unit as two bytes, from the byte where its character ends (b0) and the two before:
    // low byte: b0's six bits (seven for ASCII) and the last two of b1; high byte: four more of b1,
    // then the four of a three-byte lead two back, or DC for a low surrogate (a four-byte lead three
    // back: DC keeps b1's last two bits and covers the two above them, which belong to the high
    // surrogate). b1 counts only where b0 is no ASCII.
    const __m256i c1 = _mm256_and_si256(b1, _mm256_cmpgt_epi8(zero, v));
    const __m256i lowBytes =
        _mm256_or_si256(_mm256_and_si256(v, k.c7F), _mm256_and_si256(_mm256_slli_epi16(c1, 6), k.cC0));
    // Past E0 in b2: its low nibble (the 16-bit shift carries nothing that the mask keeps).
    const __m256i lead3 = _mm256_and_si256(_mm256_slli_epi16(_mm256_subs_epu8(b2, k.cE0), 4), k.cF0);
    const __m256i lowSurrogate =
        _mm256_and_si256(_mm256_cmpgt_epi8(zero, _mm256_subs_epu8(b3, k.c70)), k.cDC);
    const __m256i highBytes = _mm256_or_si256(
        _mm256_or_si256(_mm256_and_si256(_mm256_srli_epi16(c1, 2), low4), lead3), lowSurrogate);
    a = _mm256_unpacklo_epi8(lowBytes, highBytes);
    b = _mm256_unpackhi_epi8(lowBytes, highBytes);

    // On the third byte of a four-byte sequence (a lead two back: `fourth` above, one position on)
    // the same rule gave the code point shifted right by six; the high surrogate is D800 plus
    // (code point - 10000) shifted right by ten, which is D7C0 plus the code point shifted right by
    // ten.
    const uint32_t highMask = Mask32(fourth);
    if (highMask != 0) {
        a = _mm256_blendv_epi8(a, _mm256_add_epi16(_mm256_srli_epi16(a, 4), k.cD7C0),
                               _mm256_unpacklo_epi8(fourth, fourth));
        b = _mm256_blendv_epi8(b, _mm256_add_epi16(_mm256_srli_epi16(b, 4), k.cD7C0),
                               _mm256_unpackhi_epi8(fourth, fourth));
    }
    // A character ends where the next byte is no continuation byte.
    emit = ~Mask32(_mm256_cmpgt_epi8(k.cC0, next)) | highMask;
    return true;
}

// A shuffle for each half: one row of the pack table each.
[[gnu::always_inline]] inline __m256i PackShuffle(unsigned first, unsigned second) {
    return _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(kPack.shuffle[first]))),
        _mm_load_si128(reinterpret_cast<const __m128i*>(kPack.shuffle[second])), 1);
}

// Stores the emitted units of the 32 positions of DecodeBlock32 in order; returns how many.
[[gnu::always_inline]] inline size_t Pack32(__m256i a, __m256i b, uint32_t emit, char16_t* out) {
    const unsigned e0 = emit & 0xFFu, e1 = (emit >> 8) & 0xFFu, e2 = (emit >> 16) & 0xFFu, e3 = emit >> 24;
    const __m256i pa = _mm256_shuffle_epi8(a, PackShuffle(e0, e2));
    const __m256i pb = _mm256_shuffle_epi8(b, PackShuffle(e1, e3));
    size_t w = 0;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(pa));
    w += kPack.count[e0];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + w), _mm256_castsi256_si128(pb));
    w += kPack.count[e1];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + w), _mm256_extracti128_si256(pa, 1));
    w += kPack.count[e2];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + w), _mm256_extracti128_si256(pb, 1));
    return w + kPack.count[e3];
}

}  // namespace

void DecodeBlocksAvx2(const unsigned char* in, size_t n, size_t& read, char16_t* out, size_t& written) {
    // Counted in locals: a vector store may alias anything, so the compiler would otherwise keep
    // the counts in memory and read them back after every block.
    const size_t begin = read;
    size_t i = read, w = written;
    const Avx2Constants k = MakeAvx2Constants();
    __m256i a, b;
    uint32_t emit;
    for (; i + 33 <= n; i += 32) {
        const unsigned char* block = in + i;
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block));
        if (Mask32(v) == 0) {
            // Whatever came before ended with the last block (it checked this byte). A stray
            // continuation byte next is left to the byte-wise rule, with the byte before it.
            const bool strayNext = (block[32] & 0xC0) == 0x80;
            StoreAscii32(v, out + w);
            w += strayNext ? 31 : 32;
            if (strayNext) {
                i += 32;
                break;
            }
            continue;
        }
        __m256i b1, b2, b3;
        if (i == begin) {
            // Zeros before the run: each half shifted with the 16 bytes before it.
            if ((block[0] & 0xC0) == 0x80) break;
            const __m256i before = _mm256_permute2x128_si256(v, v, 0x08);
            b1 = _mm256_alignr_epi8(v, before, 15);
            b2 = _mm256_alignr_epi8(v, before, 14);
            b3 = _mm256_alignr_epi8(v, before, 13);
        } else {
            // The bytes before were decoded with the last block: read them again, which costs
            // less than shifting them in.
            b1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block - 1));
            b2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block - 2));
            b3 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block - 3));
        }
        const __m256i next = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block + 1));
        if (!DecodeBlock32(k, v, b1, b2, b3, next, a, b, emit)) break;
        w += Pack32(a, b, emit, out + w);
    }
    // The rest in blocks of 16, going on from the last 16 bytes decoded.
    __m128i prev16 =
        i > begin ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i - 16)) : _mm_setzero_si128();
    __m128i lo16, hi16;
    unsigned emit16;
    for (; i + 17 <= n && DecodeBlock(in + i, prev16, lo16, hi16, emit16); i += 16)
        w += PackShuffles()(lo16, hi16, emit16, out + w);
    read = i;
    written = w;
}

}  // namespace vantrel
