// The instruction-set paths of a processor family without wide paths of our own: the portable
// kernels alone, and the CRC-32 by its table.
#include "text/Crc32Clmul.h"
#include "text/Utf8Kernels.h"

namespace vantrel {

namespace {

constexpr Utf8Kernels kPortable = {"portable",          DecodeBlocksPortable,
                                   WidenLatin1Portable, Latin1Utf8LengthPortable,
                                   Utf8LengthPortable,  NarrowAsciiPortable};

}  // namespace

std::span<const Utf8Kernels> Utf8Kernels::all() {
    return {&kPortable, 1};
}

const Utf8Kernels& Utf8Kernels::best() {
    return kPortable;
}

Crc32Clmul::Fold Crc32Clmul::fold() {
    return nullptr;
}

}  // namespace vantrel
