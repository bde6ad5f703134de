#pragma once
// The user's command run on each announcement, so that alarms can go on to a phone, a mail box or
// a chat without the program knowing any of them. It runs without a shell (the line is split by
// SplitCommandLine), with what happened in environment variables, one at a time on a thread of
// its own, each within a time limit; a few wait their turn and more are dropped. Every outcome is
// reported, so failures can be shown with the page.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/PageEntry.h"
#include "core/ProcessRunner.h"

namespace vantrel {

// One announcement as the command hears of it.
struct AlarmEvent {
    std::u16string label;
    std::u16string url;
    PageStatus oldStatus = PageStatus::Offline;
    PageStatus newStatus = PageStatus::Offline;
    std::u16string result;  // the check's result in words (CheckResultText)
};

class AlarmCommand {
  public:
    static constexpr std::chrono::milliseconds kTimeLimit{10000};
    static constexpr size_t kMaxWaiting = 16;

    // Called on the command's own thread after each run (or drop), with the event it was for.
    using Report = std::function<void(const AlarmEvent&, const ProcessOutcome&)>;

    // `runner` must outlive this object.
    AlarmCommand(ProcessRunner& runner, Report report, std::chrono::milliseconds limit = kTimeLimit);
    // Kills a command that runs, drops those waiting and ends the thread.
    ~AlarmCommand();
    AlarmCommand(const AlarmCommand&) = delete;
    AlarmCommand& operator=(const AlarmCommand&) = delete;

    // The command line; empty runs nothing. Returns why it cannot be split (empty when it can);
    // a line that cannot be split runs nothing either.
    std::u16string setCommandLine(std::u16string_view line);
    // Queues a run for the event. With kMaxWaiting runs waiting, the event is dropped and reported.
    void announce(AlarmEvent event);
    // Returns once nothing runs or waits (tests).
    void waitIdle();
    std::chrono::milliseconds limit() const { return limit_; }

    // VANTREL_LABEL, VANTREL_URL, VANTREL_OLD_STATUS, VANTREL_NEW_STATUS ("online", "changed",
    // "offline") and VANTREL_RESULT, in UTF-8.
    static ProcessRunner::Environment EnvironmentOf(const AlarmEvent& event);

  private:
    struct Job {
        std::vector<std::string> argv;
        AlarmEvent event;
    };
    void loop();

    ProcessRunner& runner_;
    Report report_;
    const std::chrono::milliseconds limit_;
    std::vector<std::string> argv_;  // used on the caller's thread only
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Job> queue_;
    bool running_ = false;
    std::thread thread_;
};

}  // namespace vantrel
