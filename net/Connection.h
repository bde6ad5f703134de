#pragma once
// One connection to a server with its buffer of received bytes not yet consumed: reads lines,
// exact byte counts and bodies up to the peer's close, under the fetcher's waits and limits.
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "net/ByteSink.h"
#include "net/ByteStream.h"
#include "net/FetchError.h"

namespace vantrel {

class CancelSignal;

class Connection {
  public:
    using Clock = std::chrono::steady_clock;

    // What the connection was opened for; a request for anything else needs a new one.
    struct Key {
        std::u16string host;
        int port = 0;
        int ipVersion = 4;
        bool tls = false;
        // The proxy it goes through ("host:port"), empty for a direct one: a connection made for
        // one way to a server is never used for another.
        std::string proxy;
        friend bool operator==(const Key&, const Key&) = default;
    };

    // Room for received bytes, handed from a closed connection to the next one, so that a fetcher
    // going from server to server does not map, fault in and unmap a fresh block for each.
    struct Room {
        std::unique_ptr<char[]> bytes;
        size_t capacity;  // bytes at `bytes`; a Room made with {} holds none
    };

    Connection(std::unique_ptr<ByteStream> stream, Key key, const CancelSignal* cancel = nullptr,
               Room room = {});
    ~Connection();

    const Key& key() const { return key_; }

    // Bounds every later wait: each by `readTimeoutMs`, all of them by `deadline`.
    void setWaits(int readTimeoutMs, Clock::time_point deadline);

    enum class Line { Read, TimedOut, Closed };
    // Reads up to the next LF, dropping it and one CR before it. TimedOut: no complete line came
    // within the wait (any partial bytes stay buffered). Closed: the peer closed before any byte
    // of the line; a partial last line before the close is Read. Throws FetchError: "Max line
    // length exceeded.", "Read timed out." once the deadline passes, a socket failure.
    Line readLine(std::string& line);

    // Hands `count` bytes to `sink` as they arrive and returns `count`, or fewer when the peer
    // closes first. Throws FetchError("Read timed out.") when a wait passes, or a socket failure.
    size_t readExact(ByteSink& sink, size_t count);

    // Hands bytes to `sink` until the peer closes and returns true; returns false as soon as more
    // than `max` bytes were handed on (the rest stays unread). Throws as readExact.
    bool readUntilClose(ByteSink& sink, size_t max);

    // True when a byte is buffered or arrives within `waitMs`; never throws for a time-out.
    bool waitForData(int waitMs);

    // Sends all bytes; throws FetchError on failure (the connection is then closed).
    void send(std::string_view bytes);

    // A poll without waiting: takes in what was already sent and notices the peer's close.
    // True when the connection is open and holds no unread byte, so it may carry another request.
    bool reusable();

    bool open() const { return open_; }
    size_t unread() const { return end_ - pos_; }
    // Every byte taken from the stream so far.
    uint64_t received() const { return received_; }
    void close();
    // Closes the connection and gives up its buffer, unread bytes dropped. A buffer grown past
    // two blocks (for a long line or a backlog of unread bytes) is freed and no room given.
    Room takeRoom();

  private:
    int waitMs(int wanted, bool& deadlineBinds) const;
    // One read from the stream: counts what came and closes on the peer's close or a failure.
    ReadResult receive(char* into, size_t capacity, int waitMs);
    // Reads one block into the buffer.
    ReadStatus fill(int wanted, bool throwAtDeadline);
    // Grows the buffer to at least `size` bytes, keeping what it holds; it never shrinks.
    void makeRoom(size_t size);
    [[noreturn]] void fail(FetchErrorKind kind);

    std::unique_ptr<ByteStream> stream_;
    Key key_;
    const CancelSignal* cancel_;
    std::unique_ptr<char[]> inbuf_;  // received bytes from pos_ to end_; the rest is room
    size_t capacity_ = 0;
    size_t pos_ = 0;
    size_t end_ = 0;
    bool open_ = true;
    uint64_t received_ = 0;
    int readTimeoutMs_;
    Clock::time_point deadline_;
};

}  // namespace vantrel
