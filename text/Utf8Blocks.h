#pragma once
// The wide-register path of the UTF-8 decoder: whole 16- or 32-byte blocks of well-formed text
// decoded at once (SSE2, SSSE3 or AVX2, chosen once by what the processor has). Anything a block
// cannot decide is left to the byte-wise rule in core/Utf8.cpp.
#include <cstddef>

namespace vantrel {

#if defined(__SSE2__)
// Decodes whole blocks from in[i] on while they are well-formed, advancing `i` (bytes read) and
// `w` (units written to `out`).
void DecodeBlocksAny(const unsigned char* in, size_t n, size_t& i, char16_t* out, size_t& w);
#endif

}  // namespace vantrel
