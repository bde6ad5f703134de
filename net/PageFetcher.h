#pragma once
// The program's HTTP/1.1 client: get(url) downloads one page, following redirects, and returns
// its body decoded to text. One connection is kept and reused across gets on one host and port
// while each response on it ends exactly where its head says.
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "net/FetchError.h"
#include "net/HttpLimits.h"
#include "net/ProxySettings.h"
#include "net/RequestOptions.h"

namespace vantrel {

class ByteStream;
class CookieStore;

struct FetcherOptions {
    // Extra trusted CA certificates (PEM) besides the system's store; tests use their own CA.
    std::string caFile;
    // Single wait for incoming data; tests shorten it.
    int readTimeoutMs = limits::kReadTimeoutMs;
    // The fetcher's own bound on a connect and a TLS handshake.
    int connectTimeoutMs = limits::kConnectTimeoutMs;
    // The whole of one get, redirects included; past it the get fails with "Read timed out.".
    int getTimeoutMs = limits::kGetTimeoutMs;
    // Opens the stream for a connection instead of a socket (tests and fuzzers): host (UTF-8),
    // port, IP version, TLS wanted. May throw FetchError like a connect.
    std::function<std::unique_ptr<ByteStream>(const std::string& host, int port, int ipVersion, bool tls)>
        connect;
    // Shared by fetchers that run side by side; each fetcher has a store of its own when null.
    std::shared_ptr<CookieStore> cookies;
    // Shared by fetchers that run side by side: a get holds it from the moment its body grows past
    // BodyRead::largeBytes until the get ends, so at most one such body is read at a time.
    std::shared_ptr<std::timed_mutex> largeBodyTurn;
    // The proxies to go through; none set (the default) connects directly. Plain pages go as
    // absolute-form requests to the proxy (RFC 9112 section 3.2.2), https pages through a CONNECT
    // tunnel whose TLS still names and checks the page's own host.
    ProxySettings proxy;
};

class PageFetcher {
  public:
    explicit PageFetcher(FetcherOptions options = {});
    ~PageFetcher();
    PageFetcher(const PageFetcher&) = delete;
    PageFetcher& operator=(const PageFetcher&) = delete;

    // Returns the decoded body of the final response (possibly empty); throws FetchError.
    // Blocks the calling thread; one call at a time. Every get starts from no URL at all, so
    // `url` needs a scheme ("Unknown Protocol" otherwise); only redirect locations resolve
    // against the URL of the hop before them.
    // With `statusLine`, the final response's status line ("HTTP/1.1 200 OK", bytes above 127 as
    // Latin-1) is stored there when the get returns; it is left empty when the get throws.
    std::u16string get(const std::u16string& url, std::u16string* statusLine = nullptr);
    // The same, without a copy: the text stays in the fetcher's buffer, which the next get
    // reuses; valid until then.
    std::u16string_view fetch(const std::u16string& url, std::u16string* statusLine = nullptr);
    // The same, handing the text to `piece` in order as it is decoded and keeping none of it:
    // a check that needs only the text's checksum never holds the whole text. Returns the
    // text's length in UTF-16 units. A get that fails may have handed on part of its text.
    size_t fetchInPieces(const std::u16string& url, const std::function<void(std::u16string_view)>& piece);
    // The UTF-8 size of the last text fetchInPieces or fetch returned, counted as it was decoded
    // (0 when it returned none).
    int64_t lastTextUtf8Bytes() const;

    // The text fetch returned is no longer needed: it is emptied, and a large page's memory is
    // given back at once rather than at the next get.
    void releaseText();

    // The status line ("HTTP/1.1 200 OK") and the Content-Type value, as received, of the last
    // response the last get read: its final response when the get returned; empty when no
    // response came.
    const std::string& lastStatusLine() const;
    const std::string& lastContentType() const;

    // What every later get adds to its requests (see RequestOptions), until set again.
    void setRequestOptions(RequestOptions options);
    // The head of the last request the last get sent, as the user may see it (credentials and
    // cookie values masked), and the proxy it went through ("host:port", empty when direct).
    const std::string& lastRequestHead() const;
    const std::string& lastProxy() const;

    // Callable from any thread: the get in progress and every later one fail with FetchError
    // ("Cancelled") within 100 ms, and the connection is closed.
    void cancel();
    // True once cancel() was called: work after a get (the filters) stops waiting for its turn.
    bool cancelled() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace vantrel
