#include "core/ProcessRunner.h"

#include <cstring>

#include "core/CheckReport.h"
#include "text/Text.h"

namespace vantrel {

std::u16string ProcessOutcome::describe(std::chrono::milliseconds limit) const {
    switch (kind) {
        case Kind::Exited:
            return code == 0 ? u"Ran fine" : u"Exited with code " + IntToText(code);
        case Kind::NotFound:
            return u"Not found";
        case Kind::NotStarted:
            return u"Could not start: " + FromUtf8(std::strerror(code));
        case Kind::TimedOut:
            return u"Timed out after " + DurationInWords(limit.count()) + u" and was killed";
        case Kind::Killed:
            return u"Ended by signal " + IntToText(code);
        case Kind::Cancelled:
            return u"Stopped as the program ended";
        case Kind::Dropped:
            return u"Not run: too many commands were waiting";
    }
    return {};
}

}  // namespace vantrel
