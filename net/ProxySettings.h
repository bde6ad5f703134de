#pragma once
// Which proxy, if any, a request goes through: the program's own proxy when the user set one,
// otherwise http_proxy, https_proxy and no_proxy from the environment, read as curl reads them.
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

struct ProxyServer {
    std::string host;  // a name or an IP literal, without brackets
    int port = 0;
    std::string user, password;  // Basic proxy authentication when `user` is not empty

    bool set() const { return !host.empty(); }
    // "host:port", an IPv6 host in brackets: the key of the connections made through it.
    std::string authority() const;
    friend bool operator==(const ProxyServer&, const ProxyServer&) = default;
};

class ProxySettings {
  public:
    using Getenv = std::function<const char*(const char*)>;

    // "[http://][user[:password]@]host[:port][/]", the port 1080 when not given (as curl takes
    // it). Returns why the text is no proxy, or empty with `server` filled.
    static std::string parseServer(std::string_view text, ProxyServer& server);
    // http_proxy (never HTTP_PROXY: a CGI program gets that name from a request's "Proxy" header),
    // https_proxy or HTTPS_PROXY, then all_proxy or ALL_PROXY for either, and no_proxy or
    // NO_PROXY. A value that cannot be read is left out, as no proxy.
    static ProxySettings fromEnvironment(const Getenv& getenv);
    // One proxy for both schemes, with its own exceptions (the program's setting).
    static ProxySettings single(const ProxyServer& server, std::string_view noProxy);

    // The proxy for a request to `host`:`port`, https or plain; null for a direct connection.
    const ProxyServer* proxyFor(bool https, std::string_view host, int port) const;
    bool any() const { return http.set() || https.set(); }

    // curl's rules for no_proxy: entries separated by commas (blanks around them ignored); "*"
    // alone matches every host; an entry matches the host itself or any name ending in "." and
    // the entry, a leading "." on the entry changing nothing; an IP literal matches only itself;
    // "host:port" matches that port alone. Letter case is ignored.
    static bool bypassed(std::string_view noProxy, std::string_view host, int port);

    ProxyServer http, https;
    std::string noProxy;
};

}  // namespace vantrel
