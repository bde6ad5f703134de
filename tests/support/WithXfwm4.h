#pragma once
// Runs a command of a window test under a real window manager (xfwm4) on a display of its own,
// through scripts/with-display.sh, for the tests of what a manager changes: frames, placement,
// minimizing.
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

namespace vantrel::test {

// The exit code of a run whose window manager did not start.
constexpr int kNoWindowManager = 77;
// A display, a tray host and the manager on a loaded machine, besides the command itself; below
// the test's own time-out, so that a run that does not end still shows its output.
constexpr int kXfwm4RunMs = 270000;

inline bool xfwm4Installed() {
    return !QStandardPaths::findExecutable(QStringLiteral("xfwm4")).isEmpty();
}

// Runs `command` under xfwm4 (or without a manager when `withManager` is false) on a display of
// `size` with a tray host; its output, and its exit code in `exitCode` (-1: it did not finish).
inline QByteArray runOnDisplay(const QString& size, QStringList command, bool withManager, int& exitCode,
                               const QProcessEnvironment& environment) {
    // The manager first, then the command once the manager has taken the screen (bounded).
    // xfwm4 reads its settings over D-Bus and gives up without a session bus: it gets a private
    // one of its own, ended with it.
    const QString wrapper =
        QStringLiteral(R"(bus=($(dbus-daemon --session --fork --print-address=1 --print-pid=1))
        DBUS_SESSION_BUS_ADDRESS=${bus[0]} xfwm4 >/dev/null 2>&1 & wm=$!
        for i in $(seq 100); do xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q '#' && break; sleep 0.1; done
        xprop -root _NET_SUPPORTING_WM_CHECK | grep -q '#' || { echo "xfwm4 did not start"; kill $wm ${bus[1]}; exit 77; }
        "$@"; rc=$?; kill $wm; wait $wm; kill ${bus[1]}; exit $rc)");
    if (withManager) command = QStringList{"bash", "-c", wrapper, "bash"} + command;
    QProcess child;
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(VANTREL_TEST_SOURCE_DIR "/../scripts/with-display.sh", QStringList{"--size", size} + command);
    exitCode = child.waitForFinished(kXfwm4RunMs) && child.exitStatus() == QProcess::NormalExit
                   ? child.exitCode()
                   : -1;
    return child.readAll();
}

}  // namespace vantrel::test
