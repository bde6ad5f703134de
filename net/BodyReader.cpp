#include "net/BodyReader.h"

#include <cstdint>
#include <string_view>

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

// RFC 7230 section 3.2.6.
bool isTokenChar(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
           std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

void skipBlanks(std::string_view& s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
}

bool skipToken(std::string_view& s) {
    size_t n = 0;
    while (n < s.size() && isTokenChar(s[n])) ++n;
    s.remove_prefix(n);
    return n > 0;
}

bool skipQuoted(std::string_view& s) {
    for (size_t i = 1; i < s.size(); ++i) {
        if (s[i] == '\\') {
            ++i;
        } else if (s[i] == '"') {
            s.remove_prefix(i + 1);
            return true;
        }
    }
    return false;
}

// True when a size line is well formed and `size` is its number (RFC 7230 section 4.1.1):
// hexadecimal digits, then extensions ";name" or ";name=value", blanks allowed around their parts.
bool sizeLineExact(std::string_view line, long long size) {
    uint64_t value = 0;
    size_t digits = 0;
    for (; digits < line.size(); ++digits) {
        const char c = line[digits];
        const int d = c >= '0' && c <= '9'   ? c - '0'
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                             : -1;
        if (d < 0) break;
        value = value * 16 + static_cast<uint64_t>(d);
        if (value > static_cast<uint64_t>(INT32_MAX)) return false;
    }
    if (digits == 0 || static_cast<long long>(value) != size) return false;
    std::string_view rest = line.substr(digits);
    for (skipBlanks(rest); !rest.empty(); skipBlanks(rest)) {
        if (rest.front() != ';') return false;
        rest.remove_prefix(1);
        skipBlanks(rest);
        if (!skipToken(rest)) return false;
        skipBlanks(rest);
        if (rest.empty() || rest.front() != '=') continue;
        rest.remove_prefix(1);
        skipBlanks(rest);
        if (!(rest.starts_with('"') ? skipQuoted(rest) : skipToken(rest))) return false;
    }
    return true;
}

// RFC 7230 section 4.1. Chunk extensions and trailers are not parsed: a size line with an
// extension right after the digits reads as 0 and ends the body. Returns true when the body ended
// exactly: every size line well formed, every chunk followed by its line end, and the last chunk
// by the empty line that ends a message without trailers.
bool readChunked(Connection& connection, ByteSink& out, const BodyRead& how) {
    std::string line;
    size_t total = 0;
    bool large = false;
    bool exact = true;
    for (;;) {
        const Connection::Line sizeLine = connection.readLine(line);
        if (sizeLine == Connection::Line::Closed) throw FetchError(FetchErrorKind::ConnectionClosed);
        const long long size = BodyReader::chunkSize(line);
        exact = exact && sizeLine == Connection::Line::Read && sizeLineExact(line, size);
        if (size <= 0) return connection.readLine(line) == Connection::Line::Read && line.empty() && exact;
        if (total + static_cast<size_t>(size) > how.maxBytes) return tooLarge(how);
        if (!large && how.beforeLarge && total + static_cast<size_t>(size) > how.largeBytes) {
            how.beforeLarge();
            large = true;
        }
        total += static_cast<size_t>(size);
        if (connection.readExact(out, static_cast<size_t>(size)) < static_cast<size_t>(size))
            throw FetchError(FetchErrorKind::ConnectionClosed);
        const Connection::Line dataEnd = connection.readLine(line);
        if (dataEnd == Connection::Line::Closed) throw FetchError(FetchErrorKind::ConnectionClosed);
        exact = exact && dataEnd == Connection::Line::Read && line.empty();
    }
}

// RFC 7230 section 3.3.3, item 1: these responses end with their head whatever it says.
bool bodylessStatus(int code) {
    return code / 100 == 1 || code == 204 || code == 304;
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
    const bool framed = head.framedExactly();
    if (head.chunked()) return readChunked(connection, out, how) && framed;
    const long long length = head.contentLength();
    if (length == 0) return framed;
    if (how.quickWaitMs >= 0 && !connection.waitForData(how.quickWaitMs)) {
        // No body came: the response ended with its head only if it may have no body and its
        // head announced none.
        return framed && length < 0 && bodylessStatus(head.statusCode);
    }
    if (length > 0) {
        // The announced length only bounds the read: nothing is sized from it, so a hostile length
        // costs nothing before its bytes arrive.
        if (static_cast<unsigned long long>(length) > how.maxBytes) return tooLarge(how);
        if (how.beforeLarge && static_cast<unsigned long long>(length) > how.largeBytes) how.beforeLarge();
        const size_t got = connection.readExact(out, static_cast<size_t>(length));
        // Bytes after the head of a bodyless response belong to no answer of ours.
        return framed && got == static_cast<size_t>(length) && !bodylessStatus(head.statusCode);
    }
    // Up to the peer's close: the connection ends with the body (or is left holding the rest).
    if (how.beforeLarge && how.largeBytes < how.maxBytes) {
        // Up to the large size first; the rest only in the large body's turn.
        if (connection.readUntilClose(out, how.largeBytes)) return false;
        how.beforeLarge();
    }
    if (!connection.readUntilClose(out, how.maxBytes)) tooLarge(how);
    return false;
}

}  // namespace vantrel
