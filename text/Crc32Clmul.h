#pragma once
// The CRC-32 register folded 64 bytes at a time with carry-less multiplication, on x86-64
// processors that have it (checked once at run time). The same value as the table method.
#include <cstddef>
#include <cstdint>

namespace vantrel {

class Crc32Clmul {
  public:
    // Below this many bytes the table method is as fast.
    static constexpr size_t kMinimumBytes = 64;

    static bool available();
    // Folds `count` bytes into the register `crc`; `count` must be at least kMinimumBytes and a
    // multiple of 16. Only to be called when available().
    static uint32_t update(const unsigned char* bytes, size_t count, uint32_t crc);
};

}  // namespace vantrel
