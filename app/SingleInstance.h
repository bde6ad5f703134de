#pragma once
// The single-instance test: a system-wide lock named after the application title, held for the
// life of the process and released by the system when the process ends, even by a crash.
#include <string>

namespace vantrel {

class SingleInstance {
  public:
    // Tries to take the lock named `title` without waiting.
    explicit SingleInstance(const std::string& title);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // False when another process (or another SingleInstance of this one) holds the lock. True
    // also when no lock could be set up at all: the program then runs unguarded rather than not
    // at all.
    bool isFirst() const { return first_; }

    // Where the lock of `title` lives: "$XDG_RUNTIME_DIR/<title>.lock" when that variable holds an
    // absolute path, otherwise "/tmp/<title>-<uid>.lock".
    static std::string lockPath(const std::string& title);

  private:
    int handle_ = -1;
    bool first_ = true;
};

}  // namespace vantrel
