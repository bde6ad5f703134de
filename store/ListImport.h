#pragma once
// Reads lists of pages written by other programs or by hand: plain text with one address per
// line, OPML as feed readers and bookmark tools export it, and urlwatch's jobs file (YAML). Each
// reader either returns every page of the input or, for malformed input, none and the line at
// fault.
#include <string>
#include <string_view>
#include <vector>

#include "core/PageImport.h"

namespace vantrel {

using ImportedPage = NewPage;

struct ImportResult {
    std::vector<ImportedPage> pages;  // in input order; empty when `error` is set
    // Entries of the input that are not web pages and were left out: outlines without an
    // address, urlwatch jobs that run a command or watch a file.
    int skipped = 0;
    // Empty when the input was read; else one line, "line 12: not a web address: ftp://x".
    std::string error;
    int errorLine = 0;  // 1-based; 0 when `error` is empty
};

enum class ListFormat { Text, Opml, Urlwatch, Csv };

// The format a file of that name holds: ".opml"/".xml" OPML, ".yaml"/".yml" urlwatch jobs,
// ".csv" CSV (export only), anything else text. For an import without a telling name `bytes`
// decide: "<" at the start is OPML, a "url:" key urlwatch jobs.
ListFormat ListFormatFor(std::string_view fileName, std::string_view bytes = {});

// One page per line: "URL", "URL<TAB>label" or "label <URL>". Blank lines and lines starting
// with "#" are passed over. A URL is an http or https address without blanks.
ImportResult ImportTextList(std::string_view utf8);
// Every <outline> under <body> with an htmlUrl (preferred: the page itself) or an xmlUrl
// (the feed), or a "url" (OPML 2.0's links); its title or text is the label.
ImportResult ImportOpml(std::string_view bytes);
// Each YAML document of the file is one job; a job with an http(s) "url" is a page labelled by
// its "name". Jobs with "command" or "navigate" or another kind of URL are skipped.
ImportResult ImportUrlwatchJobs(std::string_view utf8);
// Any of the above by `format`; input larger than limits::kMaxImportFileBytes is refused.
ImportResult ImportList(ListFormat format, std::string_view bytes);

// The result for malformed input at `line`.
ImportResult ImportFailure(int line, const std::string& message);

}  // namespace vantrel
