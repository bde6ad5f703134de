#pragma once
// URL splitting and resolution against the previous request, the request target and the
// "Host" value. Plain rules: no percent-decoding, no dot-segment removal in absolute paths.
#include <string>
#include <string_view>

namespace vantrel {

struct UrlParts {
    std::u16string scheme, user, password, host, port, path, document, params, fragment;
    int ipVersion = 4;
};

class Url {
  public:
    static UrlParts split(std::u16string_view text);
    // Merges `text` into `current` and returns the new current URL; the IP version and the
    // credentials change only with the host. Throws FetchError ("Unknown Protocol") when no port
    // can be known.
    static UrlParts resolve(const UrlParts& current, std::u16string_view text);
    // path + document, then "?" + params when params is not empty; nothing escaped.
    static std::u16string requestTarget(const UrlParts& url);
    // host when port is exactly "80", else host + ":" + port; an IPv6 host is put in brackets.
    static std::u16string hostValue(const UrlParts& url);
    static std::u16string resolvePath(std::u16string_view base, std::u16string_view path);
    // The connection a page's download opens, as a key: the host in lower case and the port as a
    // number ("[::1]:8080", "a.test:80"), then " tls" when the connection is TLS. The scheme counts
    // only by that: any scheme but https is fetched as plain HTTP. Empty for a URL that opens no
    // connection (no port can be known).
    static std::u16string connectionKey(std::u16string_view url);
};

}  // namespace vantrel
