#pragma once
// Where the page list file lives: next to the executable for a copy run from its build tree or
// from a folder of the user's own, otherwise in the user's configuration folder. The decision is
// a pure function of facts gathered by probe()/current(), so tests can hand it any situation.
#include <sys/types.h>

#include <optional>
#include <string>

namespace vantrel {

inline constexpr char kPageListBaseName[] = "webpages.dat";

// The parts of the user's environment that decide the configuration folder.
struct UserEnvironment {
    std::optional<std::string> xdgConfigHome;  // $XDG_CONFIG_HOME, nullopt when unset
    std::string home;  // $HOME; when unset or empty, the home folder of the effective user

    static UserEnvironment current();
};

// $XDG_CONFIG_HOME when it is an absolute path, otherwise <home>/.config (XDG Base Directory:
// an empty or relative value is ignored). Empty when neither gives an absolute path. No trailing
// "/".
std::string ConfigHome(const UserEnvironment& env);

// What the executable's folder looks like to the effective user.
struct ExeFolder {
    std::string path;          // the executable's directory, with or without a trailing "/"
    bool hasPageList = false;  // an entry named webpages.dat is already there
    bool writable = false;     // the effective user may create files in it

    static ExeFolder probe(const std::string& exeDir);
};

// The page list file: next to the executable when a webpages.dat is already there, or when the
// folder is writable and lies outside /usr; otherwise <ConfigHome>/vantrel/webpages.dat. Falls
// back to the executable's folder when there is no configuration folder at all.
std::string PageListPath(const ExeFolder& exe, const UserEnvironment& env);

// Creates `directory` and its missing parents, each new one with `mode` (0700 for the user's
// private folders). Returns false when one cannot be created or a component is not a folder.
bool CreateFolders(const std::string& directory, mode_t mode = 0700);

// Creates the folder of the page list file `filePath` when it is missing (mode 0700), before the
// first save writes the file there. Returns false when that fails.
bool CreatePageListFolder(const std::string& filePath);

}  // namespace vantrel
