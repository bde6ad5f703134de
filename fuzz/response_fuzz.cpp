// Feeds arbitrary bytes as the server's side of one get through the whole fetcher (response head,
// interim heads, redirects, body framing, cookies, decoding), cut at random places with a pause
// after each piece (a poll without waiting sees nothing until a wait comes), as a network delivers
// them, then makes a second get of the same URL. Whatever the first exchange left behind (a kept
// connection, unread bytes, a late answer), the second get must return its own answer and
// nothing of the first response.
//
// The first input byte picks the delivery: bits 0-5 the longest piece and the cuts, bit 6 whether
// the stream closes after the last byte or stays open (reads then time out), bit 7 whether some
// pauses outlast a wait (a quick read gives up on what comes after them). The rest is the response.
#include <cctype>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "net/MemoryStream.h"
#include "net/PageFetcher.h"

using namespace vantrel;

namespace {

// The second answer's body: sixteen 0xFF bytes without a charset, so its text is sixteen U+00FF.
// The first response never holds an 0xFF byte (they are mapped to 0xFE), so no byte of it can
// pass for the marker, and any text other than exactly the marker came from the first response.
const std::string kMarkerBody(16, '\xFF');
const std::string kMarkerResponse = "HTTP/1.1 200 OK\r\nContent-Length: 16\r\n\r\n" + kMarkerBody;

FetcherOptions optionsFor(std::vector<std::shared_ptr<MemoryScript>>& scripts,
                          const std::function<void(MemoryScript&)>& play) {
    FetcherOptions options;
    options.readTimeoutMs = 1000;
    options.connect = [&scripts, play](const std::string&, int, int, bool) -> std::unique_ptr<ByteStream> {
        // Redirects may open more connections (bounded by the redirect limit).
        if (scripts.size() > 40) throw FetchError::socket(ECONNREFUSED);
        auto script = std::make_shared<MemoryScript>();
        play(*script);
        scripts.push_back(script);
        return std::make_unique<MemoryStream>(script);
    };
    return options;
}

// Bytes of the script not yet delivered.
size_t undelivered(const MemoryScript& script) {
    size_t left = 0;
    for (const MemoryScript::Step& step : script.steps)
        if (step.kind == MemoryScript::Step::Bytes) left += step.bytes.size() - step.taken;
    return left;
}

// The framing rule written apart from the fetcher, as a reference: whether `bytes` are
// exactly one response (after any "100 Continue" heads) that ends where its head says, by RFC 7230
// sections 3.3.3 and 4.1, with nothing after it.
class ExactResponse {
  public:
    static bool check(std::string_view bytes) { return ExactResponse(bytes).response(); }

  private:
    explicit ExactResponse(std::string_view bytes) : rest_(bytes) {}

    static bool blank(char c) { return c == ' ' || c == '\t'; }
    static bool lowerEquals(std::string_view a, std::string_view lower) {
        if (a.size() != lower.size()) return false;
        for (size_t i = 0; i < a.size(); ++i)
            if (std::tolower(static_cast<unsigned char>(a[i])) != lower[i]) return false;
        return true;
    }
    static std::string_view trim(std::string_view s) {
        while (!s.empty() && static_cast<unsigned char>(s.front()) <= 32) s.remove_prefix(1);
        while (!s.empty() && static_cast<unsigned char>(s.back()) <= 32) s.remove_suffix(1);
        return s;
    }
    // A line up to LF, without the LF and one CR before it.
    bool line(std::string_view& out) {
        const size_t lf = rest_.find('\n');
        if (lf == std::string_view::npos) return false;
        out = rest_.substr(0, lf > 0 && rest_[lf - 1] == '\r' ? lf - 1 : lf);
        rest_.remove_prefix(lf + 1);
        return true;
    }
    static bool token(std::string_view& s) {
        size_t n = 0;
        while (n < s.size() && (std::isalnum(static_cast<unsigned char>(s[n])) ||
                                std::string_view("!#$%&'*+-.^_`|~").find(s[n]) != std::string_view::npos))
            ++n;
        s.remove_prefix(n);
        return n > 0;
    }
    // 1*HEXDIG *( BWS ";" BWS token [ BWS "=" BWS ( token / quoted-string ) ] ) BWS
    static bool sizeLine(std::string_view s, uint64_t& size) {
        size = 0;
        size_t n = 0;
        for (; n < s.size() && std::isxdigit(static_cast<unsigned char>(s[n])) && size <= INT32_MAX; ++n)
            size = size * 16 +
                   static_cast<uint64_t>(std::isdigit(static_cast<unsigned char>(s[n]))
                                             ? s[n] - '0'
                                             : std::tolower(static_cast<unsigned char>(s[n])) - 'a' + 10);
        if (n == 0 || size > INT32_MAX) return false;
        s.remove_prefix(n);
        const auto skip = [&] {
            while (!s.empty() && blank(s.front())) s.remove_prefix(1);
        };
        for (skip(); !s.empty(); skip()) {
            if (s.front() != ';') return false;
            s.remove_prefix(1);
            skip();
            if (!token(s)) return false;
            skip();
            if (s.empty() || s.front() != '=') continue;
            s.remove_prefix(1);
            skip();
            if (s.starts_with('"')) {
                size_t i = 1;
                while (i < s.size() && s[i] != '"') i += s[i] == '\\' ? 2 : 1;
                if (i >= s.size()) return false;
                s.remove_prefix(i + 1);
            } else if (!token(s)) {
                return false;
            }
        }
        return true;
    }
    bool chunked() {
        for (;;) {
            std::string_view l;
            uint64_t size = 0;
            if (!line(l) || !sizeLine(l, size)) return false;
            if (size == 0) return line(l) && l.empty() && rest_.empty();
            if (rest_.size() < size) return false;
            rest_.remove_prefix(size);
            if (!line(l) || !l.empty()) return false;
        }
    }
    bool response() {
        std::string_view status;
        int code = 100;
        std::vector<std::pair<std::string, std::string>> fields;
        while (code == 100) {
            fields.clear();
            if (!line(status) || status.size() < 12 || !status.starts_with("HTTP/1.1 ") ||
                (status.size() > 12 && status[12] != ' '))
                return false;
            code = 0;
            for (size_t i = 9; i < 12; ++i) {
                if (!std::isdigit(static_cast<unsigned char>(status[i]))) return false;
                code = code * 10 + (status[i] - '0');
            }
            for (std::string_view l; line(l) && !l.empty();) {
                if (blank(l.front())) {
                    if (!fields.empty()) fields.back().second += " " + std::string(trim(l));
                } else {
                    const size_t colon = l.find(':');
                    fields.emplace_back(l.substr(0, colon), colon == std::string_view::npos
                                                                ? std::string()
                                                                : std::string(trim(l.substr(colon + 1))));
                }
            }
        }
        if (code / 100 == 1) return false;
        int encodings = 0, lengths = 0;
        std::string length;
        for (const auto& [name, value] : fields) {
            if (lowerEquals(name, "transfer-encoding")) {
                if (++encodings > 1 || !lowerEquals(value, "chunked")) return false;
            } else if (lowerEquals(name, "content-length")) {
                if (value.empty() || value.find_first_not_of("0123456789") != std::string::npos ||
                    (lengths++ > 0 && value != length))
                    return false;
                length = value;
            }
        }
        if (encodings > 0) return lengths == 0 && code != 204 && code != 304 && chunked();
        const size_t digits = length.find_first_not_of('0');
        const std::string_view significant =
            digits == std::string::npos ? std::string_view() : std::string_view(length).substr(digits);
        if (significant.size() > 10 || (significant.size() == 10 && significant > "2147483647")) return false;
        const uint64_t size = significant.empty() ? 0 : std::stoull(std::string(significant));
        if (code == 204 || code == 304) return size == 0 && rest_.empty();
        return lengths > 0 && rest_.size() == size;
    }

    std::string_view rest_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t longestPiece = 1 + data[0] % 64;
    const bool endsOpen = (data[0] & 0x40) != 0;
    const bool stalls = (data[0] & 0x80) != 0;
    std::string response(reinterpret_cast<const char*>(data + 1), size - 1);
    for (char& c : response) {
        if (c == '\xFF') c = '\xFE';
    }

    std::vector<std::shared_ptr<MemoryScript>> scripts;
    bool secondGet = false;
    PageFetcher fetcher(optionsFor(scripts, [&](MemoryScript& script) {
        if (secondGet) {
            script.feed(kMarkerResponse);
            return;
        }
        // Every connection of the first get plays the same response, cut the same way.
        std::minstd_rand cuts(data[0] + static_cast<unsigned>(size));
        for (size_t at = 0; at < response.size();) {
            const size_t piece = std::uniform_int_distribution<size_t>(1, longestPiece)(cuts);
            script.feed(response.substr(at, piece));
            if (stalls && cuts() % 8 == 0) script.stall();
            script.pause();
            at += piece;
        }
        script.endsOpen = endsOpen;
    }));
    try {
        fetcher.get(u"http://h/");
    } catch (const FetchError&) {
    }

    for (const auto& script : scripts) {
        const size_t left = undelivered(*script);
        if (script->closedByClient || left == 0) continue;
        // A connection kept with bytes still to come after one answer: that answer must have ended
        // exactly before them. Then they are bytes a server sent past its answer's end, which no
        // client can tell from the next answer when they come late; they are dropped.
        if (script->writes == 1 &&
            !ExactResponse::check(std::string_view(response).substr(0, response.size() - left)))
            __builtin_trap();
        script->steps.clear();
    }

    // A connection kept from the first get answers the next request with the marker.
    secondGet = true;
    for (const auto& script : scripts) script->awaitWrite(script->writes + 1).feed(kMarkerResponse);
    std::u16string text;
    try {
        text = fetcher.get(u"http://h/");
    } catch (const FetchError&) {
        __builtin_trap();
    }
    if (text != std::u16string(16, u'\u00FF')) __builtin_trap();
    return 0;
}
