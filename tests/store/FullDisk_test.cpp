// A save onto a file system that fills up: a small tmpfs, mounted for the test (root only).
#include <sys/mount.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <set>
#include <thread>

#include "store/HistoryStore.h"
#include "store/PageListFile.h"
#include "store/StoreTestSupport.h"
#include "text/Error.h"
#include "text/Text.h"

namespace vantrel {
namespace {

using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

constexpr int kPage = 4096;

class SmallTmpfs {
  public:
    explicit SmallTmpfs(const std::string& where, const std::string& size = "64k") : where_(where) {
        const std::string options = "size=" + size + ",mode=0755";
        if (::geteuid() != 0) {
            why_ = "mounting a tmpfs needs root";
        } else if (::mount("tmpfs", where.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
            why_ = "mount -t tmpfs -o size=" + size + " refused: " + std::strerror(errno);
        }
    }
    // Gives the file system another size, its files kept.
    bool resize(const std::string& size) {
        const std::string options = "size=" + size;
        return ::mount("tmpfs", where_.c_str(), "tmpfs", MS_REMOUNT | MS_NOSUID | MS_NODEV,
                       options.c_str()) == 0;
    }
    ~SmallTmpfs() {
        if (why_.empty()) ::umount2(where_.c_str(), MNT_DETACH);
    }
    // Empty when mounted, else why not.
    const std::string& why() const { return why_; }

  private:
    std::string where_;
    std::string why_;
};

// Fills the file system with `path` up to its last byte, then gives `freeBytes` back.
bool FillLeaving(const std::string& path, off_t freeBytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    const std::string block(kPage, 'x');
    off_t size = 0;
    for (int round = 0; round < 1024; ++round) {  // 4 MB at most; the file system holds 64 KB
        const ssize_t n = ::write(fd, block.data(), block.size());
        if (n <= 0) break;
        size += n;
    }
    const bool full = ::write(fd, block.data(), 1) < 0 && errno == ENOSPC;
    const bool shrunk = ::ftruncate(fd, size > freeBytes ? size - freeBytes : 0) == 0;
    ::close(fd);
    return full && shrunk;
}

TEST(FullDiskTest, ASaveThatRunsOutOfSpaceLeavesTheOldFileAndNoTemporaryFile) {
    TempDir dir;
    SmallTmpfs tmpfs(dir.path());
    if (!tmpfs.why().empty()) GTEST_SKIP() << tmpfs.why();
    const std::string path = dir.file("webpages.dat");
    const std::string filler = dir.file("filler");
    const std::string old =
        "[main]\r\ncount=1\r\nstart=0\r\nsort=0\r\nrecheck=0\r\n[web1]\r\ncaption=Old\r\nstatus=0\r\n"
        "item1=http://127.0.0.1/\r\nitem2=8\r\nitem3=\r\nitem4=\r\n";
    WriteBytes(path, old);

    PageListFile file(path);
    PageList list;
    ASSERT_NO_THROW(file.load(list, {}));
    // About 24 KB to write: more than the room left in every case below.
    for (int i = 0; i < 100; ++i) {
        list.add(u"Page " + std::u16string(1, char16_t(u'A' + i % 26)),
                 u"http://127.0.0.1/" + std::u16string(150, u'p'), 8);
    }

    // No room at all (the temporary file cannot get a byte), and room for part of the new file.
    for (const off_t room : {off_t(0), off_t(kPage), off_t(3 * kPage)}) {
        SCOPED_TRACE("room left: " + std::to_string(room));
        ASSERT_TRUE(FillLeaving(filler, room));
        try {
            file.save(list, Options{});
            ADD_FAILURE() << "the save succeeded on a full disk";
        } catch (const Error& error) {
            EXPECT_EQ(std::string(error.what()), "Unable to write to " + path);
        }
        EXPECT_EQ(ReadBytes(path), old);
        EXPECT_EQ(dir.names(), (std::set<std::string>{"filler", "webpages.dat"}));
    }

    // With the room back, the same save goes through: the disk was the only obstacle.
    ::unlink(filler.c_str());
    ASSERT_NO_THROW(file.save(list, Options{}));
    EXPECT_NE(ReadBytes(path).find("count=101"), std::string::npos);
    EXPECT_EQ(dir.names(), std::set<std::string>{"webpages.dat"});
}

// The history on a small file system: it writes nothing while the room left is under its margin,
// says so, and resumes once the file system has room again.
TEST(FullDiskTest, TheHistoryPausesOnANearlyFullFileSystemAndResumes) {
    TempDir dir;
    SmallTmpfs tmpfs(dir.path(), "8m");
    if (!tmpfs.why().empty()) GTEST_SKIP() << tmpfs.why();
    HistoryStore store(dir.file(kHistoryFileName));
    store.record(u"http://127.0.0.1/", CheckRecord{1, 10, PageStatus::Online, PageStatus::Online, u"OK", 1},
                 std::nullopt);
    const auto waitFor = [](const std::function<bool()>& done) {
        for (int i = 0; i < 1500 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return done();
    };
    ASSERT_TRUE(waitFor([&] {
        return ToUtf8(store.notice()).find("History is paused: only 8 MB free") == 0;
    })) << ToUtf8(store.notice());
    EXPECT_EQ(ReadBytes(dir.file(kHistoryFileName)), "");  // not a byte written

    ASSERT_TRUE(tmpfs.resize("80m"));
    EXPECT_TRUE(waitFor([&] { return store.summary(u"http://127.0.0.1/").checkCount == 1; }));
    EXPECT_EQ(ToUtf8(store.notice()), "");
}

}  // namespace
}  // namespace vantrel
