#include "net/TextDecoder.h"

#include "text/Text.h"

namespace vantrel {

namespace {

// Units of buffer always kept between bodies (2 MiB).
constexpr size_t kKeptUnits = 1u << 20;

}  // namespace

std::string TextDecoder::charsetOf(std::string_view contentType) {
    const size_t at = FindIgnoreAsciiCase(contentType, "CHARSET");
    if (at == std::string_view::npos) return {};
    std::string_view rest = TrimBytes(contentType.substr(at + 7));
    if (!rest.empty() && rest.front() == '=') rest = TrimBytes(rest.substr(1));
    if (!rest.empty() && rest.front() == '"') {
        rest.remove_prefix(1);
        return std::string(rest.substr(0, rest.find('"')));
    }
    return std::string(rest.substr(0, rest.find(';')));
}

std::u16string TextDecoder::decode(std::string_view body, std::string_view contentType) {
    return isUtf8(contentType) ? FromUtf8(body) : FromLatin1(body);
}

void TextDecoder::start(bool utf8, const Pieces* pieces) {
    // A buffer far larger than the last text is given back, so that one huge page does not keep
    // its memory for the rest of the run; one of about the same size is kept warm.
    if (text_.capacity() > kKeptUnits && text_.size() < text_.capacity() / 4) {
        text_.release();
    } else {
        text_.clear();
    }
    utf8Decoder_ = Utf8Decoder();
    utf8_ = utf8;
    pieces_ = pieces;
    handedOn_ = 0;
    latin1Utf8Bytes_ = 0;
}

void TextDecoder::releaseText() {
    if (text_.capacity() > kKeptUnits) {
        text_.release();
    } else {
        text_.clear();
    }
}

void TextDecoder::handOn() {
    if (!pieces_ || text_.size() == 0) return;
    (*pieces_)(text_.view());
    handedOn_ += text_.size();
    text_.clear();
}

void TextDecoder::write(const char* bytes, size_t count) {
    if (utf8_) {
        utf8Decoder_.decode(bytes, count, text_);
    } else {
        text_.commit(WidenLatin1(bytes, count, text_.room(count)));
        latin1Utf8Bytes_ += Latin1Utf8Length({bytes, count});
    }
    handOn();
}

std::u16string_view TextDecoder::finish() {
    if (utf8_) utf8Decoder_.finish(text_);
    handOn();
    return text_.view();
}

bool TextDecoder::isUtf8(std::string_view contentType) {
    const std::string charset = charsetOf(contentType);
    return EqualsIgnoreAsciiCase(charset, "UTF-8") || EqualsIgnoreAsciiCase(charset, "UTF8");
}

}  // namespace vantrel
