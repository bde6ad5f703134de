#include "net/TlsStream.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <ctime>

#include "net/CancelSignal.h"
#include "net/FetchError.h"
#include "net/SocketStream.h"

namespace vantrel {

class TlsStream::Context {
  public:
    explicit Context(SSL_CTX* ctx) : ctx_(ctx) {}
    ~Context() { SSL_CTX_free(ctx_); }
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
    const unsigned long e = ERR_peek_last_error();
    const char* reason = e ? ERR_reason_error_string(e) : nullptr;
    ERR_clear_error();
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
                ERR_clear_error();
                rc = SSL_read_ex(ssl_, buffer, capacity, &n);
                error = rc == 1 ? SSL_ERROR_NONE : SSL_get_error(ssl_, rc);
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
                ERR_clear_error();
                errno = 0;
                rc = SSL_write_ex(ssl_, bytes.data(), bytes.size(), &n);
                error = rc == 1 ? SSL_ERROR_NONE : SSL_get_error(ssl_, rc);
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
            if (SSL_is_init_finished(ssl_)) {
                SigpipeGuard guard;
                SSL_shutdown(ssl_);  // one close_notify, not waited for
                ERR_clear_error();
            }
            SSL_free(ssl_);
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
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    if (!ctx) throw FetchError(FetchErrorKind::TlsHandshake, lastReason("no TLS context"));
    auto context = std::make_shared<Context>(ctx);
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
    // Many servers end a body read until close without a close_notify; that is the end of the
    // body, not a failure.
    SSL_CTX_set_options(ctx, SSL_OP_IGNORE_UNEXPECTED_EOF);
    SSL_CTX_set_default_verify_paths(ctx);
    if (!caFile.empty() && SSL_CTX_load_verify_locations(ctx, caFile.c_str(), nullptr) != 1)
        throw FetchError(FetchErrorKind::TlsHandshake, "cannot read CA file " + caFile);
    ERR_clear_error();
    return context;
}

std::unique_ptr<ByteStream> TlsStream::open(const std::shared_ptr<Context>& context,
                                            std::unique_ptr<SocketStream> socket, const std::string& host,
                                            int waitMs) {
    SSL* ssl = SSL_new(context->get());
    if (!ssl) throw FetchError(FetchErrorKind::TlsHandshake, lastReason("no session"));
    const int fd = socket->fd();
    const CancelSignal* cancel = socket->cancel();
    auto session = std::make_unique<TlsSession>(context, std::move(socket), ssl);
    SSL_set_fd(ssl, fd);
    if (isAddressLiteral(host)) {
        // RFC 6066 section 3: no SNI for address literals; the address is matched instead.
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host.c_str());
    } else {
        SSL_set_tlsext_host_name(ssl, host.c_str());
        SSL_set1_host(ssl, host.c_str());
    }
    for (;;) {
        if (cancel) cancel->throwIfRaised();
        int rc, error;
        {
            SigpipeGuard guard;
            ERR_clear_error();
            errno = 0;
            rc = SSL_connect(ssl);
            error = rc == 1 ? SSL_ERROR_NONE : SSL_get_error(ssl, rc);
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
