#include "net/TextDecoder.h"

#include <cstdint>
#include <cstring>

#include <sys/mman.h>

#include "core/Text.h"
#include "core/Utf8.h"

namespace vantrel {

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

std::u16string TextDecoder::allocate(size_t units) {
    std::u16string text;
    text.reserve(units);
    // Large pages for a large text: a fraction of the page faults when it is first written.
    if (units * 2 >= (4u << 20)) {
        const auto begin = (reinterpret_cast<uintptr_t>(text.data()) + 4095) & ~uintptr_t{4095};
        const auto end = (reinterpret_cast<uintptr_t>(text.data() + units)) & ~uintptr_t{4095};
        if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
    }
    text.resize(units);
    return text;
}

void TextDecoder::decodeInPlace(std::u16string& text, size_t count, bool utf8) {
    // Both decoders write forward without passing the byte they read, so the text may overwrite
    // its own bytes.
    const char* in = reinterpret_cast<const char*>(text.data()) + text.size();
    const size_t written = utf8 ? DecodeUtf8(in, count, text.data()) : WidenLatin1(in, count, text.data());
    text.resize(written);
}

bool TextDecoder::isUtf8(std::string_view contentType) {
    const std::string charset = charsetOf(contentType);
    return EqualsIgnoreAsciiCase(charset, "UTF-8") || EqualsIgnoreAsciiCase(charset, "UTF8");
}

}  // namespace vantrel
