#pragma once
// Every bound the text helpers put on their work, in one place, so a large page costs bounded
// time wherever its text is compared.
#include <cstddef>

namespace vantrel::limits {

// Lines compared on each side of a line diff once the common start and end are set aside; past
// this the comparison would take too long and the result says so instead.
inline constexpr size_t kMaxDiffLines = 10000;

}  // namespace vantrel::limits
