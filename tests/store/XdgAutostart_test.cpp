#include "store/XdgAutostart.h"

#include <gtest/gtest.h>

#include "core/Error.h"
#include "store/StoreTestSupport.h"

namespace vantrel {
namespace {

using test::ReadBytes;
using test::TempDir;

std::string Entry(const std::string& exec) {
    return "[Desktop Entry]\nType=Application\nName=Vantrel\n"
           "Comment=Watches web pages and tells when one goes offline, comes back or changes\n"
           "Exec=" +
           exec + "\nTerminal=false\nX-GNOME-Autostart-enabled=true\n";
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

TEST(XdgAutostartTest, LocationThatCannotBeOpenedIsSilentlyLeftAlone) {
    TempDir dir;
    XdgAutostart missing(dir.file("missing"), "/v");
    EXPECT_NO_THROW(missing.apply(true));
    EXPECT_NO_THROW(missing.apply(false));
    EXPECT_FALSE(std::filesystem::exists(dir.file("missing")));

    test::WriteBytes(dir.file("plain"), "");
    XdgAutostart notADirectory(dir.file("plain"), "/v");
    EXPECT_NO_THROW(notADirectory.apply(true));

    // Not writable by this process: an unprivileged child, so it holds as root too.
    const std::string readOnly = dir.file("ro");
    std::filesystem::create_directory(readOnly);
    ::chmod(readOnly.c_str(), 0555);
    XdgAutostart blocked(readOnly, "/v");
    EXPECT_EQ(test::RunUnprivileged([&] {
                  blocked.apply(true);
                  return std::string("quiet");
              }),
              "quiet");
    EXPECT_FALSE(std::filesystem::exists(readOnly + "/Vantrel.desktop"));

    // A present entry in such a directory stays (its removal fails quietly).
    ::chmod(readOnly.c_str(), 0755);
    test::WriteBytes(blocked.fileName(), "kept");
    ::chmod(readOnly.c_str(), 0555);
    EXPECT_EQ(test::RunUnprivileged([&] {
                  blocked.apply(false);
                  return std::string("quiet");
              }),
              "quiet");
    EXPECT_EQ(ReadBytes(blocked.fileName()), "kept");
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
