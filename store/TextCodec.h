#pragma once
// Turns the bytes of a text file into UTF-16 text and back, remembering the encoding found so a
// file is written back in the form it was read (UTF-16LE with its byte-order mark, or UTF-8).
#include <string>
#include <string_view>

#include "text/Text.h"

namespace vantrel {

enum class TextEncoding { Utf8, Utf8Bom, Utf16Le };

struct DecodedText {
    std::u16string text;
    // The encoding to write the text back in. An 8-bit file that was not valid UTF-8 (read as
    // Windows-1252) is written back as UTF-8.
    TextEncoding encoding = TextEncoding::Utf8;
};

// Bytes starting with FF FE are UTF-16LE; otherwise UTF-8 (a leading UTF-8 byte-order mark is
// skipped and remembered) when the bytes are valid UTF-8, else Windows-1252. In a file with the
// UTF-8 mark, a byte that is not part of a valid sequence is read as Windows-1252. Never fails.
DecodedText DecodeText(std::string_view bytes);

// The text in the given encoding, with the byte-order mark where the encoding has one.
std::string EncodeText(std::u16string_view text, TextEncoding encoding);

// The character of one Windows-1252 byte; the five undefined bytes map to the same code point.
char16_t FromWindows1252(unsigned char byte);

}  // namespace vantrel
