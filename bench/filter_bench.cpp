// The time the page filters add to one check of a 2 MB HTML page: each filter alone and all
// together, against the checksum of the unfiltered page. Median of several rounds.
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "filter/PageFilter.h"
#include "text/Crc32.h"
#include "text/Text.h"

namespace {

using namespace vantrel;

constexpr size_t kPageBytes = 2 * 1000 * 1000;
constexpr int kRounds = 9;

// A shop-like page: a head with styles and scripts, navigation, and product cards with links,
// attributes, tables and a clock, repeated to the size wanted.
std::u16string MakePage() {
    std::string html =
        "<!DOCTYPE html><html lang=en><head><meta charset=utf-8><title>Shop</title>"
        "<style>body{font:14px sans-serif}.item{margin:4px}.price{color:#c00}</style>"
        "<script>window.session='c0ffee';function track(e){return e&&e.id}</script></head>\n"
        "<body><nav class=top><ul><li><a href=/>Home</a></li><li><a href=/shop>Shop</a></li></ul></nav>\n"
        "<main id=content>\n";
    for (int i = 0; html.size() < kPageBytes - 200; ++i) {
        const std::string n = std::to_string(i);
        html += "<div class=item data-sku=sku-" + n + "><h2><a href=\"/p/" + n + "\" title=\"Product " + n +
                "\">Product " + n + "</a></h2>\n<p class=desc>A fine thing, number " + n +
                ", made with care &amp; shipped fast.</p>\n<table class=facts><tr><th>Weight</th><td>" +
                std::to_string(i % 97) + " g</td></tr></table>\n<p class=price>" +
                std::to_string(10 + i % 50) + ".99 EUR</p><!-- cache " + n +
                " -->\n<input type=hidden name=t value=tok" + n + "></div>\n";
    }
    html += "</main><footer><p>Updated 12:00:01</p></footer></body></html>\n";
    return FromUtf8(html);
}

double CpuMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

// The median wall-clock time of the work, and in `cpu` the median processor time of this thread
// (what the filters' time limit counts; it does not grow when other programs load the machine).
template <typename Work>
double MedianMs(Work work, double& cpu) {
    std::vector<double> times, cpus;
    for (int round = 0; round < kRounds; ++round) {
        const auto start = std::chrono::steady_clock::now();
        const double cpuStart = CpuMs();
        work();
        cpus.push_back(CpuMs() - cpuStart);
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    std::sort(cpus.begin(), cpus.end());
    cpu = cpus[cpus.size() / 2];
    return times[times.size() / 2];
}

}  // namespace

int main() {
    const std::u16string page = MakePage();
    std::printf("page: %zu characters\n", page.size());
    double plainCpu = 0;
    const double plain = MedianMs([&] { Crc32::checksumText(page); }, plainCpu);
    std::printf("%-40s %8.1f ms wall %8.1f ms processor\n", "checksum only (no filters)", plain, plainCpu);

    PageFilterSettings visible;
    visible.visibleTextOnly = true;
    PageFilterSettings css;
    css.selector = u"#content .item > p.price";
    PageFilterSettings xpath;
    xpath.selector = u"//div[@class='item']//p";
    xpath.selectorKind = SelectorKind::XPath;
    PageFilterSettings ignore;
    ignore.ignorePatterns = {u"^<p>Updated \\d+:\\d+:\\d+</p>$", u"value=tok\\d+", u"<!-- cache \\d+ -->"};
    PageFilterSettings all;
    all.selector = u"main .item";
    all.visibleTextOnly = true;
    all.ignorePatterns = {u"^Weight \\d+ g$", u"^Updated"};

    const struct {
        const char* name;
        const PageFilterSettings& settings;
    } rows[] = {{"visible text only", visible},
                {"CSS selector", css},
                {"XPath selector", xpath},
                {"3 ignore patterns on the raw page", ignore},
                {"CSS + visible text + 2 ignore patterns", all}};
    for (const auto& row : rows) {
        size_t size = 0;
        std::string reason;
        double cpu = 0;
        const double ms = MedianMs(
            [&] {
                FilterResult r = ApplyFilters(page, row.settings, "text/html");
                reason = r.reason;
                size = r.text.size();
                Crc32::checksumText(r.text);
            },
            cpu);
        std::printf("%-40s %8.1f ms wall %8.1f ms processor (+%.1f; %zu characters left%s%s)\n", row.name, ms,
                    cpu, cpu - plainCpu, size, reason.empty() ? "" : "; ", reason.c_str());
    }
}
