#pragma once
// The instruction-set paths of the UTF-8 decoder, the counters and the encoder's ASCII runs. Each
// path's kernels live in a file
// of their own, built with that instruction set's compiler flags (text/CMakeLists.txt); the
// processor's best path is chosen once at run time, and the tests run every path it can.
#include <cstddef>
#include <cstdint>
#include <span>

namespace vantrel {

struct Utf8Kernels {
    // The decoder hands a run to decodeBlocks only while this many bytes are left: a block of 16
    // and the byte after it, which tells whether the block's last character ends there.
    static constexpr size_t kBlockReach = 17;

    const char* name;
    // Decodes whole blocks of well-formed text from in[i] on, advancing `i` (bytes read) and `w`
    // (units written to `out`). A character's unit is written only once a byte that continues no
    // character follows it (and a high surrogate on the third byte of a four-byte sequence), so the
    // byte-wise rule can go on from the start of the character at `i`.
    void (*decodeBlocks)(const unsigned char* in, size_t n, size_t& i, char16_t* out, size_t& w);
    // The counters and the widening of Utf8.h, whole.
    void (*widenLatin1)(const unsigned char* in, size_t n, char16_t* out);
    int64_t (*latin1Utf8Length)(const unsigned char* in, size_t n);
    int64_t (*utf8Length)(const char16_t* text, size_t n);
    // Writes the leading ASCII units of `text` to `out` as bytes, eight at a time, stopping before
    // the first eight that hold another unit (or fewer than eight left); returns the units taken.
    size_t (*narrowAscii)(const char16_t* text, size_t n, char* out);

    // Every path built for this processor family that this processor runs, the portable one
    // first and the fastest last.
    static std::span<const Utf8Kernels> all();
    // The fastest of them, chosen once.
    static const Utf8Kernels& best();
};

// The kernels of each path: text/Utf8Portable.cpp everywhere; text/Utf8Sse2.cpp, Utf8Ssse3.cpp and
// Utf8Avx2.cpp on x86-64 only (where the paths that need no more than SSE2 share its counters).
void DecodeBlocksPortable(const unsigned char* in, size_t n, size_t& i, char16_t* out, size_t& w);
void WidenLatin1Portable(const unsigned char* in, size_t n, char16_t* out);
int64_t Latin1Utf8LengthPortable(const unsigned char* in, size_t n);
int64_t Utf8LengthPortable(const char16_t* text, size_t n);
size_t NarrowAsciiPortable(const char16_t* text, size_t n, char* out);

void DecodeBlocksSse2(const unsigned char* in, size_t n, size_t& i, char16_t* out, size_t& w);
void WidenLatin1Sse2(const unsigned char* in, size_t n, char16_t* out);
int64_t Latin1Utf8LengthSse2(const unsigned char* in, size_t n);
int64_t Utf8LengthSse2(const char16_t* text, size_t n);
size_t NarrowAsciiSse2(const char16_t* text, size_t n, char* out);

void DecodeBlocksSsse3(const unsigned char* in, size_t n, size_t& i, char16_t* out, size_t& w);
void DecodeBlocksAvx2(const unsigned char* in, size_t n, size_t& i, char16_t* out, size_t& w);

}  // namespace vantrel
