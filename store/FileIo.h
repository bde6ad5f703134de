#pragma once
// Whole-file reading with a size limit, and the atomic replacement of a file: a new file is
// written beside the old one, flushed to disk and renamed over it, so a reader sees either the
// old or the new bytes and never a torn file.
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vantrel {

struct FileRead {
    enum class Outcome { Missing, Read, Unreadable };
    Outcome outcome = Outcome::Missing;
    std::string bytes;  // when Read
    mode_t mode = 0;    // permission bits, when Read
    uid_t owner = 0;    // when Read
    gid_t group = 0;    // when Read
};

// Reads the whole regular file. Missing when no file of that name exists (or a component of
// the path is not a directory); Unreadable when the name exists but is not a regular file (a
// directory, a FIFO), cannot be opened or read, or holds more than `maxBytes` bytes.
FileRead ReadWholeFile(const std::string& path, int64_t maxBytes);

struct ReplaceOptions {
    mode_t mode = 0;             // permission bits of the new file
    bool keepUmaskMode = false;  // true: 0666 less the process's umask, `mode` ignored
    std::optional<uid_t> owner;  // tried, failure ignored
    std::optional<gid_t> group;
};

// Writes `bytes` to a new temporary file in the directory of `path`, fsyncs it, renames it over
// `path` and fsyncs the directory. Returns false when any step but the directory fsync fails; the
// old file is then unchanged and no temporary file is left behind.
bool ReplaceFileAtomically(const std::string& path, std::string_view bytes, const ReplaceOptions& options);

}  // namespace vantrel
