// Feeds arbitrary bytes as the server's side of one get through the whole fetcher (response head,
// interim heads, redirects, body framing, cookies, decoding), cut into pieces as a socket might
// deliver them, then makes a second get of the same URL. Whatever the first exchange left behind
// (a kept connection, unread bytes, a late answer), the second get must return its own answer
// and nothing of the first response.
//
// The first input byte picks the delivery: bits 0-5 the piece size, bit 6 whether the stream
// closes after the last byte or stays open (reads then time out). The rest is the response.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const size_t piece = 1 + data[0] % 64;
    const bool endsOpen = (data[0] & 0x40) != 0;
    std::string response(reinterpret_cast<const char*>(data + 1), size - 1);
    for (char& c : response) {
        if (c == '\xFF') c = '\xFE';
    }

    std::vector<std::shared_ptr<MemoryScript>> scripts;
    bool secondGet = false;
    FetcherOptions options;
    options.readTimeoutMs = 1000;
    options.connect = [&](const std::string&, int, int, bool) -> std::unique_ptr<ByteStream> {
        // Redirects may open more connections during the first get (bounded by the redirect
        // limit); each plays the same response. After it, a new connection answers with the marker.
        if (!secondGet && scripts.size() > 20) throw FetchError::socket(ECONNREFUSED);
        auto script = std::make_shared<MemoryScript>();
        if (secondGet) {
            script->feed(kMarkerResponse);
        } else {
            for (size_t at = 0; at < response.size(); at += piece) script->feed(response.substr(at, piece));
            script->endsOpen = endsOpen;
        }
        scripts.push_back(script);
        return std::make_unique<MemoryStream>(script);
    };
    PageFetcher fetcher(options);
    try {
        fetcher.get(u"http://h/");
    } catch (const FetchError&) {
    }

    // A connection kept from the first get answers the next request with the marker; anything it
    // still holds from the first response comes before the marker and would be read first.
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
