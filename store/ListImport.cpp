#include "store/ListImport.h"

#include "store/StoreLimits.h"
#include "text/Text.h"

namespace vantrel {

namespace {

bool EndsWith(std::string_view name, std::string_view suffix) {
    return name.size() >= suffix.size() &&
           EqualsIgnoreAsciiCase(name.substr(name.size() - suffix.size()), suffix);
}

}  // namespace

ListFormat ListFormatFor(std::string_view fileName, std::string_view bytes) {
    if (EndsWith(fileName, ".opml") || EndsWith(fileName, ".xml")) return ListFormat::Opml;
    if (EndsWith(fileName, ".yaml") || EndsWith(fileName, ".yml")) return ListFormat::Urlwatch;
    if (EndsWith(fileName, ".csv")) return ListFormat::Csv;
    const std::string_view start = TrimBytes(bytes.substr(0, 512));
    if (start.starts_with("\xEF\xBB\xBF<") || start.starts_with("<")) return ListFormat::Opml;
    if (start.starts_with("url:") || start.starts_with("name:") || start.starts_with("---") ||
        bytes.find("\nurl:") != std::string_view::npos)
        return ListFormat::Urlwatch;
    return ListFormat::Text;
}

ImportResult ImportFailure(int line, const std::string& message) {
    ImportResult result;
    result.errorLine = line;
    result.error = "line " + std::to_string(line) + ": " + message;
    return result;
}

ImportResult ImportTextList(std::string_view utf8) {
    if (!IsValidUtf8(utf8)) return ImportFailure(1, "the text is not UTF-8");
    if (utf8.starts_with("\xEF\xBB\xBF")) utf8.remove_prefix(3);
    ImportResult result;
    int lineNumber = 0;
    size_t start = 0;
    while (start < utf8.size()) {
        size_t end = utf8.find('\n', start);
        if (end == std::string_view::npos) end = utf8.size();
        ++lineNumber;
        const std::u16string line = Trim(FromUtf8(utf8.substr(start, end - start)));
        start = end + 1;
        if (line.empty() || line.front() == u'#') continue;
        std::u16string url, label;
        if (const size_t tab = line.find(u'\t'); tab != std::u16string::npos) {
            url = Trim(std::u16string_view(line).substr(0, tab));
            label = Trim(std::u16string_view(line).substr(tab + 1));
        } else if (line.back() == u'>' && line.rfind(u'<') != std::u16string::npos) {
            const size_t open = line.rfind(u'<');
            label = Trim(std::u16string_view(line).substr(0, open));
            url = Trim(std::u16string_view(line).substr(open + 1, line.size() - open - 2));
        } else {
            url = line;
        }
        if (!IsWebAddress(url)) return ImportFailure(lineNumber, "not a web address: " + ToUtf8(url));
        result.pages.push_back({label.empty() ? url : label, url});
    }
    return result;
}

ImportResult ImportList(ListFormat format, std::string_view bytes) {
    if (bytes.size() > static_cast<size_t>(limits::kMaxImportFileBytes))
        return ImportFailure(
            1, "the list is larger than " + std::to_string(limits::kMaxImportFileBytes) + " bytes");
    switch (format) {
        case ListFormat::Opml:
            return ImportOpml(bytes);
        case ListFormat::Urlwatch:
            return ImportUrlwatchJobs(bytes);
        case ListFormat::Csv:
            return ImportFailure(1, "CSV is written by the export only; import it as text");
        case ListFormat::Text:
            break;
    }
    return ImportTextList(bytes);
}

}  // namespace vantrel
