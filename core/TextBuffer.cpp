#include "core/TextBuffer.h"

#include <cstdint>
#include <cstdlib>
#include <new>

#include <sys/mman.h>

namespace vantrel {

namespace {

constexpr size_t kMinimumUnits = 4096;
// From this size on the buffer is asked for large pages: a fraction of the page faults when it is
// first written.
constexpr size_t kLargePagesFrom = 4u << 20;

}  // namespace

TextBuffer::~TextBuffer() {
    std::free(data_);
}

char16_t* TextBuffer::room(size_t units) {
    if (capacity_ - size_ < units) {
        size_t wanted = capacity_ < kMinimumUnits ? kMinimumUnits : capacity_ * 2;
        if (wanted - size_ < units) wanted = size_ + units;
        // realloc keeps the text; a large block is moved by remapping its pages, not by copying.
        void* grown = std::realloc(data_, wanted * sizeof(char16_t));
        if (!grown) throw std::bad_alloc();
        data_ = static_cast<char16_t*>(grown);
        capacity_ = wanted;
        const size_t bytes = wanted * sizeof(char16_t);
        if (bytes >= kLargePagesFrom) {
            const auto begin = (reinterpret_cast<uintptr_t>(data_) + 4095) & ~uintptr_t{4095};
            const auto end = (reinterpret_cast<uintptr_t>(data_) + bytes) & ~uintptr_t{4095};
            if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
        }
    }
    return data_ + size_;
}

void TextBuffer::release() {
    std::free(data_);
    data_ = nullptr;
    size_ = capacity_ = 0;
}

}  // namespace vantrel
