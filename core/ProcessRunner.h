#pragma once
// Runs a program to its end within a time limit: an interface, so that what runs commands can be
// tested without starting processes, and the platform's way of starting them lives in a file of
// its own (PosixProcessRunner).
#include <atomic>
#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace vantrel {

struct ProcessOutcome {
    enum class Kind {
        Exited,      // ran to its end; `code` is its exit status
        NotFound,    // no such program
        NotStarted,  // could not be started; `code` is the errno
        TimedOut,    // killed at the time limit
        Killed,      // ended by a signal not of ours; `code` is the signal
        Cancelled,   // killed because the runner was shutting down
        Dropped,     // never started: too many commands were waiting
    };
    Kind kind = Kind::Exited;
    int code = 0;

    bool failed() const { return kind != Kind::Exited || code != 0; }
    // "Exited with code 2", "Not found", "Timed out after 10 s and was killed", ...
    std::u16string describe(std::chrono::milliseconds limit) const;
};

class ProcessRunner {
  public:
    using Environment = std::vector<std::pair<std::string, std::string>>;

    virtual ~ProcessRunner() = default;
    // Runs `argv` (argv[0] looked up in PATH unless it holds a slash) with the program's own
    // environment plus `extra` (replacing variables of the same name), no input, and waits for
    // its end. At `limit`, or once `cancel` is set, the program and everything it started in its
    // process group are killed. Never throws.
    virtual ProcessOutcome run(const std::vector<std::string>& argv, const Environment& extra,
                               std::chrono::milliseconds limit, const std::atomic<bool>& cancel) = 0;
};

}  // namespace vantrel
