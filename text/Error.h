#pragma once
// The one failure type of the program's own layers: an error with a message text (UTF-8),
// raised where it arises and shown by the application's error display at the edge of every
// event handler.
#include <stdexcept>
#include <string>

namespace vantrel {

class Error : public std::runtime_error {
  public:
    explicit Error(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace vantrel
