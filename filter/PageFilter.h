#pragma once
// A page's filters and their application to its decoded text before the checksum: first the
// part of the page a CSS selector or XPath expression selects, then its visible text only, then
// without the lines that match any ignore pattern. A page without filters is left untouched.
#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "filter/FilterError.h"
#include "filter/FilterLimits.h"
#include "filter/FilterSettings.h"

namespace vantrel {

// What is wrong with a setting, for the settings window to point at and show.
struct FilterProblem {
    enum class Field { Selector, IgnorePattern, FailuresBeforeOffline };
    Field field = Field::Selector;
    size_t index = 0;     // the ignore pattern's position, from 0
    std::string message;  // the parser's message (UTF-8), e.g. "XPath: Invalid expression at character 3"
};

// The first problem in the settings (selector, then patterns in order, then the failure count),
// or nullopt when they can be saved.
std::optional<FilterProblem> ValidateFilters(const PageFilterSettings& settings);

struct FilterResult {
    FilterFailure failure = FilterFailure::None;
    std::u16string text;  // the text to checksum when ok()
    std::string reason;   // why the check fails (UTF-8), e.g. "Filter matched nothing"
    bool ok() const { return failure == FilterFailure::None; }
};

// Applies the filters to the page text. `contentType` is the response's Content-Type value when
// the caller knows it: "visible text only" leaves a page that is not HTML (by that type, or when
// it is unknown, by the text not starting with markup) exactly as it is. A selector always
// parses the page as HTML. Never throws for anything the page or the settings hold; empty
// filtered text is a failure (NoText), as is going past `timeLimit`.
FilterResult ApplyFilters(std::u16string page, const PageFilterSettings& settings,
                          std::string_view contentType = {},
                          std::chrono::milliseconds timeLimit = limits::kFilterTimeLimit);

// Whether "visible text only" treats the page as HTML (see ApplyFilters).
bool IsHtmlPage(std::u16string_view page, std::string_view contentType);

}  // namespace vantrel
