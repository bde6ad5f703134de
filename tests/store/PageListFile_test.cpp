#include "store/PageListFile.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "store/StoreLimits.h"
#include "store/StoreTestSupport.h"
#include "text/Error.h"
#include "text/Text.h"

namespace vantrel {
namespace {

using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

// One line per entry: label|status|url|interval|stamp|checksum (UTF-8).
std::string Describe(const PageList& list) {
    std::string out;
    for (const PageEntry& entry : list.entries()) {
        out += ToUtf8(entry.label);
        out += '|';
        out += std::to_string(static_cast<int>(entry.status));
        for (const auto& column : entry.columns) {
            out += '|';
            out += ToUtf8(column);
        }
        out += "\n";
    }
    return out;
}

struct Loaded {
    PageList list;
    Options options;
    std::vector<Option> reported;
};

void LoadInto(PageListFile& file, Loaded& loaded) {
    loaded.options = file.load(loaded.list, [&](Option option, bool on) {
        EXPECT_TRUE(on);
        EXPECT_TRUE(loaded.list.empty()) << "options are applied before the entries are read";
        loaded.reported.push_back(option);
    });
}

class PageListFileTest : public ::testing::Test {
  protected:
    TempDir dir;
    std::string path = dir.file("webpages.dat");
    const std::string refused = "Unable to write to " + path;
};

TEST_F(PageListFileTest, MissingFileLoadsNothingAndSaveCreatesZeroedMain) {
    PageListFile file(path);
    Loaded loaded;
    LoadInto(file, loaded);
    EXPECT_TRUE(loaded.list.empty());
    EXPECT_TRUE(loaded.reported.empty());
    EXPECT_FALSE(loaded.options.start || loaded.options.sort || loaded.options.recheck);
    file.save(loaded.list, loaded.options);
    EXPECT_EQ(ReadBytes(path), "[main]\r\ncount=0\r\nstart=0\r\nsort=0\r\nrecheck=0\r\n");
    const mode_t umask = ::umask(0);
    ::umask(umask);
    EXPECT_EQ(test::ModeOf(path), static_cast<mode_t>(0666 & ~umask));
}

TEST_F(PageListFileTest, Utf16LeFileAsWindowsWritesItLoadsAndSavesBackByteForByte) {
    const std::u16string text =
        u"[main]\r\ncount=2\r\nstart=0\r\nsort=0\r\nrecheck=0\r\n"
        u"[web1]\r\ncaption=\u039Aαλημέρα €\r\nstatus=1\r\nitem1=http://example.org/\u00FC\r\n"
        u"item2=4\r\nitem3=1700000000\r\nitem4=CRC of a text above is: 414FA339\r\n"
        u"[web2]\r\ncaption=\U0001F310 "
        u"globe\r\nstatus=0\r\nitem1=http://b/\r\nitem2=2\r\nitem3=\r\nitem4=\r\n";
    const std::string bytes = test::Utf16LeFile(text);
    WriteBytes(path, bytes);
    PageListFile file(path);
    Loaded loaded;
    LoadInto(file, loaded);
    EXPECT_EQ(Describe(loaded.list),
              "Καλημέρα €|1|http://example.org/ü|4|1700000000|CRC of a text above is: 414FA339\n"
              "\xF0\x9F\x8C\x90 globe|0|http://b/|2||\n");
    file.save(loaded.list, loaded.options);
    EXPECT_EQ(ReadBytes(path), bytes);
}

TEST_F(PageListFileTest, Windows1252FileIsReadAndWrittenBackAsUtf8) {
    WriteBytes(path, "[main]\r\ncount=1\r\n[web1]\r\ncaption=Caf\xE9 \x80 \x81\r\nitem1=http://x/\r\n");
    PageListFile file(path);
    Loaded loaded;
    LoadInto(file, loaded);
    EXPECT_EQ(Describe(loaded.list), "Café € \xC2\x81|2|http://x/|||\n");
    file.save(loaded.list, loaded.options);
    EXPECT_EQ(ReadBytes(path),
              "[main]\r\ncount=1\r\nstart=0\r\nsort=0\r\nrecheck=0\r\n"
              "[web1]\r\ncaption=Caf\xC3\xA9 \xE2\x82\xAC \xC2\x81\r\nitem1=http://x/\r\nstatus=2\r\n"
              "item2=\r\nitem3=\r\nitem4=\r\n");
}

TEST_F(PageListFileTest, WrittenFileRoundTripsByteForByteAndUtf8BomIsKept) {
    const std::string bytes =
        "\xEF\xBB\xBF[main]\r\ncount=1\r\nstart=1\r\nsort=0\r\nrecheck=0\r\n"
        "[web1]\r\ncaption=Héllo\r\nstatus=0\r\nitem1=http://a/\r\nitem2=2\r\nitem3=5\r\nitem4=\r\n";
    WriteBytes(path, bytes);
    PageListFile file(path);
    Loaded loaded;
    LoadInto(file, loaded);
    file.save(loaded.list, loaded.options);
    EXPECT_EQ(ReadBytes(path), bytes);
}

TEST_F(PageListFileTest, NamesAnyCaseQuotesBlanksAndLongValues) {
    const std::string longUrl = "http://x/" + std::string(3000 - 9, 'a');
    const std::string atLimit(limits::kMaxValueLength, 'b');
    WriteBytes(path, "[MAIN]\nCOUNT = 3\n[Web1]\n CAPTION = \"Quoted label\" \nSTATUS=7\nITEM1=" + longUrl +
                         "\n[WEB2]\ncaption='single'\nitem1=" + atLimit +
                         "\nitem2=\t12\t\n[web3]\ncaption=\"mismatched'\nstatus=0x1F\n");
    PageListFile file(path);
    Loaded loaded;
    LoadInto(file, loaded);
    ASSERT_EQ(loaded.list.size(), 3u);
    EXPECT_EQ(loaded.list.at(0).label, u"Quoted label");
    EXPECT_EQ(static_cast<int>(loaded.list.at(0).status), 7);
    EXPECT_EQ(ToUtf8(loaded.list.at(0).url()), longUrl.substr(0, limits::kMaxValueLength));
    EXPECT_EQ(ToUtf8(loaded.list.at(1).url()), atLimit);
    EXPECT_EQ(loaded.list.at(1).label, u"single");
    EXPECT_EQ(loaded.list.at(1).interval(), u"12");
    EXPECT_EQ(loaded.list.at(2).label, u"\"mismatched'");
    EXPECT_EQ(static_cast<int>(loaded.list.at(2).status), 31);
}

TEST_F(PageListFileTest, CountIsReadByTheIntegerRules) {
    const std::string sections = "[web1]\ncaption=a\n[web2]\ncaption=b\n[web3]\ncaption=c\n";
    for (const auto& [count, expected] : std::vector<std::pair<std::string, size_t>>{{"3", 3},
                                                                                     {"0x3", 3},
                                                                                     {"0X3", 3},
                                                                                     {"$3", 3},
                                                                                     {"2", 2},
                                                                                     {"3x", 0},
                                                                                     {"three", 0},
                                                                                     {"-1", 0},
                                                                                     {"", 0}}) {
        WriteBytes(path, "[main]\ncount=" + count + "\n" + sections);
        PageListFile file(path);
        PageList list;
        file.load(list, {});
        EXPECT_EQ(list.size(), expected) << "count=" << count;
    }
}

TEST_F(PageListFileTest, HugeCountTakesOnlyWebSectionsPresentInNumberOrder) {
    WriteBytes(path,
               "[main]\ncount=2147483647\n[web10]\ncaption=ten\n[web01]\ncaption=zero-one\n"
               "[web5]\ncaption=five\n[webx]\ncaption=x\n[web1]\ncaption=one\n[web1]\ncaption=dup\n"
               "[web99999999999]\ncaption=big\n");
    PageListFile file(path);
    PageList list;
    file.load(list, {});
    EXPECT_EQ(Describe(list), "one|2||||\nfive|2||||\nten|2||||\n");
}

TEST_F(PageListFileTest, EmptyCaptionSkipsSectionAndSaveRenumbersKeepingLeftover) {
    WriteBytes(path,
               "[main]\r\ncount=3\r\nstart=0\r\nsort=0\r\nrecheck=0\r\n"
               "[web1]\r\ncaption=A\r\nstatus=0\r\nitem1=u1\r\nitem2=2\r\nitem3=\r\nitem4=\r\n"
               "[web2]\r\ncaption=\r\nstatus=0\r\nitem1=gone\r\nitem2=2\r\nitem3=\r\nitem4=\r\n"
               "[web3]\r\ncaption=C\r\nstatus=1\r\nitem1=u3\r\nitem2=3\r\nitem3=9\r\nitem4=k\r\n");
    PageListFile file(path);
    Loaded loaded;
    LoadInto(file, loaded);
    EXPECT_EQ(Describe(loaded.list), "A|0|u1|2||\nC|1|u3|3|9|k\n");
    file.save(loaded.list, loaded.options);
    EXPECT_EQ(ReadBytes(path),
              "[main]\r\ncount=2\r\nstart=0\r\nsort=0\r\nrecheck=0\r\n"
              "[web1]\r\ncaption=A\r\nstatus=0\r\nitem1=u1\r\nitem2=2\r\nitem3=\r\nitem4=\r\n"
              "[web2]\r\ncaption=C\r\nstatus=1\r\nitem1=u3\r\nitem2=3\r\nitem3=9\r\nitem4=k\r\n"
              "[web3]\r\ncaption=C\r\nstatus=1\r\nitem1=u3\r\nitem2=3\r\nitem3=9\r\nitem4=k\r\n");
}

TEST_F(PageListFileTest, ForeignLinesStayInPlaceAndNewKeysFollowTheLastKeyLine) {
    WriteBytes(path,
               "; written by hand\n\n[main]\nCount=1\nforeign=kept\n\n; trailing comment\n"
               "[other]\nx = 1\n[web1]\ncaption=A\nextra=yes\n\n");
    PageListFile file(path);
    Loaded loaded;
    LoadInto(file, loaded);
    loaded.list.add(u"B", u"http://b/", 3);
    file.save(loaded.list, loaded.options);
    EXPECT_EQ(
        ReadBytes(path),
        "; written by hand\r\n\r\n[main]\r\ncount=2\r\nforeign=kept\r\nstart=0\r\nsort=0\r\nrecheck=0\r\n"
        "\r\n; trailing comment\r\n[other]\r\nx = 1\r\n"
        "[web1]\r\ncaption=A\r\nextra=yes\r\nstatus=2\r\nitem1=\r\nitem2=\r\nitem3=\r\nitem4=\r\n\r\n"
        "[web2]\r\ncaption=B\r\nstatus=2\r\nitem1=http://b/\r\nitem2=3\r\nitem3=\r\nitem4=\r\n");
}

TEST_F(PageListFileTest, SaveAfterAnotherProgramChangedTheFileKeepsItsLines) {
    WriteBytes(path, "[main]\r\ncount=1\r\n[web1]\r\ncaption=A\r\n");
    PageListFile file(path);
    Loaded loaded;
    LoadInto(file, loaded);
    file.save(loaded.list, loaded.options);
    // Another program adds its own key and section, and its change shows in size and time.
    const std::string theirs = ReadBytes(path) + "[theirs]\r\nkey=value\r\n";
    WriteBytes(path, theirs);
    loaded.list.add(u"B", u"http://b/", 0);
    file.save(loaded.list, loaded.options);
    const std::string written = ReadBytes(path);
    EXPECT_NE(written.find("[theirs]\r\nkey=value\r\n[web2]\r\ncaption=B\r\n"), std::string::npos);
    // And a save with no change in between writes the same bytes again.
    file.save(loaded.list, loaded.options);
    EXPECT_EQ(ReadBytes(path), written);
}

TEST_F(PageListFileTest, SnapshotsSavedFromTwoThreadsEachWriteAWholeFile) {
    PageListFile file(path);
    PageList one, two;
    one.add(u"One", u"http://one/", 0);
    for (int i = 0; i < 50; ++i) two.add(u"Two", u"http://two/", 1);
    const PageListSnapshot first = TakeSnapshot(one, {});
    const PageListSnapshot second = TakeSnapshot(two, {true, false, false});
    std::thread other([&] { file.save(second); });
    file.save(first);
    other.join();
    PageList back;
    PageListFile(path).load(back, {});
    EXPECT_TRUE(back.size() == 1 || back.size() == 50) << back.size();
}

TEST_F(PageListFileTest, LineEndsCrLfLfAndLoneCrAreAllAccepted) {
    WriteBytes(path, "[main]\rcount=3\n[web1]\r\ncaption=a\r[web2]\ncaption=b\r\n[web3]\rcaption=c");
    PageListFile file(path);
    PageList list;
    file.load(list, {});
    EXPECT_EQ(Describe(list), "a|2||||\nb|2||||\nc|2||||\n");
}

TEST_F(PageListFileTest, BooleansAreIntegersAndAreSavedAsOneOrZero) {
    WriteBytes(path, "[main]\ncount=0\nstart=yes\nsort=2\nrecheck=-1\n");
    PageListFile file(path);
    Loaded loaded;
    LoadInto(file, loaded);
    EXPECT_FALSE(loaded.options.start);
    EXPECT_TRUE(loaded.options.sort);
    EXPECT_TRUE(loaded.options.recheck);
    EXPECT_EQ(loaded.reported, (std::vector<Option>{Option::Sort, Option::Recheck}));
    file.save(loaded.list, loaded.options);
    EXPECT_EQ(ReadBytes(path), "[main]\r\ncount=0\r\nstart=0\r\nsort=1\r\nrecheck=1\r\n");
}

TEST_F(PageListFileTest, OptionsAreReportedInOrderAndSortAndRecheckShapeTheEntries) {
    WriteBytes(path,
               "[main]\ncount=3\nrecheck=1\nsort=1\nstart=1\n"
               "[web1]\ncaption=zeta\nstatus=0\nitem1=z\nitem3=100\nitem4=sum-z\n"
               "[web2]\ncaption=alpha\nstatus=1\nitem1=a\nitem3=200\nitem4=sum-a\n"
               "[web3]\ncaption=Mid\nstatus=7\nitem1=m\nitem3=300\n");
    PageListFile file(path);
    Loaded loaded;
    LoadInto(file, loaded);
    EXPECT_EQ(loaded.reported, (std::vector<Option>{Option::Start, Option::Sort, Option::Recheck}));
    EXPECT_TRUE(loaded.list.sorted());
    EXPECT_EQ(Describe(loaded.list), "Mid|2|m|||\nalpha|2|a|||sum-a\nzeta|2|z|||sum-z\n");
    file.save(loaded.list, loaded.options);
    PageList again;
    PageListFile(path).load(again, {});
    EXPECT_EQ(Describe(again), Describe(loaded.list));
    EXPECT_NE(ReadBytes(path).find("[web1]\r\ncaption=Mid\r\nstatus=2\r\nitem1=m\r\n"), std::string::npos)
        << "sections are written in the sorted order, by position";
}

TEST_F(PageListFileTest, ThrowingOptionDoesNotCutLoadingShortAndIsRethrown) {
    WriteBytes(path, "[main]\ncount=2\nstart=1\nsort=1\n[web1]\ncaption=b\n[web2]\ncaption=a\n");
    PageListFile file(path);
    PageList list;
    std::vector<Option> reported;
    try {
        file.load(list, [&](Option option, bool) {
            reported.push_back(option);
            if (option == Option::Start) throw Error("Failed to set data for 'Vantrel'");
        });
        FAIL() << "the option's error is rethrown";
    } catch (const Error& error) {
        EXPECT_STREQ(error.what(), "Failed to set data for 'Vantrel'");
    }
    EXPECT_EQ(reported, (std::vector<Option>{Option::Start, Option::Sort}));
    EXPECT_EQ(Describe(list), "a|2||||\nb|2||||\n");
}

TEST_F(PageListFileTest, ValuesThatReadingWouldChangeAreQuotedAndLineBreaksCannotInjectKeys) {
    PageList list;
    PageEntry quoted;
    quoted.label = u"\"Hi\"";
    quoted.columns[kUrl] = u" padded\t";
    list.insertLoaded(quoted);
    PageEntry injected;
    injected.label = u"x\r\n[main]\r\ncount=99";
    list.insertLoaded(injected);
    PageListFile file(path);
    file.save(list, {});
    PageList again;
    PageListFile(path).load(again, {});
    EXPECT_EQ(Describe(again), "\"Hi\"|2| padded\t|||\nx  [main]  count=99|2||||\n");
    EXPECT_NE(ReadBytes(path).find("caption=\"\"Hi\"\"\r\n"), std::string::npos);
}

TEST_F(PageListFileTest, SizeLimitReadsAtTheLimitAndRefusesOnePast) {
    // A hundred thousand entries take about 16 MB: the program's limit leaves room for many more.
    static_assert(limits::kMaxPageListFileBytes == 256 * 1024 * 1024);
    constexpr int64_t kLimit = 4096;
    const std::string head = "[main]\r\ncount=1\r\n[web1]\r\ncaption=big\r\n;";
    std::string bytes = head + std::string(kLimit - head.size() - 2, 'p') + "\r\n";
    ASSERT_EQ(static_cast<int64_t>(bytes.size()), kLimit);
    WriteBytes(path, bytes);
    PageListFile atLimit(path, kLimit);
    PageList list;
    atLimit.load(list, {});
    EXPECT_EQ(list.size(), 1u);

    bytes.insert(head.size(), "p");
    WriteBytes(path, bytes);
    // The file grew past the limit after it was loaded: it is no longer replaced.
    EXPECT_THROW(atLimit.save(list, {}), Error);
    PageListFile pastLimit(path, kLimit);
    PageList none;
    pastLimit.load(none, {});
    EXPECT_TRUE(none.empty());
    try {
        pastLimit.save(none, {});
        FAIL() << "an unreadable file is never replaced";
    } catch (const Error& error) {
        EXPECT_EQ(error.what(), refused);
    }
    EXPECT_EQ(ReadBytes(path), bytes);
}

TEST_F(PageListFileTest, DirectoryOfThatNameIsNoFileAndIsNeverReplaced) {
    std::filesystem::create_directory(path);
    PageListFile file(path);
    Loaded loaded;
    LoadInto(file, loaded);
    EXPECT_TRUE(loaded.list.empty());
    EXPECT_TRUE(loaded.reported.empty());
    try {
        file.save(loaded.list, loaded.options);
        FAIL();
    } catch (const Error& error) {
        EXPECT_EQ(error.what(), refused);
    }
    EXPECT_TRUE(std::filesystem::is_directory(path));
    EXPECT_EQ(dir.names(), (std::set<std::string>{"webpages.dat"}));
}

TEST_F(PageListFileTest, PermissionsAreKept) {
    WriteBytes(path, "[main]\ncount=0\n");
    ::chmod(path.c_str(), 0640);
    PageListFile file(path);
    PageList list;
    file.load(list, {});
    list.add(u"a", u"b", 1);
    file.save(list, {});
    EXPECT_EQ(test::ModeOf(path), 0640u);
    EXPECT_EQ(dir.names(), (std::set<std::string>{"webpages.dat"}));
}

// Runs load and save in an unprivileged child and returns the save's outcome.
std::string LoadAndSaveUnprivileged(const std::string& path, long maxFileBytes = 0) {
    return test::RunUnprivileged(
        [&] {
            PageListFile file(path);
            PageList list;
            file.load(list, {});
            list.add(u"new", u"http://new/", 2);
            file.save(list, {});
            return std::string("saved");
        },
        maxFileBytes);
}

TEST_F(PageListFileTest, RefusedWritesThrowAndLeaveTheOldBytes) {
    const std::string old = "[main]\r\ncount=1\r\n[web1]\r\ncaption=old\r\n";
    const std::string failed = "exception: " + refused;
    WriteBytes(path, old);

    // A read-only file in a writable directory, where a rename over it would succeed.
    ::chmod(dir.path().c_str(), 0777);
    ::chmod(path.c_str(), 0444);
    EXPECT_EQ(LoadAndSaveUnprivileged(path), failed);
    if (::geteuid() == 0) {
        PageListFile file(path);
        PageList list;
        file.load(list, {});
        EXPECT_THROW(file.save(list, {}), Error) << "a file marked read-only is refused also to root";
    }
    EXPECT_EQ(ReadBytes(path), old);

    // A directory without write permission (root writes anywhere, so the child is not root).
    ::chmod(path.c_str(), 0666);
    ::chmod(dir.path().c_str(), ::geteuid() == 0 ? 0755 : 0555);
    EXPECT_EQ(LoadAndSaveUnprivileged(path), failed);
    EXPECT_EQ(ReadBytes(path), old);

    // A file that could not be read at load.
    ::chmod(dir.path().c_str(), 0777);
    ::chmod(path.c_str(), 0200);
    EXPECT_EQ(LoadAndSaveUnprivileged(path), failed);
    ::chmod(path.c_str(), 0666);
    EXPECT_EQ(ReadBytes(path), old);

    // A full disk: the write itself fails.
    EXPECT_EQ(LoadAndSaveUnprivileged(path, 16), failed);
    EXPECT_EQ(ReadBytes(path), old);
    EXPECT_EQ(dir.names(), (std::set<std::string>{"webpages.dat"}));
}

TEST_F(PageListFileTest, SaveThroughALinkReplacesTheFileItPointsTo) {
    const std::string target = dir.file("real.dat");
    WriteBytes(target, "[main]\r\ncount=0\r\n");
    std::filesystem::create_symlink(target, path);
    PageListFile file(path);
    PageList list;
    file.load(list, {});
    file.save(list, {});
    EXPECT_TRUE(std::filesystem::is_symlink(path));
    EXPECT_EQ(ReadBytes(target), "[main]\r\ncount=0\r\nstart=0\r\nsort=0\r\nrecheck=0\r\n");
}

}  // namespace
}  // namespace vantrel
