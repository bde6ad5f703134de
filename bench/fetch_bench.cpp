// The full check path of one page, get + checksum, over the URLs on the command line in one
// process, so that it can be timed next to curl fetching the same URLs. Also writes the test
// pages the script serves.
//
//   fetch_bench [--repeat N] [--text] URL...  fetch every URL N times with one fetcher, summing
//                                            the text as it is decoded as the program's check
//                                            does, or with --text into one whole text (as a page
//                                            with a filter needs)
//   fetch_bench --make-page KIND BYTES FILE   KIND: latin1 | utf8 | mixed | ascii (25% non-ASCII
//                                            bytes in latin1 and utf8; mixed: a third of the
//                                            characters non-ASCII, of two, three and four bytes)
//   fetch_bench --serve                      starts nginx on 127.0.0.1 with the pages the script
//                                            times, logging every request, prints its port and
//                                            folder and serves until stdin ends
//   fetch_bench --lying                      a get whose head announces 128 MiB and whose peer
//                                            closes after 10 bytes: prints the peak memory it added
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "net/PageFetcher.h"
#include "support/NginxServer.h"
#include "support/ScriptedServer.h"
#include "text/Crc32.h"
#include "text/Text.h"

namespace {

// A small linear congruential generator: the same page on every machine.
struct Lcg {
    uint64_t state = 0x2545F4914F6CDD1Dull;
    uint32_t next() {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<uint32_t>(state >> 33);
    }
};

// Two-, three- and four-byte characters in equal shares (no surrogates: those are not text).
uint32_t mixedCodePoint(uint32_t r) {
    switch (r % 3) {
        case 0:
            return 0x80 + (r >> 2) % (0x800 - 0x80);
        case 1: {
            const uint32_t c = 0x800 + (r >> 2) % (0x10000 - 0x800 - 0x800);
            return c < 0xD800 ? c : c + 0x800;
        }
        default:
            return 0x10000 + (r >> 2) % (0x110000 - 0x10000);
    }
}

void appendUtf8(std::string& out, uint32_t c) {
    if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | c >> 18);
        out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    }
    out += static_cast<char>(0x80 | (c & 0x3F));
}

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
        } else if (kind == "mixed" && r % 3 == 0 && page.size() + 4 <= bytes) {
            // A third of the characters: two, three or four bytes long in turn.
            appendUtf8(page, mixedCodePoint(r >> 8));
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
    const vantrel::test::NginxServer nginx(vantrel::test::NginxServer::Servers::PlainOnly, true);
    if (!nginx.error.empty()) {
        std::fprintf(stderr, "%s\n", nginx.error.c_str());
        return 1;
    }
    nginx.writeFile("www/latin1-100m.html", makePage("latin1", 100000000));
    nginx.writeFile("www/utf8/utf8-100m.html", makePage("utf8", 100000000));
    nginx.writeFile("www/utf8/mixed-100m.html", makePage("mixed", 100000000));
    // Sent chunked: nginx replaces every "x" on the way out and no longer knows the length.
    nginx.writeFile("www/chunked/latin1-100m.html", makePage("latin1", 100000000));
    nginx.writeFile("www/tiny.html", "tiny");
    nginx.writeFile("www/page-2m.html", makePage("latin1", 2000000));
    nginx.writeFile("www/page-100k.html", makePage("latin1", 100000));
    std::printf("%d %s\n", nginx.plainPort, nginx.dir.c_str());
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

// A peer that announces 128 MiB, sends 10 bytes and closes: what the get costs in memory before
// those bytes come, measured as the growth of the peak resident size.
int lying() {
    vantrel::test::ScriptedServer server([](vantrel::test::ScriptedServer& s, int fd) {
        if (s.readHead(fd).empty()) return;
        vantrel::test::ScriptedServer::send(fd,
                                            "HTTP/1.1 200 OK\r\nContent-Length: 134217728\r\n\r\n0123456789");
    });
    if (!server.listening()) return 1;
    vantrel::PageFetcher fetcher;
    const long before = peakRssKb();
    std::string outcome;
    try {
        outcome = std::to_string(fetcher.fetch(server.url("/lying")).size()) + " characters";
    } catch (const vantrel::FetchError& e) {
        outcome = e.what();
    }
    std::printf("lying Content-Length: %s, 10 bytes arrived, peak grew by %ld kB\n", outcome.c_str(),
                peakRssKb() - before);
    return 0;
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
    if (argc == 2 && std::strcmp(argv[1], "--lying") == 0) return lying();
    int repeat = 1;
    bool whole = false;
    std::vector<std::u16string> urls;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--repeat") == 0 && i + 1 < argc) {
            repeat = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--text") == 0) {
            whole = true;
        } else {
            urls.push_back(vantrel::FromUtf8(argv[i]));
        }
    }
    if (urls.empty()) {
        std::fprintf(stderr,
                     "usage: fetch_bench [--repeat N] [--text] URL... | --make-page KIND BYTES FILE | "
                     "--serve | --lying\n");
        return 2;
    }
    vantrel::PageFetcher fetcher;
    std::u16string last;
    size_t characters = 0;
    int failures = 0;
    for (const std::u16string& url : urls) {
        for (int i = 0; i < repeat; ++i) {
            try {
                if (whole) {
                    const std::u16string_view text = fetcher.fetch(url);
                    characters += text.size();
                    last = vantrel::Crc32::checksumText(text);
                } else {
                    vantrel::Crc32::TextSum sum;
                    characters +=
                        fetcher.fetchInPieces(url, [&sum](std::u16string_view piece) { sum.add(piece); });
                    last = sum.text();
                }
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
