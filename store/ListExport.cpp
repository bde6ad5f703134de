#include "store/ListExport.h"

#include "core/CheckReport.h"
#include "text/Text.h"

namespace vantrel {

namespace {

std::string XmlEscaped(std::u16string_view text) {
    std::string out;
    for (const char c : ToUtf8(text)) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            // Line breaks in an attribute would come back as blanks (XML 1.0, 3.3.3).
            case '\n':
                out += "&#10;";
                break;
            case '\r':
                out += "&#13;";
                break;
            case '\t':
                out += "&#9;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

// RFC 4180, 2.6 and 2.7: a field with a comma, a quote or a line break is quoted, its quotes
// doubled.
std::string CsvField(std::u16string_view text) {
    const std::string utf8 = ToUtf8(text);
    if (utf8.find_first_of(",\"\r\n") == std::string::npos) return utf8;
    std::string out = "\"";
    for (const char c : utf8) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

// A label or URL on one line of the text form: tabs and line breaks would split it.
std::string OneLine(std::u16string_view text) {
    std::string out = ToUtf8(text);
    for (char& c : out)
        if (c == '\t' || c == '\r' || c == '\n') c = ' ';
    return out;
}

}  // namespace

std::vector<ExportedPage> ExportedPagesOf(const PageList& list) {
    std::vector<ExportedPage> pages;
    pages.reserve(list.size());
    for (const PageEntry& entry : list.entries())
        pages.push_back({entry.label, entry.url(), IntervalMinutes(entry.interval()),
                         StatusInWords(entry.status, ReadStamp(entry.stamp()) != 0)});
    return pages;
}

std::string ExportList(ListFormat format, const std::vector<ExportedPage>& pages) {
    std::string out;
    if (format == ListFormat::Csv) {
        // RFC 4180, 2.1: every record ends with CRLF.
        out = "label,url,interval,status\r\n";
        for (const ExportedPage& page : pages)
            out += CsvField(page.label) + "," + CsvField(page.url) + "," +
                   std::to_string(page.intervalMinutes) + "," + CsvField(page.status) + "\r\n";
    } else if (format == ListFormat::Opml) {
        out =
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<opml version=\"2.0\">\n  <head>\n"
            "    <title>Watched web pages</title>\n  </head>\n  <body>\n";
        for (const ExportedPage& page : pages)
            out += "    <outline type=\"link\" text=\"" + XmlEscaped(page.label) + "\" title=\"" +
                   XmlEscaped(page.label) + "\" htmlUrl=\"" + XmlEscaped(page.url) + "\" interval=\"" +
                   std::to_string(page.intervalMinutes) + "\" status=\"" + XmlEscaped(page.status) + "\"/>\n";
        out += "  </body>\n</opml>\n";
    } else {
        for (const ExportedPage& page : pages) out += OneLine(page.url) + "\t" + OneLine(page.label) + "\n";
    }
    return out;
}

}  // namespace vantrel
