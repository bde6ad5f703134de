#pragma once
// A connected stream of bytes: the only thing the HTTP code reads and writes. A plain socket, a
// TLS session and an in-memory script implement it, so the protocol runs without a network in
// tests and fuzzers.
#include <cstddef>
#include <string>
#include <string_view>

namespace vantrel {

enum class ReadStatus { Data, TimedOut, Closed, Failed };

struct ReadResult {
    ReadResult(ReadStatus s, size_t n = 0, std::string message = {})
        : status(s), count(n), error(std::move(message)) {}
    ReadStatus status;
    size_t count;       // bytes stored, for Data
    std::string error;  // the message of the failure, for Failed
};

class ByteStream {
  public:
    virtual ~ByteStream() = default;

    // Stores at most `capacity` bytes, waiting at most `waitMs` for the first (0: a poll without
    // waiting). Reports data, a time-out, the peer's close or a failure with its message. Throws
    // FetchError("Cancelled") when the get was cancelled.
    virtual ReadResult read(char* buffer, size_t capacity, int waitMs) = 0;

    // Sends every byte, waiting at most `waitMs` for room; throws FetchError on failure.
    virtual void writeAll(std::string_view bytes, int waitMs) = 0;

    // Closes this side; later reads report Closed.
    virtual void close() = 0;
};

}  // namespace vantrel
