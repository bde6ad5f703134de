#include "store/XdgAutostart.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "store/FileIo.h"
#include "store/PageListLocation.h"
#include "text/Error.h"

namespace vantrel {
namespace {

constexpr char kValueName[] = "Vantrel";

// The command line "<executable>" -s as the value of an Exec key (freedesktop.org desktop entry format,
// "The Exec key"): inside the double quotes ", `, $ and \ are escaped with a backslash; the value
// is then a string value, whose own escaping doubles every backslash and writes control
// characters as \n, \t, \r; a literal % is written %%.
std::string ExecValue(const std::string& executable) {
    std::string quoted = "\"";
    for (char c : executable) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        quoted += c;
    }
    quoted += "\" -s";
    std::string value;
    for (char c : quoted) {
        switch (c) {
            case '\\':
                value += "\\\\";
                break;
            case '\n':
                value += "\\n";
                break;
            case '\t':
                value += "\\t";
                break;
            case '\r':
                value += "\\r";
                break;
            case '%':
                value += "%%";
                break;
            default:
                value += c;
        }
    }
    return value;
}

}  // namespace

XdgAutostart::XdgAutostart(std::string directory, std::string executable)
    : directory_(std::move(directory)),
      executable_(std::move(executable)),
      fileName_(directory_ + "/" + kValueName + ".desktop") {}

std::string XdgAutostart::userDirectory(const UserEnvironment& env) {
    const std::string config = ConfigHome(env);
    return config.empty() ? std::string() : config + "/autostart";
}

std::string XdgAutostart::desktopEntry(const std::string& executable) {
    return std::string(
               "[Desktop Entry]\n"
               "Type=Application\n"
               "Name=Vantrel\n"
               "Comment=Watches web pages and tells when one goes offline, comes back or changes\n"
               "Exec=") +
           ExecValue(executable) +
           "\n"
           "Icon=" +
           kAppIconName +
           "\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

void XdgAutostart::apply(bool on) {
    if (!on) {
        if (!directory_.empty()) ::unlink(fileName_.c_str());
        return;
    }
    // The folder is the user's own, so unlike a machine-wide location there is no "not ours to
    // open": a folder that cannot be made, like an entry that cannot be written, leaves autostart
    // off while the box shows it on, and the user is told.
    ReplaceOptions options;
    options.mode = 0644;
    if (directory_.empty() || !CreateFolders(directory_, 0700) ||
        !ReplaceFileAtomically(fileName_, desktopEntry(executable_), options)) {
        throw Error(std::string("Failed to set data for '") + kValueName + "'");
    }
}

}  // namespace vantrel
