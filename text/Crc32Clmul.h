#pragma once
// The CRC-32 register folded 64 bytes at a time with carry-less multiplication, on x86-64
// processors that have it. The same value as the table method.
#include <cstddef>
#include <cstdint>

namespace vantrel {

class Crc32Clmul {
  public:
    // Below this many bytes the table method is as fast.
    static constexpr size_t kMinimumBytes = 64;

    using Fold = uint32_t (*)(const unsigned char* bytes, size_t count, uint32_t crc);
    // update when this processor has carry-less multiplication, else null (asked once, in
    // text/CpuPathsX86.cpp; null on every other processor family).
    static Fold fold();
    // Folds `count` bytes into the register `crc`; `count` must be at least kMinimumBytes and a
    // multiple of 16. Built on x86-64 only; reached through fold().
    static uint32_t update(const unsigned char* bytes, size_t count, uint32_t crc);
};

}  // namespace vantrel
