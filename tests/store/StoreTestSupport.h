#pragma once
// Helpers of the store tests: raw file bytes, and running a piece of a test as an unprivileged
// user, so permission checks hold even when tests run as root.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>

#include "support/TempDir.h"

namespace vantrel::test {

inline void WriteBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

inline std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

inline mode_t ModeOf(const std::string& path) {
    struct stat info {};
    ::stat(path.c_str(), &info);
    return info.st_mode & 07777;
}

// UTF-16LE with byte-order mark, as the Windows profile-file service writes.
inline std::string Utf16LeFile(std::u16string_view text) {
    std::string bytes = "\xFF\xFE";
    for (char16_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    return bytes;
}

constexpr uid_t kNobody = 65534;

// Runs `body` in a child process; as root the child first becomes user and group "nobody". With
// `maxFileBytes` > 0 the child may not write files larger than that (a full disk, as far as
// write() can tell). Returns what `body` returned, or "child failed" when it crashed.
inline std::string RunUnprivileged(const std::function<std::string()>& body, long maxFileBytes = 0) {
    int channel[2];
    if (::pipe(channel) != 0) return "pipe failed";
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(channel[0]);
        if (::geteuid() == 0 && (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) ::_exit(2);
        if (maxFileBytes > 0) {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{static_cast<rlim_t>(maxFileBytes), static_cast<rlim_t>(maxFileBytes)};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        std::string result;
        try {
            result = body();
        } catch (const std::exception& error) {
            result = std::string("exception: ") + error.what();
        }
        [[maybe_unused]] ssize_t ignored = ::write(channel[1], result.data(), result.size());
        ::_exit(0);
    }
    ::close(channel[1]);
    std::string result;
    char buffer[4096];
    ssize_t got;
    while ((got = ::read(channel[0], buffer, sizeof buffer)) > 0)
        result.append(buffer, static_cast<size_t>(got));
    ::close(channel[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "child failed";
    return result;
}

}  // namespace vantrel::test
