#include "app/SignalBridge.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QPointer>
#include <QSocketNotifier>
#include <cerrno>

#include "text/Error.h"

namespace vantrel {

namespace {

// [0] is written by the handler, [1] read by the notifier. -1 while no bridge exists.
int gPipe[2] = {-1, -1};

extern "C" void onSignal(int signalNumber) {
    // Only async-signal-safe calls here: write() one byte, keep errno as it was.
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    if (gPipe[0] >= 0) {
        [[maybe_unused]] const ssize_t n = ::write(gPipe[0], &byte, 1);
    }
    errno = savedErrno;
}

}  // namespace

SignalBridge::SignalBridge(const std::vector<int>& signalNumbers, QObject* parent) : QObject(parent) {
    if (gPipe[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, gPipe) != 0) {
        throw Error("Cannot catch signals");
    }
    // A full pipe (a storm of signals nobody reads yet) must never block the handler.
    ::fcntl(gPipe[0], F_SETFL, ::fcntl(gPipe[0], F_GETFL) | O_NONBLOCK);
    ::fcntl(gPipe[1], F_SETFL, ::fcntl(gPipe[1], F_GETFL) | O_NONBLOCK);
    notifier_ = new QSocketNotifier(gPipe[1], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &SignalBridge::drain);

    for (const int signalNumber : signalNumbers) {
        struct sigaction action {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        struct sigaction old {};
        if (::sigaction(signalNumber, &action, &old) != 0) {
            restore();
            throw Error("Cannot catch signals");
        }
        previous_.emplace_back(signalNumber, old);
    }
}

SignalBridge::~SignalBridge() {
    restore();
}

void SignalBridge::restore() {
    for (auto it = previous_.rbegin(); it != previous_.rend(); ++it) {
        ::sigaction(it->first, &it->second, nullptr);
    }
    previous_.clear();
    delete notifier_;
    notifier_ = nullptr;
    for (int& fd : gPipe) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
}

void SignalBridge::drain() {
    // Read everything first: a receiver may end the program (and this bridge) while handling one.
    std::vector<unsigned char> arrived;
    unsigned char bytes[64];
    for (;;) {
        const ssize_t n = ::read(gPipe[1], bytes, sizeof bytes);
        if (n > 0) {
            arrived.insert(arrived.end(), bytes, bytes + n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        break;
    }
    QPointer<SignalBridge> self(this);
    for (const unsigned char signalNumber : arrived) {
        if (self.isNull()) return;
        emit received(signalNumber);
    }
}

}  // namespace vantrel
