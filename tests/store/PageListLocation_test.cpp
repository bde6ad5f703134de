#include "store/PageListLocation.h"

#include <gtest/gtest.h>

#include "store/StoreTestSupport.h"

namespace vantrel {
namespace {

using test::TempDir;

TEST(PageListLocationTest, NextToTheExecutableOnlyWhereThatCanWork) {
    const UserEnvironment unset{std::nullopt, "/home/ann"};
    const UserEnvironment xdg{"/cfg/ann", "/home/ann"};
    struct Row {
        const char* name;
        const char* exeDir;
        bool hasPageList;
        bool writable;
        UserEnvironment env;
        std::string expected;
    } rows[] = {
        {"build tree", "/src/vantrel/build/bin/", false, true, unset, "/src/vantrel/build/bin/webpages.dat"},
        {"own folder, with a file", "/home/ann/apps", true, true, unset, "/home/ann/apps/webpages.dat"},
        {"read-only, with a file", "/opt/vantrel/", true, false, unset, "/opt/vantrel/webpages.dat"},
        {"read-only, no file", "/opt/vantrel/", false, false, unset,
         "/home/ann/.config/vantrel/webpages.dat"},
        {"read-only, XDG set", "/opt/vantrel/", false, false, xdg, "/cfg/ann/vantrel/webpages.dat"},
        // Writable but under /usr: root running the installed program.
        {"/usr/bin as root", "/usr/bin/", false, true, unset, "/home/ann/.config/vantrel/webpages.dat"},
        {"/usr/local/bin", "/usr/local/bin", false, true, xdg, "/cfg/ann/vantrel/webpages.dat"},
        {"/usr itself", "//usr//", false, true, unset, "/home/ann/.config/vantrel/webpages.dat"},
        {"/usr with a file", "/usr/bin/", true, false, unset, "/usr/bin/webpages.dat"},
        {"only looks like /usr", "/usrdata/bin/", false, true, unset, "/usrdata/bin/webpages.dat"},
        {"XDG empty", "/usr/bin/", false, false, {"", "/home/ann"}, "/home/ann/.config/vantrel/webpages.dat"},
        {"XDG relative",
         "/usr/bin/",
         false,
         false,
         {"cfg", "/home/ann/"},
         "/home/ann/.config/vantrel/webpages.dat"},
        {"home is /", "/usr/bin/", false, false, {std::nullopt, "/"}, "/.config/vantrel/webpages.dat"},
        {"no home at all", "/usr/bin/", false, false, {std::nullopt, ""}, "/usr/bin/webpages.dat"},
    };
    for (const Row& row : rows) {
        ExeFolder exe;
        exe.path = row.exeDir;
        exe.hasPageList = row.hasPageList;
        exe.writable = row.writable;
        EXPECT_EQ(PageListPath(exe, row.env), row.expected) << row.name;
    }
}

TEST(PageListLocationTest, ProbeSeesTheFileAndTheUsersRightToWrite) {
    TempDir dir;
    ExeFolder folder = ExeFolder::probe(dir.path());
    EXPECT_FALSE(folder.hasPageList);
    EXPECT_TRUE(folder.writable);
    test::WriteBytes(dir.file("webpages.dat"), "");
    EXPECT_TRUE(ExeFolder::probe(dir.path() + "/").hasPageList);
    // Not writable for an unprivileged user (the check runs as one, so it holds as root too).
    ::chmod(dir.path().c_str(), 0555);
    EXPECT_EQ(test::RunUnprivileged([&] {
                  const ExeFolder seen = ExeFolder::probe(dir.path());
                  return std::string(seen.writable ? "writable" : "read-only") +
                         (seen.hasPageList ? ", file" : ", no file");
              }),
              "read-only, file");
}

TEST(PageListLocationTest, PageListFolderIsCreatedPrivateWithItsParents) {
    TempDir dir;
    const std::string file = dir.file("config/vantrel/webpages.dat");
    ASSERT_TRUE(CreatePageListFolder(file));
    EXPECT_EQ(test::ModeOf(dir.file("config")), 0700u);
    EXPECT_EQ(test::ModeOf(dir.file("config/vantrel")), 0700u);
    EXPECT_TRUE(CreatePageListFolder(file));  // already there
    ::chmod(dir.file("config").c_str(), 0750);
    ASSERT_TRUE(CreatePageListFolder(file));
    EXPECT_EQ(test::ModeOf(dir.file("config")), 0750u);  // a folder that exists keeps its mode

    test::WriteBytes(dir.file("plain"), "");
    EXPECT_FALSE(CreatePageListFolder(dir.file("plain/vantrel/webpages.dat")));
    ::chmod(dir.path().c_str(), 0555);
    EXPECT_EQ(test::RunUnprivileged([&] {
                  return std::string(CreatePageListFolder(dir.file("new/webpages.dat")) ? "made" : "refused");
              }),
              "refused");
}

}  // namespace
}  // namespace vantrel
