// Page bodies and file values reach the text helpers unchecked: decoding must never fail or
// produce broken UTF-16, integers must read back as written, and the fast CRC must equal the
// byte-wise one on any bytes at any alignment.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "text/Crc32.h"
#include "text/Text.h"
#include "text/TextBuffer.h"
#include "text/Utf8.h"

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
    // Bytes arriving in pieces (cut every few bytes, as the first byte says) decode the same.
    vantrel::TextBuffer pieces;
    vantrel::Utf8Decoder decoder;
    const size_t step = size > 0 ? 1 + data[0] % 7 : 1;
    for (size_t at = 0; at < size; at += step)
        decoder.decode(bytes.data() + at, std::min(step, size - at), pieces);
    decoder.finish(pieces);
    Check(pieces.view() == decoded);

    const std::u16string latin = vantrel::FromLatin1(bytes);
    const int32_t narrow = vantrel::IntFromText(latin, 12345);
    if (narrow != 12345) Check(vantrel::IntFromText(vantrel::IntToText(narrow), 12345) == narrow);
    const int64_t wide = vantrel::IntFromText64(latin, 12345);
    if (wide != 12345) Check(vantrel::IntFromText64(vantrel::IntToText(wide), 12345) == wide);

    const size_t skip = size > 0 ? data[0] % 8 : 0;
    if (skip <= size) {
        Check(vantrel::Crc32::update(data + skip, size - skip, 0xFFFFFFFFu) ==
              vantrel::Crc32::updateBytewise(data + skip, size - skip, 0xFFFFFFFFu));
    }
    return 0;
}
