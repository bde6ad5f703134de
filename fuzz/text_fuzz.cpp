// Page bodies and file values reach the text helpers unchecked: decoding must never fail or
// produce broken UTF-16, every instruction-set path must give the same text and counts, integers
// must read back as written, and each CRC path must equal the byte-wise one on any bytes at any
// alignment.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "text/Crc32.h"
#include "text/Crc32Clmul.h"
#include "text/Text.h"
#include "text/TextBuffer.h"
#include "text/Utf8.h"
#include "text/Utf8Kernels.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

bool WellFormedUtf16(const std::u16string& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) return false;
            ++i;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            return false;
        }
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    const std::u16string decoded = vantrel::FromUtf8(bytes);
    Check(WellFormedUtf16(decoded));
    Check(decoded.size() <= size);
    const std::string encoded = vantrel::ToUtf8(decoded);
    Check(vantrel::FromUtf8(encoded) == decoded);
    // Valid input (nothing replaced) survives the round trip byte for byte.
    if (decoded.find(u'\uFFFD') == std::u16string::npos) Check(encoded == bytes);
    Check(vantrel::IsValidUtf8(bytes) == (encoded == bytes));
    const std::u16string latin = vantrel::FromLatin1(bytes);
    const int64_t latinUtf8 = static_cast<int64_t>(vantrel::ToUtf8(latin).size());
    // On every path: the same text, whole or in pieces (cut every few bytes, as the first byte
    // says), and the same counts.
    const size_t step = size > 0 ? 1 + data[0] % 7 : 1;
    for (const vantrel::Utf8Kernels& path : vantrel::Utf8Kernels::all()) {
        std::u16string whole(size, u'\0');
        whole.resize(vantrel::DecodeUtf8(bytes.data(), size, whole.data(), path));
        Check(whole == decoded);
        vantrel::TextBuffer pieces;
        vantrel::Utf8Decoder decoder(path);
        for (size_t at = 0; at < size; at += step)
            decoder.decode(bytes.data() + at, std::min(step, size - at), pieces);
        decoder.finish(pieces);
        Check(pieces.view() == decoded);
        Check(decoder.utf8Bytes() == static_cast<int64_t>(encoded.size()));
        Check(path.utf8Length(decoded.data(), decoded.size()) == static_cast<int64_t>(encoded.size()));
        // The ASCII run the encoder copies: whole eights, ending before an eight with another unit.
        std::string narrow(decoded.size(), '\0');
        const size_t run = path.narrowAscii(decoded.data(), decoded.size(), narrow.data());
        Check(run % 8 == 0 && run <= decoded.size() && encoded.compare(0, run, narrow, 0, run) == 0);
        if (run + 8 <= decoded.size())
            Check(std::any_of(decoded.begin() + run, decoded.begin() + run + 8,
                              [](char16_t u) { return u >= 0x80; }));
        std::u16string widened(size, u'\0');
        path.widenLatin1(data, size, widened.data());
        Check(widened == latin);
        Check(path.latin1Utf8Length(data, size) == latinUtf8);
    }

    const int32_t narrow = vantrel::IntFromText(latin, 12345);
    if (narrow != 12345) Check(vantrel::IntFromText(vantrel::IntToText(narrow), 12345) == narrow);
    const int64_t wide = vantrel::IntFromText64(latin, 12345);
    if (wide != 12345) Check(vantrel::IntFromText64(vantrel::IntToText(wide), 12345) == wide);

    const size_t skip = size > 0 ? data[0] % 8 : 0;
    if (skip <= size) {
        const uint8_t* at = data + skip;
        const size_t count = size - skip;
        const uint32_t expected = vantrel::Crc32::updateBytewise(at, count, 0xFFFFFFFFu);
        Check(vantrel::Crc32::update(at, count, 0xFFFFFFFFu) == expected);
        Check(vantrel::Crc32::updateTable(at, count, 0xFFFFFFFFu) == expected);
        // Carry-less multiplication on its own, over the whole 16-byte blocks it takes.
        const vantrel::Crc32Clmul::Fold fold = vantrel::Crc32Clmul::fold();
        const size_t blocks = count & ~size_t{15};
        if (fold != nullptr && blocks >= vantrel::Crc32Clmul::kMinimumBytes)
            Check(fold(at, blocks, 0xFFFFFFFFu) == vantrel::Crc32::updateBytewise(at, blocks, 0xFFFFFFFFu));
    }
    return 0;
}
