#include "net/CancelSignal.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "net/FetchError.h"
#include "net/HttpLimits.h"

namespace vantrel {

CancelSignal::CancelSignal() {
    fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

CancelSignal::~CancelSignal() {
    if (fd_ >= 0) ::close(fd_);
}

void CancelSignal::raise() {
    if (raised_.exchange(true, std::memory_order_acq_rel)) return;
    if (fd_ >= 0) {
        // Never read back: the descriptor stays readable, which makes the signal sticky.
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(fd_, &one, sizeof one);
    }
}

void CancelSignal::throwIfRaised() const {
    if (raised()) throw FetchError(FetchErrorKind::Cancelled);
}

bool CancelSignal::waitFd(int fd, short events, int waitMs, const CancelSignal* cancel) {
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::milliseconds(waitMs < 0 ? 0 : waitMs);
    for (;;) {
        if (cancel) cancel->throwIfRaised();
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        int slice = left < 0 ? 0 : static_cast<int>(left);
        pollfd fds[2] = {{fd, events, 0}, {-1, POLLIN, 0}};
        nfds_t count = 1;
        if (cancel && cancel->fd() >= 0) {
            fds[1].fd = cancel->fd();
            count = 2;
        } else if (cancel && slice > limits::kCancelLatencyMs / 2) {
            slice = limits::kCancelLatencyMs / 2;
        }
        const int rc = ::poll(fds, count, slice);
        if (rc < 0) {
            if (errno == EINTR) continue;
            return true;  // let the following read or write report the error
        }
        if (count == 2 && fds[1].revents) cancel->throwIfRaised();
        if (rc > 0 && fds[0].revents) return true;
        if (left <= 0) return false;
        if (rc == 0 && slice == left) return false;
    }
}

}  // namespace vantrel
