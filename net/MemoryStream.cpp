#include "net/MemoryStream.h"

#include <algorithm>
#include <cstring>

#include "net/FetchError.h"

namespace vantrel {

ReadResult MemoryStream::read(char* buffer, size_t capacity, int waitMs) {
    MemoryScript& s = *script_;
    s.largestRead = std::max(s.largestRead, capacity);
    if (s.closedByClient || peerClosed_) return {ReadStatus::Closed};
    while (!s.steps.empty()) {
        MemoryScript::Step& step = s.steps.front();
        switch (step.kind) {
            case MemoryScript::Step::Bytes: {
                const size_t left = step.bytes.size() - step.taken;
                if (left == 0) {
                    s.steps.pop_front();
                    continue;
                }
                const size_t n = std::min(capacity, left);
                std::memcpy(buffer, step.bytes.data() + step.taken, n);
                step.taken += n;
                if (step.taken == step.bytes.size()) s.steps.pop_front();
                return {ReadStatus::Data, n};
            }
            case MemoryScript::Step::Stall:
                if (waitMs > 0) s.steps.pop_front();
                return {ReadStatus::TimedOut};
            case MemoryScript::Step::Pause:
                if (waitMs <= 0) return {ReadStatus::TimedOut};
                s.steps.pop_front();
                continue;
            case MemoryScript::Step::Close:
                s.steps.pop_front();
                peerClosed_ = true;
                return {ReadStatus::Closed};
            case MemoryScript::Step::AwaitWrite:
                if (s.writes < step.writes) return {ReadStatus::TimedOut};
                s.steps.pop_front();
                continue;
            case MemoryScript::Step::Fail: {
                const int error = step.error;
                s.steps.pop_front();
                throw FetchError::socket(error);
            }
        }
    }
    if (s.endsOpen) return {ReadStatus::TimedOut};
    peerClosed_ = true;
    return {ReadStatus::Closed};
}

void MemoryStream::writeAll(std::string_view bytes, int) {
    if (script_->writeError != 0) throw FetchError::socket(script_->writeError);
    script_->written.append(bytes);
    ++script_->writes;
}

void MemoryStream::close() {
    script_->closedByClient = true;
}

}  // namespace vantrel
