#include "store/ListImport.h"

#include <gtest/gtest.h>

#include "store/ListExport.h"
#include "store/StoreLimits.h"
#include "store/StoreTestSupport.h"

namespace vantrel {
namespace {

std::string Sample(const std::string& name) {
    return test::ReadBytes(std::string(VANTREL_TEST_SOURCE_DIR) + "/store/lists/" + name);
}

ImportResult ImportSample(const std::string& name) {
    const std::string bytes = Sample(name);
    EXPECT_FALSE(bytes.empty()) << name;
    return ImportList(ListFormatFor(name, bytes), bytes);
}

TEST(ListImportTest, TextLinesWithLabelsAfterATabOrBeforeTheAddress) {
    const ImportResult result = ImportSample("pages.txt");
    EXPECT_EQ(result.error, "");
    EXPECT_EQ(result.pages, (std::vector<ImportedPage>{
                                {u"City Gazette", u"https://gazette.example/"},
                                {u"Release notes", u"https://code.example/releases"},
                                {u"HTTP://Weather.example/coast", u"HTTP://Weather.example/coast"},
                            }));
    // CRLF line ends and a byte order mark are what a Windows editor writes.
    EXPECT_EQ(ImportTextList("\xEF\xBB\xBFhttps://a.example/\r\nhttps://b.example/\r\n").pages.size(), 2u);
}

TEST(ListImportTest, MalformedTextNamesItsLineAndAddsNothing) {
    const ImportResult result = ImportSample("pages-no-scheme.txt");
    EXPECT_TRUE(result.pages.empty());
    EXPECT_EQ(result.errorLine, 2);
    EXPECT_EQ(result.error, "line 2: not a web address: www.example.org");
    EXPECT_EQ(ImportTextList("http://\n").error, "line 1: not a web address: http://");
    EXPECT_EQ(ImportTextList("Label <https://a.example/ with blank>").errorLine, 1);
    EXPECT_EQ(ImportTextList("https://a.example/\n\xff\n").error, "line 1: the text is not UTF-8");
}

TEST(ListImportTest, OpmlOutlinesOfAFeedReaderExport) {
    const ImportResult result = ImportSample("feeds.opml");
    EXPECT_EQ(result.error, "");
    EXPECT_EQ(result.pages, (std::vector<ImportedPage>{
                                {u"City Gazette", u"https://gazette.example/"},
                                {u"Harbour & Coast Weather", u"https://weather.example/coast/rss"},
                                {u"Release notes", u"https://code.example/releases"},
                                {u"Town Council Agenda", u"http://council.example/agenda.html"},
                                {u"Bookmarked forecast", u"https://forecast.example/week"},
                            }));
    EXPECT_EQ(result.skipped, 1);  // the note without an address
}

TEST(ListImportTest, MalformedOpmlNamesItsLineAndAddsNothing) {
    ImportResult result = ImportSample("feeds-unclosed.opml");
    EXPECT_TRUE(result.pages.empty());
    EXPECT_EQ(result.errorLine, 6);
    EXPECT_EQ(result.error.rfind("line 6: malformed XML: ", 0), 0u) << result.error;

    result = ImportSample("feeds-bad-address.opml");
    EXPECT_TRUE(result.pages.empty());
    EXPECT_EQ(result.error, "line 5: not a web address: mailto:list@example.org");

    EXPECT_EQ(ImportOpml("<rss version=\"2.0\"><channel/></rss>").error, "line 1: not an OPML document");
    // An entity that would read a file is refused, not read.
    result = ImportOpml(
        "<?xml version=\"1.0\"?><!DOCTYPE opml [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>\n"
        "<opml><body><outline text=\"&x;\" htmlUrl=\"https://a.example/\"/></body></opml>");
    EXPECT_TRUE(result.pages.empty());
    EXPECT_EQ(result.error, "line 2: malformed XML: Attribute references external entity 'x'");
}

TEST(ListImportTest, UrlwatchJobsOfTheDocumentationWithOtherKindsSkipped) {
    const ImportResult result = ImportSample("urls.yaml");
    EXPECT_EQ(result.error, "");
    EXPECT_EQ(result.pages, (std::vector<ImportedPage>{
                                {u"urlwatch webpage", u"https://thp.io/2008/urlwatch/"},
                                {u"https://www.example.org/", u"https://www.example.org/"},
                                {u"Page with a browser", u"https://js.example/app"},
                            }));
    // The command, the local file and the navigate job.
    EXPECT_EQ(result.skipped, 3);
}

TEST(ListImportTest, MalformedUrlwatchJobsNameTheirLineAndAddNothing) {
    ImportResult result = ImportSample("urls-bad-indent.yaml");
    EXPECT_TRUE(result.pages.empty());
    EXPECT_EQ(result.errorLine, 5);
    result = ImportSample("urls-list-job.yaml");
    EXPECT_TRUE(result.pages.empty());
    EXPECT_EQ(result.error, "line 4: a job is a mapping of keys to values");
    EXPECT_EQ(ImportUrlwatchJobs("name: x\nurl: [a, b]\n").error, "line 2: the url is not a text");
    EXPECT_EQ(ImportUrlwatchJobs("name: only a name\n").error,
              "line 1: a job without url, command or navigate");
}

TEST(ListImportTest, AListPastTheSizeLimitIsRefusedWhole) {
    // Comment lines of 1 KiB: a list of the largest size is read whole (in lines that long, as
    // millions of empty ones take minutes in the sanitizer builds), one byte more is refused.
    const size_t limit = static_cast<size_t>(limits::kMaxImportFileBytes);
    const std::string line = '#' + std::string(1022, 'x') + '\n';
    std::string huge;
    huge.reserve(limit + 1);
    while (huge.size() + line.size() <= limit) huge += line;
    ASSERT_EQ(huge.size(), limit);
    EXPECT_EQ(ImportList(ListFormat::Text, huge).error, "");
    huge += '\n';
    EXPECT_EQ(ImportList(ListFormat::Text, huge).error, "line 1: the list is larger than 67108864 bytes");
}

TEST(ListImportTest, FormatFromTheNameOrElseTheContent) {
    EXPECT_EQ(ListFormatFor("Feeds.OPML"), ListFormat::Opml);
    EXPECT_EQ(ListFormatFor("urls.yml"), ListFormat::Urlwatch);
    EXPECT_EQ(ListFormatFor("list.csv"), ListFormat::Csv);
    EXPECT_EQ(ListFormatFor("", "  <?xml version=\"1.0\"?><opml/>"), ListFormat::Opml);
    EXPECT_EQ(ListFormatFor("", "name: a\nurl: https://a.example/\n"), ListFormat::Urlwatch);
    EXPECT_EQ(ListFormatFor("pasted", "https://a.example/\n"), ListFormat::Text);
}

TEST(ListExportTest, EachFormatReadsBackOrQuotesAsRfc4180Says) {
    const std::vector<ExportedPage> pages = {
        {u"Caf\u00e9, \"quoted\"", u"https://a.example/?q=1,2", 5, u"Online"},
        {u"Two\nlines", u"http://b.example/", 1440, u"Not checked yet"},
    };
    EXPECT_EQ(ExportList(ListFormat::Csv, pages),
              "label,url,interval,status\r\n\"Caf\xC3\xA9, "
              "\"\"quoted\"\"\",\"https://a.example/?q=1,2\",5,Online\r\n"
              "\"Two\nlines\",http://b.example/,1440,Not checked yet\r\n");
    const ImportResult text = ImportTextList(ExportList(ListFormat::Text, pages));
    EXPECT_EQ(text.pages, (std::vector<ImportedPage>{{u"Caf\u00e9, \"quoted\"", u"https://a.example/?q=1,2"},
                                                     {u"Two lines", u"http://b.example/"}}));
    const ImportResult opml = ImportOpml(ExportList(ListFormat::Opml, pages));
    EXPECT_EQ(opml.error, "");
    EXPECT_EQ(opml.pages, (std::vector<ImportedPage>{{u"Caf\u00e9, \"quoted\"", u"https://a.example/?q=1,2"},
                                                     {u"Two\nlines", u"http://b.example/"}}));
}

}  // namespace
}  // namespace vantrel
