#pragma once
// A line diff of two texts (the page before and after a change) as hunks of removed, added and
// context lines, with long unchanged runs folded, ready to be drawn.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "text/TextLimits.h"

namespace vantrel {

// Unchanged lines shown around each change.
constexpr size_t kDiffContextLines = 3;

struct DiffLine {
    enum class Kind { Context, Removed, Added, Folded };
    Kind kind = Kind::Context;
    std::u16string text;     // empty for Folded
    size_t beforeLine = 0;   // 1-based line in the old text; 0 for Added
    size_t afterLine = 0;    // 1-based line in the new text; 0 for Removed
    size_t foldedCount = 0;  // for Folded: how many unchanged lines are not shown
};

struct LineDiffResult {
    enum class Outcome { Same, Different, TooLarge };
    Outcome outcome = Outcome::Same;
    // Context, removed and added lines in order; a Folded line stands for each unchanged run
    // longer than the context on both sides of it by two lines or more (also at the start and the
    // end); a single line past the context is shown rather than folded.
    std::vector<DiffLine> lines;
    size_t removed = 0;
    size_t added = 0;
};

// Splits at LF, CR LF or a lone CR; a final line break does not start another line.
std::vector<std::u16string_view> SplitLines(std::u16string_view text);

// Compares line by line (Wu, Manber and Myers' O(NP) algorithm). TooLarge, with no lines, when
// more than limits::kMaxDiffLines differing lines remain on either side.
LineDiffResult DiffLines(std::u16string_view before, std::u16string_view after,
                         size_t context = kDiffContextLines);

}  // namespace vantrel
