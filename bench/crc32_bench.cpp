// Throughput of the page checksum: our CRC-32 (carry-less multiplication where the processor has it, else
// slicing-by-8), a plain byte-wise table loop and zlib's crc32 over the same 100 MB, plus checksumText over a
// 50 M-character text.
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "text/Crc32.h"

namespace {

constexpr size_t kBytes = 100 * 1000 * 1000;
constexpr int kRounds = 5;

// Runs `work` kRounds times; returns the best time in seconds and the last result.
template <typename Work>
double BestOf(Work work, uint32_t& result) {
    double best = 1e30;
    for (int round = 0; round < kRounds; ++round) {
        auto start = std::chrono::steady_clock::now();
        result = work();
        std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        if (took.count() < best) best = took.count();
    }
    return best;
}

void Report(const char* name, double seconds, uint32_t value) {
    std::printf("%-28s %8.1f MB/s  %7.1f ms  %08X\n", name, kBytes / seconds / 1e6, seconds * 1e3, value);
}

uint32_t PlainBytewise(const unsigned char* data, size_t count) {
    static const auto table = [] {
        std::vector<uint32_t> t(256);
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t r = i;
            for (int bit = 0; bit < 8; ++bit) r = (r & 1u) ? (r >> 1) ^ 0xEDB88320u : r >> 1;
            t[i] = r;
        }
        return t;
    }();
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < count; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

}  // namespace

int main() {
    std::vector<unsigned char> buffer(kBytes);
    std::mt19937_64 random(1);
    for (size_t i = 0; i + 8 <= buffer.size(); i += 8) {
        uint64_t v = random();
        for (int k = 0; k < 8; ++k) buffer[i + k] = static_cast<unsigned char>(v >> (8 * k));
    }

    uint32_t ours = 0;
    uint32_t plain = 0;
    uint32_t zlib = 0;
    double oursTime = BestOf([&] { return vantrel::Crc32::checksum(buffer.data(), buffer.size()); }, ours);
    double plainTime = BestOf([&] { return PlainBytewise(buffer.data(), buffer.size()); }, plain);
    double zlibTime = BestOf(
        [&] {
            uLong crc = crc32(0L, Z_NULL, 0);
            // zlib takes a 32-bit length; feed it in pieces.
            for (size_t done = 0; done < buffer.size();) {
                uInt piece = static_cast<uInt>(std::min<size_t>(buffer.size() - done, 1u << 30));
                crc = crc32(crc, buffer.data() + done, piece);
                done += piece;
            }
            return static_cast<uint32_t>(crc);
        },
        zlib);
    std::printf("CRC-32 over %zu bytes, best of %d\n", kBytes, kRounds);
    Report("Crc32::checksum", oursTime, ours);
    Report("byte-wise table loop", plainTime, plain);
    Report("zlib crc32", zlibTime, zlib);

    // The same bytes as a text of 50 M UTF-16 code units.
    std::u16string text(kBytes / 2, u'\0');
    for (size_t i = 0; i < text.size(); ++i) {
        text[i] = static_cast<char16_t>(buffer[2 * i] | (buffer[2 * i + 1] << 8));
    }
    uint32_t textSum = 0;
    std::u16string textResult;
    double textTime = BestOf(
        [&] {
            textResult = vantrel::Crc32::checksumText(text);
            return ours;
        },
        textSum);
    uint32_t folded = 0;
    double foldTime = BestOf([&] { return ~vantrel::Crc32::updateUtf16(text, 0xFFFFFFFFu); }, folded);
    Report("checksumText (50 M chars)", textTime, ours);
    Report("updateUtf16 unit folding", foldTime, folded);

    char expected[40];
    std::snprintf(expected, sizeof expected, "CRC of a text above is: %08X", ours);
    bool textAgrees =
        textResult == std::u16string(expected, expected + std::char_traits<char>::length(expected));
    bool agree = ours == plain && ours == zlib && ours == folded && textAgrees;
    std::printf("%s\n", agree ? "all values agree" : "VALUES DIFFER");
    return agree ? EXIT_SUCCESS : EXIT_FAILURE;
}
