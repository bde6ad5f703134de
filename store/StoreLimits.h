#pragma once
// The limits of the page list file and its reader, in one place.
#include <cstddef>
#include <cstdint>

namespace vantrel {

// A value read from the file is cut to this many UTF-16 characters.
constexpr size_t kMaxValueLength = 2047;

// A page list file larger than this is treated as unreadable (and is never replaced).
constexpr int64_t kMaxFileBytes = 256 * 1024 * 1024;

}  // namespace vantrel
