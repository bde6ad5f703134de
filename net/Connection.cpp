#include "net/Connection.h"

#include <algorithm>
#include <cstring>

#include "net/CancelSignal.h"
#include "net/HttpLimits.h"

namespace vantrel {

using limits::kReceiveBlock;

Connection::Connection(std::unique_ptr<ByteStream> stream, Key key, const CancelSignal* cancel)
    : stream_(std::move(stream)),
      key_(std::move(key)),
      cancel_(cancel),
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

ReadStatus Connection::fill(int wanted, bool throwAtDeadline) {
    if (!open_) return ReadStatus::Closed;
    if (pos_ == end_) {
        pos_ = end_ = 0;
    } else if (pos_ > 4 * kReceiveBlock && pos_ * 2 > end_) {
        std::memmove(inbuf_.data(), inbuf_.data() + pos_, end_ - pos_);
        end_ -= pos_;
        pos_ = 0;
    }
    // The buffer only grows, so a block is read without clearing memory first.
    if (inbuf_.size() < end_ + kReceiveBlock) inbuf_.resize(end_ + kReceiveBlock);
    bool deadlineBinds = false;
    const int wait = waitMs(wanted, deadlineBinds);
    const ReadResult r = receive(inbuf_.data() + end_, kReceiveBlock, wait);
    end_ += r.count;
    if (r.status == ReadStatus::TimedOut && deadlineBinds && throwAtDeadline)
        fail(FetchErrorKind::ReadTimedOut);
    return r.status;
}

Connection::Line Connection::readLine(std::string& line) {
    size_t scanned = 0;
    for (;;) {
        const char* begin = inbuf_.data() + pos_;
        const size_t avail = end_ - pos_;
        if (const void* lf = std::memchr(begin + scanned, '\n', avail - scanned)) {
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
                line.assign(inbuf_.data() + pos_, rest);
                pos_ += rest;
                return Line::Read;
            }
        }
    }
}

size_t Connection::readExact(ByteSink& sink, size_t count) {
    size_t got = std::min(count, unread());
    sink.write(inbuf_.data() + pos_, got);
    pos_ += got;
    // Nothing is buffered now: each block is read into the buffer and handed on while it is
    // still in the cache.
    if (got < count && inbuf_.size() < kReceiveBlock) inbuf_.resize(kReceiveBlock);
    while (got < count && open_) {
        bool deadlineBinds = false;
        const int wait = waitMs(readTimeoutMs_, deadlineBinds);
        const ReadResult r = receive(inbuf_.data(), std::min(count - got, kReceiveBlock), wait);
        if (r.status == ReadStatus::TimedOut) fail(FetchErrorKind::ReadTimedOut);
        if (r.status == ReadStatus::Data) {
            sink.write(inbuf_.data(), r.count);
            got += r.count;
        }
    }
    return got;
}

bool Connection::readUntilClose(ByteSink& sink, size_t max) {
    size_t total = std::min(unread(), max + 1);
    sink.write(inbuf_.data() + pos_, total);
    pos_ += total;
    if (total <= max && inbuf_.size() < kReceiveBlock) inbuf_.resize(kReceiveBlock);
    while (total <= max) {
        if (!open_) return true;
        bool deadlineBinds = false;
        const int wait = waitMs(readTimeoutMs_, deadlineBinds);
        const size_t block = std::min(kReceiveBlock, max + 1 - total);
        const ReadResult r = receive(inbuf_.data(), block, wait);
        if (r.status == ReadStatus::TimedOut) fail(FetchErrorKind::ReadTimedOut);
        if (r.status == ReadStatus::Data) {
            sink.write(inbuf_.data(), r.count);
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
