#include "support/XvfbDisplay.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <thread>
#include <vector>

extern char** environ;

namespace vantrel::test {

namespace {

// The pid written in the X server lock file of display `number`, or 0.
pid_t lockOwner(int number) {
    std::ifstream lock("/tmp/.X" + std::to_string(number) + "-lock");
    long pid = 0;
    lock >> pid;
    return static_cast<pid_t>(pid);
}

// Starts `argv` (searched in PATH) with its output thrown away; its pid, or -1.
pid_t spawnQuiet(const char* const* argv, char* const* envp) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, const_cast<char**>(argv), envp);
    posix_spawn_file_actions_destroy(&actions);
    return spawned == 0 ? pid : -1;
}

// Runs `argv` to its end with DISPLAY set to `display`; true when it exited with 0.
bool runOn(const std::string& display, const char* const* argv) {
    std::vector<std::string> variables{"DISPLAY=" + display};
    for (char** v = environ; *v; ++v)
        if (std::strncmp(*v, "DISPLAY=", 8) != 0) variables.emplace_back(*v);
    std::vector<char*> envp;
    for (std::string& v : variables) envp.push_back(v.data());
    envp.push_back(nullptr);
    const pid_t pid = spawnQuiet(argv, envp.data());
    int status = 0;
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

XvfbDisplay::XvfbDisplay() {
    // Xvfb's own choice of a free display (-displayfd) can land on a number another X server on a
    // shared machine owns already. Try random high numbers instead, and own one only when the
    // lock file names this Xvfb. Starts without a reset when the last client leaves, so probing
    // it below changes nothing for the test's own clients.
    std::mt19937 random(std::random_device{}());
    for (int attempt = 0; attempt < 5 && name_.empty(); ++attempt) {
        const int number = std::uniform_int_distribution<int>(1000, 9999)(random);
        if (::access(("/tmp/.X" + std::to_string(number) + "-lock").c_str(), F_OK) == 0) continue;
        const std::string display = ":" + std::to_string(number);
        const char* argv[] = {"Xvfb",      display.c_str(), "-screen",  "0",    "800x600x24",
                              "-nolisten", "tcp",           "-noreset", nullptr};
        pid_ = spawnQuiet(argv, environ);
        if (pid_ < 0) {
            error_ = "Xvfb is not installed";
            return;
        }
        for (int i = 0; i < 500; ++i) {
            // Ours once the lock names this Xvfb; ready once a client gets an answer from it.
            static const char* const kProbe[] = {"xdotool", "getdisplaygeometry", nullptr};
            if (lockOwner(number) == pid_ && runOn(display, kProbe)) {
                name_ = display;
                break;
            }
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;  // lost the race for this number
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (name_.empty()) stop();
    }
    if (name_.empty() && error_.empty()) error_ = "Xvfb did not start on a display of its own";
}

XvfbDisplay::~XvfbDisplay() {
    stop();
}

void XvfbDisplay::stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 500; ++i) {
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
}

}  // namespace vantrel::test
