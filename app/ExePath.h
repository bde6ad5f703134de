#pragma once
// Where the running executable lives, as the kernel reports it (/proc/self/exe).
#include <QString>

namespace vantrel {

class ExePath {
  public:
    // The executable's full path. Falls back to QCoreApplication::applicationFilePath() when
    // /proc/self/exe cannot be read; a path the kernel marks " (deleted)" (the file was replaced
    // while the program runs) is given without that mark.
    static QString path();
    // The directory of path(), with a trailing "/".
    static QString dir();
    // The directory part of `exePath`, with a trailing "/" ("/" for a file in the root).
    static QString dirOf(const QString& exePath);
};

}  // namespace vantrel
