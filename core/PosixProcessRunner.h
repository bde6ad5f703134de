#pragma once
// Runs a program with posix_spawnp in a process group of its own, polling for its end so that it
// can be killed at the time limit.
#include "core/ProcessRunner.h"

namespace vantrel {

class PosixProcessRunner : public ProcessRunner {
  public:
    ProcessOutcome run(const std::vector<std::string>& argv, const Environment& extra,
                       std::chrono::milliseconds limit, const std::atomic<bool>& cancel) override;
};

}  // namespace vantrel
