#include "text/Crc32.h"

#include "text/Crc32Clmul.h"

#include <array>
#include <bit>
#include <cstring>

namespace vantrel {

namespace {

constexpr uint32_t kPolynomial = 0xEDB88320u;

using Table = std::array<std::array<uint32_t, 256>, 8>;

// tables[0] is the classic byte table; tables[k][i] is the register after i went through k more
// zero bytes, which lets eight bytes be folded with eight independent look-ups (slicing-by-8).
constexpr Table MakeTables() {
    Table t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t r = i;
        for (int bit = 0; bit < 8; ++bit) r = (r & 1u) ? (r >> 1) ^ kPolynomial : r >> 1;
        t[0][i] = r;
    }
    for (size_t k = 1; k < 8; ++k) {
        for (size_t i = 0; i < 256; ++i) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFFu];
    }
    return t;
}

constexpr Table kTables = MakeTables();

// Little-endian 32-bit load whatever the host order.
inline uint32_t LoadLe32(const unsigned char* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap32(v);
    return v;
}

inline uint32_t Fold8(uint32_t crc, uint32_t low, uint32_t high) {
    low ^= crc;
    return kTables[7][low & 0xFF] ^ kTables[6][(low >> 8) & 0xFF] ^ kTables[5][(low >> 16) & 0xFF] ^
           kTables[4][low >> 24] ^ kTables[3][high & 0xFF] ^ kTables[2][(high >> 8) & 0xFF] ^
           kTables[1][(high >> 16) & 0xFF] ^ kTables[0][high >> 24];
}

inline uint32_t FoldByte(uint32_t crc, unsigned char b) {
    return kTables[0][(crc ^ b) & 0xFF] ^ (crc >> 8);
}

}  // namespace

uint32_t Crc32::update(const void* bytes, size_t count, uint32_t crc) {
    static const Crc32Clmul::Fold fold = Crc32Clmul::fold();
    const auto* p = static_cast<const unsigned char*>(bytes);
    if (fold != nullptr && count >= Crc32Clmul::kMinimumBytes) {
        // Whole 16-byte blocks by multiplication; the few bytes left by the table.
        const size_t blocks = count & ~size_t{15};
        crc = fold(p, blocks, crc);
        p += blocks;
        count -= blocks;
    }
    return updateTable(p, count, crc);
}

uint32_t Crc32::updateTable(const void* bytes, size_t count, uint32_t crc) {
    const auto* p = static_cast<const unsigned char*>(bytes);
    // Byte-wise up to an 8-byte boundary; unaligned loads would work too, but cost on some hosts.
    while (count > 0 && (reinterpret_cast<uintptr_t>(p) & 7u) != 0) {
        crc = FoldByte(crc, *p++);
        --count;
    }
    while (count >= 8) {
        crc = Fold8(crc, LoadLe32(p), LoadLe32(p + 4));
        p += 8;
        count -= 8;
    }
    while (count > 0) {
        crc = FoldByte(crc, *p++);
        --count;
    }
    return crc;
}

uint32_t Crc32::updateBytewise(const void* bytes, size_t count, uint32_t crc) {
    const auto* p = static_cast<const unsigned char*>(bytes);
    for (size_t i = 0; i < count; ++i) crc = FoldByte(crc, p[i]);
    return crc;
}

uint32_t Crc32::updateUtf16(std::u16string_view text, uint32_t crc) {
    const char16_t* u = text.data();
    size_t n = text.size();
    // Four code units are the eight bytes low, high, low, high: built from the values, so the
    // host's byte order never enters.
    while (n >= 4) {
        uint32_t low = uint32_t{u[0]} | (uint32_t{u[1]} << 16);
        uint32_t high = uint32_t{u[2]} | (uint32_t{u[3]} << 16);
        crc = Fold8(crc, low, high);
        u += 4;
        n -= 4;
    }
    for (; n > 0; --n, ++u) {
        crc = FoldByte(crc, static_cast<unsigned char>(*u & 0xFF));
        crc = FoldByte(crc, static_cast<unsigned char>(*u >> 8));
    }
    return crc;
}

uint32_t Crc32::checksum(const void* bytes, size_t count) {
    return ~update(bytes, count, 0xFFFFFFFFu);
}

void Crc32::TextSum::add(std::u16string_view piece) {
    if constexpr (std::endian::native == std::endian::little) {
        // The text's memory already is its UTF-16LE form.
        crc_ = update(piece.data(), piece.size() * sizeof(char16_t), crc_);
    } else {
        crc_ = updateUtf16(piece, crc_);
    }
}

std::u16string Crc32::TextSum::text() const {
    const uint32_t crc = ~crc_;
    std::u16string out = u"CRC of a text above is: ";
    static constexpr char16_t kHex[] = u"0123456789ABCDEF";
    for (int shift = 28; shift >= 0; shift -= 4) out.push_back(kHex[(crc >> shift) & 0xF]);
    return out;
}

std::u16string Crc32::checksumText(std::u16string_view text) {
    TextSum sum;
    sum.add(text);
    return sum.text();
}

}  // namespace vantrel
