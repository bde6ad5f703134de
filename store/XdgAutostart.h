#pragma once
// Start with the system on a freedesktop.org desktop: a desktop entry named after the program in
// a machine-wide autostart directory (normally /etc/xdg/autostart) runs it hidden at log-on.
#include <string>

#include "store/Autostart.h"

namespace vantrel {

// The machine-wide autostart directory of the freedesktop.org autostart rules; the per-user one is
// never used.
inline constexpr char kSystemAutostartDirectory[] = "/etc/xdg/autostart";

class XdgAutostart : public Autostart {
  public:
    // `directory`: the autostart directory; `executable`: the program's full path.
    XdgAutostart(std::string directory, std::string executable);

    // The entry's file: "<directory>/Vantrel.desktop".
    const std::string& fileName() const { return fileName_; }

    // on: writes the entry atomically, replacing any file of that name; throws
    // Error("Failed to set data for 'Vantrel'") when that fails. off: removes the file if present,
    // ignoring failures. Does nothing at all when the directory is missing or not writable.
    void apply(bool on) override;

    // The entry's text for an executable (Exec quoted and escaped for the Desktop Entry format).
    static std::string desktopEntry(const std::string& executable);

  private:
    std::string directory_;
    std::string executable_;
    std::string fileName_;
};

}  // namespace vantrel
