#pragma once
// A connected stream of bytes: the only thing the HTTP code reads and writes. A plain socket, a
// TLS session and an in-memory script implement it, so the protocol runs without a network in
// tests and fuzzers.
#include <cstddef>
#include <string_view>

namespace vantrel {

enum class ReadStatus { Data, TimedOut, Closed };

struct ReadResult {
    ReadStatus status;
    size_t count = 0;  // bytes stored, for Data
};

class ByteStream {
  public:
    virtual ~ByteStream() = default;

    // Stores at most `capacity` bytes, waiting at most `waitMs` for the first (0: a poll without
    // waiting). Reports data, a time-out or the peer's close; every failure, a cancelled get
    // included, is thrown as FetchError.
    virtual ReadResult read(char* buffer, size_t capacity, int waitMs) = 0;

    // Sends every byte, waiting at most `waitMs` for room; throws FetchError on failure.
    virtual void writeAll(std::string_view bytes, int waitMs) = 0;

    // Closes this side; later reads report Closed.
    virtual void close() = 0;
};

}  // namespace vantrel
