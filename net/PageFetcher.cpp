#include "net/PageFetcher.h"

#include <chrono>
#include <optional>

#include "net/BodyReader.h"
#include "net/CancelSignal.h"
#include "net/Connection.h"
#include "net/CookieStore.h"
#include "net/HttpLimits.h"
#include "net/HttpRequest.h"
#include "net/HttpResponseReader.h"
#include "net/ProxyTunnel.h"
#include "net/SocketStream.h"
#include "net/TextDecoder.h"
#include "net/TlsStream.h"
#include "net/Url.h"
#include "text/Text.h"

namespace vantrel {

namespace {

using Clock = std::chrono::steady_clock;

bool isCloseValue(std::string_view value) {
    return EqualsIgnoreAsciiCase(TrimBytes(value), "close");
}

// A Location holding raw bytes beyond US-ASCII is taken as UTF-8 when it is valid UTF-8, so
// that it goes out again as the same bytes, percent-encoded.
std::u16string locationText(std::string_view bytes) {
    return IsValidUtf8(bytes) ? FromUtf8(bytes) : FromLatin1(bytes);
}

// The proxy's socket, lent to a Connection that reads the tunnel's answer and handed on to TLS.
class BorrowedStream : public ByteStream {
  public:
    explicit BorrowedStream(ByteStream& stream) : stream_(stream) {}
    ReadResult read(char* buffer, size_t capacity, int waitMs) override {
        return stream_.read(buffer, capacity, waitMs);
    }
    void writeAll(std::string_view bytes, int waitMs) override { stream_.writeAll(bytes, waitMs); }
    void close() override {}

  private:
    ByteStream& stream_;
};

}  // namespace

struct PageFetcher::Impl {
    explicit Impl(FetcherOptions o)
        : options(std::move(o)),
          cookies(options.cookies ? options.cookies : std::make_shared<CookieStore>()) {}

    std::u16string_view get(const std::u16string& url, const TextDecoder::Pieces* pieces = nullptr);
    const ResponseHead& exchange();  // the head in lastHead
    bool prepareConnection();
    const ResponseHead& readHeads();
    // Drops the connection when the server asked to close it or it holds bytes nobody asked
    // for; with `probe`, also polls the socket first for what arrived meanwhile and the peer's
    // close (before a request is sent on it: once per request, where it counts).
    void keepAliveDecision(bool probe);
    void discardBody(const ResponseHead& head, int quickWaitMs);
    void endResponse(const ResponseHead& head, bool exactEnd);
    std::unique_ptr<ByteStream> openStream(const std::string& host, int port, int ipVersion, bool tls);
    std::unique_ptr<ByteStream> openThroughProxy(const ProxyServer& proxy, bool secure, int port);
    std::string requestHead();
    int waitLeft(int wanted) const;
    void takeLargeTurn();
    void dropConnection();

    FetcherOptions options;
    CancelSignal cancel;
    std::shared_ptr<CookieStore> cookies;
    std::unique_lock<std::timed_mutex> largeTurn;  // held while a large body is read
    UrlParts current;
    std::unique_ptr<Connection> connection;
    Connection::Room spareRoom;  // the last connection's buffer, for the next one
    std::optional<ResponseHead> lastHead;
    // Every interim (100) head before the answer was an exact one: a malformed one may be bytes of
    // something else, so the answer's end proves nothing about where the stream stands.
    bool interimExact = true;
    std::shared_ptr<TlsStream::Context> tls;
    TextDecoder decoder;          // holds the text of the last page
    std::string finalStatusLine;  // of the last get's final response
    std::string finalContentType;
    bool decoderUsed = false;  // the last get's text came from the decoder
    RequestOptions request;
    UrlParts origin;                   // the first URL of the get: its credentials go there alone
    const ProxyServer* via = nullptr;  // the proxy of the current connection
    std::string sentHead;              // masked
    std::string sentProxy;
    Clock::time_point deadline;
};

PageFetcher::PageFetcher(FetcherOptions options) : impl_(std::make_unique<Impl>(std::move(options))) {}

PageFetcher::~PageFetcher() = default;

std::u16string PageFetcher::get(const std::u16string& url, std::u16string* statusLine) {
    return std::u16string(fetch(url, statusLine));
}

std::u16string_view PageFetcher::fetch(const std::u16string& url, std::u16string* statusLine) {
    if (statusLine) statusLine->clear();
    const std::u16string_view text = impl_->get(url);
    // Every get that returns has read a final head (redirects past the limit end on the last one).
    if (statusLine && impl_->lastHead) *statusLine = FromLatin1(impl_->lastHead->statusLine);
    return text;
}

const std::string& PageFetcher::lastStatusLine() const {
    return impl_->finalStatusLine;
}

const std::string& PageFetcher::lastContentType() const {
    return impl_->finalContentType;
}

void PageFetcher::releaseText() {
    impl_->decoder.releaseText();
}

int64_t PageFetcher::lastTextUtf8Bytes() const {
    return impl_->decoderUsed ? impl_->decoder.utf8Bytes() : 0;
}

size_t PageFetcher::fetchInPieces(const std::u16string& url,
                                  const std::function<void(std::u16string_view)>& piece) {
    impl_->get(url, &piece);
    // A get that ended without a body of 2xx (a 204, too many redirects) has no text.
    return impl_->decoderUsed ? impl_->decoder.units() : 0;
}

void PageFetcher::setRequestOptions(RequestOptions options) {
    impl_->request = std::move(options);
}

const std::string& PageFetcher::lastRequestHead() const {
    return impl_->sentHead;
}

const std::string& PageFetcher::lastProxy() const {
    return impl_->sentProxy;
}

void PageFetcher::cancel() {
    impl_->cancel.raise();
}

bool PageFetcher::cancelled() const {
    return impl_->cancel.raised();
}

int PageFetcher::Impl::waitLeft(int wanted) const {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) throw FetchError(FetchErrorKind::ReadTimedOut);
    return left < wanted ? static_cast<int>(left) : wanted;
}

void PageFetcher::Impl::keepAliveDecision(bool probe) {
    if (!connection) return;
    const bool closeAsked = lastHead && (isCloseValue(lastHead->value("Connection")) ||
                                         isCloseValue(lastHead->value("Proxy-Connection")));
    // A connection holding bytes nobody asked for would hand them to the next request as its
    // answer: it is never reused.
    const bool usable = probe ? connection->reusable() : connection->open() && connection->unread() == 0;
    if (closeAsked || !usable) dropConnection();
}

void PageFetcher::Impl::dropConnection() {
    // The buffer stays with the fetcher, and so with its worker, until the fetcher ends.
    if (connection) spareRoom = connection->takeRoom();
    connection.reset();
}

std::unique_ptr<ByteStream> PageFetcher::Impl::openStream(const std::string& host, int port, int ipVersion,
                                                          bool secure) {
    if (options.connect) return options.connect(host, port, ipVersion, secure);
    const int wait = waitLeft(options.connectTimeoutMs);
    auto socket = SocketStream::connect(host, port, ipVersion, wait, &cancel);
    if (!secure) return socket;
    if (!tls) tls = TlsStream::makeContext(options.caFile);
    return TlsStream::open(tls, std::move(socket), host, waitLeft(options.connectTimeoutMs));
}

std::unique_ptr<ByteStream> PageFetcher::Impl::openThroughProxy(const ProxyServer& proxy, bool secure,
                                                                int port) {
    const bool literal6 = proxy.host.find(':') != std::string::npos;
    std::unique_ptr<ByteStream> stream;
    try {
        stream = openStream(proxy.host, proxy.port, literal6 ? 6 : 4, false);
    } catch (const FetchError& error) {
        throw ProxyTunnel::failure(error);
    }
    if (!secure) return stream;
    const std::string credentials =
        proxy.user.empty() ? std::string() : BasicCredentials(proxy.user, proxy.password);
    {
        Connection answer(std::make_unique<BorrowedStream>(*stream), {}, &cancel);
        answer.setWaits(options.readTimeoutMs, deadline);
        const std::string host = ToUtf8(current.host);
        ProxyTunnel::open(answer,
                          (current.ipVersion == 6 ? "[" + host + "]" : host) + ":" + std::to_string(port),
                          credentials);
    }
    // TLS runs over the proxy's socket; a test's memory stream has none.
    auto* socket = dynamic_cast<SocketStream*>(stream.get());
    if (!socket) throw FetchError(FetchErrorKind::TlsUnavailable);
    stream.release();
    if (!tls) tls = TlsStream::makeContext(options.caFile);
    return TlsStream::open(tls, std::unique_ptr<SocketStream>(socket), ToUtf8(current.host),
                           waitLeft(options.connectTimeoutMs));
}

bool PageFetcher::Impl::prepareConnection() {
    const bool secure = EqualsIgnoreAsciiCase(current.scheme, u"https");
    const int port = IntFromText(Trim(current.port), 80);
    via = options.proxy.proxyFor(secure, ToUtf8(current.host), port);
    const Connection::Key wanted{current.host, port, current.ipVersion, secure, via ? via->authority() : ""};
    if (connection) {
        const Connection::Key& key = connection->key();
        if (key.ipVersion != wanted.ipVersion || !EqualsIgnoreAsciiCase(key.host, wanted.host) ||
            key.port != port || key.tls != secure || key.proxy != wanted.proxy)
            dropConnection();
    }
    if (secure && !TlsStream::supported()) throw FetchError(FetchErrorKind::TlsUnavailable);
    if (port < 0 || port > 65535) throw FetchError(FetchErrorKind::PortOutOfRange);
    keepAliveDecision(true);
    bool reused = true;
    if (!connection) {
        reused = false;
        auto stream = via ? openThroughProxy(*via, secure, port)
                          : openStream(ToUtf8(current.host), port, current.ipVersion, secure);
        connection = std::make_unique<Connection>(std::move(stream), wanted, &cancel, std::move(spareRoom));
    }
    connection->setWaits(options.readTimeoutMs, deadline);
    return reused;
}

std::string PageFetcher::Impl::requestHead() {
    const bool secure = EqualsIgnoreAsciiCase(current.scheme, u"https");
    const std::u16string cookie = cookies->cookieHeaderFor(current.host, current.path, secure);
    const bool toOrigin = EqualsIgnoreAsciiCase(current.host, origin.host) && current.port == origin.port &&
                          EqualsIgnoreAsciiCase(current.scheme, origin.scheme);
    const std::string authorization =
        toOrigin && !request.user.empty() ? BasicCredentials(request.user, request.password) : std::string();
    // RFC 9112 section 3.2.2: a request to a proxy names the whole URL. Inside a tunnel the
    // request is the server's, as on a direct connection.
    std::u16string target = Url::requestTarget(current);
    std::string proxyAuthorization;
    if (via && !secure) {
        target = u"http://" + Url::hostValue(current) + target;
        if (!via->user.empty()) proxyAuthorization = BasicCredentials(via->user, via->password);
    }
    return HttpRequest::head(target, Url::hostValue(current), cookie, request, authorization,
                             proxyAuthorization);
}

const ResponseHead& PageFetcher::Impl::readHeads() {
    int interim = 0;
    interimExact = true;
    for (;;) {
        std::optional<ResponseHead> head = HttpResponseReader::readHead(*connection);
        if (!head) throw FetchError(FetchErrorKind::ConnectionClosed);
        cookies->storeFrom(head->values("Set-cookie"), head->values("Set-cookie2"), current.host);
        lastHead = std::move(head);
        if (lastHead->statusCode != 100) return *lastHead;
        interimExact = interimExact && lastHead->complete && lastHead->statusLineExact();
        if (++interim > limits::kMaxInterimHeads) throw FetchError(FetchErrorKind::TooManyInterimResponses);
    }
}

const ResponseHead& PageFetcher::Impl::exchange() {
    for (int attempt = 0;; ++attempt) {
        const bool reused = prepareConnection();
        const std::string head = requestHead();
        sentHead = HttpRequest::masked(head);
        sentProxy = via ? via->authority() : std::string();
        const uint64_t before = connection->received();
        try {
            connection->send(head);
            return readHeads();
        } catch (const FetchError& e) {
            // RFC 7230 section 6.3.1: a server may close an idle kept connection just as a request
            // goes out; a GET that got no byte back is retried once on a new connection.
            const bool nothingCame = connection->received() == before;
            const bool lost =
                e.kind() == FetchErrorKind::ConnectionClosed || e.kind() == FetchErrorKind::Socket;
            if (!reused || attempt > 0 || !nothingCame || !lost || cancel.raised()) throw;
            dropConnection();
        }
    }
}

void PageFetcher::Impl::discardBody(const ResponseHead& head, int quickWaitMs) {
    std::string ignored;
    BodyRead how;
    how.quickWaitMs = quickWaitMs;
    how.maxBytes = limits::kMaxDrainBytes;
    how.discard = true;
    endResponse(head, BodyReader::read(*connection, head, ignored, how));
}

// RFC 7230 section 6.3: the next request may go on this connection only when this response ended
// exactly where its head said. Otherwise whatever still comes (the rest of a body whose end was
// unknown, bytes the server sent past it) would be read as the next page's answer. After a final
// 1xx response the connection speaks another protocol or has its real answer still to come.
void PageFetcher::Impl::endResponse(const ResponseHead& head, bool exactEnd) {
    if (!exactEnd || !interimExact || head.statusCode / 100 == 1) connection->close();
}

void PageFetcher::Impl::takeLargeTurn() {
    if (!options.largeBodyTurn || largeTurn.owns_lock()) return;
    std::unique_lock turn(*options.largeBodyTurn, std::defer_lock);
    // Waits in short steps, so that a cancel still ends the get in time.
    while (!turn.try_lock_for(std::chrono::milliseconds(limits::kCancelLatencyMs / 2)))
        cancel.throwIfRaised();
    largeTurn = std::move(turn);
}

std::u16string_view PageFetcher::Impl::get(const std::u16string& url, const TextDecoder::Pieces* pieces) {
    struct TurnEnds {
        std::unique_lock<std::timed_mutex>& turn;
        ~TurnEnds() {
            if (turn.owns_lock()) turn.unlock();
        }
    } turnEnds{largeTurn};
    deadline = Clock::now() + std::chrono::milliseconds(options.getTimeoutMs);
    // A page's URL never resolves against the page fetched before it, which may be on another
    // server: a URL without a scheme fails the same way whatever came before.
    current = UrlParts{};
    decoderUsed = false;
    finalStatusLine.clear();
    finalContentType.clear();
    sentHead.clear();
    sentProxy.clear();
    // A failure by status ends the exchange with the whole response read, so the connection may
    // be kept (when that response ended exactly); it is thrown once that is decided.
    std::optional<FetchError> statusFailure;
    try {
        cancel.throwIfRaised();
        int redirects = 0;
        std::u16string target = url;
        for (;;) {
            if (HttpRequest::hasControlCharacter(target)) throw FetchError(FetchErrorKind::InvalidUrl);
            current = Url::resolve(current, target);
            if (redirects == 0) origin = current;
            // Valid until the next exchange, which only the next turn of the loop makes.
            const ResponseHead& head = exchange();
            // Through a proxy without a tunnel a 407 can only be the proxy's own answer.
            if (via && head.statusCode == 407 && !EqualsIgnoreAsciiCase(current.scheme, u"https"))
                throw ProxyTunnel::refusal(head.statusLine);
            finalStatusLine = head.statusLine;
            finalContentType = head.value("Content-Type");
            const int code = head.statusCode;
            const int kind = code / 100;
            const std::string_view location = head.value("Location");
            if ((kind == 3 && code != 304) || !location.empty()) {
                if (connection->open()) discardBody(head, limits::kRedirectQuickReadMs);
                if (++redirects >= limits::kRedirectLimit) break;
                target = locationText(location);
                continue;
            }
            if (code == 204) {
                discardBody(head, limits::kQuickReadMs);
                break;
            }
            const std::string_view contentType = head.value("Content-Type");
            if (kind == 2) {
                // Decoded as the bytes arrive, into the text kept from the last get.
                decoder.start(TextDecoder::isUtf8(contentType), pieces);
                decoderUsed = true;
                BodyRead how;
                how.beforeLarge = [this] { takeLargeTurn(); };
                endResponse(head, BodyReader::read(*connection, head, decoder, how));
                keepAliveDecision(false);
                return decoder.finish();
            }
            std::string body;
            BodyRead how;
            how.beforeLarge = [this] { takeLargeTurn(); };
            if (kind == 1 || code == 304) how.quickWaitMs = limits::kQuickReadMs;
            endResponse(head, BodyReader::read(*connection, head, body, how));
            statusFailure.emplace(
                FetchError::status(head.statusLine, code, TextDecoder::decode(body, contentType)));
            break;
        }
    } catch (...) {
        // After any other failure the state of the stream is unknown (a late answer may still
        // come): the connection is not kept.
        dropConnection();
        if (cancel.raised()) throw FetchError(FetchErrorKind::Cancelled);
        throw;
    }
    keepAliveDecision(false);
    if (statusFailure) throw *statusFailure;
    return {};
}

}  // namespace vantrel
