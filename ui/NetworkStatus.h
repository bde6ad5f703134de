#pragma once
// What the desktop knows of this computer's network and of its sleep: the network status of the
// desktop's network service where there is one (NetworkManager, on the system bus) and
// logind's announcement of a wake on the system bus, and a clock jump between two one-second ticks
// everywhere. The check cycle puts checks off on either (core/NetworkWatch.h).
#include <QObject>

#include "core/PageEntry.h"

namespace vantrel {

class NetworkStatus : public QObject {
    Q_OBJECT
  public:
    explicit NetworkStatus(QObject* parent = nullptr);

    // A tick of the check timer at the system's wall-clock time `now`: a gap since the last one
    // much longer than a second means the computer slept or the program was stopped.
    void tick(LocalMillis now);
    // True when the desktop said last that there is no network. Its first answer comes a moment
    // after the start, with desktopOnlineChanged.
    bool desktopOffline() const { return offline_; }

  signals:
    // The desktop's network status changed: false for disconnected.
    void desktopOnlineChanged(bool online);
    // The computer woke from sleep (or the program went on after it was stopped).
    void woke();

  private slots:
    // logind's PrepareForSleep(start): false when the computer wakes again.
    void prepareForSleep(bool start);
    // NetworkManager's StateChanged(state), or its answer when asked.
    void stateChanged(uint state);

  private:
    void askState();
    void setOffline(bool offline);

    bool offline_ = false;
    LocalMillis lastTick_ = 0;
};

}  // namespace vantrel
