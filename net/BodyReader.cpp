#include "net/BodyReader.h"

#include "core/Text.h"
#include "net/Connection.h"
#include "net/HttpResponseReader.h"
#include "net/PageFetcher.h"

namespace vantrel {

namespace {

const char kClosed[] = "Connection Closed Gracefully.";

bool tooLarge(const BodyRead& how) {
    if (how.discard) return false;
    throw FetchError("Response too large");
}

// RFC 7230 section 4.1. Chunk extensions and trailers are not parsed: a size line with an
// extension right after the digits reads as 0 and ends the body; the connection then holds unread
// bytes and is not reused.
bool readChunked(Connection& connection, std::string& out, const BodyRead& how) {
    std::string line;
    bool large = false;
    for (;;) {
        if (connection.readLine(line) == Connection::Line::Closed) throw FetchError(kClosed);
        const long long size = BodyReader::chunkSize(line);
        if (size <= 0) {
            connection.readLine(line);
            return true;
        }
        if (out.size() + static_cast<size_t>(size) > how.maxBytes) return tooLarge(how);
        if (!large && how.beforeLarge && out.size() + static_cast<size_t>(size) > how.largeBytes) {
            how.beforeLarge();
            large = true;
        }
        const size_t old = out.size();
        out.resize(old + static_cast<size_t>(size));
        const size_t got = connection.readExact(out.data() + old, static_cast<size_t>(size));
        if (got < static_cast<size_t>(size)) {
            out.resize(old + got);
            throw FetchError(kClosed);
        }
        if (connection.readLine(line) == Connection::Line::Closed) throw FetchError(kClosed);
    }
}

}  // namespace

long long BodyReader::chunkSize(std::string_view line) {
    const std::string_view digits = line.substr(0, line.find(' '));
    std::u16string text = u"$";
    text += FromLatin1(digits);
    return IntFromText(text, 0);
}

bool BodyReader::read(Connection& connection, const ResponseHead& head, std::string& out,
                      const BodyRead& how) {
    if (head.chunked()) return readChunked(connection, out, how);
    const long long length = head.contentLength();
    if (length == 0) return true;
    if (how.quickWaitMs >= 0 && !connection.waitForData(how.quickWaitMs)) return true;
    if (length > 0) {
        // Sized once from the announced length, but never beyond the cap: a hostile length costs
        // nothing before its bytes arrive.
        if (static_cast<unsigned long long>(length) > how.maxBytes) return tooLarge(how);
        if (how.beforeLarge && static_cast<unsigned long long>(length) > how.largeBytes) how.beforeLarge();
        const size_t old = out.size();
        out.resize(old + static_cast<size_t>(length));
        const size_t got = connection.readExact(out.data() + old, static_cast<size_t>(length));
        out.resize(old + got);
        return true;
    }
    if (how.beforeLarge && how.largeBytes < how.maxBytes) {
        // Up to the large size first; the rest only in the large body's turn.
        if (connection.readUntilClose(out, how.largeBytes)) return true;
        how.beforeLarge();
    }
    if (!connection.readUntilClose(out, how.maxBytes)) return tooLarge(how);
    return true;
}

}  // namespace vantrel
