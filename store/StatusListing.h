#pragma once
// The status listing printed by "--status": one line per page of the page list file, with what
// the history knows of its last check. Reads both files as they are, taking no lock, so it works
// while the program runs.
#include <set>
#include <string>

namespace vantrel {

struct StatusListing {
    int exitCode = 0;    // 0, or 2 when the page list file exists but cannot be read
    std::string output;  // UTF-8, one line per page, each ended by LF
    std::string errors;  // UTF-8, for standard error: why the file could not be read, or why the
                         // history is missing
};

// The page list file at `pageListPath` (a missing file is an empty list) and the history at
// `historyPath` (a missing one is no history). With `json` the output is one JSON array (RFC 8259)
// of objects with "label", "url", "status", "lastCheck" and "result" (null when unknown), and
// "waitingForNetwork". The pages whose URL is in `waitingForNetwork` (as a running instance tells
// them) get a fifth column "Waiting for the network", or true for that key.
StatusListing BuildStatusListing(const std::string& pageListPath, const std::string& historyPath,
                                 bool json = false, const std::set<std::u16string>& waitingForNetwork = {});

}  // namespace vantrel
