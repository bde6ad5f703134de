#pragma once
// The page list file: the page list and the three options kept from one run to the next, in a
// sectioned key=value text file. Reads files written by the Windows profile-file service.
#include <functional>
#include <string>

#include "core/PageList.h"

namespace vantrel {

enum class Option { Start, Sort, Recheck };

struct Options {
    bool start = false;
    bool sort = false;
    bool recheck = false;
};

class PageListFile {
public:
    explicit PageListFile(std::string path);
    const std::string& path() const { return path_; }

    // Fills the (empty) list and reports every option stored as on through `setOption`, in the
    // order start, sort, recheck, as a click on its box would, before the entries are read. A
    // missing or unreadable file leaves the list empty and reports nothing. An exception thrown
    // by `setOption` does not stop the loading: it is rethrown once the entries are in.
    // Returns the options read.
    Options load(PageList& list, const std::function<void(Option, bool)>& setOption);

    // Writes the options and the whole list atomically (the old file is replaced in one step,
    // foreign sections, keys and lines kept). Throws Error("Unable to write to <path>") and leaves
    // the old file unchanged when it cannot, and also when the file existed at load but could not
    // be read.
    void save(const PageList& list, const Options& options);

private:
    std::string path_;
    bool unreadable_ = false;
};

}  // namespace vantrel
