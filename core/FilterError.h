#pragma once
// How page filtering fails, and the time budget it runs against.
#include <chrono>
#include <string>

#include "core/Error.h"

namespace vantrel {

enum class FilterFailure {
    None,
    NothingMatched,  // the selector selected nothing
    NoText,          // the filters left empty text
    TooLarge,        // the page is too large (or nested too deeply) to be parsed
    Unparsable,      // the HTML parser gave up on the page
    TooSlow,         // the time limit, or a regular-expression or XPath work limit, was reached
    Invalid,         // a selector, XPath or pattern that does not compile
};

class FilterError : public Error {
  public:
    FilterError(FilterFailure failure, const std::string& message) : Error(message), failure_(failure) {}
    FilterFailure failure() const { return failure_; }

  private:
    FilterFailure failure_;
};

// The end of one page's time budget, checked between steps and every few hundred nodes or lines.
class Deadline {
  public:
    explicit Deadline(std::chrono::milliseconds limit)
        : limit_(limit), end_(std::chrono::steady_clock::now() + limit) {}
    // Throws FilterError (TooSlow) once the budget is spent.
    void check() const;

  private:
    std::chrono::milliseconds limit_;
    std::chrono::steady_clock::time_point end_;
};

}  // namespace vantrel
