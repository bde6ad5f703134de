#pragma once
// Start with the desktop on a freedesktop.org desktop: a desktop entry named after the program in
// the user's own autostart folder (~/.config/autostart) runs this user's copy hidden at log-on.
#include <string>

#include "store/Autostart.h"

namespace vantrel {

struct UserEnvironment;

// The icon's name in the icon theme, which is also the application id of the installed launcher.
inline constexpr char kAppIconName[] = "io.github.vantrel.Vantrel";

class XdgAutostart : public Autostart {
  public:
    // `directory`: the autostart folder; `executable`: the program's full path.
    XdgAutostart(std::string directory, std::string executable);

    // The user's autostart folder: <ConfigHome>/autostart (freedesktop.org Desktop Application
    // Autostart rules). Empty when the user has no configuration folder.
    static std::string userDirectory(const UserEnvironment& env);

    // The entry's file: "<directory>/Vantrel.desktop".
    const std::string& fileName() const { return fileName_; }

    // on: creates the folder when it is missing (mode 0700), then writes the entry atomically,
    // replacing any file of that name; throws Error("Failed to set data for 'Vantrel'") when the
    // folder cannot be created or the entry cannot be written. off: removes the file if present,
    // ignoring failures.
    void apply(bool on) override;

    // The entry's text for an executable (Exec quoted and escaped for the Desktop Entry format).
    static std::string desktopEntry(const std::string& executable);

  private:
    std::string directory_;
    std::string executable_;
    std::string fileName_;
};

}  // namespace vantrel
