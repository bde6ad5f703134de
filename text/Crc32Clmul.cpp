// Built on x86-64 only, with -mpclmul -msse4.1 (text/CMakeLists.txt); the processor is asked
// whether it has them in text/CpuPathsX86.cpp.
#include "text/Crc32Clmul.h"

#include <immintrin.h>

namespace vantrel {

namespace {

// One lane folded forward by 128 bits onto the next one.
inline __m128i Fold128(__m128i acc, __m128i next, __m128i k) {
    __m128i low = _mm_clmulepi64_si128(acc, k, 0x00);
    __m128i high = _mm_clmulepi64_si128(acc, k, 0x11);
    return _mm_xor_si128(_mm_xor_si128(high, next), low);
}

}  // namespace

// Folding with carry-less multiplication as in Intel's white paper "Fast CRC Computation for
// Generic Polynomials Using PCLMULQDQ Instruction" (2009): four 128-bit lanes are folded forward
// by 512 bits per step, then into one lane, then reduced to 32 bits (Barrett). The constants are
// the bit-reflected x^n mod P(x) values for the CRC-32 polynomial given there.
uint32_t Crc32Clmul::update(const unsigned char* buf, size_t len, uint32_t crc) {
    alignas(16) static const uint64_t kFold512[] = {0x0154442bd4, 0x01c6e41596};
    alignas(16) static const uint64_t kFold128[] = {0x01751997d0, 0x00ccaa009e};
    alignas(16) static const uint64_t kFold64[] = {0x0163cd6124, 0x0000000000};
    alignas(16) static const uint64_t kBarrett[] = {0x01db710641, 0x01f7011641};

    __m128i x1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x00));
    __m128i x2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x10));
    __m128i x3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x20));
    __m128i x4 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x30));
    x1 = _mm_xor_si128(x1, _mm_cvtsi32_si128(static_cast<int>(crc)));
    __m128i k = _mm_load_si128(reinterpret_cast<const __m128i*>(kFold512));
    buf += 64;
    len -= 64;

    while (len >= 64) {
        __m128i x5 = _mm_clmulepi64_si128(x1, k, 0x00);
        __m128i x6 = _mm_clmulepi64_si128(x2, k, 0x00);
        __m128i x7 = _mm_clmulepi64_si128(x3, k, 0x00);
        __m128i x8 = _mm_clmulepi64_si128(x4, k, 0x00);
        x1 = _mm_clmulepi64_si128(x1, k, 0x11);
        x2 = _mm_clmulepi64_si128(x2, k, 0x11);
        x3 = _mm_clmulepi64_si128(x3, k, 0x11);
        x4 = _mm_clmulepi64_si128(x4, k, 0x11);
        x1 = _mm_xor_si128(_mm_xor_si128(x1, x5),
                           _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x00)));
        x2 = _mm_xor_si128(_mm_xor_si128(x2, x6),
                           _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x10)));
        x3 = _mm_xor_si128(_mm_xor_si128(x3, x7),
                           _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x20)));
        x4 = _mm_xor_si128(_mm_xor_si128(x4, x8),
                           _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x30)));
        buf += 64;
        len -= 64;
    }

    // Four lanes into one.
    k = _mm_load_si128(reinterpret_cast<const __m128i*>(kFold128));
    x1 = Fold128(x1, x2, k);
    x1 = Fold128(x1, x3, k);
    x1 = Fold128(x1, x4, k);
    while (len >= 16) {
        x1 = Fold128(x1, _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf)), k);
        buf += 16;
        len -= 16;
    }

    // 128 bits to 64.
    const __m128i mask32 = _mm_setr_epi32(~0, 0, ~0, 0);
    x2 = _mm_clmulepi64_si128(x1, k, 0x10);
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), x2);
    k = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(kFold64));
    x2 = _mm_srli_si128(x1, 4);
    x1 = _mm_and_si128(x1, mask32);
    x1 = _mm_xor_si128(_mm_clmulepi64_si128(x1, k, 0x00), x2);

    // Barrett reduction to 32 bits.
    k = _mm_load_si128(reinterpret_cast<const __m128i*>(kBarrett));
    x2 = _mm_and_si128(x1, mask32);
    x2 = _mm_clmulepi64_si128(x2, k, 0x10);
    x2 = _mm_and_si128(x2, mask32);
    x2 = _mm_clmulepi64_si128(x2, k, 0x00);
    x1 = _mm_xor_si128(x1, x2);
    return static_cast<uint32_t>(_mm_extract_epi32(x1, 1));
}

}  // namespace vantrel
