#pragma once
// One get against a scripted peer, as rows: the response bytes in, the exact request and the text
// or the exact failure out. Replayed whole and cut at random places, and followed by a second page
// on the same connection.
#include <string>
#include <vector>

#include "FetcherTestSupport.h"

namespace vantrel::test {

using namespace std::string_literals;

struct Exchange {
    const char* name;
    std::string response;  // then the peer closes
    std::u16string text;   // expected text, when `error` is empty
    std::string error = {};
    std::u16string url = u"http://h/";
    std::string request = requestHead("/");
};

inline std::vector<Exchange> exchanges() {
    const std::string kOk = "HTTP/1.1 200 OK\r\n";
    return {
        {"ContentLength", kOk + "Content-Length: 5\r\n\r\nhello", u"hello"},
        {"ChunkedBody", kOk + "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n", u"hello"},
        {"ChunkedTwoChunksUpperHex",
         kOk + "Transfer-Encoding: Chunked\r\n\r\n3\r\nabc\r\nA\r\n0123456789\r\n0\r\n\r\n",
         u"abc0123456789"},
        {"ChunkSizeEndsAtFirstSpace", kOk + "Transfer-Encoding: chunked\r\n\r\n5 ;x=y\r\nhello\r\n0\r\n\r\n",
         u"hello"},
        {"ChunkExtensionWithoutSpaceEndsBody",
         kOk + "Transfer-Encoding: chunked\r\n\r\n2\r\nab\r\n5;x=y\r\nhello\r\n0\r\n\r\n", u"ab"},
        {"ChunkedWinsOverContentLength",
         kOk + "Content-Length: 2\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n", u"abc"},
        {"ShortContentLengthKeepsWhatCame", kOk + "Content-Length: 10\r\n\r\nabcd", u"abcd"},
        {"NoLengthReadsUntilClose", kOk + "\r\nall of it", u"all of it"},
        {"ZeroLengthIsEmpty", kOk + "Content-Length: 0\r\n\r\n", u""},
        {"NegativeLengthReadsUntilClose", kOk + "Content-Length: -4\r\n\r\nabc", u"abc"},
        {"FirstContentLengthWins", kOk + "Content-Length: 2\r\nContent-Length: 4\r\n\r\nabcd", u"ab"},
        {"BareLfLineEnds", "HTTP/1.1 200 OK\nContent-Length: 2\n\nab", u"ab"},
        {"HeaderNamesIgnoreCase", kOk + "cONTENT-lENGTH: 2\r\n\r\nabcd", u"ab"},
        {"ContinuationLineJoinsValue",
         kOk + "Content-Type: text/html;\r\n   charset=utf-8\r\nContent-Length: 2\r\n\r\n\xC3\xA9",
         u"\u00E9"},
        {"FoldBeforeFirstFieldIsDropped", kOk + " Content-Length: 1\r\nContent-Length: 2\r\n\r\nabc", u"ab"},
        {"Utf8Charset", kOk + "Content-Type: text/html; charset=UTF-8\r\n\r\n\xC3\xA9t\xC3\xA9",
         u"\u00E9t\u00E9"},
        {"QuotedUtf8Charset", kOk + "Content-Type: text/html; charset=\"utf8\"\r\n\r\n\xC3\xA9", u"\u00E9"},
        {"CharsetWithBlankBeforeSemicolonIsLatin1",
         kOk + "Content-Type: text/html; charset=utf-8 ; x=y\r\n\r\n\xC3\xA9", u"\u00C3\u00A9"},
        {"NoCharsetIsLatin1", kOk + "Content-Type: text/html\r\n\r\n\xC3\xA9", u"\u00C3\u00A9"},
        {"OtherCharsetIsLatin1", kOk + "Content-Type: text/html; charset=windows-1251\r\n\r\n\xE9",
         u"\u00E9"},
        {"BlankBeforeColonHidesContentType", kOk + "Content-Type : text/html; charset=utf-8\r\n\r\n\xC3\xA9",
         u"\u00C3\u00A9"},
        {"ByteOrderMarkKept", kOk + "Content-Type: text/html;charset=utf-8\r\n\r\n\xEF\xBB\xBFx", u"\uFEFFx"},
        {"InvalidUtf8BecomesReplacement",
         kOk + "Content-Type: text/html;charset=utf-8\r\n\r\na\xFF"
               "b\xE2\x82"
               "c\xF0\x9F\x98\x80",
         u"a\uFFFDb\uFFFDc\U0001F600"},
        {"ZeroByteKept", kOk + "Content-Length: 3\r\n\r\na\0b"s, u"a\0b"s},
        {"ContinueHeadSkipped", "HTTP/1.1 100 Continue\r\n\r\n" + kOk + "Content-Length: 2\r\n\r\nok", u"ok"},
        {"NoContentIsEmpty", "HTTP/1.1 204 No Content\r\n\r\n", u""},
        {"NotFoundFails", "HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\n\r\ngone", u"",
         "HTTP/1.1 404 Not Found"},
        {"ServerErrorFails", "HTTP/1.1 500 Oops\r\n\r\n", u"", "HTTP/1.1 500 Oops"},
        {"NotModifiedFails", "HTTP/1.1 304 Not Modified\r\n\r\n", u"", "HTTP/1.1 304 Not Modified"},
        {"SwitchingProtocolsFails", "HTTP/1.1 101 Switching\r\n\r\n", u"", "HTTP/1.1 101 Switching"},
        {"StatusWithoutCodeFails", "garbage\r\n\r\nbody", u"", "garbage"},
        {"StatusLineLatin1InMessage", "HTTP/1.1 403 Verboten \xE9\r\n\r\n", u"",
         "HTTP/1.1 403 Verboten \xC3\xA9"},
        {"CloseBeforeStatusLine", "", u"", "Connection Closed Gracefully."},
        {"CloseInChunkData", kOk + "Transfer-Encoding: chunked\r\n\r\n5\r\nhel", u"",
         "Connection Closed Gracefully."},
        {"CloseBeforeChunkSize", kOk + "Transfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n", u"",
         "Connection Closed Gracefully."},
        {"CloseAfterLastChunkIsFine", kOk + "Transfer-Encoding: chunked\r\n\r\n2\r\nhi\r\n0\r\n", u"hi"},
        {"CloseInHeadEndsHead", kOk + "Content-Length: 5\r\n", u""},
        {"NonAsciiTargetPercentEncoded", kOk + "Content-Length: 0\r\n\r\n", u"", "",
         u"http://h/caf\u00E9/\U0001F600?q=\u00FC", requestHead("/caf%C3%A9/%F0%9F%98%80?q=%C3%BC")},
        {"BlankInTargetSentAsIs", kOk + "Content-Length: 0\r\n\r\n", u"", "", u"http://h/a b.html",
         requestHead("/a b.html")},
        {"PortInHostValue", kOk + "Content-Length: 0\r\n\r\n", u"", "", u"http://h:8080/a/b.html?x=1",
         requestHead("/a/b.html?x=1", "h:8080")},
        {"UserAndPasswordNotSent", kOk + "Content-Length: 0\r\n\r\n", u"", "", u"http://u:p@h:80/",
         requestHead("/", "h")},
    };
}

}  // namespace vantrel::test
