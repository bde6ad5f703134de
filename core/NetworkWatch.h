#pragma once
// Tells a page's failure from this computer's loss of its network: which failed checks are put
// off rather than judged, when the network counts as gone, when to look for it again and when it
// is back. Pure: the check cycle feeds it failures, answers and the time.
#include <cstdint>
#include <string>
#include <unordered_map>

#include "core/CoreLimits.h"
#include "core/PageEntry.h"

namespace vantrel {

// What a failed check says about this computer's network.
enum class NetworkClue {
    // A server answered, or the failure lies with the page (refused, reset, an HTTP error, an
    // unknown host name, a filter): the network works.
    Answered,
    // The system has no route or no address to send from: only this computer's network is at fault.
    NoNetwork,
    // Nothing came back in time (a time-out, a host unreachable on its own network, a name server
    // that does not answer): one dead server, or a network that drops everything.
    NoAnswer,
};

// True when two ticks this far apart (either way: the clock may also be set back) mean the
// computer slept or the program was stopped in between.
bool IsWakeGap(LocalMillis previousTick, LocalMillis now);

class NetworkWatch {
  public:
    enum class State {
        Up,       // checks are judged as they come
        Waiting,  // the network is gone: checks are put off, one is tried every few seconds
        Waking,   // just woken: checks are put off until an answer comes or the grace ends
    };
    State state() const { return state_; }
    bool puttingOff() const { return state_ != State::Up; }

    // Answers counted so far; a check keeps the count it started with (see silent()).
    uint64_t answers() const { return answers_; }
    // Times the network was found gone (or the computer woke) so far: a check that began before
    // the latest of them and timed out after it ran while the network was away.
    uint64_t outages() const { return outages_; }

    // A server answered (or failed in a way that proves the network works). Returns true when
    // this ends a wait: every put-off check is to run now.
    bool answered();
    // The network is known to be gone (no route, no address, or the desktop says so).
    void lost(LocalMillis now);
    // The desktop's network status says it is back. Returns true when this ends a wait.
    bool desktopOnline();
    // A check of `host` got no answer. `answersAtStart` is answers() when it was handed out.
    // Returns true when this confirms the network gone (the state is then Waiting).
    bool silent(const std::u16string& host, uint64_t answersAtStart, LocalMillis now);
    // The computer woke from sleep at `now`.
    void woke(LocalMillis now);

    // At a tick: whether to try one put-off check now (at most every kProbeEveryMs while
    // putting off).
    bool probeDue(LocalMillis now);
    // At a tick: true once when the wake grace has passed without an answer; checks run again.
    bool wakeOver(LocalMillis now);

  private:
    State state_ = State::Up;
    uint64_t answers_ = 0;
    uint64_t outages_ = 0;
    LocalMillis nextProbe_ = 0;
    LocalMillis wakeEnds_ = 0;
    // Servers whose checks timed out with no answer from anyone since they began: the time of
    // the latest such time-out of each.
    std::unordered_map<std::u16string, LocalMillis> silentHosts_;
};

}  // namespace vantrel
