#pragma once
// Translates the common subset of CSS selectors into an XPath 1.0 expression over an HTML
// document: type and "*", #id, .class, [attr], [attr=value] (also ~= ^= $= *= |=), the
// descendant and child combinators, and selector lists.
#include <string>
#include <string_view>

namespace vantrel {

// Returns the XPath expression (UTF-8). Throws Error with a message naming the character
// position (counted from 1) of anything outside the subset or malformed.
std::string CssToXPath(std::u16string_view selector);

}  // namespace vantrel
