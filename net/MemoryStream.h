#pragma once
// A byte stream that plays a script of incoming bytes, waits that time out, a close or a failure,
// and records what is written: the peer of the protocol code in tests and fuzzers.
#include <deque>
#include <memory>
#include <string>

#include "net/ByteStream.h"

namespace vantrel {

// Shared by the stream and the test that wrote it, so the test can read it after the stream is
// gone.
struct MemoryScript {
    struct Step {
        enum Kind { Bytes, Stall, Pause, Close, Fail, AwaitWrite } kind;
        std::string bytes;  // the data
        int writes = 0;     // AwaitWrite: reads time out until this many writes were made
        size_t taken = 0;   // Bytes: how many were read already
        int error = 0;      // Fail: the errno value of the failed socket call
    };
    std::deque<Step> steps;
    bool endsOpen = false;  // after the last step: time-outs (true) or the peer's close (false)
    int writeError = 0;     // when set, every write fails as a socket call with this errno value
    std::string written;
    bool closedByClient = false;
    int writes = 0;
    size_t largestRead = 0;  // the most bytes one read asked for

    MemoryScript& feed(std::string bytes) {
        steps.push_back({Step::Bytes, std::move(bytes)});
        return *this;
    }
    MemoryScript& stall() {
        steps.push_back({Step::Stall, {}});
        return *this;
    }
    // The following steps come a moment later, as pieces do on a network: a poll without waiting
    // sees nothing yet, a wait of any length goes on to them.
    MemoryScript& pause() {
        steps.push_back({Step::Pause, {}});
        return *this;
    }
    MemoryScript& close() {
        steps.push_back({Step::Close, {}});
        return *this;
    }
    // The following steps wait for the client's next request: for a second answer on one
    // connection, or a close that comes only once a request was sent.
    MemoryScript& awaitWrite(int totalWrites) {
        steps.push_back({Step::AwaitWrite, {}, totalWrites});
        return *this;
    }
    // The next read fails as a socket call with the errno value `error`.
    MemoryScript& fail(int error) {
        steps.push_back({Step::Fail, {}, 0, 0, error});
        return *this;
    }
};

class MemoryStream : public ByteStream {
  public:
    explicit MemoryStream(std::shared_ptr<MemoryScript> script) : script_(std::move(script)) {}

    // A stall is taken only by a wait longer than 0 ms, as a real wait would pass it.
    ReadResult read(char* buffer, size_t capacity, int waitMs) override;
    // Throws FetchError::socket(writeError) when the script sets one.
    void writeAll(std::string_view bytes, int waitMs) override;
    void close() override;

  private:
    std::shared_ptr<MemoryScript> script_;
    bool peerClosed_ = false;
};

}  // namespace vantrel
