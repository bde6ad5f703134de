#pragma once
// Turns a body's bytes into the page text: UTF-8 when the content type names that charset,
// otherwise one character per byte. One pass into a string sized once.
#include <string>
#include <string_view>

namespace vantrel {

class TextDecoder {
  public:
    // The charset parameter of a "Content-Type" value: after the first "CHARSET" (any case),
    // blanks, one "=" and blanks removed; a quoted value up to its closing quote, otherwise up to
    // the next ";" (blanks before it kept). Empty without one.
    static std::string charsetOf(std::string_view contentType);

    // True when the charset is "UTF-8" or "UTF8" (any case).
    static bool isUtf8(std::string_view contentType);
    // UTF-8 when isUtf8, else Latin-1.
    static std::u16string decode(std::string_view body, std::string_view contentType);

    // A text of `units` characters whose upper half can take `units` raw bytes: a body is read
    // straight into it and decodeInPlace turns it into the text without a second buffer.
    static std::u16string allocate(size_t units);
    // Decodes the `count` bytes stored at byte offset text.size() of `text` into `text` itself.
    static void decodeInPlace(std::u16string& text, size_t count, bool utf8);
};

}  // namespace vantrel
