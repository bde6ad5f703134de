#pragma once
// The start-up switch: "-s" as the first or second argument starts the program hidden.
#include <string>
#include <vector>

namespace vantrel {

// `args` excludes the program path. Counting stops at the first empty argument; "-s" is
// compared exactly (so "-S" does not count).
bool StartHiddenFromArgs(const std::vector<std::u16string>& args);

}  // namespace vantrel
