#include "store/TextCodec.h"

#include <array>

#include "text/Text.h"
#include "text/Utf8.h"

namespace vantrel {
namespace {

// Windows-1252 bytes 80..9F; the undefined 81, 8D, 8F, 90 and 9D keep their own code point,
// as the platform's conversion does.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// UTF-8 where a sequence is well-formed, Windows-1252 for every other byte: each well-formed run
// goes through the one decoder, and the byte that breaks it is read alone.
std::u16string DecodeUtf8Or1252(std::string_view bytes) {
    std::u16string out(bytes.size(), u'\0');
    size_t written = 0;
    while (!bytes.empty()) {
        const size_t valid = ValidUtf8Length(bytes);
        written += DecodeUtf8(bytes.data(), valid, out.data() + written);
        if (valid == bytes.size()) break;
        out[written++] = FromWindows1252(static_cast<unsigned char>(bytes[valid]));
        bytes.remove_prefix(valid + 1);
    }
    out.resize(written);
    return out;
}

std::u16string DecodeWindows1252(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    for (char c : bytes) out.push_back(FromWindows1252(static_cast<unsigned char>(c)));
    return out;
}

std::u16string DecodeUtf16Le(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size() / 2);
    // A stray last byte of an odd-sized file is no character and is dropped.
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        out.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                            (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    }
    return out;
}

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LeBom = "\xFF\xFE";

}  // namespace

char16_t FromWindows1252(unsigned char byte) {
    if (byte >= 0x80 && byte <= 0x9F) return kHighControls[byte - 0x80];
    return byte;
}

DecodedText DecodeText(std::string_view bytes) {
    if (bytes.starts_with(kUtf16LeBom)) {
        return {DecodeUtf16Le(bytes.substr(kUtf16LeBom.size())), TextEncoding::Utf16Le};
    }
    if (bytes.starts_with(kUtf8Bom)) {
        return {DecodeUtf8Or1252(bytes.substr(kUtf8Bom.size())), TextEncoding::Utf8Bom};
    }
    if (IsValidUtf8(bytes)) return {FromUtf8(bytes), TextEncoding::Utf8};
    return {DecodeWindows1252(bytes), TextEncoding::Utf8};
}

std::string EncodeText(std::u16string_view text, TextEncoding encoding) {
    std::string out;
    switch (encoding) {
        case TextEncoding::Utf16Le:
            out.reserve(kUtf16LeBom.size() + text.size() * 2);
            out.append(kUtf16LeBom);
            for (char16_t c : text) {
                out.push_back(static_cast<char>(c & 0xFF));
                out.push_back(static_cast<char>(c >> 8));
            }
            return out;
        case TextEncoding::Utf8Bom:
            out.append(kUtf8Bom);
            out.append(ToUtf8(text));
            return out;
        case TextEncoding::Utf8:
            break;
    }
    return ToUtf8(text);
}

}  // namespace vantrel
