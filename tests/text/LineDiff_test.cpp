#include "text/LineDiff.h"
#include "text/Text.h"

#include <gtest/gtest.h>

#include <string>

namespace vantrel {
namespace {

TEST(LineDiffTest, ChangesWithFoldedContext) {
    std::u16string before, after;
    for (int i = 1; i <= 20; ++i) {
        const std::u16string line = u"line " + IntToText(i);
        before += line + u"\n";
        if (i == 10)
            after += u"line ten\r\n";
        else if (i != 15)
            after += line + u"\r\n";
        if (i == 20) after += u"added";
    }
    const LineDiffResult diff = DiffLines(before, after, 2);
    ASSERT_EQ(diff.outcome, LineDiffResult::Outcome::Different);
    EXPECT_EQ(diff.removed, 2u);
    EXPECT_EQ(diff.added, 2u);
    std::string drawn;
    for (const DiffLine& line : diff.lines) {
        switch (line.kind) {
            case DiffLine::Kind::Folded:
                drawn += "~" + std::to_string(line.foldedCount) + " from " + std::to_string(line.beforeLine) +
                         "\n";
                break;
            case DiffLine::Kind::Removed:
                drawn += "-" + ToUtf8(line.text) + " @" + std::to_string(line.beforeLine) + "\n";
                break;
            case DiffLine::Kind::Added:
                drawn += "+" + ToUtf8(line.text) + " @" + std::to_string(line.afterLine) + "\n";
                break;
            case DiffLine::Kind::Context:
                drawn += " " + ToUtf8(line.text) + "\n";
                break;
        }
    }
    EXPECT_EQ(drawn,
              "~7 from 1\n line 8\n line 9\n-line 10 @10\n+line ten @10\n line 11\n line 12\n"
              " line 13\n line 14\n-line 15 @15\n line 16\n line 17\n line 18\n line 19\n line 20\n"
              "+added @20\n");

    EXPECT_EQ(DiffLines(u"a\nb\n", u"a\r\nb").outcome, LineDiffResult::Outcome::Same);
    EXPECT_EQ(SplitLines(u"a\r\rb\n").size(), 3u);
    const LineDiffResult fromNothing = DiffLines(u"", u"x");
    ASSERT_EQ(fromNothing.lines.size(), 1u);
    EXPECT_EQ(fromNothing.lines[0].kind, DiffLine::Kind::Added);
    // A replaced line reads old first, whichever order the comparison found.
    const LineDiffResult replaced = DiffLines(u"title\nold line\nsame", u"title\nnew line\nsame");
    ASSERT_EQ(replaced.lines.size(), 4u);
    EXPECT_EQ(replaced.lines[1].kind, DiffLine::Kind::Removed);
    EXPECT_EQ(replaced.lines[2].kind, DiffLine::Kind::Added);
}

TEST(LineDiffTest, TooManyDifferingLinesIsSaidNotComputed) {
    std::u16string before, after;
    for (size_t i = 0; i <= limits::kMaxDiffLines; ++i) {
        before += u"same\n";
        after += u"same\n";
    }
    // Equal start and end are set aside, so a long page with one change is still compared.
    after[after.size() / 2] = u'X';
    EXPECT_EQ(DiffLines(before, after).outcome, LineDiffResult::Outcome::Different);
    std::u16string other;
    for (size_t i = 0; i <= limits::kMaxDiffLines; ++i) other += u"o\n";
    const LineDiffResult huge = DiffLines(before, u"x\n" + other + u"y");
    EXPECT_EQ(huge.outcome, LineDiffResult::Outcome::TooLarge);
    EXPECT_TRUE(huge.lines.empty());
}

}  // namespace
}  // namespace vantrel
