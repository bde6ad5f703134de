#pragma once
// Every bound the store puts on its files and on what waits for the disk, in one place, so
// neither a damaged file nor a stalled disk costs unbounded memory.
#include <cstddef>
#include <cstdint>

namespace vantrel::limits {

// A value read from the page list file is cut to this many UTF-16 characters.
inline constexpr size_t kMaxValueLength = 2047;
// A page list file larger than this is treated as unreadable (and is never replaced).
inline constexpr int64_t kMaxPageListFileBytes = 256 * 1024 * 1024;
// Most checks the history keeps per page; the oldest go first.
inline constexpr int kMaxChecksPerPage = 1000;
// A text the history keeps is cut to this many bytes of UTF-8, at a character boundary.
inline constexpr size_t kMaxStoredTextBytes = 1024 * 1024;
// Text waiting for the history's writer beyond this is dropped with its check, so a stalled disk
// cannot fill the memory.
inline constexpr size_t kMaxQueuedTextBytes = 64 * 1024 * 1024;

}  // namespace vantrel::limits
