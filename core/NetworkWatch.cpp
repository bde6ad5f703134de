#include "core/NetworkWatch.h"

#include <algorithm>

namespace vantrel {

bool IsWakeGap(LocalMillis previousTick, LocalMillis now) {
    const LocalMillis gap = now - previousTick;
    return gap >= limits::kWakeGapMs || gap <= -limits::kWakeGapMs;
}

bool NetworkWatch::answered() {
    ++answers_;
    silentHosts_.clear();
    if (state_ == State::Up) return false;
    state_ = State::Up;
    return true;
}

void NetworkWatch::lost(LocalMillis now) {
    ++outages_;
    if (state_ != State::Waiting) nextProbe_ = now + limits::kProbeEveryMs;
    state_ = State::Waiting;
    silentHosts_.clear();
}

bool NetworkWatch::desktopOnline() {
    if (state_ == State::Up) return false;
    state_ = State::Up;
    silentHosts_.clear();
    return true;
}

bool NetworkWatch::silent(const std::u16string& host, uint64_t answersAtStart, LocalMillis now) {
    if (state_ != State::Up) return false;
    // A check that saw some server answer after it began says nothing about the network: its
    // own server is silent. Only checks that began when nothing answered any more count, so the
    // checks of a few dead servers never confirm each other once a live one has answered.
    if (answersAtStart != answers_) return false;
    std::erase_if(silentHosts_,
                  [&](const auto& item) { return now - item.second > limits::kConfirmWindowMs; });
    silentHosts_[host] = now;
    if (silentHosts_.size() < limits::kSilentHostsForLoss) return false;
    lost(now);
    return true;
}

void NetworkWatch::woke(LocalMillis now) {
    ++outages_;
    silentHosts_.clear();
    // A network known to be gone stays so until an answer; otherwise the grace starts.
    if (state_ == State::Waiting) return;
    state_ = State::Waking;
    wakeEnds_ = now + limits::kWakeGraceMs;
    nextProbe_ = now;
}

bool NetworkWatch::probeDue(LocalMillis now) {
    if (state_ == State::Up) return false;
    // A clock set back would hold the next probe off for as long: the distance counts either way.
    if (now < nextProbe_ && nextProbe_ - now <= limits::kProbeEveryMs) return false;
    nextProbe_ = now + limits::kProbeEveryMs;
    return true;
}

bool NetworkWatch::wakeOver(LocalMillis now) {
    if (state_ != State::Waking || (now < wakeEnds_ && wakeEnds_ - now <= limits::kWakeGraceMs)) return false;
    state_ = State::Up;
    return true;
}

}  // namespace vantrel
