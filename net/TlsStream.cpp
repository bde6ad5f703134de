#include "net/TlsStream.h"

#include <arpa/inet.h>
#include <dlfcn.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <ctime>
#include <mutex>

#include "net/CancelSignal.h"
#include "net/FetchError.h"
#include "net/SocketStream.h"

namespace vantrel {

namespace {

// OpenSSL is loaded at the first https get, not with the program: most lists have no https page
// for a long time, and the library costs over a megabyte of memory once mapped and relocated.
// Only the headers are used at build time; every function is looked up here once.
// clang-format off
#define VANTREL_OPENSSL_FUNCTIONS(X)                                                    \
    X(TLS_client_method) X(SSL_CTX_new) X(SSL_CTX_free) X(SSL_CTX_ctrl)                 \
    X(SSL_CTX_set_verify) X(SSL_CTX_set_options) X(SSL_CTX_set_default_verify_paths)   \
    X(SSL_CTX_load_verify_locations) X(SSL_new) X(SSL_free) X(SSL_set_fd) X(SSL_ctrl)   \
    X(SSL_get0_param) X(SSL_set1_host) X(SSL_connect) X(SSL_get_error) X(SSL_read_ex)   \
    X(SSL_write_ex) X(SSL_shutdown) X(SSL_is_init_finished) X(ERR_peek_last_error)      \
    X(ERR_reason_error_string) X(ERR_clear_error) X(X509_VERIFY_PARAM_set1_ip_asc)
// clang-format on

struct OpenSsl {
#define VANTREL_DECLARE(name) decltype(&::name) name = nullptr;
    VANTREL_OPENSSL_FUNCTIONS(VANTREL_DECLARE)
#undef VANTREL_DECLARE
    std::string error;  // why it could not be loaded; empty when loaded
};

// The library and its functions, loaded on the first call (from any thread) and kept for the rest
// of the run: it is never unloaded, as OpenSSL keeps state until the process ends.
const OpenSsl& Ssl() {
    static const OpenSsl api = [] {
        OpenSsl loaded;
        // libssl.so.3 brings libcrypto.so.3; a look-up through its handle covers both.
        void* library = ::dlopen("libssl.so.3", RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        if (!library) {
            const char* why = ::dlerror();
            loaded.error = why ? why : "libssl.so.3 not found";
            return loaded;
        }
#define VANTREL_RESOLVE(name)                                                   \
    loaded.name = reinterpret_cast<decltype(&::name)>(::dlsym(library, #name)); \
    if (!loaded.name && loaded.error.empty()) loaded.error = "libssl.so.3 has no " #name;
        VANTREL_OPENSSL_FUNCTIONS(VANTREL_RESOLVE)
#undef VANTREL_RESOLVE
        return loaded;
    }();
    return api;
}

}  // namespace

class TlsStream::Context {
  public:
    explicit Context(SSL_CTX* ctx) : ctx_(ctx) {}
    ~Context() { Ssl().SSL_CTX_free(ctx_); }
    SSL_CTX* get() const { return ctx_; }

  private:
    SSL_CTX* ctx_;
};

namespace {

// OpenSSL writes to the socket with write(), which raises SIGPIPE when the peer has gone; the
// signal is held back on this thread for the call and a pending one taken away afterwards.
class SigpipeGuard {
  public:
    SigpipeGuard() {
        sigemptyset(&set_);
        sigaddset(&set_, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        wasPending_ = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &set_, &old_);
    }
    ~SigpipeGuard() {
        if (!wasPending_) {
            sigset_t pending;
            sigpending(&pending);
            if (sigismember(&pending, SIGPIPE) == 1) {
                const timespec zero{0, 0};
                sigtimedwait(&set_, nullptr, &zero);
            }
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }

  private:
    sigset_t set_, old_;
    bool wasPending_ = false;
};

std::string lastReason(const char* fallback) {
    const unsigned long e = Ssl().ERR_peek_last_error();
    const char* reason = e ? Ssl().ERR_reason_error_string(e) : nullptr;
    Ssl().ERR_clear_error();
    return reason ? reason : fallback;
}

class TlsSession : public ByteStream {
  public:
    TlsSession(std::shared_ptr<TlsStream::Context> context, std::unique_ptr<SocketStream> socket, SSL* ssl)
        : context_(std::move(context)), socket_(std::move(socket)), ssl_(ssl) {}
    ~TlsSession() override { close(); }

    ReadResult read(char* buffer, size_t capacity, int waitMs) override {
        if (!ssl_) return {ReadStatus::Closed};
        for (;;) {
            if (socket_->cancel()) socket_->cancel()->throwIfRaised();
            size_t n = 0;
            int rc, error;
            {
                SigpipeGuard guard;
                Ssl().ERR_clear_error();
                rc = Ssl().SSL_read_ex(ssl_, buffer, capacity, &n);
                error = rc == 1 ? SSL_ERROR_NONE : Ssl().SSL_get_error(ssl_, rc);
            }
            if (rc == 1) return {ReadStatus::Data, n};
            switch (error) {
                case SSL_ERROR_ZERO_RETURN:
                    return {ReadStatus::Closed};
                case SSL_ERROR_WANT_READ:
                case SSL_ERROR_WANT_WRITE:
                    if (waitMs <= 0 ||
                        !CancelSignal::waitFd(socket_->fd(), error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT,
                                              waitMs, socket_->cancel()))
                        return {ReadStatus::TimedOut};
                    continue;
                case SSL_ERROR_SYSCALL:
                    if (errno == 0) return {ReadStatus::Closed};
                    throw FetchError::socket(errno);
                default:
                    throw FetchError(FetchErrorKind::Tls, lastReason("unknown"));
            }
        }
    }

    void writeAll(std::string_view bytes, int waitMs) override {
        while (!bytes.empty()) {
            if (!ssl_) throw FetchError::socket(EPIPE);
            if (socket_->cancel()) socket_->cancel()->throwIfRaised();
            size_t n = 0;
            int rc, error;
            {
                SigpipeGuard guard;
                Ssl().ERR_clear_error();
                errno = 0;
                rc = Ssl().SSL_write_ex(ssl_, bytes.data(), bytes.size(), &n);
                error = rc == 1 ? SSL_ERROR_NONE : Ssl().SSL_get_error(ssl_, rc);
            }
            if (rc == 1) {
                bytes.remove_prefix(n);
                continue;
            }
            if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
                if (!CancelSignal::waitFd(socket_->fd(), error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT,
                                          waitMs, socket_->cancel()))
                    throw FetchError::socket(ETIMEDOUT);
                continue;
            }
            if (error == SSL_ERROR_SYSCALL && errno != 0) throw FetchError::socket(errno);
            throw FetchError(FetchErrorKind::Tls, lastReason("connection closed"));
        }
    }

    void close() override {
        if (ssl_) {
            if (Ssl().SSL_is_init_finished(ssl_)) {
                SigpipeGuard guard;
                Ssl().SSL_shutdown(ssl_);  // one close_notify, not waited for
                Ssl().ERR_clear_error();
            }
            Ssl().SSL_free(ssl_);
            ssl_ = nullptr;
        }
        socket_->close();
    }

  private:
    std::shared_ptr<TlsStream::Context> context_;
    std::unique_ptr<SocketStream> socket_;
    SSL* ssl_;
};

bool isAddressLiteral(const std::string& host) {
    unsigned char buffer[16];
    return inet_pton(AF_INET, host.c_str(), buffer) == 1 || inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

}  // namespace

bool TlsStream::supported() {
    return true;
}

std::shared_ptr<TlsStream::Context> TlsStream::makeContext(const std::string& caFile) {
    // Without the library https is refused as in a build without TLS.
    if (!Ssl().error.empty()) throw FetchError(FetchErrorKind::TlsUnavailable);
    SSL_CTX* ctx = Ssl().SSL_CTX_new(Ssl().TLS_client_method());
    if (!ctx) throw FetchError(FetchErrorKind::TlsHandshake, lastReason("no TLS context"));
    auto context = std::make_shared<Context>(ctx);
    Ssl().SSL_CTX_ctrl(ctx, SSL_CTRL_SET_MIN_PROTO_VERSION, TLS1_2_VERSION, nullptr);
    Ssl().SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
    // Many servers end a body read until close without a close_notify; that is the end of the
    // body, not a failure.
    Ssl().SSL_CTX_set_options(ctx, SSL_OP_IGNORE_UNEXPECTED_EOF);
    Ssl().SSL_CTX_set_default_verify_paths(ctx);
    if (!caFile.empty() && Ssl().SSL_CTX_load_verify_locations(ctx, caFile.c_str(), nullptr) != 1)
        throw FetchError(FetchErrorKind::TlsHandshake, "cannot read CA file " + caFile);
    Ssl().ERR_clear_error();
    return context;
}

std::unique_ptr<ByteStream> TlsStream::open(const std::shared_ptr<Context>& context,
                                            std::unique_ptr<SocketStream> socket, const std::string& host,
                                            int waitMs) {
    SSL* ssl = Ssl().SSL_new(context->get());
    if (!ssl) throw FetchError(FetchErrorKind::TlsHandshake, lastReason("no session"));
    const int fd = socket->fd();
    const CancelSignal* cancel = socket->cancel();
    auto session = std::make_unique<TlsSession>(context, std::move(socket), ssl);
    Ssl().SSL_set_fd(ssl, fd);
    if (isAddressLiteral(host)) {
        // RFC 6066 section 3: no SNI for address literals; the address is matched instead.
        Ssl().X509_VERIFY_PARAM_set1_ip_asc(Ssl().SSL_get0_param(ssl), host.c_str());
    } else {
        Ssl().SSL_ctrl(ssl, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name,
                       const_cast<char*>(host.c_str()));
        Ssl().SSL_set1_host(ssl, host.c_str());
    }
    for (;;) {
        if (cancel) cancel->throwIfRaised();
        int rc, error;
        {
            SigpipeGuard guard;
            Ssl().ERR_clear_error();
            errno = 0;
            rc = Ssl().SSL_connect(ssl);
            error = rc == 1 ? SSL_ERROR_NONE : Ssl().SSL_get_error(ssl, rc);
        }
        if (rc == 1) return session;
        if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
            if (!CancelSignal::waitFd(fd, error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, waitMs, cancel))
                throw FetchError(FetchErrorKind::ReadTimedOut);
            continue;
        }
        if (error == SSL_ERROR_SYSCALL && errno != 0) throw FetchError::socket(errno);
        throw FetchError(FetchErrorKind::TlsHandshake, lastReason("connection closed"));
    }
}

}  // namespace vantrel
