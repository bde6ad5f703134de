#pragma once
// Writes the page list for other programs: the text form ListImport reads back, OPML, and CSV
// (RFC 4180) with the label, URL, interval and status of each page.
#include <string>
#include <vector>

#include "core/PageList.h"
#include "store/ListImport.h"

namespace vantrel {

struct ExportedPage {
    std::u16string label;
    std::u16string url;
    int intervalMinutes = 0;
    std::u16string status;  // in words: "Online", "Offline", "Not checked yet"
};

// The pages of `list` in its order, their status in the status listing's words.
std::vector<ExportedPage> ExportedPagesOf(const PageList& list);

// UTF-8 text in `format` (Text, Opml or Csv; Urlwatch writes the text form too).
std::string ExportList(ListFormat format, const std::vector<ExportedPage>& pages);

}  // namespace vantrel
