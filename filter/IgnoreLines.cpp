#include "filter/IgnoreLines.h"

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include "filter/FilterLimits.h"
#include "text/Text.h"

namespace vantrel {
namespace {

std::string Pcre2Message(int code) {
    PCRE2_UCHAR16 buffer[256];
    const int length = pcre2_get_error_message(code, buffer, sizeof buffer / sizeof buffer[0]);
    if (length < 0) return "error " + std::to_string(code);
    return ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(buffer), length));
}

// Unicode properties for \\w, \\d, \\b and case folding: pages are in every language.
constexpr uint32_t kCompileOptions =
    PCRE2_UTF | PCRE2_UCP | PCRE2_MATCH_INVALID_UTF | PCRE2_NEVER_BACKSLASH_C;

// Returns the compiled pattern, or null with `message` set.
pcre2_code* Compile(std::u16string_view pattern, std::string& message) {
    int error = 0;
    PCRE2_SIZE offset = 0;
    // UTF mode over UTF-16; PCRE2_MATCH_INVALID_UTF makes an unpaired surrogate in a page an
    // ordinary non-matching unit instead of an error or undefined behaviour.
    pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(),
                                     kCompileOptions, &error, &offset, nullptr);
    if (!code) message = Pcre2Message(error) + " at character " + std::to_string(offset + 1);
    return code;
}

}  // namespace

std::string IgnoreLines::problem(std::u16string_view pattern) {
    std::string message;
    pcre2_code_free(Compile(pattern, message));
    return message;
}

struct IgnoreLines::Impl {
    std::vector<pcre2_code*> codes;
    pcre2_match_context* matchContext = nullptr;

    ~Impl() {
        for (pcre2_code* code : codes) pcre2_code_free(code);
        pcre2_match_context_free(matchContext);
    }
};

IgnoreLines::IgnoreLines(const std::vector<std::u16string>& patterns) : impl_(std::make_unique<Impl>()) {
    for (size_t i = 0; i < patterns.size(); ++i) {
        std::string message;
        pcre2_code* code = Compile(patterns[i], message);
        if (!code)
            throw FilterError(FilterFailure::Invalid,
                              "Ignore pattern " + std::to_string(i + 1) + ": " + message);
        impl_->codes.push_back(code);
    }
    impl_->matchContext = pcre2_match_context_create(nullptr);
    if (!impl_->matchContext) throw std::bad_alloc();
    pcre2_set_match_limit(impl_->matchContext, limits::kRegexMatchLimit);
    pcre2_set_depth_limit(impl_->matchContext, limits::kRegexDepthLimit);
    pcre2_set_heap_limit(impl_->matchContext, limits::kRegexHeapLimitKiB);
}

IgnoreLines::~IgnoreLines() = default;

std::u16string IgnoreLines::apply(std::u16string_view text, const Deadline& deadline) const {
    std::unique_ptr<pcre2_match_data, void (*)(pcre2_match_data*)> matchData(
        pcre2_match_data_create(1, nullptr), pcre2_match_data_free);
    if (!matchData) throw std::bad_alloc();
    std::u16string out;
    out.reserve(text.size());
    size_t start = 0;
    for (size_t lineNumber = 1; start < text.size(); ++lineNumber) {
        // Every line: one line may use most of a match limit, so a few hundred of them could
        // overrun the budget between looks at the clock.
        deadline.check();
        size_t end = text.find(u'\n', start);
        const size_t next = end == std::u16string_view::npos ? text.size() : end + 1;
        if (end == std::u16string_view::npos) end = text.size();
        if (end > start && text[end - 1] == u'\r') --end;
        const std::u16string_view line = text.substr(start, end - start);
        bool drop = false;
        for (size_t i = 0; i < impl_->codes.size() && !drop; ++i) {
            const int rc = pcre2_match(impl_->codes[i], reinterpret_cast<PCRE2_SPTR>(line.data()),
                                       line.size(), 0, 0, matchData.get(), impl_->matchContext);
            if (rc >= 0) {
                drop = true;
            } else if (rc != PCRE2_ERROR_NOMATCH) {
                throw FilterError(FilterFailure::TooSlow,
                                  "Ignore pattern " + std::to_string(i + 1) + " gave up on line " +
                                      std::to_string(lineNumber) + ": " + Pcre2Message(rc));
            }
        }
        if (!drop) out.append(text.substr(start, next - start));
        start = next;
    }
    deadline.check();
    return out;
}

}  // namespace vantrel
