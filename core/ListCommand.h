#pragma once
// The command-line requests that change or read the page list without opening the window:
// "--add URL [--label TEXT] [--interval MINUTES]", "--import FILE", "--export FILE" and
// "--status [--json]".
#include <string>
#include <vector>

#include "core/PageEntry.h"

namespace vantrel {

struct ListCommand {
    enum class Kind { None, Add, Import, Export, Status };
    Kind kind = Kind::None;
    std::u16string url;    // Add
    std::u16string label;  // Add: the URL when none is given
    int intervalIndex = kDefaultIntervalIndex;
    std::u16string path;  // Import, Export: the file as given
    bool json = false;    // Status
    // Why the arguments cannot be run ("--interval: 7 is not one of 1, 5, 10, ..."); empty when
    // they can (also for Kind::None: no list command among them).
    std::string error;
};

// `args` excludes the program path. Arguments of other kinds ("-s") are left to others.
ListCommand ParseListCommand(const std::vector<std::u16string>& args);

// The interval index of `minutes`, or -1 when the fixed table has no such interval.
int IntervalIndexOfMinutes(int minutes);

}  // namespace vantrel
