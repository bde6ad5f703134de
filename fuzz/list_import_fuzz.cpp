// Reads arbitrary bytes as each kind of list (text, OPML, urlwatch jobs): a reader either yields
// pages and no error, or an error on a line of the input and no pages; and the pages it yields
// come back the same through the text form of the export.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "store/ListExport.h"
#include "store/ListImport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vantrel;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    for (const ListFormat format : {ListFormat::Text, ListFormat::Opml, ListFormat::Urlwatch}) {
        const ImportResult result = ImportList(format, bytes);
        if (!result.error.empty() ? (!result.pages.empty() || result.errorLine < 1) : result.errorLine != 0) {
            std::fprintf(stderr, "pages and an error at once, or an error without its line\n");
            abort();
        }
        std::vector<ExportedPage> pages;
        for (const ImportedPage& page : result.pages) {
            if (!IsWebAddress(page.url)) abort();
            pages.push_back({page.label, page.url, 5, u"Online"});
        }
        const ImportResult again = ImportTextList(ExportList(ListFormat::Text, pages));
        if (!again.error.empty() || again.pages.size() != pages.size()) {
            std::fprintf(stderr, "the text export of the pages does not read back: %s\n",
                         again.error.c_str());
            abort();
        }
    }
    return 0;
}
