#pragma once
// The shared text helpers: integer parsing and formatting, trimming, ASCII case, the UTF-8/UTF-16
// conversions used wherever text crosses into bytes, and the same helpers over byte strings.
#include <cstdint>
#include <string>
#include <string_view>

namespace vantrel {

// Reads a 32-bit signed integer: leading spaces, one optional sign, then "$", "x", "X", "0x" or
// "0X" and up to 8 hex digits (80000000 and up wrap to negative; a sign before the prefix
// negates), or decimal digits within the 32-bit range. Returns `fallback` for anything else,
// including a trailing blank or an out-of-range decimal (never wrapped or clamped).
int32_t IntFromText(std::u16string_view text, int32_t fallback);

// The same rules over the 64-bit signed range (up to 16 hex digits). Used for stamps.
int64_t IntFromText64(std::u16string_view text, int64_t fallback);

// Plain decimal: digits only, "-" before a negative value, no padding or separators.
std::u16string IntToText(int64_t value);

// Removes every character with a code from 0 to 32 from both ends, and nothing else.
std::u16string Trim(std::u16string_view text);
// Removes spaces and tabs from both ends, and nothing else.
std::u16string_view TrimSpacesAndTabs(std::u16string_view text);

// UTF-16 to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string ToUtf8(std::u16string_view text);
// UTF-8 to UTF-16; each maximal invalid subpart becomes one U+FFFD, a byte order mark is kept.
std::u16string FromUtf8(std::string_view bytes);
// True when the bytes are well-formed UTF-8 (no overlong forms, no surrogates, at most U+10FFFF).
bool IsValidUtf8(std::string_view bytes);
// One character per byte (Latin-1).
std::u16string FromLatin1(std::string_view bytes);
// ASCII-only text to UTF-16, for literals and messages.
std::u16string FromAscii(std::string_view text);

// Case-insensitive comparison of ASCII letters (other characters compare exactly).
bool EqualsIgnoreAsciiCase(std::u16string_view a, std::u16string_view b);
// ASCII letters changed to the other case; every other character kept.
std::u16string ToLowerAscii(std::u16string_view text);
std::u16string ToUpperAscii(std::u16string_view text);

// Byte strings (protocol text, bytes of 128 and above compare exactly).
// Bytes with codes 0 to 32 removed from both ends.
std::string_view TrimBytes(std::string_view text);
bool EqualsIgnoreAsciiCase(std::string_view a, std::string_view b);
// Finds `needle` in `text` ignoring ASCII case; npos when absent.
size_t FindIgnoreAsciiCase(std::string_view text, std::string_view needle);

}  // namespace vantrel
