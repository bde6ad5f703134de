// The instruction-set paths of x86-64, and the one place that asks the processor which it runs.
// Each path's kernels are built in a file of their own with its compiler flags; this file is
// built for the baseline, so it runs on any x86-64 processor.
#include "text/Crc32Clmul.h"
#include "text/Utf8Kernels.h"

namespace vantrel {

namespace {

// Portable first, then each instruction set after the one it extends. The paths after SSE2 change
// only the block decoder.
constexpr Utf8Kernels kUtf8Paths[] = {
    {"portable", DecodeBlocksPortable, WidenLatin1Portable, Latin1Utf8LengthPortable, Utf8LengthPortable,
     NarrowAsciiPortable},
    {"sse2", DecodeBlocksSse2, WidenLatin1Sse2, Latin1Utf8LengthSse2, Utf8LengthSse2, NarrowAsciiSse2},
    {"ssse3", DecodeBlocksSsse3, WidenLatin1Sse2, Latin1Utf8LengthSse2, Utf8LengthSse2, NarrowAsciiSse2},
    {"avx2", DecodeBlocksAvx2, WidenLatin1Sse2, Latin1Utf8LengthSse2, Utf8LengthSse2, NarrowAsciiSse2},
};

}  // namespace

std::span<const Utf8Kernels> Utf8Kernels::all() {
    // SSE2 is part of x86-64; the AVX2 path also uses SSSE3's shuffles.
    static const size_t count = !__builtin_cpu_supports("ssse3")  ? 2
                                : !__builtin_cpu_supports("avx2") ? 3
                                                                  : 4;
    return {kUtf8Paths, count};
}

const Utf8Kernels& Utf8Kernels::best() {
    static const Utf8Kernels& path = all().back();
    return path;
}

Crc32Clmul::Fold Crc32Clmul::fold() {
    const bool has = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    return has ? &Crc32Clmul::update : nullptr;
}

}  // namespace vantrel
