#pragma once
// Adding many pages to the list in one step: the pages of an import that are not in the list
// yet, and the batch that adds them.
#include <string>
#include <vector>

#include "core/PageList.h"

namespace vantrel {

struct NewPage {
    std::u16string label;
    std::u16string url;
    bool operator==(const NewPage&) const = default;
};

struct ImportSelection {
    std::vector<NewPage> fresh;  // in input order
    // Pages whose URL the list already has, or an earlier page of the same input had.
    int duplicates = 0;
};

// Whether `url` is an address the program can watch: http:// or https:// (any case), a host, and
// no blanks or control characters.
bool IsWebAddress(std::u16string_view url);

// URLs are compared as the list keeps them: trimmed, otherwise exactly.
ImportSelection SelectNewPages(const PageList& list, const std::vector<NewPage>& pages);

// Appends `pages` as PageList::add would, each with `intervalIndex`, in one batch: the list's
// observer hears one reset and a sorted list sorts once.
void AddPages(PageList& list, const std::vector<NewPage>& pages, int intervalIndex);

}  // namespace vantrel
