#include "core/AlarmCommand.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "core/CommandWords.h"
#include "core/PosixProcessRunner.h"
#include "support/TempDir.h"

namespace vantrel {
namespace {

using Words = std::vector<std::u16string>;

AlarmEvent Event(std::u16string label) {
    AlarmEvent event;
    event.label = std::move(label);
    return event;
}

TEST(SplitCommandLineTest, QuotesAndEscapesAsAShellWithoutExpansion) {
    const struct {
        std::u16string_view line;
        Words words;
    } kCases[] = {
        {u"  curl  -d hi\tntfy.sh/x \n", {u"curl", u"-d", u"hi", u"ntfy.sh/x"}},
        // Nothing is expanded: $, *, ~, | and > are plain characters.
        {u"echo $HOME *.txt ~ a|b >f", {u"echo", u"$HOME", u"*.txt", u"~", u"a|b", u">f"}},
        {u"say 'it''s \"quoted\"' \"a \\\"b\\\" \\$c \\d\"", {u"say", u"its \"quoted\"", u"a \"b\" $c \\d"}},
        {u"a\\ b c\\\\ d\\\ne", {u"a b", u"c\\", u"de"}},
        {u"x '' \"\" y", {u"x", u"", u"", u"y"}},
        {u"trailing\\", {u"trailing\\"}},
        {u"mail -s \"Caf\u00e9 \u2014 alarm\" me@example.test",
         {u"mail", u"-s", u"Caf\u00e9 \u2014 alarm", u"me@example.test"}},
        {u"", {}},
    };
    for (const auto& row : kCases) {
        const CommandWords split = SplitCommandLine(row.line);
        EXPECT_EQ(split.error, u"");
        EXPECT_EQ(split.words, row.words);
    }
    EXPECT_EQ(SplitCommandLine(u"echo 'open").error, u"Unterminated single quote");
    EXPECT_EQ(SplitCommandLine(u"echo \"open\\\"").error, u"Unterminated double quote");
}

// Reads a whole file.
std::string Slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A real process sees the event in its environment; exit codes and a missing program are told.
TEST(AlarmCommandTest, TheCommandSeesTheEventAndItsFailuresAreReported) {
    test::TempDir dir;
    const std::string out = dir.file("env.txt");
    PosixProcessRunner runner;
    std::vector<std::u16string> said;
    AlarmCommand command(runner, [&](const AlarmEvent& event, const ProcessOutcome& outcome) {
        said.push_back(event.label + u": " + outcome.describe(AlarmCommand::kTimeLimit));
    });
    EXPECT_EQ(command.setCommandLine(
                  u"/bin/sh -c 'printf \"%s|%s|%s|%s|%s\" \"$VANTREL_LABEL\" \"$VANTREL_URL\" "
                  u"\"$VANTREL_OLD_STATUS\" \"$VANTREL_NEW_STATUS\" \"$VANTREL_RESULT\" > \"$0\"' " +
                  std::u16string(out.begin(), out.end())),
              u"");
    command.announce({u"Caf\u00e9 \"Shop\"", u"http://a.test/", PageStatus::Online, PageStatus::Offline,
                      u"Offline \u2014 Connection refused"});
    command.waitIdle();
    EXPECT_EQ(Slurp(out),
              "Caf\xc3\xa9 \"Shop\"|http://a.test/|online|offline|Offline \xe2\x80\x94 Connection refused");
    command.setCommandLine(u"/bin/sh -c 'exit 3'");
    command.announce(Event(u"A"));
    command.setCommandLine(u"vantrel-no-such-program-here --flag");
    command.announce(Event(u"B"));
    command.waitIdle();
    EXPECT_EQ(said, (std::vector<std::u16string>{u"Caf\u00e9 \"Shop\": Ran fine", u"A: Exited with code 3",
                                                 u"B: Not found"}));
}

// A command that would run for 30 s is killed at its (short, injected) limit, and so is one
// still running when the command object goes at the end of the run.
TEST(AlarmCommandTest, ACommandPastItsTimeLimitIsKilled) {
    // Far below the 30 s of the command, far above what starting a shell takes on a loaded machine.
    constexpr std::chrono::milliseconds kLimit{1500};
    constexpr auto kGenerous = std::chrono::seconds(20);
    PosixProcessRunner runner;
    std::vector<std::u16string> said;
    const auto start = std::chrono::steady_clock::now();
    {
        AlarmCommand command(
            runner,
            [&](const AlarmEvent&, const ProcessOutcome& outcome) {
                said.push_back(outcome.describe(kLimit));
            },
            kLimit);
        command.setCommandLine(u"/bin/sh -c 'sleep 30'");
        command.announce(Event(u"A"));
        command.waitIdle();
        EXPECT_EQ(said, std::vector<std::u16string>{u"Timed out after 1500 ms and was killed"});
        command.announce(Event(u"B"));
    }
    EXPECT_EQ(said.size(), 1u);  // the cancelled run is not reported as a failure
    EXPECT_LT(std::chrono::steady_clock::now() - start, kGenerous);
}

// One at a time: while a run blocks, kMaxWaiting wait and the next is dropped and reported.
TEST(AlarmCommandTest, TheQueueIsBounded) {
    struct BlockingRunner : ProcessRunner {
        ProcessOutcome run(const std::vector<std::string>&, const Environment&, std::chrono::milliseconds,
                           const std::atomic<bool>& cancel) override {
            std::unique_lock lock(mutex);
            ++started;
            changed.notify_all();
            changed.wait(lock, [&] { return open || cancel.load(); });
            return {};
        }
        std::mutex mutex;
        std::condition_variable changed;
        int started = 0;
        bool open = false;
    } runner;
    std::vector<std::u16string> said;
    AlarmCommand command(runner, [&](const AlarmEvent& event, const ProcessOutcome& outcome) {
        if (outcome.failed())
            said.push_back(event.label + u": " + outcome.describe(AlarmCommand::kTimeLimit));
    });
    command.setCommandLine(u"notify");
    command.announce(Event(u"first"));
    {
        std::unique_lock lock(runner.mutex);
        ASSERT_TRUE(
            runner.changed.wait_for(lock, std::chrono::seconds(20), [&] { return runner.started == 1; }));
    }
    for (size_t i = 0; i < AlarmCommand::kMaxWaiting; ++i) command.announce(Event(u"waits"));
    command.announce(Event(u"late"));
    EXPECT_EQ(said, std::vector<std::u16string>{u"late: Not run: too many commands were waiting"});
    {
        std::lock_guard lock(runner.mutex);
        runner.open = true;
    }
    runner.changed.notify_all();
    command.waitIdle();
    EXPECT_EQ(runner.started, 1 + static_cast<int>(AlarmCommand::kMaxWaiting));
}

}  // namespace
}  // namespace vantrel
