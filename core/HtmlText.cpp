#include "core/HtmlText.h"

#include <libxml/HTMLparser.h>
#include <libxml/HTMLtree.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/xmlerror.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_set>

#include "core/FilterLimits.h"

namespace vantrel {
namespace {

bool IsHtmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

void InitLibxml() {
    // libxml2 wants its global set-up done once before threads use it.
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
}

// No network (no DTD or entity fetches), no error printing, and never the huge-document
// option, so libxml2 keeps its own bounds on names, text nodes and nesting. The text is
// already decoded, so a charset named inside the page must not re-decode it.
constexpr int kParseOptions = HTML_PARSE_RECOVER | HTML_PARSE_NONET | HTML_PARSE_NOERROR |
                              HTML_PARSE_NOWARNING | HTML_PARSE_COMPACT | HTML_PARSE_IGNORE_ENC;

// How often (in nodes) a walk looks at the clock.
constexpr unsigned kNodesPerClockCheck = 1024;

// Catches the message libxml2 raises while an XPath expression is compiled or evaluated on
// this thread (its error handlers are per thread), instead of letting it reach stderr.
class XPathErrorCatcher {
  public:
    XPathErrorCatcher()
        : oldHandler_(xmlStructuredError),
          oldContext_(xmlStructuredErrorContext),
          oldGeneric_(xmlGenericError),
          oldGenericContext_(xmlGenericErrorContext) {
        xmlSetStructuredErrorFunc(this, &XPathErrorCatcher::onError);
        // Some evaluation errors are also printed through the generic channel; keep them quiet.
        xmlSetGenericErrorFunc(nullptr, &XPathErrorCatcher::ignore);
    }
    ~XPathErrorCatcher() {
        xmlSetStructuredErrorFunc(oldContext_, oldHandler_);
        xmlSetGenericErrorFunc(oldGenericContext_, oldGeneric_);
    }

    int code() const { return code_; }
    // "XPath: <message>", and for an expression that did not compile " at character N", the
    // position counted in characters of the expression.
    std::string message(const std::string& xpath, bool compiled) const {
        std::string out = "XPath: " + (message_.empty() ? std::string("invalid expression") : message_);
        if (!compiled && offset_ >= 0) {
            size_t chars = 0;
            for (size_t i = 0; i < xpath.size() && i < static_cast<size_t>(offset_); ++i)
                if ((static_cast<unsigned char>(xpath[i]) & 0xC0) != 0x80) ++chars;
            out += " at character " + std::to_string(chars + 1);
        }
        return out;
    }

  private:
    static void ignore(void*, const char*, ...) {}
    static void onError(void* self, xmlErrorPtr error) {
        auto* catcher = static_cast<XPathErrorCatcher*>(self);
        if (catcher->code_ != 0 || error == nullptr) return;  // the first error is the cause
        catcher->code_ = error->code;
        catcher->message_ = error->message ? error->message : "";
        while (!catcher->message_.empty() &&
               (catcher->message_.back() == '\n' || catcher->message_.back() == ' '))
            catcher->message_.pop_back();
        catcher->offset_ = error->domain == XML_FROM_XPATH ? error->int1 : -1;
    }

    xmlStructuredErrorFunc oldHandler_;
    void* oldContext_;
    xmlGenericErrorFunc oldGeneric_;
    void* oldGenericContext_;
    int code_ = 0;
    std::string message_;
    int offset_ = -1;
};

bool IsNameStart(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || (c & 0x80);
}
bool IsNameChar(char c) {
    return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

// libxml2 looks functions and variables up only when evaluation reaches them, so a call in a
// predicate that never runs on a given page would go unnoticed until one day it does. This
// finds them all up front (XPath 1.0, 3.7: a name before "(" is a function name unless it is
// a node type test or, after an operand, an operator name). Returns the problem, or empty.
std::string UnknownNames(xmlXPathContext* context, const std::string& xpath) {
    bool afterOperand = false;  // the previous token can end an operand
    for (size_t i = 0; i < xpath.size();) {
        const char c = xpath[i];
        if (c == '\'' || c == '"') {
            const size_t end = xpath.find(c, i + 1);
            i = end == std::string::npos ? xpath.size() : end + 1;
            afterOperand = true;
        } else if (c == '$') {
            size_t end = i + 1;
            while (end < xpath.size() && (IsNameChar(xpath[end]) || xpath[end] == ':')) ++end;
            return "XPath: Undefined variable " + xpath.substr(i, end - i);
        } else if (IsNameStart(c)) {
            size_t end = i;
            while (end < xpath.size() &&
                   (IsNameChar(xpath[end]) ||
                    (xpath[end] == ':' && end + 1 < xpath.size() && xpath[end + 1] != ':')))
                ++end;
            const std::string name = xpath.substr(i, end - i);
            size_t next = end;
            while (next < xpath.size() && IsHtmlSpace(xpath[next])) ++next;
            const bool isOperator =
                afterOperand && (name == "and" || name == "or" || name == "div" || name == "mod");
            const bool isNodeType =
                name == "node" || name == "text" || name == "comment" || name == "processing-instruction";
            if (next < xpath.size() && xpath[next] == '(' && !isOperator && !isNodeType &&
                (name.find(':') != std::string::npos ||
                 xmlXPathFunctionLookup(context, BAD_CAST name.c_str()) == nullptr))
                return "XPath: Unregistered function " + name + "()";
            afterOperand = !isOperator;
            i = end;
        } else if (IsHtmlSpace(c)) {
            ++i;
        } else {
            // ")", "]", "." and "*" can end an operand; a number does too.
            afterOperand = c == ')' || c == ']' || c == '.' || c == '*' || (c >= '0' && c <= '9');
            ++i;
        }
    }
    return {};
}

// libxml2 cannot cancel an XPath evaluation, and some cost it does not count as operations
// (string(/) builds the whole page's text at each step). Its operation limit, which it checks
// at every step, is the one lever: when the deadline passes, this lowers it so the evaluation
// stops at its next step. The field is an aligned word the evaluating thread only reads.
class XPathWatchdog {
  public:
    XPathWatchdog(xmlXPathContext* context, const Deadline& deadline)
        : context_(context), deadline_(deadline), thread_([this] { run(); }) {}
    ~XPathWatchdog() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            done_ = true;
        }
        wake_.notify_one();
        thread_.join();
    }
    bool tripped() const { return tripped_.load(); }

  private:
    void run() {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!wake_.wait_for(lock, std::chrono::milliseconds(10), [this] { return done_; })) {
            if (deadline_.expired()) {
                tripped_ = true;
                __atomic_store_n(&context_->opLimit, 1UL, __ATOMIC_RELAXED);
                return;
            }
        }
    }

    xmlXPathContext* context_;
    const Deadline& deadline_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool done_ = false;
    std::atomic<bool> tripped_{false};
    std::thread thread_;  // last: starts once everything above exists
};

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

struct XPathDeleter {
    void operator()(xmlXPathContext* p) const { xmlXPathFreeContext(p); }
    void operator()(xmlXPathCompExpr* p) const { xmlXPathFreeCompExpr(p); }
    void operator()(xmlXPathObject* p) const { xmlXPathFreeObject(p); }
};
template <typename T>
using XPathPtr = std::unique_ptr<T, XPathDeleter>;

// Evaluates `xpath` against `doc`. Throws FilterError: Invalid, or TooSlow when libxml2's
// operation or recursion limit or the deadline (when given) stopped it.
XPathPtr<xmlXPathObject> Evaluate(xmlDoc* doc, const std::string& xpath, const Deadline* deadline) {
    XPathErrorCatcher errors;
    XPathPtr<xmlXPathContext> context(xmlXPathNewContext(doc));
    if (!context) throw std::bad_alloc();
    context->opLimit = filter_limits::kXPathOpLimit;
    XPathPtr<xmlXPathCompExpr> compiled(xmlXPathCtxtCompile(context.get(), BAD_CAST xpath.c_str()));
    if (compiled) {
        const std::string unknown = UnknownNames(context.get(), xpath);
        if (!unknown.empty()) throw FilterError(FilterFailure::Invalid, unknown);
    }
    XPathPtr<xmlXPathObject> result;
    if (compiled) {
        std::optional<XPathWatchdog> watchdog;
        if (deadline) watchdog.emplace(context.get(), *deadline);
        result.reset(xmlXPathCompiledEval(compiled.get(), context.get()));
        if (watchdog && watchdog->tripped()) {
            result.reset();
            deadline->check();
        }
    }
    if (result && errors.code() == 0) return result;
    const int code = errors.code();
    // libxml2 raises XPath errors with codes offset by XML_XPATH_EXPRESSION_OK.
    const int limitCodes[] = {XPATH_OP_LIMIT_EXCEEDED, XPATH_RECURSION_LIMIT_EXCEEDED, XPATH_MEMORY_ERROR};
    bool limited = false;
    for (int limitCode : limitCodes) limited = limited || code == int{XML_XPATH_EXPRESSION_OK} + limitCode;
    if (limited)
        throw FilterError(FilterFailure::TooSlow, "Selector gave up: " + errors.message(xpath, true));
    throw FilterError(FilterFailure::Invalid, errors.message(xpath, compiled != nullptr));
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
    const auto result = Evaluate(doc_, xpath, &deadline);
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

std::string CheckXPath(const std::string& xpath) {
    InitLibxml();
    const HtmlPage empty("");
    try {
        Evaluate(empty.doc_, xpath, nullptr);
    } catch (const FilterError& e) {
        return e.what();
    }
    return {};
}

}  // namespace vantrel
