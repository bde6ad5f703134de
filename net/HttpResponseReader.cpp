#include "net/HttpResponseReader.h"

#include "net/Connection.h"
#include "net/FetchError.h"
#include "net/HttpLimits.h"
#include "text/Text.h"

namespace vantrel {

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
    head.statusCode = statusCodeOf(head.statusLine);
    size_t headBytes = head.statusLine.size();
    size_t lines = 0;
    std::string line;
    // A time-out or the peer's close ends the head like the empty line would.
    while (connection.readLine(line) == Connection::Line::Read && !line.empty()) {
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
    return head;
}

}  // namespace vantrel
