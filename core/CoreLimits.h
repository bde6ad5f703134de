#pragma once
// Every bound the check cycle puts on its work, in one place: how many servers it keeps busy and
// how far it runs ahead on one of them.
#include <cstddef>

namespace vantrel::limits {

// Servers fetched from at the same time (one connection and one worker each). Real pages take
// 0.2 to 2 s to answer, so a list of a thousand one-minute pages needs dozens in flight; a
// download that waits costs a blocked thread and the few kilobytes of stack it touches.
inline constexpr size_t kMaxParallelDownloads = 64;
// Downloads handed out per server connection before the first of them ends. They wait behind the
// first on the same worker and connection, so the server still sees one request at a time, but
// the worker goes on with the next page without waiting for the user-interface thread to apply
// a result.
inline constexpr size_t kDownloadsAheadPerHost = 8;
// Downloads a server gets in a row while other servers wait for a connection; then it gives its
// connection up and queues behind them, so servers with long queues cannot keep the others out.
inline constexpr size_t kDownloadsPerTurn = 16;

}  // namespace vantrel::limits
