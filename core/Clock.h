#pragma once
// Where the current local time comes from, so tests can drive time by hand.
#include "core/PageEntry.h"

namespace vantrel {

class Clock {
  public:
    virtual ~Clock() = default;
    // Local wall-clock date and time counted as if UTC, in milliseconds.
    virtual LocalMillis now() const = 0;
};

// The system's clock and time zone.
class SystemClock : public Clock {
  public:
    LocalMillis now() const override;
};

}  // namespace vantrel
