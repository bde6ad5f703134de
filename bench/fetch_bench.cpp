// The full check path of one page, get + checksum, over the URLs on the command line in one
// process, so that it can be timed next to curl fetching the same URLs. Also writes the test
// pages the script serves.
//
//   fetch_bench [--repeat N] URL...        fetch every URL N times with one fetcher
//   fetch_bench --make-page KIND BYTES FILE   KIND: latin1 | utf8 | ascii (25% non-ASCII bytes
//                                            in latin1 and utf8)
//   fetch_bench --serve                      starts nginx on 127.0.0.1 with the pages the script
//                                            times, prints its port and serves until stdin ends
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "core/Crc32.h"
#include "core/Text.h"
#include "net/PageFetcher.h"
#include "support/NginxServer.h"

namespace {

// A small linear congruential generator: the same page on every machine.
struct Lcg {
    uint64_t state = 0x2545F4914F6CDD1Dull;
    uint32_t next() {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<uint32_t>(state >> 33);
    }
};

std::string makePage(const std::string& kind, size_t bytes) {
    std::string page;
    page.reserve(bytes + 4);
    Lcg rng;
    while (page.size() < bytes) {
        const uint32_t r = rng.next();
        if (page.size() % 80 == 79) {
            page += '\n';
        } else if (kind == "latin1" && r % 4 == 0) {
            page += static_cast<char>(0xA0 + (r >> 8) % 96);
        } else if (kind == "utf8" && r % 7 == 0 && page.size() + 2 <= bytes) {
            // One two-byte character in seven: a quarter of the bytes are not ASCII.
            page += '\xC3';
            page += static_cast<char>(0x80 + (r >> 8) % 64);
        } else {
            page += static_cast<char>(0x20 + (r >> 8) % 95);
        }
    }
    return page;
}

// The pages bench/fetch_bench.sh times, served by the tests' nginx fixture until stdin ends.
int serve() {
    const vantrel::test::NginxServer nginx(vantrel::test::NginxServer::Servers::PlainOnly);
    if (!nginx.error.empty()) {
        std::fprintf(stderr, "%s\n", nginx.error.c_str());
        return 1;
    }
    nginx.writeFile("www/latin1-100m.html", makePage("latin1", 100000000));
    nginx.writeFile("www/utf8/utf8-100m.html", makePage("utf8", 100000000));
    nginx.writeFile("www/page-2m.html", makePage("latin1", 2000000));
    nginx.writeFile("www/page-100k.html", makePage("latin1", 100000));
    std::printf("%d\n", nginx.plainPort);
    std::fflush(stdout);
    std::string line;
    while (std::getline(std::cin, line)) {
    }
    return 0;
}

long peakRssKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "--make-page") == 0) {
        const std::string page = makePage(argv[2], std::strtoull(argv[3], nullptr, 10));
        std::ofstream(argv[4], std::ios::binary)
            .write(page.data(), static_cast<std::streamsize>(page.size()));
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--serve") == 0) return serve();
    int repeat = 1;
    std::vector<std::u16string> urls;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--repeat") == 0 && i + 1 < argc) {
            repeat = std::atoi(argv[++i]);
        } else {
            urls.push_back(vantrel::FromUtf8(argv[i]));
        }
    }
    if (urls.empty()) {
        std::fprintf(stderr, "usage: fetch_bench [--repeat N] URL... | --make-page KIND BYTES FILE\n");
        return 2;
    }
    vantrel::PageFetcher fetcher;
    std::u16string last;
    size_t characters = 0;
    int failures = 0;
    for (const std::u16string& url : urls) {
        for (int i = 0; i < repeat; ++i) {
            try {
                const std::u16string_view text = fetcher.fetch(url);
                characters += text.size();
                last = vantrel::Crc32::checksumText(text);
            } catch (const vantrel::FetchError& e) {
                std::fprintf(stderr, "%s\n", e.what());
                ++failures;
            }
        }
    }
    std::fprintf(stderr, "%s, %zu characters, peak RSS %ld kB\n", vantrel::ToUtf8(last).c_str(), characters,
                 peakRssKb());
    return failures == 0 ? 0 : 1;
}
