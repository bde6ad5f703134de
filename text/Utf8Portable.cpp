// The UTF-8 kernels in plain C++, for any processor: the path where no wider one is built, and
// the tail after the wide blocks of the others.
#include <cstring>

#include "text/Utf8Kernels.h"

namespace vantrel {

void DecodeBlocksPortable(const unsigned char* in, size_t n, size_t& i, char16_t* out, size_t& w) {
    // Pages are mostly ASCII: eight such bytes at a time, while the byte after them is no
    // continuation byte (a stray one is left to the byte-wise rule with the byte before it).
    for (uint64_t block; i + 9 <= n; i += 8, w += 8) {
        std::memcpy(&block, in + i, 8);
        if ((block & 0x8080808080808080ull) != 0 || (in[i + 8] & 0xC0) == 0x80) break;
        for (size_t k = 0; k < 8; ++k) out[w + k] = in[i + k];
    }
}

void WidenLatin1Portable(const unsigned char* in, size_t n, char16_t* out) {
    for (size_t i = 0; i < n; ++i) out[i] = in[i];
}

int64_t Latin1Utf8LengthPortable(const unsigned char* in, size_t n) {
    int64_t length = static_cast<int64_t>(n);
    for (size_t i = 0; i < n; ++i) length += in[i] >> 7;
    return length;
}

int64_t Utf8LengthPortable(const char16_t* text, size_t n) {
    int64_t bytes = static_cast<int64_t>(n);
    for (size_t i = 0; i < n; ++i) {
        const char16_t unit = text[i];
        bytes += (unit >= 0x80) + (unit >= 0x800) - ((unit & 0xF800) == 0xD800);
    }
    return bytes;
}

size_t NarrowAsciiPortable(const char16_t* text, size_t n, char* out) {
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        char16_t any = 0;
        for (size_t k = 0; k < 8; ++k) any |= text[i + k];
        if (any >= 0x80) break;
        for (size_t k = 0; k < 8; ++k) out[i + k] = static_cast<char>(text[i + k]);
    }
    return i;
}

}  // namespace vantrel
