#include "text/LineDiff.h"

#include <dtl/dtl.hpp>

#include <algorithm>

namespace vantrel {

std::vector<std::u16string_view> SplitLines(std::u16string_view text) {
    std::vector<std::u16string_view> lines;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != u'\n' && text[i] != u'\r') continue;
        lines.push_back(text.substr(start, i - start));
        if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
        start = i + 1;
    }
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

namespace {

using Lines = std::vector<std::u16string_view>;

// The edit script over the whole texts: the common start and end are matched directly, only the
// middle goes through the diff, which costs about (N+M) times the number of differing lines.
std::vector<DiffLine> EditScript(const Lines& a, const Lines& b, bool& tooLarge) {
    size_t head = 0;
    while (head < a.size() && head < b.size() && a[head] == b[head]) ++head;
    size_t tail = 0;
    while (tail < a.size() - head && tail < b.size() - head &&
           a[a.size() - 1 - tail] == b[b.size() - 1 - tail]) {
        ++tail;
    }
    const Lines middleA(a.begin() + head, a.end() - tail);
    const Lines middleB(b.begin() + head, b.end() - tail);
    if (middleA.size() > limits::kMaxDiffLines || middleB.size() > limits::kMaxDiffLines) {
        tooLarge = true;
        return {};
    }
    std::vector<DiffLine> script;
    script.reserve(a.size() + middleB.size());
    for (size_t i = 0; i < head; ++i)
        script.push_back({DiffLine::Kind::Context, std::u16string(a[i]), i + 1, i + 1, 0});
    dtl::Diff<std::u16string_view, Lines> diff(middleA, middleB);
    diff.compose();
    for (const auto& [line, info] : diff.getSes().getSequence()) {
        const size_t beforeLine = info.beforeIdx > 0 ? head + static_cast<size_t>(info.beforeIdx) : 0;
        const size_t afterLine = info.afterIdx > 0 ? head + static_cast<size_t>(info.afterIdx) : 0;
        const DiffLine::Kind kind = info.type == dtl::SES_ADD      ? DiffLine::Kind::Added
                                    : info.type == dtl::SES_DELETE ? DiffLine::Kind::Removed
                                                                   : DiffLine::Kind::Context;
        script.push_back({kind, std::u16string(line), beforeLine, afterLine, 0});
    }
    // Within a run of changed lines the comparison may give added lines before removed ones;
    // readers expect the old lines first, as every unified diff shows them.
    for (auto run = script.begin() + static_cast<std::ptrdiff_t>(head); run != script.end();) {
        if (run->kind == DiffLine::Kind::Context) {
            ++run;
            continue;
        }
        const auto end = std::find_if(
            run, script.end(), [](const DiffLine& line) { return line.kind == DiffLine::Kind::Context; });
        std::stable_partition(run, end,
                              [](const DiffLine& line) { return line.kind == DiffLine::Kind::Removed; });
        run = end;
    }
    for (size_t i = 0; i < tail; ++i) {
        const size_t beforeLine = a.size() - tail + i + 1;
        const size_t afterLine = b.size() - tail + i + 1;
        script.push_back(
            {DiffLine::Kind::Context, std::u16string(a[beforeLine - 1]), beforeLine, afterLine, 0});
    }
    return script;
}

}  // namespace

LineDiffResult DiffLines(std::u16string_view before, std::u16string_view after, size_t context) {
    LineDiffResult result;
    const Lines a = SplitLines(before);
    const Lines b = SplitLines(after);
    if (a == b) return result;
    bool tooLarge = false;
    std::vector<DiffLine> script = EditScript(a, b, tooLarge);
    if (tooLarge) {
        result.outcome = LineDiffResult::Outcome::TooLarge;
        return result;
    }
    result.outcome = LineDiffResult::Outcome::Different;
    // A context line is shown when a change lies within `context` lines of it.
    std::vector<bool> shown(script.size(), false);
    for (size_t i = 0; i < script.size(); ++i) {
        if (script[i].kind == DiffLine::Kind::Context) continue;
        script[i].kind == DiffLine::Kind::Added ? ++result.added : ++result.removed;
        const size_t from = i >= context ? i - context : 0;
        const size_t to = std::min(script.size(), i + context + 1);
        std::fill(shown.begin() + static_cast<std::ptrdiff_t>(from),
                  shown.begin() + static_cast<std::ptrdiff_t>(to), true);
    }
    for (size_t i = 0; i < script.size();) {
        if (shown[i]) {
            result.lines.push_back(std::move(script[i++]));
            continue;
        }
        // A single hidden line is shown: its fold would take the same room and hide it for nothing.
        if (i + 1 == script.size() || shown[i + 1]) {
            result.lines.push_back(std::move(script[i++]));
            continue;
        }
        DiffLine folded{DiffLine::Kind::Folded, {}, script[i].beforeLine, script[i].afterLine, 0};
        while (i < script.size() && !shown[i]) ++folded.foldedCount, ++i;
        result.lines.push_back(std::move(folded));
    }
    return result;
}

}  // namespace vantrel
