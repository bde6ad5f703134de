#pragma once
// Every bound the check cycle puts on its work, in one place: how many servers it keeps busy and
// how far it runs ahead on one of them.
#include <cstddef>

namespace vantrel::limits {

// Servers fetched from at the same time (one connection each).
inline constexpr size_t kMaxParallelDownloads = 8;
// Downloads handed out per server connection before the first of them ends. They wait behind the
// first on the same worker and connection, so the server still sees one request at a time, but
// the worker goes on with the next page without waiting for the user-interface thread to apply
// a result.
inline constexpr size_t kDownloadsAheadPerHost = 8;

}  // namespace vantrel::limits
