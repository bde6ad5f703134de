// Watched pages reach the filters unchecked, and so do the selectors users type: the first line
// of the input is a selector (CSS, and the same text as XPath), the rest a page. Nothing may
// crash or hang, a failure must carry a reason, and a page without filters must come back as is.
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "filter/PageFilter.h"
#include "text/Text.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

void Run(const std::u16string& page, const vantrel::PageFilterSettings& settings) {
    const vantrel::FilterResult r = vantrel::ApplyFilters(page, settings, {}, std::chrono::milliseconds(200));
    Check(r.ok() == r.reason.empty());
    Check(!r.ok() || !r.text.empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const size_t cut = input.find('\n');
    const std::u16string selector =
        vantrel::FromUtf8(input.substr(0, cut == std::string_view::npos ? 0 : cut));
    const std::u16string page =
        vantrel::FromUtf8(cut == std::string_view::npos ? input : input.substr(cut + 1));

    vantrel::PageFilterSettings settings;
    Check(vantrel::ApplyFilters(page, settings).text == page);

    settings.visibleTextOnly = true;
    settings.ignorePatterns = {u"^\\s*\\d+\\s*$"};
    Run(page, settings);
    settings.selector = selector;
    Run(page, settings);
    settings.selectorKind = vantrel::SelectorKind::XPath;
    vantrel::ValidateFilters(settings);
    Run(page, settings);
    return 0;
}
