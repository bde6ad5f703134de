#include "support/NginxServer.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "support/Loopback.h"

namespace vantrel::test {

namespace {

std::string findNginx() {
    for (const char* p : {"/usr/sbin/nginx", "/usr/bin/nginx", "/usr/local/sbin/nginx"})
        if (::access(p, X_OK) == 0) return p;
    return {};
}

// A process that exited but was not reaped yet (state Z) counts as gone.
bool alive(pid_t p) {
    if (::kill(p, 0) != 0) return false;
    std::ifstream stat("/proc/" + std::to_string(p) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    const size_t paren = text.rfind(')');
    return paren == std::string::npos || paren + 2 >= text.size() || text[paren + 2] != 'Z';
}

}  // namespace

NginxServer::NginxServer(Servers servers, bool logRequests) : servers_(servers), logRequests_(logRequests) {
    error = start();
    if (!error.empty()) stop();
}

NginxServer::~NginxServer() {
    stop();
}

std::u16string NginxServer::url(const std::string& scheme, const std::string& host, int port,
                                const std::string& path) const {
    const std::string u = scheme + "://" + host + ":" + std::to_string(port) + path;
    return std::u16string(u.begin(), u.end());
}

std::string NginxServer::plainUrl(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(plainPort) + path;
}

void NginxServer::writeFile(const std::string& name, const std::string& bytes) const {
    std::filesystem::create_directories((dir / name).parent_path());
    std::ofstream(dir / name, std::ios::binary) << bytes;
}

bool NginxServer::run(const std::string& command) const {
    return std::system(("cd '" + dir.string() + "' && " + command + " >>setup.log 2>&1").c_str()) == 0;
}

std::string NginxServer::makeCertificates() const {
    const std::string ec = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    writeFile("good.ext",
              "subjectAltName=DNS:localhost,IP:127.0.0.1\nbasicConstraints=CA:FALSE\n"
              "extendedKeyUsage=serverAuth\n");
    writeFile("wrong.ext", "subjectAltName=DNS:other.test\nbasicConstraints=CA:FALSE\n");
    const bool ok = run("openssl req -x509 " + ec +
                        " -keyout ca.key -out ca.pem -days 2 -subj '/CN=Test CA' "
                        "-addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign") &&
                    run("openssl req " + ec + " -keyout good.key -out good.csr -subj /CN=localhost") &&
                    run("openssl x509 -req -in good.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 "
                        "-extfile good.ext -out good.pem") &&
                    run("openssl req " + ec + " -keyout wrong.key -out wrong.csr -subj /CN=other.test") &&
                    run("openssl x509 -req -in wrong.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 "
                        "-extfile wrong.ext -out wrong.pem") &&
                    run("openssl req -x509 " + ec +
                        " -keyout self.key -out self.pem -days 2 -subj /CN=localhost "
                        "-addext subjectAltName=DNS:localhost,IP:127.0.0.1");
    return ok ? "" : "openssl could not make the test certificates (see " + dir.string() + "/setup.log)";
}

std::string NginxServer::config() const {
    const std::string d = dir.string();
    std::ostringstream c;
    if (::geteuid() == 0) c << "user root;\n";
    c << "worker_processes 1;\npid " << d << "/nginx.pid;\nerror_log " << d << "/error.log;\n"
      << "events { worker_connections 64; }\nhttp {\n";
    if (logRequests_)
        c << "  log_format t '$msec $request_time $request_uri';\n  access_log " << d << "/access.log t;\n";
    else
        c << "  access_log off;\n";
    c << "  client_body_temp_path " << d << "/tmp/body;\n  proxy_temp_path " << d << "/tmp/proxy;\n"
      << "  fastcgi_temp_path " << d << "/tmp/fastcgi;\n  uwsgi_temp_path " << d << "/tmp/uwsgi;\n"
      << "  scgi_temp_path " << d << "/tmp/scgi;\n  default_type text/html;\n"
      << "  sendfile on;\n  tcp_nopush on;\n"
      << "  keepalive_timeout 60s;\n  keepalive_requests 100000;\n";
    const auto server = [&](const std::string& listen, const std::string& cert) {
        c << "  server {\n    listen 127.0.0.1:" << listen << ";\n    root " << d << "/www;\n";
        if (!cert.empty())
            c << "    ssl_certificate " << d << "/" << cert << ".pem;\n    ssl_certificate_key " << d << "/"
              << cert << ".key;\n    ssl_protocols TLSv1.2 TLSv1.3;\n";
        c << "    location = /conn { return 200 \"$connection $connection_requests\"; }\n"
          << "    location = /redirect { return 302 /plain.html; }\n"
          << "    location = /chain { return 301 /redirect; }\n"
          << "    location = /to-tls { return 302 https://127.0.0.1:" << tlsPort << "/plain.html; }\n"
          << "    location = /set-cookie { add_header Set-Cookie \"k=v; Path=/\"; return 200 set; }\n"
          << "    location = /set-long-cookie { add_header Set-Cookie \"long=" << std::string(120, 'L')
          << "; Path=/\"; return 200 set; }\n"
          << "    location = /echo-cookie { return 200 \"$http_cookie\"; }\n"
          // A page behind Basic authentication, and one that needs the session cookie of a login.
          << "    location = /private.html { auth_basic \"Members\"; auth_basic_user_file " << d
          << "/htpasswd; }\n"
          << "    location = /members { if ($cookie_session != \"s3cret\") { return 403 \"log in first\"; }"
          << " return 200 \"members only\"; }\n"
          << "    location /chunked/ { sub_filter 'x' 'y'; sub_filter_once off; }\n"
          << "    location /utf8/ { charset utf-8; }\n  }\n";
    };
    server(std::to_string(plainPort), "");
    if (servers_ == Servers::PlainAndTls) {
        server(std::to_string(tlsPort) + " ssl", "good");
        server(std::to_string(wrongNamePort) + " ssl", "wrong");
        server(std::to_string(untrustedPort) + " ssl", "self");
    }
    c << "}\n";
    return c.str();
}

std::string NginxServer::start() {
    const std::string nginx = findNginx();
    if (nginx.empty()) return "nginx is not installed (Debian package nginx-light)";
    temp_ = std::make_unique<TempDir>("vantrel-nginx");
    dir = temp_->path();
    std::filesystem::create_directories(dir / "tmp");
    std::vector<int> listening;
    if (servers_ == Servers::PlainAndTls) {
        if (std::string e = makeCertificates(); !e.empty()) return e;
        const std::vector<int> ports = FreePorts(4);
        plainPort = ports[0];
        tlsPort = ports[1];
        wrongNamePort = ports[2];
        untrustedPort = ports[3];
        listening = ports;
    } else {
        plainPort = FreePorts(1).front();
        listening = {plainPort};
    }
    writeFile("www/plain.html", "plain page");
    writeFile("www/private.html", "private page");
    // nginx reads "{PLAIN}" passwords as they are.
    writeFile("htpasswd", std::string(kBasicUser) + ":{PLAIN}" + kBasicPassword + "\n");
    writeFile("www/chunked/page.html", "xxx chunked xxx");
    writeFile("www/utf8/page.html", "caf\xC3\xA9");
    writeFile("nginx.conf", config());
    if (!run(nginx + " -p '" + dir.string() + "' -c '" + (dir / "nginx.conf").string() + "' -e '" +
             (dir / "error.log").string() + "'"))
        return "nginx did not start: " + readFile("setup.log") + readFile("error.log");
    for (int i = 0; i < 500; ++i) {
        bool all = pid() > 0;
        for (int port : listening) all = all && Accepts(port);
        if (all) return {};
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return "nginx did not listen within 5 s: " + readFile("error.log");
}

std::string NginxServer::readFile(const std::string& name) const {
    std::ifstream in(dir / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

pid_t NginxServer::pid() const {
    return static_cast<pid_t>(std::atoi(readFile("nginx.pid").c_str()));
}

void NginxServer::stop() {
    if (dir.empty()) return;
    if (const pid_t p = pid(); p > 0) {
        ::kill(p, SIGTERM);
        for (int i = 0; i < 500 && alive(p); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (alive(p)) ::kill(p, SIGKILL);
    }
    temp_.reset();
    dir.clear();
}

}  // namespace vantrel::test
