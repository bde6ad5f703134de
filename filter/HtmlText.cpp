#include "filter/HtmlText.h"

#include <libxml/HTMLparser.h>
#include <libxml/HTMLtree.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/xpath.h>

#include <unordered_set>

#include "filter/FilterLimits.h"
#include "filter/XPathQuery.h"

namespace vantrel {
namespace {

bool IsHtmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

// No network (no DTD or entity fetches), no error printing, and never the huge-document
// option, so libxml2 keeps its own bounds on names, text nodes and nesting. The text is
// already decoded, so a charset named inside the page must not re-decode it.
constexpr int kParseOptions = HTML_PARSE_RECOVER | HTML_PARSE_NONET | HTML_PARSE_NOERROR |
                              HTML_PARSE_NOWARNING | HTML_PARSE_COMPACT | HTML_PARSE_IGNORE_ENC;

// How often (in nodes) a walk looks at the clock.
constexpr unsigned kNodesPerClockCheck = 1024;

// Looks at the deadline from inside the HTML parse, which cannot be interrupted otherwise: the
// parser's own callbacks are wrapped, and every few hundred calls past the deadline stop the
// parser (xmlStopParser is meant to be called from a callback, on the parsing thread).
struct ParseGuard {
    const Deadline* deadline = nullptr;
    xmlSAXHandler original{};
    unsigned calls = 0;
    bool timedOut = false;
};
thread_local ParseGuard* tParseGuard = nullptr;

void Tick(void* context) {
    ParseGuard* guard = tParseGuard;
    if (guard && ++guard->calls % 256 == 0 && guard->deadline->expired() && !guard->timedOut) {
        guard->timedOut = true;
        xmlStopParser(static_cast<xmlParserCtxtPtr>(context));
    }
}

void GuardSax(xmlSAXHandler* sax) {
    sax->startElement = [](void* c, const xmlChar* name, const xmlChar** attributes) {
        if (auto f = tParseGuard->original.startElement) f(c, name, attributes);
        Tick(c);
    };
    sax->endElement = [](void* c, const xmlChar* name) {
        if (auto f = tParseGuard->original.endElement) f(c, name);
        Tick(c);
    };
    sax->characters = [](void* c, const xmlChar* text, int length) {
        if (auto f = tParseGuard->original.characters) f(c, text, length);
        Tick(c);
    };
    sax->ignorableWhitespace = [](void* c, const xmlChar* text, int length) {
        if (auto f = tParseGuard->original.ignorableWhitespace) f(c, text, length);
        Tick(c);
    };
    sax->comment = [](void* c, const xmlChar* text) {
        if (auto f = tParseGuard->original.comment) f(c, text);
        Tick(c);
    };
}

enum class Role { Inline, Skip, Block, Break, Cell, Pre };

Role RoleOf(const xmlNode* node) {
    static const std::unordered_set<std::string_view> kSkip = {
        "head", "script", "style", "template", "noscript", "title", "iframe", "object", "svg", "math"};
    static const std::unordered_set<std::string_view> kBlock = {
        "address", "article", "aside",  "blockquote", "body",   "caption", "center",   "dd",
        "details", "dialog",  "dir",    "div",        "dl",     "dt",      "fieldset", "figcaption",
        "figure",  "footer",  "form",   "h1",         "h2",     "h3",      "h4",       "h5",
        "h6",      "header",  "hgroup", "hr",         "html",   "legend",  "li",       "main",
        "menu",    "nav",     "ol",     "optgroup",   "option", "p",       "section",  "select",
        "summary", "table",   "tbody",  "tfoot",      "thead",  "tr",      "ul"};
    const std::string_view name(reinterpret_cast<const char*>(node->name));
    if (kSkip.count(name) || xmlHasProp(node, BAD_CAST "hidden")) return Role::Skip;
    if (name == "br") return Role::Break;
    if (name == "td" || name == "th") return Role::Cell;
    if (name == "pre" || name == "textarea") return Role::Pre;
    if (kBlock.count(name)) return Role::Block;
    return Role::Inline;
}

// Gathers text into lines: blank runs become one space, lines are trimmed, empty ones dropped.
class LineWriter {
  public:
    explicit LineWriter(std::string& out) : out_(out) {}

    void text(const char* s, bool keepLineBreaks) {
        for (; *s; ++s) {
            if (keepLineBreaks && *s == '\n') {
                endLine();
            } else if (IsHtmlSpace(*s)) {
                space_ = true;
            } else {
                if (space_ && !line_.empty()) line_ += ' ';
                space_ = false;
                line_ += *s;
            }
        }
    }
    void space() { space_ = true; }
    void endLine() {
        if (!line_.empty()) {
            if (!out_.empty()) out_ += '\n';
            out_ += line_;
            line_.clear();
        }
        space_ = false;
    }

  private:
    std::string& out_;
    std::string line_;
    bool space_ = false;
};

// Walks the subtree under `root` in document order without recursion (pages may nest deeper
// than the stack allows), calling enter on every node and leave on every element whose
// children were entered. enter returns whether to go into the node's children.
template <typename Enter, typename Leave>
void Walk(xmlNode* root, const Deadline& deadline, Enter enter, Leave leave) {
    unsigned count = 0;
    xmlNode* node = root;
    for (;;) {
        if (++count % kNodesPerClockCheck == 0) deadline.check();
        if (enter(node) && node->children != nullptr && node->type != XML_ATTRIBUTE_NODE) {
            node = node->children;
            continue;
        }
        for (;;) {
            if (node == root) return;
            if (node->next != nullptr) {
                node = node->next;
                break;
            }
            node = node->parent;
            leave(node);
        }
    }
}

bool IsText(const xmlNode* node) {
    return node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE;
}

// The visible text of the subtree under `root` into `out`.
void RenderVisible(xmlNode* root, std::string& out, const Deadline& deadline,
                   std::unordered_set<const xmlNode*>* seen) {
    LineWriter lines(out);
    int pre = 0;
    auto enter = [&](xmlNode* node) {
        if (seen) seen->insert(node);
        if (IsText(node)) {
            if (node->content) lines.text(reinterpret_cast<const char*>(node->content), pre > 0);
            return false;
        }
        if (node->type == XML_ATTRIBUTE_NODE) {
            lines.endLine();
            if (node->children && node->children->content)
                lines.text(reinterpret_cast<const char*>(node->children->content), false);
            lines.endLine();
            return false;
        }
        if (node->type == XML_DOCUMENT_NODE || node->type == XML_HTML_DOCUMENT_NODE) return true;
        if (node->type != XML_ELEMENT_NODE) return false;
        switch (RoleOf(node)) {
            case Role::Skip:
                return false;
            case Role::Break:
                lines.endLine();
                return false;
            case Role::Cell:
                lines.space();
                return true;
            case Role::Pre:
                lines.endLine();
                ++pre;
                return true;
            case Role::Block:
                lines.endLine();
                return true;
            case Role::Inline:
                return true;
        }
        return true;
    };
    auto leave = [&](xmlNode* node) {
        if (node->type != XML_ELEMENT_NODE) return;
        switch (RoleOf(node)) {
            case Role::Cell:
                lines.space();
                break;
            case Role::Pre:
                --pre;
                lines.endLine();
                break;
            case Role::Block:
                lines.endLine();
                break;
            default:
                break;
        }
    };
    // A root without children gets no leave: its line ends here.
    Walk(root, deadline, enter, leave);
    lines.endLine();
}

// Every text node under `root` as it stands (an element's text content), into `out`.
void RenderRaw(xmlNode* root, std::string& out, const Deadline& deadline,
               std::unordered_set<const xmlNode*>& seen) {
    auto enter = [&](xmlNode* node) {
        seen.insert(node);
        if (IsText(node) || node->type == XML_COMMENT_NODE || node->type == XML_PI_NODE) {
            if (node->content) out += reinterpret_cast<const char*>(node->content);
            return false;
        }
        if (node->type == XML_ATTRIBUTE_NODE) {
            if (node->children && node->children->content)
                out += reinterpret_cast<const char*>(node->children->content);
            return false;
        }
        return node->type == XML_ELEMENT_NODE || node->type == XML_DOCUMENT_NODE ||
               node->type == XML_HTML_DOCUMENT_NODE;
    };
    Walk(root, deadline, enter, [](xmlNode*) {});
}

}  // namespace

HtmlPage::HtmlPage(std::string_view utf8, const Deadline* deadline) {
    InitLibxml();
    if (!utf8.empty()) {
        htmlParserCtxtPtr context = htmlNewParserCtxt();
        if (!context) throw std::bad_alloc();
        ParseGuard guard;
        if (deadline) {
            guard.deadline = deadline;
            guard.original = *context->sax;
            GuardSax(context->sax);
            tParseGuard = &guard;
        }
        doc_ = htmlCtxtReadMemory(context, utf8.data(), static_cast<int>(utf8.size()), nullptr, "UTF-8",
                                  kParseOptions);
        tParseGuard = nullptr;
        // Recovery never stops the parser on bad markup; it stops on nesting past libxml2's
        // depth bound (and on running out of memory), dropping the rest of the page. A page
        // judged by its first part would hide changes in the rest, so that is a failure.
        const bool stopped = context->disableSAX != 0;
        std::string message = context->lastError.message ? context->lastError.message : "";
        htmlFreeParserCtxt(context);
        if (stopped) {
            if (doc_) xmlFreeDoc(doc_);
            doc_ = nullptr;
            if (guard.timedOut) deadline->check();
            if (message.starts_with("Excessive depth"))
                throw FilterError(FilterFailure::TooLarge, "Page nested too deeply to filter (over " +
                                                               std::to_string(xmlParserMaxDepth) +
                                                               " levels)");
            while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
            throw FilterError(FilterFailure::Unparsable, "Page could not be parsed: " + message);
        }
    }
    // Selections on an empty page still need a document to run against.
    if (!doc_) doc_ = htmlNewDocNoDtD(nullptr, nullptr);
    if (!doc_) throw std::bad_alloc();
}

HtmlPage::~HtmlPage() {
    if (doc_) xmlFreeDoc(doc_);
}

std::string HtmlPage::selectedText(const std::string& xpath, bool visibleOnly,
                                   const Deadline& deadline) const {
    const auto result = EvaluateXPath(doc_, xpath, &deadline);
    deadline.check();
    if (result->type != XPATH_NODESET) {
        xmlChar* value = xmlXPathCastToString(result.get());
        std::string out(value ? reinterpret_cast<const char*>(value) : "");
        xmlFree(value);
        if (out.empty()) throw FilterError(FilterFailure::NothingMatched, "Filter matched nothing");
        if (!visibleOnly) return out;
        std::string lines;
        LineWriter writer(lines);
        writer.text(out.c_str(), false);
        writer.endLine();
        return lines;
    }
    const xmlNodeSet* nodes = result->nodesetval;
    if (nodes == nullptr || nodes->nodeNr == 0)
        throw FilterError(FilterFailure::NothingMatched, "Filter matched nothing");
    std::string out;
    std::unordered_set<const xmlNode*> seen;
    for (int i = 0; i < nodes->nodeNr; ++i) {
        xmlNode* node = nodes->nodeTab[i];
        // Namespace nodes in a node set are not tree nodes and have no text of their own.
        if (node->type == XML_NAMESPACE_DECL || seen.count(node)) continue;
        std::string text;
        if (visibleOnly)
            RenderVisible(node, text, deadline, &seen);
        else
            RenderRaw(node, text, deadline, seen);
        if (text.empty()) continue;
        if (!out.empty()) out += '\n';
        out += text;
    }
    return out;
}

std::string HtmlPage::visibleText(const Deadline& deadline) const {
    std::string out;
    RenderVisible(reinterpret_cast<xmlNode*>(doc_), out, deadline, nullptr);
    return out;
}

}  // namespace vantrel
