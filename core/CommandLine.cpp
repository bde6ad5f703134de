#include "core/CommandLine.h"

namespace vantrel {

bool StartHiddenFromArgs(const std::vector<std::u16string>& args) {
    size_t count = 0;
    while (count < args.size() && !args[count].empty()) ++count;
    bool hidden = false;
    if (count >= 1) hidden = args[0] == u"-s";
    if (count >= 2 && args[1] == u"-s") hidden = true;
    return hidden;
}

}  // namespace vantrel
