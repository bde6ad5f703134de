#include "net/BodyReader.h"

#include "net/Connection.h"
#include "net/FetchError.h"
#include "net/HttpResponseReader.h"
#include "text/Text.h"

namespace vantrel {

namespace {

bool tooLarge(const BodyRead& how) {
    if (how.discard) return false;
    throw FetchError(FetchErrorKind::ResponseTooLarge);
}

// RFC 7230 section 4.1. Chunk extensions and trailers are not parsed: a size line with an
// extension right after the digits reads as 0 and ends the body; the connection then holds unread
// bytes and is not reused.
bool readChunked(Connection& connection, ByteSink& out, const BodyRead& how) {
    std::string line;
    size_t total = 0;
    bool large = false;
    for (;;) {
        if (connection.readLine(line) == Connection::Line::Closed)
            throw FetchError(FetchErrorKind::ConnectionClosed);
        const long long size = BodyReader::chunkSize(line);
        if (size <= 0) {
            connection.readLine(line);
            return true;
        }
        if (total + static_cast<size_t>(size) > how.maxBytes) return tooLarge(how);
        if (!large && how.beforeLarge && total + static_cast<size_t>(size) > how.largeBytes) {
            how.beforeLarge();
            large = true;
        }
        total += static_cast<size_t>(size);
        if (connection.readExact(out, static_cast<size_t>(size)) < static_cast<size_t>(size))
            throw FetchError(FetchErrorKind::ConnectionClosed);
        if (connection.readLine(line) == Connection::Line::Closed)
            throw FetchError(FetchErrorKind::ConnectionClosed);
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
    StringSink sink(out);
    return read(connection, head, sink, how);
}

bool BodyReader::read(Connection& connection, const ResponseHead& head, ByteSink& out, const BodyRead& how) {
    if (head.chunked()) return readChunked(connection, out, how);
    const long long length = head.contentLength();
    if (length == 0) return true;
    if (how.quickWaitMs >= 0 && !connection.waitForData(how.quickWaitMs)) return true;
    if (length > 0) {
        // The announced length only bounds the read: nothing is sized from it, so a hostile length
        // costs nothing before its bytes arrive.
        if (static_cast<unsigned long long>(length) > how.maxBytes) return tooLarge(how);
        if (how.beforeLarge && static_cast<unsigned long long>(length) > how.largeBytes) how.beforeLarge();
        connection.readExact(out, static_cast<size_t>(length));
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
