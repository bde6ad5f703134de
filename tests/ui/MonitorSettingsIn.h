#pragma once
// The settings of a Monitor whose files live in a test's temporary folder and whose time is a fake
// clock's; reads give up after 5 s, so a peer that stops answering fails the test instead of
// holding it.
#include <QTemporaryDir>

#include "support/FakeClock.h"
#include "ui/Monitor.h"

namespace vantrel::test {

inline MonitorSettings settingsIn(const QTemporaryDir& dir, const FakeClock& clock) {
    MonitorSettings settings;
    settings.exeDir = dir.path();
    settings.autostartDir = dir.filePath("autostart");
    settings.clock = &clock;
    settings.fetcher.readTimeoutMs = 5000;
    return settings;
}

}  // namespace vantrel::test
