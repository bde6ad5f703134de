// The desktop's secret store through libsecret: a round trip with a real GNOME Keyring on a
// private session bus, and the answer where no secret service runs. Each case runs this program
// again inside the environment it needs, so that no test touches the user's own keyring.
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "store/SecretStore.h"
#include "support/TempDir.h"

namespace vantrel {
namespace {

constexpr const char* kInside = "VANTREL_SECRET_TEST_INSIDE";

bool Inside() {
    return std::getenv(kInside) != nullptr;
}

// Runs this test again with `environment` and `wrapper` before it; returns its exit status and
// leaves its output in `log`.
int RunInside(const std::string& environment, const std::string& wrapper, const test::TempDir& dir,
              std::string& log) {
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    // GLib keeps its type system and the bus connection to the end of the process: the leak check
    // of a sanitized build would judge GLib, not the store.
    const std::string command = "env " + environment + " ASAN_OPTIONS=detect_leaks=0 " + kInside + "=1 " +
                                wrapper + " '" + self + "' --gtest_filter=SecretStoreTest." + test + " > '" +
                                dir.file("log") + "' 2>&1";
    const int status = std::system(command.c_str());
    std::ifstream in(dir.file("log"));
    std::stringstream text;
    text << in.rdbuf();
    log = text.str();
    return status;
}

TEST(SecretStoreTest, RoundTripWithGnomeKeyring) {
    if (Inside()) {
        auto store = MakeDesktopSecretStore();
        ASSERT_EQ(store->unavailable(), "");
        const std::string key = "page:http://example.test/caf\xC3\xA9";
        EXPECT_EQ(store->load(key), std::nullopt);
        EXPECT_EQ(store->save(key, "Vantrel: example.test", "first p\xC3\xA4ssword"), "");
        EXPECT_EQ(store->save("proxy", "Vantrel: proxy", "other"), "");
        EXPECT_EQ(store->load(key), "first p\xC3\xA4ssword");
        EXPECT_EQ(store->save(key, "Vantrel: example.test", "second"), "");
        EXPECT_EQ(store->load(key), "second");
        store->remove(key);
        EXPECT_EQ(store->load(key), std::nullopt);
        EXPECT_EQ(store->load("proxy"), "other");
        return;
    }
    for (const char* tool : {"/usr/bin/dbus-run-session", "/usr/bin/gnome-keyring-daemon"})
        if (::access(tool, X_OK) != 0)
            GTEST_SKIP() << tool << " is missing (Debian packages dbus, gnome-keyring)";
    // A home of its own: the keyring's files go there, made with a password the test knows and
    // unlocked with it from standard input, so no prompt is ever needed.
    test::TempDir home;
    const std::string environment = "-u DISPLAY -u WAYLAND_DISPLAY HOME='" + home.path() +
                                    "' XDG_DATA_HOME='" + home.path() + "/data' XDG_RUNTIME_DIR='" +
                                    home.path() + "'";
    const std::string wrapper =
        "dbus-run-session -- sh -c 'printf known | gnome-keyring-daemon --unlock --components=secrets "
        ">/dev/null 2>&1; exec \"$0\" \"$@\"'";
    std::string log;
    EXPECT_EQ(RunInside(environment, wrapper, home, log), 0) << log;
}

TEST(SecretStoreTest, WithoutAServiceNothingIsKept) {
    if (Inside()) {
        auto store = MakeDesktopSecretStore();
        const std::string why = store->unavailable();
        EXPECT_EQ(why.rfind("No secret service is running (", 0), 0u) << why;
        EXPECT_EQ(store->save("proxy", "Vantrel: proxy", "pw"), why);
        EXPECT_EQ(store->load("proxy"), std::nullopt);
        return;
    }
    // A session bus address where no bus listens.
    test::TempDir dir;
    std::string log;
    EXPECT_EQ(
        RunInside("-u DISPLAY -u WAYLAND_DISPLAY DBUS_SESSION_BUS_ADDRESS=unix:path=" + dir.file("no-bus"),
                  "", dir, log),
        0)
        << log;
}

}  // namespace
}  // namespace vantrel
