#pragma once
// The single-instance test: system-wide guards named after the application title, held for the
// life of the process and released by the system when the process ends, even by a crash.
//
// Two guards, taken in this order: a lock file (an exclusive flock), and an abstract-namespace
// Unix socket whose name carries the user id. Both are keyed by the user id alone, never by the
// environment, so that a desktop session, an ssh session and a cron job of one user find the same
// guards: one instance per user. The lock file decides
// first; the socket is taken as well, so that an instance that had to run on the socket alone
// (the lock file's path held a link, a FIFO or another user's file) is still seen by the next
// start. Abstract names carry no permissions, so a socket is taken for one of ours only when its
// listener's credentials say it belongs to this user.
#include <string>
#include <thread>

namespace vantrel {

class SingleInstance {
  public:
    enum class Outcome {
        First,      // this process holds the guard
        Second,     // another instance of this user holds it
        Unguarded,  // neither guard could be taken: see failure()
    };

    // Tries to take the guards of `title` without waiting.
    explicit SingleInstance(const std::string& title);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    Outcome outcome() const { return outcome_; }
    bool isFirst() const { return outcome_ == Outcome::First; }
    // Why the program cannot make sure it runs alone (one line), when Unguarded; empty otherwise.
    const std::string& failure() const { return failure_; }

    // The folder of the lock files: ".cache/vantrel" in the home folder the system records for
    // the user id (mode 0700), whatever the environment says; empty when the user has none.
    static std::string lockFolder();
    // The lock file of `title` in lockFolder(); empty when there is none.
    static std::string lockPath(const std::string& title);
    // The abstract socket name of `title` (without its leading NUL): the title and the user id.
    static std::string socketName(const std::string& title);

  private:
    void holdSocket(int listener);

    int lockFd_ = -1;
    int socketFd_ = -1;
    int wakeFd_ = -1;  // written to stop the thread that answers probes of the socket
    std::thread answering_;
    Outcome outcome_ = Outcome::First;
    std::string failure_;
};

}  // namespace vantrel
