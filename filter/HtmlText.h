#pragma once
// A page parsed by libxml2's HTML parser (recovering from malformed markup, never touching the
// network), and the text of the whole page or of the parts an XPath expression selects.
#include <string>
#include <string_view>

#include "filter/FilterError.h"

struct _xmlDoc;

namespace vantrel {

class HtmlPage {
  public:
    // Parses UTF-8 markup; any input gives a page (empty input an empty one). Throws
    // FilterError: TooLarge for nesting past libxml2's depth bound, Unparsable when the parser
    // gives up otherwise, TooSlow when the deadline (if given) passes during the parse.
    explicit HtmlPage(std::string_view utf8, const Deadline* deadline = nullptr);
    ~HtmlPage();
    HtmlPage(const HtmlPage&) = delete;
    HtmlPage& operator=(const HtmlPage&) = delete;

    // The text of what `xpath` (UTF-8) selects, one line per selected node; nodes inside another
    // selected node are not repeated. Raw text is every text node as it stands; visible text is
    // as visibleText gives it. An expression that gives a string, number or boolean gives that
    // value. Throws FilterError: NothingMatched for an empty selection, Invalid with libxml2's
    // message, TooSlow past the XPath operation limit or the deadline.
    std::string selectedText(const std::string& xpath, bool visibleOnly, const Deadline& deadline) const;

    // What a reader sees: no markup, scripts, styles, comments, head or hidden elements; blank
    // runs collapsed to one space; one line per block element; empty lines dropped. Throws
    // FilterError (TooSlow) past the deadline.
    std::string visibleText(const Deadline& deadline) const;

  private:
    _xmlDoc* doc_ = nullptr;
};

}  // namespace vantrel
