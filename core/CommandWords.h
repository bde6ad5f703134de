#pragma once
// Splits a command line into the program and its arguments the way a POSIX shell splits words
// and removes quotes (XCU 2.2 Quoting, 2.6.5 Field Splitting), with no expansion of any kind: no
// variables, globs, tildes, pipes or redirections. Blanks separate words; a backslash keeps the
// next character; single quotes keep everything up to the next one; double quotes keep
// everything except that a backslash before $ ` " \ or a line break escapes it.
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

struct CommandWords {
    std::vector<std::u16string> words;
    // Why the line cannot be split ("Unterminated single quote"); empty when it can.
    std::u16string error;
};

CommandWords SplitCommandLine(std::u16string_view line);

}  // namespace vantrel
