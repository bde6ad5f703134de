#pragma once
// How page filtering fails, and the time budget it runs against.
#include <time.h>

#include <chrono>
#include <string>

#include "text/Error.h"

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

// The end of one page's time budget, checked between steps and every thousand nodes or every
// line. The budget is processor time of the thread that made it, not time on the wall clock: on
// a busy machine a page must not go offline because other programs had the processor.
class Deadline {
  public:
    // Starts the budget now, counting the calling thread's processor time.
    explicit Deadline(std::chrono::milliseconds limit);
    // Whether the budget is spent; callable from any thread.
    bool expired() const;
    // Throws FilterError (TooSlow) once the budget is spent.
    void check() const;

  private:
    std::chrono::nanoseconds used() const;

    std::chrono::milliseconds limit_;
    clockid_t clock_;
    std::chrono::nanoseconds end_;
};

}  // namespace vantrel
