#include "net/ProxySettings.h"

#include "text/Text.h"

namespace vantrel {

namespace {

// curl's port for a proxy URL that names none.
constexpr int kDefaultProxyPort = 1080;

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// Strips one pair of brackets from an IPv6 literal.
std::string_view bare(std::string_view host) {
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') return host.substr(1, host.size() - 2);
    return host;
}

bool isIpLiteral(std::string_view host) {
    if (host.find(':') != std::string_view::npos) return true;
    return !host.empty() && host.find_first_not_of("0123456789.") == std::string_view::npos;
}

const char* firstSet(const ProxySettings::Getenv& getenv, std::initializer_list<const char*> names) {
    for (const char* name : names)
        if (const char* value = getenv(name); value && *value) return value;
    return nullptr;
}

}  // namespace

std::string ProxyServer::authority() const {
    const std::string shown = host.find(':') != std::string::npos ? "[" + host + "]" : host;
    return shown + ":" + std::to_string(port);
}

std::string ProxySettings::parseServer(std::string_view text, ProxyServer& server) {
    server = ProxyServer{};
    text = TrimBytes(text);
    if (const size_t scheme = text.find("://"); scheme != std::string_view::npos) {
        const std::string name = lower(text.substr(0, scheme));
        // The connection to the proxy itself is plain TCP; a TLS or SOCKS proxy speaks otherwise.
        if (name != "http") return "a proxy of the kind \"" + name + "\" is not supported";
        text.remove_prefix(scheme + 3);
    }
    if (const size_t slash = text.find('/'); slash != std::string_view::npos) text = text.substr(0, slash);
    if (const size_t at = text.rfind('@'); at != std::string_view::npos) {
        const std::string_view credentials = text.substr(0, at);
        const size_t colon = credentials.find(':');
        server.user = std::string(credentials.substr(0, colon));
        if (colon != std::string_view::npos) server.password = std::string(credentials.substr(colon + 1));
        text.remove_prefix(at + 1);
    }
    std::string_view host = text;
    std::string_view port;
    if (!text.empty() && text.front() == '[') {
        const size_t close = text.find(']');
        if (close == std::string_view::npos) return "the proxy's address has no closing \"]\"";
        host = text.substr(1, close - 1);
        if (close + 1 < text.size()) {
            if (text[close + 1] != ':') return "the proxy's address is not host:port";
            port = text.substr(close + 2);
        }
    } else if (const size_t colon = text.rfind(':'); colon != std::string_view::npos) {
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
    }
    if (host.empty()) return "the proxy has no host";
    server.host = std::string(host);
    server.port = port.empty() ? kDefaultProxyPort : IntFromText(FromUtf8(port), -1);
    if (server.port <= 0 || server.port > 65535) {
        server = ProxyServer{};
        return "the proxy's port is not a number from 1 to 65535";
    }
    return {};
}

ProxySettings ProxySettings::fromEnvironment(const Getenv& getenv) {
    ProxySettings settings;
    const char* all = firstSet(getenv, {"all_proxy", "ALL_PROXY"});
    if (const char* http = firstSet(getenv, {"http_proxy"}); http || all)
        parseServer(http ? http : all, settings.http);
    if (const char* https = firstSet(getenv, {"https_proxy", "HTTPS_PROXY"}); https || all)
        parseServer(https ? https : all, settings.https);
    if (const char* no = firstSet(getenv, {"no_proxy", "NO_PROXY"})) settings.noProxy = no;
    return settings;
}

ProxySettings ProxySettings::single(const ProxyServer& server, std::string_view noProxy) {
    ProxySettings settings;
    settings.http = server;
    settings.https = server;
    settings.noProxy = std::string(noProxy);
    return settings;
}

const ProxyServer* ProxySettings::proxyFor(bool httpsTarget, std::string_view host, int port) const {
    const ProxyServer& server = httpsTarget ? https : http;
    if (!server.set() || bypassed(noProxy, host, port)) return nullptr;
    return &server;
}

bool ProxySettings::bypassed(std::string_view noProxy, std::string_view host, int port) {
    const std::string name = lower(bare(host));
    while (!noProxy.empty()) {
        const size_t comma = noProxy.find(',');
        std::string entry = lower(TrimBytes(noProxy.substr(0, comma)));
        noProxy = comma == std::string_view::npos ? std::string_view() : noProxy.substr(comma + 1);
        if (entry.empty()) continue;
        if (entry == "*") return true;
        // A port after the name; an IPv6 literal only has one when bracketed.
        int entryPort = -1;
        if (const size_t colon = entry.rfind(':');
            colon != std::string::npos && (entry.front() == '[' || entry.find(':') == colon)) {
            const size_t close = entry.rfind(']');
            if (entry.front() != '[' || (close != std::string::npos && close + 1 == colon)) {
                entryPort = IntFromText(FromUtf8(entry.substr(colon + 1)), -2);
                entry.resize(colon);
            }
        }
        entry = std::string(bare(entry));
        if (entryPort != -1 && entryPort != port) continue;
        if (isIpLiteral(name) || isIpLiteral(entry)) {
            if (name == entry) return true;
            continue;
        }
        if (entry.front() == '.') entry.erase(0, 1);
        if (name == entry) return true;
        if (name.size() > entry.size() && name.ends_with(entry) &&
            name[name.size() - entry.size() - 1] == '.')
            return true;
    }
    return false;
}

}  // namespace vantrel
