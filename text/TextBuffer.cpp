#include "text/TextBuffer.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include <sys/mman.h>

namespace vantrel {

namespace {

constexpr size_t kMinimumUnits = 4096;
// From this size on a text bounded by maxUnits moves into its reserved range.
constexpr size_t kReserveFromBytes = 1u << 20;

constexpr size_t kLargePage = 2u << 20;

size_t RoundUp(size_t bytes, size_t to) {
    return (bytes + to - 1) / to * to;
}

}  // namespace

TextBuffer::~TextBuffer() {
    release();
}

// The range is mapped without access and without counting against the memory the system has
// promised; the part in use is opened as it grows, and memory is taken only where it is written.
// Large pages are asked for: a fraction of the page faults when the text is first written.
bool TextBuffer::growInReserve(size_t wanted) {
    // Opened in whole large pages from a range that starts on one, so that every part of the
    // text can be backed by them.
    const size_t open = RoundUp(wanted * sizeof(char16_t), kLargePage);
    if (reservedBytes_ == 0) {
        const size_t bytes = RoundUp((maxUnits_ + kMinimumUnits) * sizeof(char16_t), kLargePage);
        void* mapped = ::mmap(nullptr, bytes + kLargePage, PROT_NONE,
                              MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        if (mapped == MAP_FAILED) return false;
        const auto start = reinterpret_cast<uintptr_t>(mapped);
        const uintptr_t aligned = RoundUp(start, kLargePage);
        if (aligned > start) ::munmap(mapped, aligned - start);
        if (aligned + bytes < start + bytes + kLargePage)
            ::munmap(reinterpret_cast<void*>(aligned + bytes), start + bytes + kLargePage - aligned - bytes);
        void* range = reinterpret_cast<void*>(aligned);
        ::madvise(range, bytes, MADV_HUGEPAGE);
        if (open > bytes || ::mprotect(range, open, PROT_READ | PROT_WRITE) != 0) {
            ::munmap(range, bytes);
            return false;
        }
        // An empty buffer may have no memory yet: memcpy must not be handed a null source.
        if (size_ != 0) std::memcpy(range, data_, size_ * sizeof(char16_t));
        std::free(data_);
        data_ = static_cast<char16_t*>(range);
        reservedBytes_ = bytes;
        capacity_ = open / sizeof(char16_t);
        return true;
    }
    if (open > reservedBytes_ || ::mprotect(data_, open, PROT_READ | PROT_WRITE) != 0) throw std::bad_alloc();
    capacity_ = open / sizeof(char16_t);
    return true;
}

char16_t* TextBuffer::room(size_t units) {
    if (capacity_ - size_ < units) {
        size_t wanted = capacity_ < kMinimumUnits ? kMinimumUnits : capacity_ * 2;
        if (wanted - size_ < units) wanted = size_ + units;
        if (maxUnits_ != 0 && (reservedBytes_ != 0 || wanted * sizeof(char16_t) >= kReserveFromBytes)) {
            if (wanted > maxUnits_ + kMinimumUnits && size_ + units <= maxUnits_ + kMinimumUnits)
                wanted = maxUnits_ + kMinimumUnits;
            if (growInReserve(wanted)) return data_ + size_;
        }
        if (reservedBytes_ != 0) throw std::bad_alloc();
        void* grown = std::realloc(data_, wanted * sizeof(char16_t));
        if (!grown) throw std::bad_alloc();
        data_ = static_cast<char16_t*>(grown);
        capacity_ = wanted;
    }
    return data_ + size_;
}

void TextBuffer::release() {
    if (reservedBytes_ != 0) {
        ::munmap(data_, reservedBytes_);
    } else {
        std::free(data_);
    }
    data_ = nullptr;
    size_ = capacity_ = reservedBytes_ = 0;
}

}  // namespace vantrel
