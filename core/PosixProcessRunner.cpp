#include "core/PosixProcessRunner.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

extern char** environ;

namespace vantrel {

namespace {

// How often the end of a running program is looked for. Only while a program runs.
constexpr std::chrono::milliseconds kPollStep{20};

// posix_spawn's settings, released at scope exit.
struct SpawnSettings {
    posix_spawnattr_t attr{};
    posix_spawn_file_actions_t actions{};
    SpawnSettings() {
        posix_spawnattr_init(&attr);
        posix_spawn_file_actions_init(&actions);
    }
    ~SpawnSettings() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attr);
    }
    SpawnSettings(const SpawnSettings&) = delete;
    SpawnSettings& operator=(const SpawnSettings&) = delete;
};

std::vector<std::string> MergedEnvironment(const ProcessRunner::Environment& extra) {
    std::vector<std::string> merged;
    for (char** item = environ; item && *item; ++item) {
        const std::string_view entry(*item);
        const std::string_view name = entry.substr(0, entry.find('='));
        bool replaced = false;
        for (const auto& [key, value] : extra) replaced = replaced || key == name;
        if (!replaced) merged.emplace_back(entry);
    }
    for (const auto& [key, value] : extra) merged.push_back(key + "=" + value);
    return merged;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& text : strings) pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

ProcessOutcome FromStatus(int status) {
    if (WIFEXITED(status)) return {ProcessOutcome::Kind::Exited, WEXITSTATUS(status)};
    return {ProcessOutcome::Kind::Killed, WIFSIGNALED(status) ? WTERMSIG(status) : 0};
}

// Kills the program's whole process group (a shell's children too), then reaps the program.
void KillAndReap(pid_t pid) {
    kill(-pid, SIGKILL);
    kill(pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

}  // namespace

ProcessOutcome PosixProcessRunner::run(const std::vector<std::string>& argv, const Environment& extra,
                                       std::chrono::milliseconds limit, const std::atomic<bool>& cancel) {
    if (argv.empty()) return {ProcessOutcome::Kind::NotFound, ENOENT};
    std::vector<std::string> args = argv;
    std::vector<std::string> env = MergedEnvironment(extra);
    std::vector<char*> argp = Pointers(args);
    std::vector<char*> envp = Pointers(env);
    SpawnSettings spawn;
    // A group of its own, so that the time limit ends what the program started too; the signal
    // mask and ignored signals (SIGPIPE is ignored by the network code) are not inherited.
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int sig : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGCHLD, SIGQUIT}) sigaddset(&defaults, sig);
    posix_spawnattr_setflags(&spawn.attr,
                             POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    posix_spawnattr_setpgroup(&spawn.attr, 0);
    posix_spawnattr_setsigmask(&spawn.attr, &none);
    posix_spawnattr_setsigdefault(&spawn.attr, &defaults);
    posix_spawn_file_actions_addopen(&spawn.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    pid_t pid = 0;
    // glibc reports a failed exec here rather than in the child's exit status.
    const int failed = posix_spawnp(&pid, argp[0], &spawn.actions, &spawn.attr, argp.data(), envp.data());
    if (failed == ENOENT || failed == ENOTDIR) return {ProcessOutcome::Kind::NotFound, failed};
    if (failed != 0) return {ProcessOutcome::Kind::NotStarted, failed};
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        int status = 0;
        const pid_t ended = waitpid(pid, &status, WNOHANG);
        if (ended == pid) return FromStatus(status);
        if (ended < 0 && errno != EINTR) return {ProcessOutcome::Kind::NotStarted, errno};
        if (cancel.load()) {
            KillAndReap(pid);
            return {ProcessOutcome::Kind::Cancelled, 0};
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            KillAndReap(pid);
            return {ProcessOutcome::Kind::TimedOut, 0};
        }
        std::this_thread::sleep_for(kPollStep);
    }
}

}  // namespace vantrel
