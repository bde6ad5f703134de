#include "net/HttpResponseReader.h"

#include "net/Connection.h"
#include "net/FetchError.h"
#include "net/HttpLimits.h"
#include "text/Text.h"

namespace vantrel {

namespace {

// Room for a head's fields made at once: a vector grown one field at a time allocates four or
// five times for an ordinary head of a dozen fields.
constexpr size_t kUsualFields = 16;

}  // namespace

std::string_view ResponseHead::value(std::string_view name) const {
    for (const auto& [n, v] : fields)
        if (EqualsIgnoreAsciiCase(n, name)) return v;
    return {};
}

std::vector<std::u16string> ResponseHead::values(std::string_view name) const {
    std::vector<std::u16string> out;
    for (const auto& [n, v] : fields)
        if (EqualsIgnoreAsciiCase(n, name)) out.push_back(FromLatin1(v));
    return out;
}

long long ResponseHead::contentLength() const {
    const std::string_view v = value("Content-Length");
    if (v.empty()) return -1;
    const int32_t n = IntFromText(FromLatin1(v), -1);
    return n < 0 ? -1 : n;
}

bool ResponseHead::chunked() const {
    return FindIgnoreAsciiCase(value("Transfer-Encoding"), "chunked") != std::string_view::npos;
}

bool ResponseHead::statusLineExact() const {
    // RFC 7230 section 3.1.2: the version, one space, three digits, then a space or nothing.
    const std::string_view status = statusLine;
    const auto digit = [&](size_t i) { return i < status.size() && status[i] >= '0' && status[i] <= '9'; };
    return status.starts_with("HTTP/1.1 ") && digit(9) && digit(10) && digit(11) &&
           (status.size() == 12 || status[12] == ' ');
}

bool ResponseHead::framedExactly() const {
    if (!complete || !statusLineExact()) return false;
    size_t encodings = 0, lengths = 0;
    for (const auto& [name, v] : fields) {
        if (EqualsIgnoreAsciiCase(name, "Transfer-Encoding")) {
            // Only chunked alone ends a body exactly; any other coding runs to the close.
            if (++encodings > 1 || !EqualsIgnoreAsciiCase(v, "chunked")) return false;
        } else if (EqualsIgnoreAsciiCase(name, "Content-Length")) {
            // Section 3.3.2: differing or malformed lengths leave the end unknown.
            if (v.empty() || v.find_first_not_of("0123456789") != std::string::npos || v != value(name))
                return false;
            ++lengths;
        }
    }
    // Section 3.3.3, item 3: both together may be an attempt at response splitting.
    if (encodings > 0) return lengths == 0;
    return lengths == 0 || contentLength() >= 0;
}

int HttpResponseReader::statusCodeOf(std::string_view statusLine) {
    const size_t space = statusLine.find(' ');
    if (space == std::string_view::npos) return -1;
    std::string_view rest = statusLine.substr(space + 1);
    while (!rest.empty() && static_cast<unsigned char>(rest.front()) <= 32) rest.remove_prefix(1);
    rest = rest.substr(0, rest.find(' '));
    return IntFromText(FromLatin1(rest), -1);
}

std::optional<ResponseHead> HttpResponseReader::readHead(Connection& connection) {
    ResponseHead head;
    if (connection.readLine(head.statusLine) == Connection::Line::Closed) return std::nullopt;
    head.fields.reserve(kUsualFields);
    head.statusCode = statusCodeOf(head.statusLine);
    size_t headBytes = head.statusLine.size();
    size_t lines = 0;
    std::string line;
    // A time-out or the peer's close ends the head like the empty line would.
    Connection::Line got;
    while ((got = connection.readLine(line)) == Connection::Line::Read && !line.empty()) {
        if (++lines > limits::kMaxHeadLines) throw FetchError(FetchErrorKind::TooManyHeadLines);
        headBytes += line.size();
        if (headBytes > limits::kMaxHeadBytes) throw FetchError(FetchErrorKind::HeadTooLarge);
        if (line[0] == ' ' || line[0] == '\t') {
            // RFC 7230 section 3.2.4: obsolete line folding; a fold before the first field has
            // nothing to continue and is dropped.
            if (!head.fields.empty()) {
                std::string& v = head.fields.back().second;
                v += ' ';
                v += TrimBytes(line);
            }
            continue;
        }
        const size_t colon = line.find(':');
        if (colon == std::string::npos) {
            head.fields.emplace_back(line, std::string());
        } else {
            head.fields.emplace_back(line.substr(0, colon),
                                     std::string(TrimBytes(std::string_view(line).substr(colon + 1))));
        }
    }
    head.complete = got == Connection::Line::Read;
    return head;
}

}  // namespace vantrel
