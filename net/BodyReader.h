#pragma once
// Reads the body of a response as its head frames it: chunked, a known length, or up to the
// peer's close; with quick reads for bodies that may be absent and a cap on every body.
#include <cstddef>
#include <functional>
#include <string>

#include "net/ByteSink.h"
#include "net/HttpLimits.h"

namespace vantrel {

class Connection;
struct ResponseHead;

struct BodyRead {
    // 0 or more: a body that is not chunked is read only when a byte is buffered or arrives
    // within this wait; once one has come it is read like any other.
    int quickWaitMs = -1;
    size_t maxBytes = limits::kMaxBodyBytes;
    // A discarded body stops at maxBytes instead of failing; the connection must then be closed.
    bool discard = false;
    // Called once, before the body grows past `largeBytes` (may wait, may throw).
    std::function<void()> beforeLarge;
    size_t largeBytes = 16 * 1024 * 1024;
};

class BodyReader {
  public:
    // Hands the body to `out` as it arrives. Returns true when the response ended exactly where
    // its head framed it, so the connection may carry another request; false when its end is
    // unknown (read up to the close, malformed framing, a body that did not come as announced) or
    // a discarded body passed its cap (bytes are left unread). Throws FetchError: "Response too
    // large", "Read timed out.", "Connection Closed Gracefully." (the peer closed inside a chunked
    // body), "Max line length exceeded.".
    static bool read(Connection& connection, const ResponseHead& head, ByteSink& out, const BodyRead& how);
    // The same, appending the body to `out`.
    static bool read(Connection& connection, const ResponseHead& head, std::string& out, const BodyRead& how);

    // The size of a chunk from its size line: the text up to the first space read as hexadecimal
    // by IntFromText of "$" + text, default 0.
    static long long chunkSize(std::string_view line);
};

}  // namespace vantrel
