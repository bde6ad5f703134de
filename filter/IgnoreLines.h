#pragma once
// The "ignore lines matching" filter: PCRE2 patterns in UTF mode, each line of the text tested
// against them, and the lines that match any dropped.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "filter/FilterError.h"

namespace vantrel {

class IgnoreLines {
  public:
    // Compiles the patterns. Throws FilterError (Invalid) with PCRE2's message, naming the
    // pattern (counted from 1) and the character where it went wrong.
    explicit IgnoreLines(const std::vector<std::u16string>& patterns);
    ~IgnoreLines();
    IgnoreLines(const IgnoreLines&) = delete;
    IgnoreLines& operator=(const IgnoreLines&) = delete;

    // PCRE2's message for a pattern that does not compile, with " at character N" (counted
    // from 1); empty when it compiles.
    static std::string problem(std::u16string_view pattern);

    // The text without the lines any pattern matches. Lines end at LF; a CR before it is not
    // part of what is matched; kept lines keep their line ends, so text where nothing matches
    // comes back unchanged. Throws FilterError (TooSlow) when a match reaches PCRE2's limits or
    // the deadline passes.
    std::u16string apply(std::u16string_view text, const Deadline& deadline) const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace vantrel
