// The UTF-8 block decoder for SSSE3: the 16-byte block of the SSE2 path, its units packed with one
// byte shuffle per half. Built with -mssse3 (text/CMakeLists.txt).
#include "text/Utf8Block.h"
#include "text/Utf8Kernels.h"

namespace vantrel {

void DecodeBlocksSsse3(const unsigned char* in, size_t n, size_t& i, char16_t* out, size_t& w) {
    __m128i prev = _mm_setzero_si128(), lo, hi;
    unsigned emit;
    for (; i + 17 <= n && DecodeBlock(in + i, prev, lo, hi, emit); i += 16)
        w += PackShuffles()(lo, hi, emit, out + w);
}

}  // namespace vantrel
