// Loads arbitrary bytes as a page list file, saves the list, and loads it again: the reader must
// not fail on any input, and what was saved must read back as the same entries and options.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/PageList.h"
#include "store/PageListFile.h"

namespace {

const std::string& FilePath() {
    static const std::string path = [] {
        // In memory where there is a tmpfs: the save's fsync calls then cost nothing.
        std::string dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm/vantrel-ini-fuzz-XXXXXX"
                                                        : "/tmp/vantrel-ini-fuzz-XXXXXX";
        if (!mkdtemp(dir.data())) abort();
        static std::string removeAtExit = dir;
        atexit([] { std::filesystem::remove_all(removeAtExit); });
        return dir + "/webpages.dat";
    }();
    return path;
}

bool SameEntries(const vantrel::PageList& a, const vantrel::PageList& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        const auto& x = a.at(i);
        const auto& y = b.at(i);
        if (x.label != y.label || x.status != y.status || x.columns != y.columns) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = FilePath();
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    vantrel::PageListFile file(path);
    vantrel::PageList first;
    const vantrel::Options options = file.load(first, {});
    file.save(first, options);

    vantrel::PageListFile again(path);
    vantrel::PageList second;
    const vantrel::Options reread = again.load(second, {});
    if (!SameEntries(first, second) || options.start != reread.start || options.sort != reread.sort ||
        options.recheck != reread.recheck) {
        std::fprintf(stderr, "entries or options differ after a save\n");
        abort();
    }
    return 0;
}
