#include "text/Utf8.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "text/TextBuffer.h"
#include "text/Utf8Kernels.h"

namespace vantrel {

namespace {

constexpr char32_t kInvalid = 0x110000;

// The rule of UTF-8, in one place: decodes the sequence starting with the non-ASCII byte in[0].
// Returns the bytes consumed and stores the code point, or kInvalid for a maximal ill-formed
// subpart (Unicode 15, 3.9 D93b), which is consumed whole and becomes one U+FFFD: overlong forms,
// encoded surrogates and values above U+10FFFF are rejected at their second byte. `cut` tells
// that the subpart was still well-formed when the bytes ran out, so more bytes could complete it.
size_t DecodeSequence(const unsigned char* in, size_t n, char32_t& cp, bool& cut) {
    const unsigned char b0 = in[0];
    cp = kInvalid;
    cut = false;
    size_t length;
    unsigned char lo = 0x80, hi = 0xBF;  // range of the second byte
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2;
        cp = b0 & 0x1Fu;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3;
        cp = b0 & 0x0Fu;
        if (b0 == 0xE0) lo = 0xA0;  // overlong
        if (b0 == 0xED) hi = 0x9F;  // surrogates
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4;
        cp = b0 & 0x07u;
        if (b0 == 0xF0) lo = 0x90;  // overlong
        if (b0 == 0xF4) hi = 0x8F;  // above U+10FFFF
    } else {
        cp = kInvalid;
        return 1;
    }
    for (size_t k = 1; k < length; ++k) {
        if (k == n) {
            cut = true;
            cp = kInvalid;
            return k;
        }
        if (in[k] < lo || in[k] > hi) {
            cp = kInvalid;
            return k;
        }
        cp = (cp << 6) | (in[k] & 0x3Fu);
        lo = 0x80;
        hi = 0xBF;
    }
    return length;
}

size_t PutCodePoint(char32_t cp, char16_t* out) {
    if (cp == kInvalid) {
        *out = u'\uFFFD';
        return 1;
    }
    if (cp < 0x10000) {
        *out = static_cast<char16_t>(cp);
        return 1;
    }
    cp -= 0x10000;
    out[0] = static_cast<char16_t>(0xD800 + (cp >> 10));
    out[1] = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    return 2;
}

// Decodes from `in` until the bytes end or, unless `final`, until a sequence is cut off by the
// end, with the block decoder of `path`. Returns the bytes consumed; `written` receives the units
// stored (at most one per byte), and `utf8Bytes` grows by the size of their text in UTF-8: the
// bytes consumed, but three for each U+FFFD that took the place of an ill-formed subpart.
size_t Decode(const Utf8Kernels& path, const unsigned char* in, size_t n, char16_t* out, size_t& written,
              int64_t& utf8Bytes, bool final) {
    size_t i = 0, w = 0;
    int64_t replaced = 0;  // UTF-8 bytes the replacements add (or save) against what they took
    while (i < n) {
        // Whole well-formed blocks at once; the byte-wise rule does the rest.
        if (i + Utf8Kernels::kBlockReach <= n) {
            const size_t begin = i;
            path.decodeBlocks(in, n, i, out, w);
            // The blocks stop inside a character or before one: the byte-wise rule takes over at
            // its start, and a high surrogate already emitted for it is taken back.
            size_t start = i;
            while (start > begin && i - start < 4 && (in[start] & 0xC0) == 0x80) --start;
            if (start < i && in[start] >= 0xF0 && i - start >= 3) --w;
            i = start;
        }
        if (i == n) break;
        if (in[i] < 0x80) {
            out[w++] = in[i++];
            continue;
        }
        char32_t cp;
        bool cut;
        const size_t length = DecodeSequence(in + i, n - i, cp, cut);
        if (cut && !final) break;
        i += length;
        w += PutCodePoint(cp, out + w);
        if (cp == kInvalid) replaced += 3 - static_cast<int64_t>(length);
    }
    written = w;
    utf8Bytes += static_cast<int64_t>(i) + replaced;
    return i;
}

}  // namespace

size_t DecodeUtf8(const char* bytes, size_t n, char16_t* out, const Utf8Kernels& path) {
    size_t written;
    int64_t utf8Bytes = 0;
    Decode(path, reinterpret_cast<const unsigned char*>(bytes), n, out, written, utf8Bytes, true);
    return written;
}

size_t DecodeUtf8(const char* bytes, size_t n, char16_t* out) {
    return DecodeUtf8(bytes, n, out, Utf8Kernels::best());
}

size_t WidenLatin1(const char* bytes, size_t n, char16_t* out) {
    Utf8Kernels::best().widenLatin1(reinterpret_cast<const unsigned char*>(bytes), n, out);
    return n;
}

int64_t Latin1Utf8Length(std::string_view bytes) {
    return Utf8Kernels::best().latin1Utf8Length(reinterpret_cast<const unsigned char*>(bytes.data()),
                                                bytes.size());
}

int64_t Utf8Length(std::u16string_view text) {
    return Utf8Kernels::best().utf8Length(text.data(), text.size());
}

size_t ValidUtf8Length(std::string_view bytes) {
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
    const size_t n = bytes.size();
    size_t i = 0;
    while (i < n) {
        if (in[i] < 0x80) {
            ++i;
            continue;
        }
        char32_t cp;
        bool cut;
        const size_t length = DecodeSequence(in + i, n - i, cp, cut);
        if (cp == kInvalid) break;
        i += length;
    }
    return i;
}

Utf8Decoder::Utf8Decoder() : path_(&Utf8Kernels::best()) {}

void Utf8Decoder::decode(const char* bytes, size_t n, TextBuffer& out) {
    const auto* in = reinterpret_cast<const unsigned char*>(bytes);
    if (pendingCount_ > 0) {
        // The cut sequence with the next few bytes: it ends within them, or all of them join it.
        unsigned char joined[6];
        const size_t taken = std::min<size_t>(n, 3);
        std::memcpy(joined, pending_, pendingCount_);
        std::memcpy(joined + pendingCount_, in, taken);
        const size_t length = pendingCount_ + taken;
        size_t written;
        const size_t used = Decode(*path_, joined, length, out.room(length), written, utf8Bytes_, false);
        out.commit(written);
        if (used < pendingCount_) {
            // Still cut: these bytes were all the input, and they are all kept.
            std::memmove(pending_, joined + used, length - used);
            pendingCount_ = length - used;
            return;
        }
        in += used - pendingCount_;
        n -= used - pendingCount_;
        pendingCount_ = 0;
    }
    size_t written;
    const size_t used = Decode(*path_, in, n, out.room(n), written, utf8Bytes_, false);
    out.commit(written);
    pendingCount_ = n - used;
    std::memcpy(pending_, in + used, pendingCount_);
}

void Utf8Decoder::finish(TextBuffer& out) {
    if (pendingCount_ > 0) {
        size_t written;
        Decode(*path_, pending_, pendingCount_, out.room(pendingCount_), written, utf8Bytes_, true);
        out.commit(written);
    }
    pendingCount_ = 0;
}

}  // namespace vantrel
