#pragma once
// A TCP connection over a POSIX socket: name resolution (IPv4 for names, IPv6 for a bracketed
// literal), a connect bounded in time, and reads and writes that a cancel wakes at once.
#include <memory>
#include <string>

#include "net/ByteStream.h"

namespace vantrel {

class CancelSignal;

class SocketStream : public ByteStream {
  public:
    // Resolves `host` (IPv4 unless `ipVersion` is 6) and connects within `waitMs`. Throws
    // FetchError: HostNotFound, NameLookupFailed, Socket (a connect that times out as ETIMEDOUT)
    // or Cancelled.
    static std::unique_ptr<SocketStream> connect(const std::string& host, int port, int ipVersion, int waitMs,
                                                 const CancelSignal* cancel);
    ~SocketStream() override;

    ReadResult read(char* buffer, size_t capacity, int waitMs) override;
    void writeAll(std::string_view bytes, int waitMs) override;
    void close() override;

    int fd() const { return fd_; }
    const CancelSignal* cancel() const { return cancel_; }

  private:
    SocketStream(int fd, const CancelSignal* cancel) : fd_(fd), cancel_(cancel) {}

    int fd_;
    const CancelSignal* cancel_;
    // Bytes went out and nothing was read since: the answer takes at least a round trip, so the
    // next read waits before it tries (a receive at once would only find nothing).
    bool answerAwaited_ = false;
};

}  // namespace vantrel
