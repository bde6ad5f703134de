#include "core/ListCommand.h"

#include <gtest/gtest.h>

#include "core/PageImport.h"

namespace vantrel {
namespace {

TEST(ListCommandTest, AddWithLabelAndIntervalInMinutes) {
    const ListCommand add =
        ParseListCommand({u"--add", u" https://a.example/ ", u"--interval", u"60", u"--label", u"A"});
    EXPECT_EQ(add.error, "");
    EXPECT_EQ(add.kind, ListCommand::Kind::Add);
    EXPECT_EQ(add.url, u"https://a.example/");
    EXPECT_EQ(add.label, u"A");
    EXPECT_EQ(add.intervalIndex, 4);
    const ListCommand bare = ParseListCommand({u"-s", u"--add", u"http://b.example/"});
    EXPECT_EQ(bare.label, u"http://b.example/");
    EXPECT_EQ(bare.intervalIndex, kDefaultIntervalIndex);
    EXPECT_EQ(ParseListCommand({u"-s"}).kind, ListCommand::Kind::None);
    EXPECT_TRUE(ParseListCommand({u"--status", u"--json"}).json);
}

TEST(ListCommandTest, WrongArgumentsSayWhy) {
    const std::pair<std::vector<std::u16string>, std::string> cases[] = {
        {{u"--add", u"https://a.example/", u"--interval", u"7"},
         "--interval: 7 is not one of 1, 5, 10, 30, 60, 180, 360, 720, 1440 (minutes)"},
        {{u"--add", u"https://a.example/", u"--interval", u"ten"},
         "--interval: ten is not one of 1, 5, 10, 30, 60, 180, 360, 720, 1440 (minutes)"},
        {{u"--add"}, "--add needs a value"},
        {{u"--add", u"a.example"}, "--add: not a web address: a.example"},
        {{u"--import", u"a.txt", u"--export", u"b.txt"},
         "give one of --add, --import, --export and --status at a time"},
        {{u"--import", u"a.txt", u"--label", u"x"}, "--label and --interval go with --add"},
        {{u"--json"}, "--json goes with --status"},
    };
    for (const auto& [args, error] : cases) EXPECT_EQ(ParseListCommand(args).error, error);
}

class ResetCounter : public PageListObserver {
  public:
    void aboutToReset() override { ++resets; }
    int resets = 0;
};

TEST(PageImportTest, DuplicatesByUrlAreCountedAndTheRestAddedInOneBatch) {
    PageList list;
    list.add(u"Known", u"https://known.example/", 2);
    const ImportSelection selection = SelectNewPages(list, {{u"K", u" https://known.example/"},
                                                            {u"N", u"https://new.example/"},
                                                            {u"N2", u"https://new.example/"},
                                                            {u"Case", u"https://KNOWN.example/"}});
    EXPECT_EQ(selection.duplicates, 2);
    ASSERT_EQ(selection.fresh.size(), 2u);
    ResetCounter counter;
    list.setObserver(&counter);
    list.setSorted(true);
    AddPages(list, selection.fresh, 8);
    list.setObserver(nullptr);
    EXPECT_EQ(counter.resets, 1);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list.at(0).label, u"Case");
    EXPECT_EQ(list.at(0).interval(), u"8");
    EXPECT_EQ(list.at(0).status, PageStatus::Offline);
    EXPECT_FALSE(IsWebAddress(u"https:///path"));
    EXPECT_FALSE(IsWebAddress(u"ftp://a.example/"));
}

}  // namespace
}  // namespace vantrel
