#pragma once
// Whether the window system can be reached, asked before the toolkit starts: without a display
// the toolkit aborts the program, where one line on standard error and exit code 1 say more.
#include <functional>
#include <string>
#include <vector>

namespace vantrel {

class DisplayCheck {
  public:
    // What the toolkit's choice of platform depends on.
    struct Environment {
        std::string platformArgument;  // "-platform NAME" among the arguments, else empty
        std::string qpaPlatform;       // QT_QPA_PLATFORM
        std::string sessionType;       // XDG_SESSION_TYPE
        std::string display;           // DISPLAY
        std::string waylandDisplay;    // WAYLAND_DISPLAY
        std::string runtimeDir;        // XDG_RUNTIME_DIR
        bool waylandSocket = false;    // WAYLAND_SOCKET set (a connection handed over)
    };
    struct Outcome {
        std::string problem;   // the line to print when no display can be reached, else empty
        std::string platform;  // a platform to ask the toolkit for instead of its own pick, or empty
    };
    // Whether an X display (empty: DISPLAY unset) or a Wayland socket path can be opened.
    using Probe = std::function<bool(const std::string&)>;

    static Environment current(int argc, char** argv);
    // With the user's choice of platform (argument or QT_QPA_PLATFORM), each named one is tried as
    // the toolkit will; without one, X first unless the session is Wayland's, and the other when
    // the first cannot be reached. A platform other than X or Wayland is not checked.
    static Outcome check(const Environment& env, const Probe& openX, const Probe& openWayland);
    // The probes of the real window systems.
    static bool canOpenX(const std::string& display);
    static bool canOpenWayland(const std::string& socketPath);
};

}  // namespace vantrel
