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
    // update from 0xFFFFFFFF, then complemented.
    static uint32_t checksum(const void* bytes, size_t count);
    // "CRC of a text above is: " + 8 upper-case hex digits of the checksum of the text's
    // UTF-16LE bytes, on any host byte order, in one pass without copying the text.
    static std::u16string checksumText(std::u16string_view text);
};

}  // namespace vantrel
