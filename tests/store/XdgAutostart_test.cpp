#include "store/XdgAutostart.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "store/StoreTestSupport.h"
#include "text/Error.h"

namespace vantrel {
namespace {

using test::ReadBytes;
using test::TempDir;

std::string Entry(const std::string& exec) {
    return "[Desktop Entry]\nType=Application\nName=Vantrel\n"
           "Comment=Watches web pages and tells when one goes offline, comes back or changes\n"
           "Exec=" +
           exec + "\nIcon=io.github.vantrel.Vantrel\nTerminal=false\nX-GNOME-Autostart-enabled=true\n";
}

TEST(XdgAutostartTest, ExecQuotesAndEscapesThePath) {
    EXPECT_EQ(XdgAutostart::desktopEntry("/usr/bin/vantrel"), Entry("\"/usr/bin/vantrel\" -s"));
    // Inside the quotes " ` $ \ get a backslash; the string escaping then doubles every backslash
    // (freedesktop.org desktop entry format, "The Exec key"); % becomes %%.
    EXPECT_EQ(XdgAutostart::desktopEntry("/opt/My Apps/it's \"q\" `x` $HOME 100%\\b/vantrel"),
              Entry("\"/opt/My Apps/it's \\\\\"q\\\\\" \\\\`x\\\\` \\\\$HOME 100%%\\\\\\\\b/vantrel\" -s"));
    EXPECT_EQ(XdgAutostart::desktopEntry("/a\tb\nc"), Entry("\"/a\\tb\\nc\" -s"));
}

TEST(XdgAutostartTest, OnWritesOrReplacesTheEntryAndOffRemovesIt) {
    TempDir dir;
    XdgAutostart autostart(dir.path(), "/opt/v 1/vantrel");
    EXPECT_EQ(autostart.fileName(), dir.path() + "/Vantrel.desktop");
    test::WriteBytes(autostart.fileName(), "stale");
    autostart.apply(true);
    EXPECT_EQ(ReadBytes(autostart.fileName()), Entry("\"/opt/v 1/vantrel\" -s"));
    EXPECT_EQ(test::ModeOf(autostart.fileName()), 0644u);
    autostart.apply(true);
    EXPECT_EQ(dir.names(), (std::set<std::string>{"Vantrel.desktop"}));
    autostart.apply(false);
    EXPECT_TRUE(dir.names().empty());
    autostart.apply(false);  // nothing to remove: no error
    EXPECT_TRUE(dir.names().empty());
}

TEST(XdgAutostartTest, MissingFolderIsCreatedPrivateAndOneThatCannotBeIsAFailedWrite) {
    TempDir dir;
    XdgAutostart fresh(dir.file("config/autostart"), "/v");
    fresh.apply(false);  // nothing to remove, and nothing is created for it
    EXPECT_FALSE(std::filesystem::exists(dir.file("config")));
    fresh.apply(true);
    EXPECT_EQ(ReadBytes(fresh.fileName()), Entry("\"/v\" -s"));
    EXPECT_EQ(test::ModeOf(dir.file("config")), 0700u);
    EXPECT_EQ(test::ModeOf(dir.file("config/autostart")), 0700u);

    const std::string failed = "exception: Failed to set data for 'Vantrel'";
    test::WriteBytes(dir.file("plain"), "");
    XdgAutostart underAFile(dir.file("plain/autostart"), "/v");
    EXPECT_EQ(test::RunUnprivileged([&] {
                  underAFile.apply(true);
                  return std::string("written");
              }),
              failed);
    EXPECT_NO_THROW(underAFile.apply(false));
    EXPECT_NO_THROW(XdgAutostart("", "/v").apply(false));
    EXPECT_THROW(XdgAutostart("", "/v").apply(true), Error);

    // A parent this user may not write; checked as an unprivileged user so it holds as root too.
    const std::string readOnly = dir.file("ro");
    std::filesystem::create_directory(readOnly);
    ::chmod(readOnly.c_str(), 0555);
    XdgAutostart blocked(readOnly + "/autostart", "/v");
    EXPECT_EQ(test::RunUnprivileged([&] {
                  blocked.apply(true);
                  return std::string("written");
              }),
              failed);
    EXPECT_FALSE(std::filesystem::exists(readOnly + "/autostart"));
}

// The entry as the desktop's own checker sees it.
TEST(XdgAutostartTest, EntryPassesDesktopFileValidate) {
    if (std::system("command -v desktop-file-validate >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "desktop-file-validate is not installed";
    TempDir dir;
    XdgAutostart autostart(dir.path(), "/opt/My Apps/it's $HOME 100%/vantrel");
    autostart.apply(true);
    std::string output;
    FILE* pipe = ::popen(("desktop-file-validate '" + autostart.fileName() + "' 2>&1").c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
    EXPECT_EQ(::pclose(pipe), 0) << output;
    EXPECT_EQ(output, "");
}

TEST(XdgAutostartTest, FailedWriteThrowsAndLeavesNothingBehind) {
    TempDir dir;
    ::chmod(dir.path().c_str(), 0777);
    XdgAutostart autostart(dir.path(), "/v");
    // The child may write no more than 8 bytes to a file, so the entry's write fails.
    EXPECT_EQ(test::RunUnprivileged(
                  [&] {
                      autostart.apply(true);
                      return std::string("written");
                  },
                  8),
              "exception: Failed to set data for 'Vantrel'");
    EXPECT_TRUE(dir.names().empty());
}

}  // namespace
}  // namespace vantrel
