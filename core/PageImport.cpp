#include "core/PageImport.h"

#include <unordered_set>

#include "text/Text.h"

namespace vantrel {

namespace {

bool StartsWithIgnoreCase(std::u16string_view text, std::u16string_view prefix) {
    return text.size() >= prefix.size() && EqualsIgnoreAsciiCase(text.substr(0, prefix.size()), prefix);
}

}  // namespace

bool IsWebAddress(std::u16string_view url) {
    size_t hostStart = 0;
    if (StartsWithIgnoreCase(url, u"http://"))
        hostStart = 7;
    else if (StartsWithIgnoreCase(url, u"https://"))
        hostStart = 8;
    else
        return false;
    if (url.size() == hostStart || url[hostStart] == u'/') return false;
    for (const char16_t c : url)
        if (c <= u' ' || c == 0x7F) return false;
    return true;
}

ImportSelection SelectNewPages(const PageList& list, const std::vector<NewPage>& pages) {
    std::unordered_set<std::u16string> known;
    known.reserve(list.size() + pages.size());
    for (const PageEntry& entry : list.entries()) known.insert(entry.url());
    ImportSelection selection;
    for (const NewPage& page : pages) {
        if (known.insert(Trim(page.url)).second)
            selection.fresh.push_back(page);
        else
            ++selection.duplicates;
    }
    return selection;
}

void AddPages(PageList& list, const std::vector<NewPage>& pages, int intervalIndex) {
    if (pages.empty()) return;
    std::vector<PageEntry> entries;
    entries.reserve(pages.size());
    for (const NewPage& page : pages) {
        PageEntry entry;
        entry.label = Trim(page.label);
        entry.status = PageStatus::Offline;
        entry.columns[kUrl] = Trim(page.url);
        entry.columns[kInterval] = IntToText(intervalIndex);
        entries.push_back(std::move(entry));
    }
    list.insertLoaded(std::move(entries));
}

}  // namespace vantrel
