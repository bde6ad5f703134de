#include "core/AlarmCommand.h"

#include <utility>

#include "core/CommandWords.h"
#include "text/Text.h"

namespace vantrel {

namespace {

std::string StatusName(PageStatus status) {
    switch (status) {
        case PageStatus::Offline:
            return "offline";
        case PageStatus::Changed:
            return "changed";
        default:
            return "online";
    }
}

}  // namespace

AlarmCommand::AlarmCommand(ProcessRunner& runner, Report report, std::chrono::milliseconds limit)
    : runner_(runner), report_(std::move(report)), limit_(limit) {}

AlarmCommand::~AlarmCommand() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        queue_.clear();
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
}

std::u16string AlarmCommand::setCommandLine(std::u16string_view line) {
    CommandWords split = SplitCommandLine(line);
    argv_.clear();
    if (!split.error.empty()) return split.error;
    for (const std::u16string& word : split.words) argv_.push_back(ToUtf8(word));
    return {};
}

ProcessRunner::Environment AlarmCommand::EnvironmentOf(const AlarmEvent& event) {
    return {{"VANTREL_LABEL", ToUtf8(event.label)},
            {"VANTREL_URL", ToUtf8(event.url)},
            {"VANTREL_OLD_STATUS", StatusName(event.oldStatus)},
            {"VANTREL_NEW_STATUS", StatusName(event.newStatus)},
            {"VANTREL_RESULT", ToUtf8(event.result)}};
}

void AlarmCommand::announce(AlarmEvent event) {
    if (argv_.empty()) return;
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        if (queue_.size() < kMaxWaiting) {
            queue_.push_back(Job{argv_, std::move(event)});
            // Started at the first run: a user without a command never has the thread.
            if (!thread_.joinable()) thread_ = std::thread([this] { loop(); });
            changed_.notify_all();
            return;
        }
    }
    if (report_) report_(event, ProcessOutcome{ProcessOutcome::Kind::Dropped, 0});
}

void AlarmCommand::waitIdle() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return stopping_ || (queue_.empty() && !running_); });
}

void AlarmCommand::loop() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (stopping_) return;
        Job job = std::move(queue_.front());
        queue_.pop_front();
        running_ = true;
        lock.unlock();
        const ProcessOutcome outcome = runner_.run(job.argv, EnvironmentOf(job.event), limit_, stopping_);
        if (report_ && outcome.kind != ProcessOutcome::Kind::Cancelled) report_(job.event, outcome);
        lock.lock();
        running_ = false;
        changed_.notify_all();
    }
}

}  // namespace vantrel
