#include "filter/XPathQuery.h"

#include <libxml/HTMLtree.h>
#include <libxml/parser.h>
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

#include "filter/FilterLimits.h"

namespace vantrel {
namespace {

bool IsHtmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

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

struct XPathDeleter {
    void operator()(xmlXPathContext* p) const { xmlXPathFreeContext(p); }
    void operator()(xmlXPathCompExpr* p) const { xmlXPathFreeCompExpr(p); }
};
template <typename T>
using XPathPtr = std::unique_ptr<T, XPathDeleter>;

// Evaluates `xpath` against `doc`. Throws FilterError: Invalid, or TooSlow when libxml2's
// operation or recursion limit or the deadline (when given) stopped it.
}  // namespace

XPathResult EvaluateXPath(xmlDoc* doc, const std::string& xpath, const Deadline* deadline) {
    XPathErrorCatcher errors;
    XPathPtr<xmlXPathContext> context(xmlXPathNewContext(doc));
    if (!context) throw std::bad_alloc();
    context->opLimit = limits::kXPathOpLimit;
    XPathPtr<xmlXPathCompExpr> compiled(xmlXPathCtxtCompile(context.get(), BAD_CAST xpath.c_str()));
    if (compiled) {
        const std::string unknown = UnknownNames(context.get(), xpath);
        if (!unknown.empty()) throw FilterError(FilterFailure::Invalid, unknown);
    }
    XPathResult result;
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

void XPathResultDeleter::operator()(xmlXPathObject* result) const {
    xmlXPathFreeObject(result);
}

void InitLibxml() {
    // libxml2 wants its global set-up done once before threads use it.
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
}

std::string CheckXPath(const std::string& xpath) {
    InitLibxml();
    xmlDoc* empty = htmlNewDocNoDtD(nullptr, nullptr);
    if (!empty) throw std::bad_alloc();
    std::string message;
    try {
        EvaluateXPath(empty, xpath, nullptr);
    } catch (const FilterError& e) {
        message = e.what();
    }
    xmlFreeDoc(empty);
    return message;
}

}  // namespace vantrel
