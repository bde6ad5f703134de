#pragma once
// Every bound the store puts on its files and on what waits for the disk, in one place, so
// neither a damaged file nor a stalled disk costs unbounded memory.
#include <chrono>
#include <cstddef>
#include <cstdint>

namespace vantrel::limits {

// A value read from the page list file is cut to this many UTF-16 characters.
inline constexpr size_t kMaxValueLength = 2047;
// A page list file larger than this is treated as unreadable (and is never replaced).
inline constexpr int64_t kMaxPageListFileBytes = 256 * 1024 * 1024;
// A list of pages to import (text, OPML, urlwatch jobs): no real list comes near it.
inline constexpr int64_t kMaxImportFileBytes = 64 * 1024 * 1024;
// Most checks the history keeps per page; the oldest go first.
inline constexpr int kMaxChecksPerPage = 1000;
// A text the history keeps is cut to this many bytes of UTF-8, at a character boundary.
inline constexpr size_t kMaxStoredTextBytes = 1024 * 1024;
// Text waiting for the history's writer beyond this is dropped with its check, so a stalled disk
// cannot fill the memory.
inline constexpr size_t kMaxQueuedTextBytes = 64 * 1024 * 1024;
// Checks waiting for the writer beyond this many push the oldest out; they are counted.
inline constexpr size_t kMaxQueuedChecks = 20000;
// A write waits this long for another connection's lock, then is tried again later, after a
// pause that doubles from the first to the longest.
inline constexpr int kWriteBusyWaitMs = 100;
inline constexpr std::chrono::milliseconds kFirstRetryPause{100};
inline constexpr std::chrono::milliseconds kLongestRetryPause{4000};
// The end of the run waits this long for the queued writes; what is left then is dropped and
// counted for the next run.
inline constexpr std::chrono::milliseconds kStopWaitLimit{1000};
// The history writes only while its file system keeps this much free, or ten times the page list
// file if that is more, so that the list file can always be saved.
inline constexpr uint64_t kMinFreeBytes = 64ull * 1024 * 1024;
inline constexpr uint64_t kFreeBytesPerListByte = 10;

}  // namespace vantrel::limits
