#pragma once
// Where a body's bytes go as they arrive: a string that collects them, or a decoder that turns
// them into text at once, so a large body is never held twice.
#include <cstddef>
#include <string>

namespace vantrel {

class ByteSink {
  public:
    virtual ~ByteSink() = default;
    virtual void write(const char* bytes, size_t count) = 0;
};

class StringSink final : public ByteSink {
  public:
    explicit StringSink(std::string& out) : out_(out) {}
    void write(const char* bytes, size_t count) override { out_.append(bytes, count); }

  private:
    std::string& out_;
};

}  // namespace vantrel
