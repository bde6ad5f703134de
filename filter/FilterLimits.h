#pragma once
// Every bound the page filters put on their work, in one place, so a hostile page or a careless
// pattern can cost neither unbounded time nor unbounded memory on the checking thread.
#include <chrono>
#include <cstddef>
#include <cstdint>

namespace vantrel::limits {

// The whole of one page's filtering; past it the check fails instead of stalling the worker.
inline constexpr std::chrono::milliseconds kFilterTimeLimit{1000};
// Largest page (in UTF-8 bytes) that any filter takes: the HTML parse, a selector, "visible text
// only" or ignore patterns. A larger page fails its check with "Page too large to filter".
inline constexpr size_t kMaxFilterTextBytes = 16 * 1024 * 1024;
// A page larger than this (in UTF-16 units) is filtered only while no other such page is, and the
// memory its filtering took goes back to the system after it: the HTML parse of a page of many
// small elements takes twenty times its size, eight of them at once gigabytes.
inline constexpr size_t kSerialFilterTextUnits = 1024 * 1024;
// Backtracking steps of one regular-expression match on one line (PCRE2 match limit). About
// 60 ms of a pathological pattern here, so one line can never use up the time limit alone.
inline constexpr uint32_t kRegexMatchLimit = 2'000'000;
// Nesting of backtracking (PCRE2 depth limit) and the heap one match may use, in KiB.
inline constexpr uint32_t kRegexDepthLimit = 100'000;
inline constexpr uint32_t kRegexHeapLimitKiB = 32 * 1024;
// Steps of one XPath evaluation (libxml2's operation limit). A selector such as
// "//div[@class='x']//p" costs about 1.5 million on a 2 MB page.
inline constexpr unsigned long kXPathOpLimit = 10'000'000;
// Longest selector or ignore pattern accepted, in UTF-16 code units.
inline constexpr size_t kMaxExpressionLength = 4096;
// Most ignore patterns per page.
inline constexpr size_t kMaxIgnorePatterns = 100;

}  // namespace vantrel::limits
