#pragma once
// Turns a body's bytes into the page text as they arrive: UTF-8 when the content type names that
// charset, otherwise one character per byte. The text is built in a buffer kept for the next body,
// grown only as bytes come, never cleared before it is written.
#include <functional>
#include <string>
#include <string_view>

#include "net/ByteSink.h"
#include "net/HttpLimits.h"
#include "text/TextBuffer.h"
#include "text/Utf8.h"

namespace vantrel {

class TextDecoder final : public ByteSink {
  public:
    // The charset parameter of a "Content-Type" value: after the first "CHARSET" (any case),
    // blanks, one "=" and blanks removed; a quoted value up to its closing quote, otherwise up to
    // the next ";" (blanks before it kept). Empty without one.
    static std::string charsetOf(std::string_view contentType);

    // True when the charset is "UTF-8" or "UTF8" (any case).
    static bool isUtf8(std::string_view contentType);
    // UTF-8 when isUtf8, else Latin-1; a new string.
    static std::u16string decode(std::string_view body, std::string_view contentType);

    // Receives the text piece by piece, in order; a piece is valid only during the call.
    using Pieces = std::function<void(std::u16string_view)>;

    // Starts a new text (the last one's buffer is reused) from bytes in UTF-8 or Latin-1. With
    // `pieces` (which must outlive the text) each write's text is handed to it and not kept, so
    // the buffer stays the size of one write however large the body.
    void start(bool utf8, const Pieces* pieces = nullptr);
    // Decodes more bytes of the body.
    void write(const char* bytes, size_t count) override;
    // Ends the body and returns its text, valid until the next start (empty with pieces).
    std::u16string_view finish();
    // Units of the text so far, handed on or kept.
    size_t units() const { return handedOn_ + text_.size(); }
    // The text's size in UTF-8 so far, counted as it is decoded.
    int64_t utf8Bytes() const { return utf8_ ? utf8Decoder_.utf8Bytes() : latin1Utf8Bytes_; }

    // Empties the text; room above the size kept warm for the next text is given back.
    void releaseText();

    // Units the buffer holds room for (tests).
    size_t capacity() const { return text_.capacity(); }

  private:
    void handOn();

    // A body holds at most kMaxBodyBytes bytes, and a byte never gives more than one unit.
    TextBuffer text_{limits::kMaxBodyBytes};
    Utf8Decoder utf8Decoder_;
    bool utf8_ = false;
    const Pieces* pieces_ = nullptr;
    size_t handedOn_ = 0;
    int64_t latin1Utf8Bytes_ = 0;
};

}  // namespace vantrel
