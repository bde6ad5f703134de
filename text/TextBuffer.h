#pragma once
// A growing run of UTF-16 units whose room is never cleared before it is written: decoders write
// straight into it, and it is kept for the next text, so a text of the same size costs no
// allocation and no page faults.
#include <cstddef>
#include <string_view>

namespace vantrel {

class TextBuffer {
  public:
    // With `maxUnits`, the most units the text will ever hold, a large text grows inside one
    // range of addresses set aside for it (taking memory only as it is written), so growing never
    // copies the text; without it, growing may.
    explicit TextBuffer(size_t maxUnits = 0) : maxUnits_(maxUnits) {}
    ~TextBuffer();
    TextBuffer(const TextBuffer&) = delete;
    TextBuffer& operator=(const TextBuffer&) = delete;

    // Room for `units` more units after the text, uninitialised; grows the buffer (at least
    // doubling) when needed. Valid until the next call that grows the buffer.
    char16_t* room(size_t units);
    // Adds `units` units written into the room to the text.
    void commit(size_t units) { size_ += units; }

    // Empties the text and keeps the room.
    void clear() { size_ = 0; }
    // Empties the text and gives the room back.
    void release();

    std::u16string_view view() const { return {data_, size_}; }
    size_t size() const { return size_; }
    size_t capacity() const { return capacity_; }

  private:
    bool growInReserve(size_t wanted);

    size_t maxUnits_;
    char16_t* data_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
    size_t reservedBytes_ = 0;  // the range set aside, when data_ is in one
};

}  // namespace vantrel
