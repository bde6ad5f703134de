#pragma once
// The standard CRC-32 (IEEE 802.3, reflected, polynomial EDB88320) and the stored text form of a
// page's checksum.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vantrel {

class Crc32 {
  public:
    // Folds `count` bytes into `crc` (a count of 0 leaves it unchanged).
    static uint32_t update(const void* bytes, size_t count, uint32_t crc);
    // The same by the table alone, eight bytes a step: the path of processors without
    // carry-less multiplication (text/Crc32Clmul.h), which the tests check on any processor.
    static uint32_t updateTable(const void* bytes, size_t count, uint32_t crc);
    // The same value as update, one table step per byte (the reference the fast path must match).
    static uint32_t updateBytewise(const void* bytes, size_t count, uint32_t crc);
    // Folds the UTF-16LE bytes of `text` into `crc`, built from the code units' values (so it
    // gives the same result on either host byte order).
    static uint32_t updateUtf16(std::u16string_view text, uint32_t crc);
    // update from 0xFFFFFFFF, then complemented.
    static uint32_t checksum(const void* bytes, size_t count);
    // "CRC of a text above is: " + 8 upper-case hex digits of the checksum of the text's
    // UTF-16LE bytes, on any host byte order, in one pass without copying the text.
    static std::u16string checksumText(std::u16string_view text);

    // The same checksum over a text that comes in pieces: add each piece in order, then text().
    class TextSum {
      public:
        void add(std::u16string_view piece);
        std::u16string text() const;

      private:
        uint32_t crc_ = 0xFFFFFFFFu;
    };
};

}  // namespace vantrel
