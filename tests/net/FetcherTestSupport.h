#pragma once
// Shared by the fetcher tests: memory peers handed out in order as the fetcher connects, and the
// exact request head the fetcher is expected to send.
#include <cerrno>
#include <deque>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "net/MemoryStream.h"
#include "net/PageFetcher.h"

namespace vantrel::test {

inline std::string requestHead(const std::string& target, const std::string& host = "h",
                               const std::string& cookie = "") {
    std::string r = "GET " + target + " HTTP/1.1\r\nContent-Type: text/html\r\nHost: " + host +
                    "\r\nAccept: */*\r\nAccept-Encoding: identity\r\n"
                    "User-Agent: Mozilla/4.0 (compatible; MSIE 5.00; Windows 98)\r\n";
    if (!cookie.empty()) r += "Cookie: " + cookie + "\r\n";
    return r + "\r\n";
}

// Feeds `bytes` whole, or cut at a few random places when `rng` is given.
inline void feedSplit(MemoryScript& script, const std::string& bytes, std::mt19937* rng) {
    if (!rng || bytes.size() < 2) {
        script.feed(bytes);
        return;
    }
    std::vector<size_t> cuts;
    const int count = std::uniform_int_distribution<int>(1, 8)(*rng);
    for (int i = 0; i < count; ++i)
        cuts.push_back(std::uniform_int_distribution<size_t>(1, bytes.size() - 1)(*rng));
    std::sort(cuts.begin(), cuts.end());
    size_t at = 0;
    for (size_t cut : cuts) {
        if (cut > at) script.feed(bytes.substr(at, cut - at));
        at = cut;
    }
    script.feed(bytes.substr(at));
}

struct Opened {
    std::string host;
    int port;
    int ipVersion;
    bool tls;
};

// Connections the fetcher opens get these scripts in order; past the last one a connect is
// refused.
class MemoryPeers {
  public:
    std::shared_ptr<MemoryScript> add() {
        scripts.push_back(std::make_shared<MemoryScript>());
        return scripts.back();
    }
    FetcherOptions options(int readTimeoutMs = 15000) {
        FetcherOptions o;
        o.readTimeoutMs = readTimeoutMs;
        o.connect = [this](const std::string& host, int port, int ipVersion, bool tls) {
            opened.push_back({host, port, ipVersion, tls});
            if (opened.size() > scripts.size()) throw FetchError::socket(ECONNREFUSED);
            return std::unique_ptr<ByteStream>(new MemoryStream(scripts[opened.size() - 1]));
        };
        return o;
    }
    std::vector<std::shared_ptr<MemoryScript>> scripts;
    std::vector<Opened> opened;
};

// The message of the FetchError `get` throws, or "no error".
inline std::string failureOf(PageFetcher& fetcher, const std::u16string& url) {
    try {
        fetcher.get(url);
    } catch (const FetchError& e) {
        return e.what();
    }
    return "no error";
}

}  // namespace vantrel::test
