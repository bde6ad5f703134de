#include "filter/PageFilter.h"

#include <pthread.h>
#include <time.h>

#include <new>

#include "filter/CssToXPath.h"
#include "filter/HtmlText.h"
#include "filter/IgnoreLines.h"
#include "filter/XPathQuery.h"
#include "text/Text.h"
#include "text/Utf8.h"

namespace vantrel {
namespace {

std::string LimitText(std::chrono::milliseconds limit) {
    const auto ms = limit.count();
    return ms >= 1000 && ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

std::string SelectorXPath(const PageFilterSettings& settings) {
    if (settings.selector.size() > limits::kMaxExpressionLength)
        throw FilterError(
            FilterFailure::Invalid,
            "Selector longer than " + std::to_string(limits::kMaxExpressionLength) + " characters");
    if (settings.selectorKind == SelectorKind::XPath) return ToUtf8(settings.selector);
    try {
        return CssToXPath(settings.selector);
    } catch (const FilterError&) {
        throw;
    } catch (const Error& e) {
        throw FilterError(FilterFailure::Invalid, e.what());
    }
}

std::string TooManyPatterns() {
    return "More than " + std::to_string(limits::kMaxIgnorePatterns) + " ignore patterns";
}

// The size rules of one ignore pattern (number `n`, from 1); empty when it keeps them.
std::string PatternSizeProblem(const std::u16string& pattern, size_t n) {
    const std::string name = "Ignore pattern " + std::to_string(n);
    if (pattern.empty()) return name + " is empty";
    if (pattern.size() > limits::kMaxExpressionLength)
        return name + " is longer than " + std::to_string(limits::kMaxExpressionLength) + " characters";
    return {};
}

void CheckPatternLimits(const std::vector<std::u16string>& patterns) {
    if (patterns.size() > limits::kMaxIgnorePatterns)
        throw FilterError(FilterFailure::Invalid, TooManyPatterns());
    for (size_t i = 0; i < patterns.size(); ++i) {
        const std::string problem = PatternSizeProblem(patterns[i], i + 1);
        if (!problem.empty()) throw FilterError(FilterFailure::Invalid, problem);
    }
}

bool IsBlank(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f';
}

}  // namespace

Deadline::Deadline(std::chrono::milliseconds limit) : limit_(limit) {
    if (pthread_getcpuclockid(pthread_self(), &clock_) != 0) clock_ = CLOCK_THREAD_CPUTIME_ID;
    end_ = used() + limit;
}

std::chrono::nanoseconds Deadline::used() const {
    timespec now{};
    clock_gettime(clock_, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

bool Deadline::expired() const {
    return used() > end_;
}

void Deadline::check() const {
    if (expired()) throw FilterError(FilterFailure::TooSlow, "Filter took longer than " + LimitText(limit_));
}

bool IsHtmlPage(std::u16string_view page, std::string_view contentType) {
    if (!contentType.empty()) {
        std::string type(contentType.substr(0, contentType.find(';')));
        while (!type.empty() && (type.back() == ' ' || type.back() == '\t')) type.pop_back();
        while (!type.empty() && (type.front() == ' ' || type.front() == '\t')) type.erase(0, 1);
        const std::u16string type16 = FromAscii(type);
        return EqualsIgnoreAsciiCase(type16, u"text/html") ||
               EqualsIgnoreAsciiCase(type16, u"application/xhtml+xml");
    }
    // Without a type, only text that opens with markup counts: "<" and then a tag name, "!"
    // (doctype, comment), "?" or "/". Plain text that merely holds a "<" somewhere is left alone.
    size_t i = 0;
    if (i < page.size() && page[i] == u'\uFEFF') ++i;
    while (i < page.size() && IsBlank(page[i])) ++i;
    if (i + 1 >= page.size() || page[i] != u'<') return false;
    const char16_t c = page[i + 1];
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'!' || c == u'?' || c == u'/';
}

std::optional<FilterProblem> ValidateFilters(const PageFilterSettings& settings) {
    using Field = FilterProblem::Field;
    if (!settings.selector.empty()) {
        try {
            const std::string xpath = SelectorXPath(settings);
            std::string message = CheckXPath(xpath);
            if (!message.empty()) return FilterProblem{Field::Selector, 0, std::move(message)};
        } catch (const FilterError& e) {
            return FilterProblem{Field::Selector, 0, e.what()};
        }
    }
    const auto& patterns = settings.ignorePatterns;
    if (patterns.size() > limits::kMaxIgnorePatterns)
        return FilterProblem{Field::IgnorePattern, limits::kMaxIgnorePatterns, TooManyPatterns()};
    for (size_t i = 0; i < patterns.size(); ++i) {
        std::string message = PatternSizeProblem(patterns[i], i + 1);
        if (message.empty()) {
            message = IgnoreLines::problem(patterns[i]);
            if (!message.empty()) message = "Ignore pattern " + std::to_string(i + 1) + ": " + message;
        }
        if (!message.empty()) return FilterProblem{Field::IgnorePattern, i, std::move(message)};
    }
    if (settings.failuresBeforeOffline < kMinFailuresBeforeOffline ||
        settings.failuresBeforeOffline > kMaxFailuresBeforeOffline)
        return FilterProblem{Field::FailuresBeforeOffline, 0,
                             "Failed checks before offline must be from " +
                                 std::to_string(kMinFailuresBeforeOffline) + " to " +
                                 std::to_string(kMaxFailuresBeforeOffline)};
    return std::nullopt;
}

FilterResult ApplyFilters(std::u16string page, const PageFilterSettings& settings,
                          std::string_view contentType, std::chrono::milliseconds timeLimit) {
    FilterResult result;
    if (!settings.filtersText()) {
        result.text = std::move(page);
        return result;
    }
    try {
        const Deadline deadline(timeLimit);
        // One limit for every filter path: the parse, the selection and the ignore patterns each
        // hold copies of the text, so a huge page would cost several times its size. Every code
        // unit is at least one byte of UTF-8: the length alone may already tell.
        constexpr size_t limit = limits::kMaxFilterTextBytes;
        if (page.size() > limit || static_cast<size_t>(Utf8Length(page)) > limit)
            throw FilterError(FilterFailure::TooLarge,
                              "Page too large to filter (over " + std::to_string(limit >> 20) + " MiB)");
        // Patterns first: a bad one fails the check before any time goes into the parse.
        CheckPatternLimits(settings.ignorePatterns);
        const IgnoreLines ignore(settings.ignorePatterns);
        std::u16string text;
        const bool select = !settings.selector.empty();
        if (select || (settings.visibleTextOnly && IsHtmlPage(page, contentType))) {
            const std::string xpath = select ? SelectorXPath(settings) : std::string();
            std::string utf8 = ToUtf8(page);
            page = std::u16string();  // the page's memory is not needed beside its tree
            const HtmlPage html(utf8, &deadline);
            utf8 = std::string();
            deadline.check();
            text = FromUtf8(select ? html.selectedText(xpath, settings.visibleTextOnly, deadline)
                                   : html.visibleText(deadline));
        } else {
            text = std::move(page);
        }
        deadline.check();
        if (!settings.ignorePatterns.empty()) text = ignore.apply(text, deadline);
        if (text.empty()) throw FilterError(FilterFailure::NoText, "Filter left no text");
        result.text = std::move(text);
    } catch (const FilterError& e) {
        result.failure = e.failure();
        result.reason = e.what();
        result.text.clear();
    } catch (const std::bad_alloc&) {
        result.failure = FilterFailure::TooLarge;
        result.reason = "Page too large to filter (out of memory)";
        result.text.clear();
    } catch (const std::exception& e) {
        // Only the system can fail here (a thread that cannot be started): the check fails.
        result.failure = FilterFailure::Unparsable;
        result.reason = std::string("Filter failed: ") + e.what();
        result.text.clear();
    }
    return result;
}

}  // namespace vantrel
