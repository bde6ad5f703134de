#pragma once
// Every bound the HTTP client puts on a server's answer and on its own waits, in one place, so a
// hostile or broken server can cost neither unbounded memory nor unbounded time.
#include <cstddef>

namespace vantrel::limits {

// Longest status, header or chunk-size line, without its line end.
inline constexpr size_t kMaxLineLength = 16384;
// Bytes of one response head (status line and header lines with their line ends).
inline constexpr size_t kMaxHeadBytes = 1024 * 1024;
// Header lines of one response head (continuation lines included).
inline constexpr size_t kMaxHeadLines = 1000;
// "100 Continue" heads skipped in a row before the real head.
inline constexpr int kMaxInterimHeads = 20;
// Largest body kept for a page.
inline constexpr size_t kMaxBodyBytes = 128 * 1024 * 1024;
// Largest body read only to be thrown away (redirects, 204); past it the connection is closed.
inline constexpr size_t kMaxDrainBytes = 1024 * 1024;
// Most bytes taken from the socket per read: large enough that a big body costs few calls and
// wake-ups, small enough that a block and its text stay in the processor's cache.
inline constexpr size_t kReceiveBlock = 128 * 1024;
// One wait for incoming data.
inline constexpr int kReadTimeoutMs = 15000;
// Wait for the first byte of a redirect body that is discarded.
inline constexpr int kRedirectQuickReadMs = 5000;
// Wait for the first byte of a body that may be absent (204, 304, 1xx).
inline constexpr int kQuickReadMs = 100;
// The whole of one get, connects and redirects included: a body that keeps trickling in, each
// byte within the read wait, still ends here.
inline constexpr int kGetTimeoutMs = 180000;
// The fetcher's own bound on one connect (and TLS handshake).
inline constexpr int kConnectTimeoutMs = 30000;
// Responses classed as redirects within one get; the last of them ends the get with empty text.
inline constexpr int kRedirectLimit = 15;
// A cancelled get returns within this time.
inline constexpr int kCancelLatencyMs = 100;

}  // namespace vantrel::limits
