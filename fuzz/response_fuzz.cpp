// Feeds arbitrary bytes as a server's answer to one get (response head, body framing, decoding),
// cut into pieces as a socket might deliver them, then checks that a second get on the same host
// gets its own answer: leftover bytes of the first must never be read as the second's.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "net/MemoryStream.h"
#include "net/PageFetcher.h"

using namespace vantrel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t piece = 1 + data[0] % 64;
    const std::string response(reinterpret_cast<const char*>(data + 1), size - 1);

    auto first = std::make_shared<MemoryScript>();
    for (size_t at = 0; at < response.size(); at += piece) first->feed(response.substr(at, piece));
    const std::string second = "HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nsecond";
    first->awaitWrite(2).feed(second);
    first->endsOpen = true;
    auto fresh = std::make_shared<MemoryScript>();
    fresh->feed(second);

    int opened = 0;
    FetcherOptions options;
    options.readTimeoutMs = 1000;
    options.connect = [&](const std::string&, int, int, bool) -> std::unique_ptr<ByteStream> {
        ++opened;
        if (opened == 1) return std::make_unique<MemoryStream>(first);
        if (opened == 2) return std::make_unique<MemoryStream>(fresh);
        throw FetchError::socket(ECONNREFUSED);
    };
    PageFetcher fetcher(options);
    try {
        fetcher.get(u"http://h/");
    } catch (const FetchError&) {
    }
    // Redirects send more requests on the first script; only a single exchange has a known
    // second answer.
    if (first->writes != 1 || opened != 1) return 0;
    try {
        if (fetcher.get(u"http://h/") != u"second") __builtin_trap();
    } catch (const FetchError&) {
        __builtin_trap();
    }
    return 0;
}
