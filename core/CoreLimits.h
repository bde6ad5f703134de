#pragma once
// Every bound the check cycle puts on its work, in one place: how many servers it keeps busy, how
// far it runs ahead on one of them, and how it waits for a network that is gone.
#include <cstddef>
#include <cstdint>

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

// Distinct servers whose connects must time out, with no answer from any server since each of
// those checks began, before a network that drops packets counts as gone. One server, or two,
// that stop answering are the servers' fault and go offline.
inline constexpr size_t kSilentHostsForLoss = 3;
// How long a time-out waits for that confirmation before it counts against its page, and how
// far apart the time-outs that confirm each other may lie.
inline constexpr int64_t kConfirmWindowMs = 60000;
// While the network is gone, one put-off check is tried this often to see whether it is back.
inline constexpr int64_t kProbeEveryMs = 5000;
// After waking from sleep, how long failures are put off while the network comes back.
inline constexpr int64_t kWakeGraceMs = 30000;
// A gap between two one-second ticks this long means the computer slept (or was stopped).
inline constexpr int64_t kWakeGapMs = 15000;

}  // namespace vantrel::limits
