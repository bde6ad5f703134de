#pragma once
// One XPath expression evaluated with libxml2 against a parsed page: within libxml2's operation
// limit and a deadline, with functions and variables checked up front, and libxml2's error
// messages caught instead of printed.
#include <memory>
#include <string>

#include "filter/FilterError.h"

struct _xmlDoc;
struct _xmlXPathObject;

namespace vantrel {

// libxml2's one-time global set-up; any thread may call it, any number of times.
void InitLibxml();

struct XPathResultDeleter {
    void operator()(_xmlXPathObject* result) const;
};
using XPathResult = std::unique_ptr<_xmlXPathObject, XPathResultDeleter>;

// Evaluates `xpath` (UTF-8) against `doc`. Throws FilterError: Invalid with libxml2's message
// ("XPath: <message>", with " at character N" for one that does not compile), TooSlow when
// libxml2's operation or recursion limit, or the deadline when given, stopped it.
XPathResult EvaluateXPath(_xmlDoc* doc, const std::string& xpath, const Deadline* deadline);

// The message EvaluateXPath gives for `xpath` on an empty page; empty when it is sound.
std::string CheckXPath(const std::string& xpath);

}  // namespace vantrel
