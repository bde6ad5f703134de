#pragma once
// A page's filter settings as the user sets them: what the check cycle and the history keep and
// pass on. Only this header of the filter folder is visible to the layers that do not filter
// (the cycle, the history); the engine that applies the settings is filter/PageFilter.h.
#include <string>
#include <vector>

#include "filter/RequestSettings.h"

namespace vantrel {

// "Report offline after N failed checks in a row": the range of N.
inline constexpr int kMinFailuresBeforeOffline = 1;
inline constexpr int kMaxFailuresBeforeOffline = 5;

enum class SelectorKind { Css, XPath };

struct PageFilterSettings {
    std::u16string selector;  // empty: the whole page
    SelectorKind selectorKind = SelectorKind::Css;
    bool visibleTextOnly = false;
    std::vector<std::u16string> ignorePatterns;  // PCRE2 syntax
    // "Report offline after N failed checks in a row": kept with the filters, applied by the
    // check cycle, not by the filters.
    int failuresBeforeOffline = kMinFailuresBeforeOffline;
    // How the page is asked for: kept and passed on with the filters, never used by them.
    PageRequestSettings request;

    // True when any of the three text filters is set.
    bool filtersText() const { return !selector.empty() || visibleTextOnly || !ignorePatterns.empty(); }
    friend bool operator==(const PageFilterSettings&, const PageFilterSettings&) = default;
};

}  // namespace vantrel
