#pragma once
// A virtual X display of a test's own (Xvfb, no window manager, no notification area), for a
// test that must run a program where the shared display would not do.
#include <sys/types.h>

#include <string>

namespace vantrel::test {

class XvfbDisplay {
  public:
    // Starts Xvfb and waits (at most 10 s) until it owns its display; `name()` is empty when it
    // could not.
    XvfbDisplay();
    ~XvfbDisplay();
    XvfbDisplay(const XvfbDisplay&) = delete;
    XvfbDisplay& operator=(const XvfbDisplay&) = delete;

    // ":N", for DISPLAY.
    const std::string& name() const { return name_; }
    const std::string& error() const { return error_; }

  private:
    void stop();

    pid_t pid_ = -1;
    std::string name_;
    std::string error_;
};

}  // namespace vantrel::test
