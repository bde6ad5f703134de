#include "net/Connection.h"

#include <algorithm>
#include <cstring>

#include "net/CancelSignal.h"
#include "net/HttpLimits.h"

namespace vantrel {

using limits::kReceiveBlock;

Connection::Connection(std::unique_ptr<ByteStream> stream, Key key, const CancelSignal* cancel, Room room)
    : stream_(std::move(stream)),
      key_(std::move(key)),
      cancel_(cancel),
      inbuf_(std::move(room.bytes)),
      capacity_(inbuf_ ? room.capacity : 0),
      readTimeoutMs_(limits::kReadTimeoutMs),
      deadline_(Clock::now() + std::chrono::milliseconds(limits::kGetTimeoutMs)) {}

Connection::~Connection() {
    close();
}

void Connection::setWaits(int readTimeoutMs, Clock::time_point deadline) {
    readTimeoutMs_ = readTimeoutMs;
    deadline_ = deadline;
}

int Connection::waitMs(int wanted, bool& deadlineBinds) const {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now()).count();
    deadlineBinds = left <= wanted;
    if (left <= 0) return 0;
    return deadlineBinds ? static_cast<int>(left) : wanted;
}

Connection::Room Connection::takeRoom() {
    close();
    Room room{std::move(inbuf_), capacity_};
    capacity_ = pos_ = end_ = 0;
    if (room.capacity > 2 * kReceiveBlock) return {};
    return room;
}

void Connection::fail(FetchErrorKind kind) {
    close();
    throw FetchError(kind);
}

ReadResult Connection::receive(char* into, size_t capacity, int waitMs) {
    ReadResult r{ReadStatus::Closed};
    try {
        if (cancel_) cancel_->throwIfRaised();
        r = stream_->read(into, capacity, waitMs);
    } catch (...) {
        close();
        throw;
    }
    if (r.status == ReadStatus::Data) received_ += r.count;
    if (r.status == ReadStatus::Closed) close();
    return r;
}

void Connection::makeRoom(size_t size) {
    if (capacity_ >= size) return;
    // Not cleared: a block is read into it, and of a large block's pages only those the read
    // fills are ever touched (a cleared block costs every page of it, for every connection).
    std::unique_ptr<char[]> larger(new char[size]);
    if (end_ > 0) std::memcpy(larger.get(), inbuf_.get(), end_);
    inbuf_ = std::move(larger);
    capacity_ = size;
}

ReadStatus Connection::fill(int wanted, bool throwAtDeadline) {
    if (!open_) return ReadStatus::Closed;
    if (pos_ == end_) {
        pos_ = end_ = 0;
    } else if (pos_ > 4 * kReceiveBlock && pos_ * 2 > end_) {
        std::memmove(inbuf_.get(), inbuf_.get() + pos_, end_ - pos_);
        end_ -= pos_;
        pos_ = 0;
    }
    makeRoom(end_ + kReceiveBlock);
    bool deadlineBinds = false;
    const int wait = waitMs(wanted, deadlineBinds);
    const ReadResult r = receive(inbuf_.get() + end_, kReceiveBlock, wait);
    end_ += r.count;
    if (r.status == ReadStatus::TimedOut && deadlineBinds && throwAtDeadline)
        fail(FetchErrorKind::ReadTimedOut);
    return r.status;
}

Connection::Line Connection::readLine(std::string& line) {
    size_t scanned = 0;
    for (;;) {
        const char* begin = inbuf_.get() + pos_;
        const size_t avail = end_ - pos_;
        // Nothing to scan before the first read: the buffer is not even there yet.
        const void* lf = avail > scanned ? std::memchr(begin + scanned, '\n', avail - scanned) : nullptr;
        if (lf) {
            const size_t length = static_cast<const char*>(lf) - begin;
            size_t content = length;
            if (content > 0 && begin[content - 1] == '\r') --content;
            if (content > limits::kMaxLineLength) fail(FetchErrorKind::LineTooLong);
            line.assign(begin, content);
            pos_ += length + 1;
            return Line::Read;
        }
        scanned = avail;
        // Past this, the line cannot fit even if a CR LF came next.
        if (avail > limits::kMaxLineLength + 1) fail(FetchErrorKind::LineTooLong);
        switch (fill(readTimeoutMs_, true)) {
            case ReadStatus::Data:
                continue;
            case ReadStatus::TimedOut:
                line.clear();
                return Line::TimedOut;
            default: {
                const size_t rest = unread();
                if (rest == 0) {
                    line.clear();
                    return Line::Closed;
                }
                if (rest > limits::kMaxLineLength) fail(FetchErrorKind::LineTooLong);
                line.assign(inbuf_.get() + pos_, rest);
                pos_ += rest;
                return Line::Read;
            }
        }
    }
}

size_t Connection::readExact(ByteSink& sink, size_t count) {
    size_t got = std::min(count, unread());
    sink.write(inbuf_.get() + pos_, got);
    pos_ += got;
    // Nothing is buffered now: each block is read into the buffer and handed on while it is
    // still in the cache.
    if (got < count) makeRoom(kReceiveBlock);
    while (got < count && open_) {
        bool deadlineBinds = false;
        const int wait = waitMs(readTimeoutMs_, deadlineBinds);
        const ReadResult r = receive(inbuf_.get(), std::min(count - got, kReceiveBlock), wait);
        if (r.status == ReadStatus::TimedOut) fail(FetchErrorKind::ReadTimedOut);
        if (r.status == ReadStatus::Data) {
            sink.write(inbuf_.get(), r.count);
            got += r.count;
        }
    }
    return got;
}

bool Connection::readUntilClose(ByteSink& sink, size_t max) {
    size_t total = std::min(unread(), max + 1);
    sink.write(inbuf_.get() + pos_, total);
    pos_ += total;
    if (total <= max) makeRoom(kReceiveBlock);
    while (total <= max) {
        if (!open_) return true;
        bool deadlineBinds = false;
        const int wait = waitMs(readTimeoutMs_, deadlineBinds);
        const size_t block = std::min(kReceiveBlock, max + 1 - total);
        const ReadResult r = receive(inbuf_.get(), block, wait);
        if (r.status == ReadStatus::TimedOut) fail(FetchErrorKind::ReadTimedOut);
        if (r.status == ReadStatus::Data) {
            sink.write(inbuf_.get(), r.count);
            total += r.count;
        }
    }
    return false;
}

bool Connection::waitForData(int waitMs) {
    if (unread() > 0) return true;
    return fill(waitMs, false) == ReadStatus::Data;
}

void Connection::send(std::string_view bytes) {
    if (!open_) fail(FetchErrorKind::ConnectionClosed);
    bool deadlineBinds = false;
    const int wait = waitMs(readTimeoutMs_, deadlineBinds);
    try {
        stream_->writeAll(bytes, wait);
    } catch (...) {
        close();
        throw;
    }
}

bool Connection::reusable() {
    try {
        if (open_ && unread() == 0) fill(0, false);
    } catch (const FetchError&) {
        close();
    }
    return open_ && unread() == 0;
}

void Connection::close() {
    if (open_) {
        open_ = false;
        stream_->close();
    }
}

}  // namespace vantrel
