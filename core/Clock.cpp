#include "core/Clock.h"

#include <ctime>

namespace vantrel {

LocalMillis SystemClock::now() const {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    // The offset in force at this very instant, so a change to or from summer time shows at once.
    tm local{};
    long offsetSeconds = 0;
    if (localtime_r(&ts.tv_sec, &local) != nullptr) offsetSeconds = local.tm_gmtoff;
    return (static_cast<int64_t>(ts.tv_sec) + offsetSeconds) * 1000 + ts.tv_nsec / 1000000;
}

}  // namespace vantrel
