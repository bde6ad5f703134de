#pragma once
// Bytes to UTF-16: the program's one UTF-8 decoder, its one UTF-8 validator and its one Latin-1
// widening (and the UTF-8 size of a text, counted without encoding it). Every other decoding (page bodies,
// files, URLs) is built on these.
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vantrel {

class TextBuffer;
struct Utf8Kernels;

// Decodes `n` bytes into `out`, which has room for `n` units: a byte never yields more than one
// unit (a four-byte sequence yields a surrogate pair). Each maximal ill-formed subpart becomes one
// U+FFFD; a byte order mark is kept. Returns the units written.
size_t DecodeUtf8(const char* in, size_t n, char16_t* out);
// The same with the blocks of the instruction-set path `path` (text/Utf8Kernels.h), which the
// tests run one by one.
size_t DecodeUtf8(const char* in, size_t n, char16_t* out, const Utf8Kernels& path);

// One unit per byte, 0 to 255. Returns `n`.
size_t WidenLatin1(const char* in, size_t n, char16_t* out);

// The length of the longest prefix of `bytes` that is well-formed UTF-8 (RFC 3629, section 4: no
// overlong forms, no surrogates, nothing above U+10FFFF, no sequence cut off at the end).
size_t ValidUtf8Length(std::string_view bytes);

// The bytes of `text` in UTF-8: one to three per unit, four per surrogate pair (an unpaired
// surrogate counts two), eight units at a time. (A downloaded page's size is counted by its
// decoder as it decodes; this is for texts made afterwards, such as a filtered page.)
int64_t Utf8Length(std::u16string_view text);

// The UTF-8 size of the text of Latin-1 `bytes`: two bytes for each from 0x80 on.
int64_t Latin1Utf8Length(std::string_view bytes);

// DecodeUtf8 over bytes that arrive in pieces: a sequence cut between two pieces is completed
// from the next one, so the text is the same however the bytes were cut.
class Utf8Decoder {
  public:
    // With the processor's fastest path, or with `path`.
    Utf8Decoder();
    explicit Utf8Decoder(const Utf8Kernels& path) : path_(&path) {}

    // Appends the text of `n` more bytes to `out`.
    void decode(const char* in, size_t n, TextBuffer& out);
    // The end of the bytes: a sequence still unfinished becomes one U+FFFD.
    void finish(TextBuffer& out);
    // The UTF-8 size of the text appended so far (as Utf8Length of it would count).
    int64_t utf8Bytes() const { return utf8Bytes_; }

  private:
    const Utf8Kernels* path_;
    unsigned char pending_[3] = {};
    size_t pendingCount_ = 0;
    int64_t utf8Bytes_ = 0;
};

}  // namespace vantrel
