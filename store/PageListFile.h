#pragma once
// The page list file: the page list and the three options kept from one run to the next, in a
// sectioned key=value text file. Reads files written by the Windows profile-file service.
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/PageList.h"
#include "store/StoreLimits.h"
#include "store/TextCodec.h"

namespace vantrel {

enum class Option { Start, Sort, Recheck };

struct Options {
    bool start = false;
    bool sort = false;
    bool recheck = false;
};

// Everything a save writes, copied from the list in one go on the thread that owns the list, so
// the writing itself can run on any other thread.
struct PageListSnapshot {
    Options options;
    std::vector<PageEntry> entries;  // in list order
};
PageListSnapshot TakeSnapshot(const PageList& list, const Options& options);

class PageListFile {
  public:
    // A file larger than `maxBytes` is treated as unreadable (never loaded, never replaced).
    explicit PageListFile(std::string path, int64_t maxBytes = limits::kMaxPageListFileBytes);
    ~PageListFile();
    const std::string& path() const { return path_; }

    // Fills the (empty) list and reports every option stored as on through `setOption`, in the
    // order start, sort, recheck, as a click on its box would, before the entries are read. The
    // entries go into the list in one batch (sorted once when sorting is on). A missing or
    // unreadable file leaves the list empty and reports nothing. An exception thrown by
    // `setOption` does not stop the loading: it is rethrown once the entries are in.
    // Returns the options read.
    Options load(PageList& list, const std::function<void(Option, bool)>& setOption);

    // Writes the options and the whole list atomically (the old file is replaced in one step, in
    // the encoding it has, foreign sections, keys and lines kept). What the file holds besides the
    // list is read from it at each save, so a change another program made since is kept too.
    // Throws Error("Unable to write to <path>") and leaves the old file unchanged when it cannot
    // (also when the file cannot be read now), and when the file existed at load but could not be
    // read. Safe to call from any thread; saves run one at a time.
    void save(const PageListSnapshot& snapshot);
    void save(const PageList& list, const Options& options) { save(TakeSnapshot(list, options)); }

  private:
    // The file as stat shows it: what a replacement keeps.
    struct Seen {
        bool exists = false;
        int64_t size = 0;
        mode_t mode = 0;
        uid_t owner = 0;
        gid_t group = 0;
    };
    // nullopt when stat fails for another reason than a missing file.
    static std::optional<Seen> look(const std::string& path);

    std::string path_;
    int64_t maxBytes_;
    std::mutex mutex_;
    bool unreadable_ = false;
};

}  // namespace vantrel
