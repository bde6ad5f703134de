#include "store/TextCodec.h"

#include <array>

#include "core/Text.h"

namespace vantrel {
namespace {

// Windows-1252 bytes 80..9F; the undefined 81, 8D, 8F, 90 and 9D keep their own code point,
// as the platform's conversion does.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Length of the well-formed UTF-8 sequence at `pos` (RFC 3629, section 4), 0 when there is none.
size_t SequenceLength(std::string_view bytes, size_t pos) {
    auto at = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const unsigned char lead = at(pos);
    if (lead < 0x80) return 1;
    size_t length;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // overlong
        if (lead == 0xED) high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;   // overlong
        if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
    } else {
        return 0;
    }
    if (bytes.size() - pos < length) return 0;
    if (at(pos + 1) < low || at(pos + 1) > high) return 0;
    for (size_t i = 2; i < length; ++i) {
        if (at(pos + i) < 0x80 || at(pos + i) > 0xBF) return 0;
    }
    return length;
}

void AppendCodePoint(std::u16string& out, char32_t cp) {
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
    } else {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    }
}

// UTF-8 where a sequence is well-formed, Windows-1252 for every other byte.
std::u16string DecodeUtf8(std::string_view bytes) {
    std::u16string out;
    out.reserve(bytes.size());
    size_t pos = 0;
    while (pos < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[pos]);
        if (lead < 0x80) {
            out.push_back(lead);
            ++pos;
            continue;
        }
        const size_t length = SequenceLength(bytes, pos);
        if (length == 0) {
            out.push_back(FromWindows1252(lead));
            ++pos;
            continue;
        }
        char32_t cp = length == 1 ? lead : lead & (0x7F >> length);
        for (size_t i = 1; i < length; ++i)
            cp = (cp << 6) | (static_cast<unsigned char>(bytes[pos + i]) & 0x3F);
        AppendCodePoint(out, cp);
        pos += length;
    }
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

bool IsValidUtf8(std::string_view bytes) {
    size_t pos = 0;
    while (pos < bytes.size()) {
        if (static_cast<unsigned char>(bytes[pos]) < 0x80) {
            ++pos;
            continue;
        }
        const size_t length = SequenceLength(bytes, pos);
        if (length == 0) return false;
        pos += length;
    }
    return true;
}

DecodedText DecodeText(std::string_view bytes) {
    if (bytes.starts_with(kUtf16LeBom)) {
        return {DecodeUtf16Le(bytes.substr(kUtf16LeBom.size())), TextEncoding::Utf16Le};
    }
    if (bytes.starts_with(kUtf8Bom)) {
        return {DecodeUtf8(bytes.substr(kUtf8Bom.size())), TextEncoding::Utf8Bom};
    }
    if (IsValidUtf8(bytes)) return {DecodeUtf8(bytes), TextEncoding::Utf8};
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
