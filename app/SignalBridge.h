#pragma once
// Turns POSIX signals (SIGTERM, SIGINT, SIGHUP: log-off, shutdown, Ctrl+C, a closed terminal) into
// a Qt signal on the user-interface thread, through a self-pipe: the handler only write()s.
#include <QObject>
#include <csignal>
#include <vector>

class QSocketNotifier;

namespace vantrel {

class SignalBridge : public QObject {
    Q_OBJECT
  public:
    // Installs the handler for each signal in `signalNumbers`. One bridge may exist at a time.
    // Throws Error("Cannot catch signals") when the socket pair or a handler cannot be set up.
    explicit SignalBridge(const std::vector<int>& signalNumbers, QObject* parent = nullptr);
    // Puts back the handlers that were there before and closes the pipe.
    ~SignalBridge() override;

  signals:
    // Emitted from the event loop once per signal that arrived.
    void received(int signalNumber);

  private:
    void drain();
    void restore();

    QSocketNotifier* notifier_ = nullptr;
    std::vector<std::pair<int, struct sigaction>> previous_;
};

}  // namespace vantrel
