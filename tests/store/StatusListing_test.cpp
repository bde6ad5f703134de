#include "store/StatusListing.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "store/HistoryStore.h"
#include "store/StoreTestSupport.h"

namespace vantrel {
namespace {

using test::TempDir;

// Times in the listing are local: the tests run in UTC.
class StatusListingTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* zone = std::getenv("TZ");
        savedZone_ = zone ? std::optional<std::string>(zone) : std::nullopt;
        setenv("TZ", "UTC0", 1);
        tzset();
    }
    void TearDown() override {
        savedZone_ ? setenv("TZ", savedZone_->c_str(), 1) : unsetenv("TZ");
        tzset();
    }

    TempDir dir;
    std::string listPath = dir.file("webpages.dat");
    std::string historyPath = HistoryStore::PathBeside(listPath);

  private:
    std::optional<std::string> savedZone_;
};

constexpr int64_t kTime = 1'796'730'588'000;  // 2026-12-08T11:49:48Z

TEST_F(StatusListingTest, OneLinePerPageFromTheListAndTheHistory) {
    test::WriteBytes(listPath,
                     "[main]\r\ncount=6\r\nrecheck=1\r\n"
                     "[web1]\r\ncaption=Up\r\nstatus=2\r\nitem1=http://up/\r\nitem3=1\r\n"
                     "[web2]\r\ncaption=Moved\r\nstatus=0\r\nitem1=http://moved/\r\n"
                     "[web3]\r\ncaption=Gone\r\nstatus=0\r\nitem1=http://gone/\r\n"
                     "[web4]\r\ncaption=New\r\nstatus=2\r\nitem1=http://new/\r\nitem3=\r\n"
                     "[web5]\r\ncaption=\r\n"
                     "[web6]\r\ncaption=Old run\r\nstatus=1\r\nitem1=http://old/\r\nitem3=1796730000\r\n");
    {
        HistoryStore history(historyPath);
        history.record(u"http://up/",
                       {kTime, 140, PageStatus::Online, PageStatus::Online, u"HTTP/1.1 200 OK", 12'300},
                       u"up");
        history.record(u"http://moved/",
                       {kTime + 1000, 90, PageStatus::Changed, PageStatus::Changed, u"HTTP/1.1 200 OK", 999},
                       u"m");
        history.record(
            u"http://gone/",
            {kTime + 2000, 50, PageStatus::Offline, PageStatus::Offline, u"HTTP/1.1 404 Not Found", 0},
            std::nullopt);
        // Older than the list file's stamp: the file tells the status.
        history.record(u"http://old/", {1000, 5, PageStatus::Offline, PageStatus::Offline, u"Cancelled", 0},
                       std::nullopt);
    }
    const std::string expected =
        "Up\tOnline\t2026-12-08T11:49:48+00:00\t200 OK \u2014 12.3 KB in 140 ms\n"
        "Moved\tChanged\t2026-12-08T11:49:49+00:00\t200 OK \u2014 999 bytes in 90 ms\n"
        "Gone\tOffline\t2026-12-08T11:49:50+00:00\tOffline \u2014 HTTP/1.1 404 Not Found\n"
        "New\tNot checked yet\t-\t-\n"
        "Old run\tChanged\t2026-12-08T11:40:00+00:00\t-\n";
    StatusListing listing = BuildStatusListing(listPath, historyPath);
    EXPECT_EQ(listing.exitCode, 0);
    EXPECT_EQ(listing.errors, "");
    EXPECT_EQ(listing.output, expected);

    // The same for scripts, as JSON.
    const std::string json = BuildStatusListing(listPath, historyPath, true).output;
    EXPECT_EQ(json.substr(0, json.find("\n  {\"label\": \"Moved\"")),
              "[\n  {\"label\": \"Up\", \"url\": \"http://up/\", \"status\": \"Online\", \"lastCheck\": "
              "\"2026-12-08T11:49:48+00:00\", \"result\": \"200 OK \u2014 12.3 KB in 140 ms\", "
              "\"waitingForNetwork\": false},");
    EXPECT_NE(json.find("{\"label\": \"New\", \"url\": \"http://new/\", \"status\": \"Not checked yet\", "
                        "\"lastCheck\": null, \"result\": null, \"waitingForNetwork\": false},\n"),
              std::string::npos)
        << json;

    // Another user, who may write neither the folder nor the files, reads the same.
    EXPECT_EQ(test::RunUnprivileged([&] { return BuildStatusListing(listPath, historyPath).output; }),
              expected);

    // Without history the list file alone speaks; a damaged history is said on standard error.
    test::WriteBytes(historyPath, "not a database, not at all, not even close to one........");
    listing = BuildStatusListing(listPath, historyPath);
    EXPECT_EQ(listing.exitCode, 0);
    EXPECT_EQ(listing.output.substr(0, listing.output.find('\n')),
              "Up\tOffline\t1970-01-01T00:00:01+00:00\t-");
    EXPECT_EQ(listing.errors.rfind("History is off: ", 0), 0u);
}

// The pages whose check a running copy puts off until the network is back: their status stays
// what the last check found, with the wait said beside it.
TEST_F(StatusListingTest, PagesPutOffByTheRunningCopyWaitForTheNetwork) {
    test::WriteBytes(listPath,
                     "[main]\r\ncount=2\r\n"
                     "[web1]\r\ncaption=Up\r\nstatus=0\r\nitem1=http://up/\r\nitem3=1796730588\r\n"
                     "[web2]\r\ncaption=Away\r\nstatus=2\r\nitem1=http://away/\r\nitem3=1796730588\r\n");
    const std::set<std::u16string> waiting{u"http://away/", u"http://deleted-meanwhile/"};
    EXPECT_EQ(BuildStatusListing(listPath, historyPath, false, waiting).output,
              "Up\tOnline\t2026-12-08T11:49:48+00:00\t-\n"
              "Away\tOffline\t2026-12-08T11:49:48+00:00\t-\tWaiting for the network\n");
    EXPECT_EQ(BuildStatusListing(listPath, historyPath, true, waiting).output,
              "[\n  {\"label\": \"Up\", \"url\": \"http://up/\", \"status\": \"Online\", \"lastCheck\": "
              "\"2026-12-08T11:49:48+00:00\", \"result\": null, \"waitingForNetwork\": false},\n"
              "  {\"label\": \"Away\", \"url\": \"http://away/\", \"status\": \"Offline\", \"lastCheck\": "
              "\"2026-12-08T11:49:48+00:00\", \"result\": null, \"waitingForNetwork\": true}\n]\n");
}

TEST_F(StatusListingTest, AnUnreadableListFails) {
    ::mkdir(listPath.c_str(), 0755);
    const StatusListing listing = BuildStatusListing(listPath, historyPath);
    EXPECT_EQ(listing.exitCode, 2);
    EXPECT_EQ(listing.errors, "vantrel: cannot read " + listPath + "\n");
    EXPECT_EQ(listing.output, "");
    EXPECT_EQ(BuildStatusListing(dir.file("missing.dat"), historyPath).exitCode, 0);
    EXPECT_EQ(BuildStatusListing(dir.file("missing.dat"), historyPath, true).output, "[]\n");
}

}  // namespace
}  // namespace vantrel
