#include "app/DisplayCheck.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <sstream>

namespace vantrel {

namespace {

std::string envOrEmpty(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::vector<std::string> splitPlatforms(const std::string& list) {
    std::vector<std::string> names;
    std::istringstream in(list);
    std::string name;
    while (std::getline(in, name, ';'))
        if (!name.empty()) names.push_back(name);
    return names;
}

bool isWayland(const std::string& platform) {
    return platform.rfind("wayland", 0) == 0;  // wayland, wayland-egl, ...
}

// The socket libwayland-client connects to: WAYLAND_DISPLAY (default "wayland-0") in the runtime
// folder, or the path itself when it is absolute. Empty when there is no runtime folder.
std::string waylandPath(const DisplayCheck::Environment& env) {
    const std::string name = env.waylandDisplay.empty() ? "wayland-0" : env.waylandDisplay;
    if (name.front() == '/') return name;
    return env.runtimeDir.empty() ? std::string() : env.runtimeDir + "/" + name;
}

}  // namespace

DisplayCheck::Environment DisplayCheck::current(int argc, char** argv) {
    Environment env;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "-platform") == 0) env.platformArgument = argv[i + 1];
    env.qpaPlatform = envOrEmpty("QT_QPA_PLATFORM");
    env.sessionType = envOrEmpty("XDG_SESSION_TYPE");
    env.display = envOrEmpty("DISPLAY");
    env.waylandDisplay = envOrEmpty("WAYLAND_DISPLAY");
    env.runtimeDir = envOrEmpty("XDG_RUNTIME_DIR");
    env.waylandSocket = !envOrEmpty("WAYLAND_SOCKET").empty();
    return env;
}

DisplayCheck::Outcome DisplayCheck::check(const Environment& env, const Probe& openX,
                                          const Probe& openWayland) {
    const auto reachable = [&](const std::string& platform) {
        if (isWayland(platform)) {
            if (env.waylandSocket) return true;
            const std::string path = waylandPath(env);
            return !path.empty() && openWayland(path);
        }
        return openX(env.display);
    };
    const std::string chosen = env.platformArgument.empty() ? env.qpaPlatform : env.platformArgument;
    std::vector<std::string> platforms = splitPlatforms(chosen);
    const bool userChoice = !platforms.empty();
    if (!userChoice)
        platforms = env.sessionType == "wayland" ? std::vector<std::string>{"wayland", "xcb"}
                                                 : std::vector<std::string>{"xcb", "wayland"};
    bool triedX = false;
    bool triedWayland = false;
    for (const std::string& platform : platforms) {
        if (platform != "xcb" && !isWayland(platform)) return {};
        if (reachable(platform))
            return {{}, userChoice || platform == platforms.front() ? std::string() : platform};
        (isWayland(platform) ? triedWayland : triedX) = true;
    }

    if (!userChoice && env.display.empty() && env.waylandDisplay.empty() && !env.waylandSocket)
        return {"vantrel: no display (DISPLAY and WAYLAND_DISPLAY unset)", {}};
    std::string names;
    const auto add = [&names](const std::string& name) { names += (names.empty() ? "" : " nor ") + name; };
    // Without a user's choice, only the displays the environment names are worth naming.
    if (triedX && (userChoice || !env.display.empty()))
        add(env.display.empty() ? "(DISPLAY unset)" : env.display);
    if (triedWayland && (userChoice || !env.waylandDisplay.empty())) {
        const std::string path = waylandPath(env);
        add(path.empty() ? "wayland-0 (XDG_RUNTIME_DIR unset)" : path);
    }
    return {"vantrel: cannot open display " + names, {}};
}

bool DisplayCheck::canOpenX(const std::string& display) {
    // The toolkit's X platform connects the same way: DISPLAY, its authority file, TCP or local.
    xcb_connection_t* connection = xcb_connect(display.empty() ? nullptr : display.c_str(), nullptr);
    const bool open = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    return open;
}

bool DisplayCheck::canOpenWayland(const std::string& socketPath) {
    sockaddr_un address{};
    if (socketPath.size() >= sizeof(address.sun_path)) return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const bool open = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    ::close(fd);
    return open;
}

}  // namespace vantrel
