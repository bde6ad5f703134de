#include "store/PageListLocation.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace vantrel {
namespace {

// "/a//b/" -> "/a/b": repeated and trailing slashes dropped, so prefix tests compare folders.
std::string CollapseSlashes(const std::string& path) {
    std::string result;
    for (char c : path) {
        if (c == '/' && !result.empty() && result.back() == '/') continue;
        result += c;
    }
    if (result.size() > 1 && result.back() == '/') result.pop_back();
    return result;
}

bool UnderUsr(const std::string& folder) {
    const std::string path = CollapseSlashes(folder);
    return path == "/usr" || path.rfind("/usr/", 0) == 0;
}

std::string WithSlash(std::string folder) {
    if (folder.empty() || folder.back() != '/') folder += '/';
    return folder;
}

}  // namespace

UserEnvironment UserEnvironment::current() {
    UserEnvironment env;
    if (const char* value = std::getenv("XDG_CONFIG_HOME")) env.xdgConfigHome = value;
    if (const char* value = std::getenv("HOME"); value && *value) {
        env.home = value;
    } else if (const passwd* entry = ::getpwuid(::geteuid()); entry && entry->pw_dir) {
        env.home = entry->pw_dir;
    }
    return env;
}

std::string ConfigHome(const UserEnvironment& env) {
    if (env.xdgConfigHome && !env.xdgConfigHome->empty() && env.xdgConfigHome->front() == '/')
        return CollapseSlashes(*env.xdgConfigHome);
    if (!env.home.empty() && env.home.front() == '/') {
        const std::string home = CollapseSlashes(env.home);
        return (home == "/" ? "" : home) + "/.config";
    }
    return {};
}

ExeFolder ExeFolder::probe(const std::string& exeDir) {
    ExeFolder folder;
    folder.path = exeDir;
    struct stat info {};
    folder.hasPageList = ::lstat((WithSlash(exeDir) + kPageListBaseName).c_str(), &info) == 0;
    folder.writable = ::faccessat(AT_FDCWD, exeDir.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
    return folder;
}

std::string PageListPath(const ExeFolder& exe, const UserEnvironment& env) {
    const std::string nextToExe = WithSlash(exe.path) + kPageListBaseName;
    // A file already there is the user's choice (a portable copy), wherever the folder is. A
    // writable folder under /usr is one that only root can write: a system-wide install run as
    // root keeps root's list in root's own folder, not beside the program.
    if (exe.hasPageList || (exe.writable && !UnderUsr(exe.path))) return nextToExe;
    const std::string config = ConfigHome(env);
    if (config.empty()) return nextToExe;
    return config + "/vantrel/" + kPageListBaseName;
}

bool CreateFolders(const std::string& directory, mode_t mode) {
    const std::string path = CollapseSlashes(directory);
    if (path.empty()) return false;
    std::vector<std::string> prefixes;
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
        prefixes.push_back(path.substr(0, slash));
    prefixes.push_back(path);
    for (const std::string& prefix : prefixes) {
        struct stat info {};
        if (::stat(prefix.c_str(), &info) == 0) {
            if (!S_ISDIR(info.st_mode)) return false;
            continue;
        }
        // Another process may create it between the two calls.
        if (::mkdir(prefix.c_str(), mode) != 0 && errno != EEXIST) return false;
    }
    return true;
}

bool CreatePageListFolder(const std::string& filePath) {
    const size_t slash = filePath.rfind('/');
    if (slash == std::string::npos || slash == 0) return true;
    return CreateFolders(filePath.substr(0, slash), 0700);
}

}  // namespace vantrel
