#pragma once
// A clock the test sets by hand, for everything that takes a Clock.
#include "core/Clock.h"

namespace vantrel::test {

class FakeClock : public Clock {
  public:
    explicit FakeClock(LocalMillis start) : time(start) {}
    LocalMillis now() const override { return time; }
    void advanceMinutes(int minutes) { time += LocalMillis{minutes} * 60000; }

    LocalMillis time;
};

}  // namespace vantrel::test
