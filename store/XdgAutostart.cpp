#include "store/XdgAutostart.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "core/Error.h"
#include "store/FileIo.h"

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

bool IsWritableDirectory(const std::string& directory) {
    struct stat info {};
    return ::stat(directory.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
           ::faccessat(AT_FDCWD, directory.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

}  // namespace

XdgAutostart::XdgAutostart(std::string directory, std::string executable)
    : directory_(std::move(directory)),
      executable_(std::move(executable)),
      fileName_(directory_ + "/" + kValueName + ".desktop") {}

std::string XdgAutostart::desktopEntry(const std::string& executable) {
    return std::string(
               "[Desktop Entry]\n"
               "Type=Application\n"
               "Name=Vantrel\n"
               "Comment=Watches web pages and tells when one goes offline, comes back or changes\n"
               "Exec=") +
           ExecValue(executable) +
           "\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

void XdgAutostart::apply(bool on) {
    // The location cannot be opened: as with a registry key we may not open, silently nothing.
    if (!IsWritableDirectory(directory_)) return;
    if (!on) {
        ::unlink(fileName_.c_str());
        return;
    }
    ReplaceOptions options;
    options.mode = 0644;
    if (!ReplaceFileAtomically(fileName_, desktopEntry(executable_), options)) {
        throw Error(std::string("Failed to set data for '") + kValueName + "'");
    }
}

}  // namespace vantrel
