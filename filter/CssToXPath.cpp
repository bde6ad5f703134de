#include "filter/CssToXPath.h"

#include <string>
#include <vector>

#include "text/Error.h"
#include "text/Text.h"

namespace vantrel {
namespace {

bool IsSpace(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f';
}
bool IsAsciiLetter(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}
bool IsDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}
bool IsHexDigit(char16_t c) {
    return IsDigit(c) || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}
int HexValue(char16_t c) {
    if (IsDigit(c)) return c - u'0';
    return (c | 0x20) - u'a' + 10;
}

// An XPath 1.0 literal cannot escape its quote, so text holding both kinds is spliced together
// with concat().
std::string Literal(const std::string& value) {
    for (const char quote : {'\'', '"'})
        if (value.find(quote) == std::string::npos)
            return std::string(1, quote).append(value).append(1, quote);
    std::string out = "concat(";
    size_t start = 0;
    while (start < value.size()) {
        size_t quote = value.find('\'', start);
        if (quote == std::string::npos) quote = value.size();
        if (quote > start) out.append("'").append(value, start, quote - start).append("', ");
        if (quote < value.size()) out += "\"'\", ";
        start = quote + 1;
    }
    out.resize(out.size() - 2);
    return out + ")";
}

// " value " for the whole-word test of class names and ~= (written with append: GCC 12 warns
// falsely about "const char*" + std::string here).
std::string Spaced(const std::string& value) {
    return std::string(1, ' ').append(value).append(1, ' ');
}

class Parser {
  public:
    explicit Parser(std::u16string_view text) : text_(text) {}

    // Each selector is matched from its last compound leftwards, as a browser does: the last
    // step with a predicate that climbs to the parent (child combinator) or any ancestor
    // (descendant combinator). "//a//b" would instead have libxml2 merge one node set per "a",
    // with a duplicate check that is quadratic in the size of the page.
    std::string selectorList() {
        std::vector<std::string> selectors;
        for (;;) {
            skipSpace();
            selectors.push_back(complexSelector());
            skipSpace();
            if (atEnd()) break;
            if (peek() != u',') fail("unexpected", pos_);
            ++pos_;
        }
        if (selectors.size() == 1) return "//" + selectors[0];
        // One pass over the elements instead of a union of node sets to merge.
        std::string out = "//*[";
        for (size_t i = 0; i < selectors.size(); ++i) out += (i ? " or self::" : "self::") + selectors[i];
        return out + "]";
    }

  private:
    std::string complexSelector() {
        std::string out = compound();
        for (;;) {
            const size_t before = pos_;
            skipSpace();
            if (atEnd() || peek() == u',') return out;
            const char16_t c = peek();
            if (c == u'>') {
                ++pos_;
                skipSpace();
                out = compound() + "[parent::" + out + "]";
            } else if (c == u'+' || c == u'~') {
                fail("unsupported combinator", pos_);
            } else if (pos_ > before) {
                out = compound() + "[ancestor::" + out + "]";
            } else {
                fail("unexpected", pos_);
            }
        }
    }

    std::string compound() {
        const size_t start = pos_;
        std::string step = "*";
        if (!atEnd() && peek() == u'*') {
            ++pos_;
        } else if (!atEnd() && (IsAsciiLetter(peek()) || peek() == u'_')) {
            step = asciiName("element name");
        }
        for (;;) {
            if (atEnd()) break;
            const char16_t c = peek();
            if (c == u'#') {
                ++pos_;
                step += "[@id=" + Literal(identifier("id")) + "]";
            } else if (c == u'.') {
                ++pos_;
                step += "[contains(concat(' ', normalize-space(@class), ' '), " +
                        Literal(Spaced(identifier("class name"))) + ")]";
            } else if (c == u'[') {
                step += attribute();
            } else if (c == u':') {
                fail("unsupported pseudo-class", pos_);
            } else {
                break;
            }
        }
        if (pos_ == start) fail(atEnd() ? "missing selector" : "unexpected", pos_);
        return step;
    }

    std::string attribute() {
        ++pos_;  // '['
        skipSpace();
        const std::string name = std::string(1, '@').append(asciiName("attribute name"));
        skipSpace();
        if (atEnd()) fail("missing ']'", pos_);
        if (peek() == u']') {
            ++pos_;
            return "[" + name + "]";
        }
        std::u16string op;
        if (peek() == u'=') {
            op = u"=";
        } else if (pos_ + 1 < text_.size() && text_[pos_ + 1] == u'=' &&
                   std::u16string_view(u"~^$*|").find(peek()) != std::u16string_view::npos) {
            op = text_.substr(pos_, 2);
        } else {
            fail("unexpected", pos_);
        }
        pos_ += op.size();
        skipSpace();
        if (atEnd()) fail("missing value", pos_);
        const std::string value =
            (peek() == u'"' || peek() == u'\'') ? quoted() : identifier("attribute value");
        skipSpace();
        if (atEnd()) fail("missing ']'", pos_);
        if (peek() != u']') fail("unexpected", pos_);
        ++pos_;
        const std::string lit = Literal(value);
        // An empty or blank operand can never match these operators (Selectors Level 3, 6.3.2).
        const bool noMatch = (op != u"=" && op != u"|=" && value.empty()) ||
                             (op == u"~=" && value.find_first_of(" \t\n\r\f") != std::string::npos);
        if (noMatch) return "[false()]";
        if (op == u"=") return "[" + name + "=" + lit + "]";
        if (op == u"~=")
            return "[contains(concat(' ', normalize-space(" + name + "), ' '), " + Literal(Spaced(value)) +
                   ")]";
        if (op == u"^=") return "[starts-with(" + name + ", " + lit + ")]";
        if (op == u"*=") return "[contains(" + name + ", " + lit + ")]";
        if (op == u"|=")
            return "[" + name + "=" + lit + " or starts-with(" + name + ", " + Literal(value + "-") + ")]";
        return "[substring(" + name + ", string-length(" + name + ") - string-length(" + lit +
               ") + 1) = " + lit + "]";
    }

    // Element and attribute names: the HTML parser folds them to lower case, so they are
    // matched case-insensitively by folding here too. Only ASCII names are taken, as only
    // those are also valid XPath name tests.
    std::string asciiName(const char* what) {
        const size_t start = pos_;
        std::string out;
        while (!atEnd() && (IsAsciiLetter(peek()) || IsDigit(peek()) || peek() == u'_' || peek() == u'-')) {
            const char16_t c = peek();
            out += static_cast<char>(IsAsciiLetter(c) ? (c | 0x20) : c);
            ++pos_;
        }
        if (out.empty() || IsDigit(out[0]) || out[0] == '-')
            fail((std::string("expected ") + what).c_str(), start);
        return out;
    }

    // A CSS identifier with its escapes resolved (CSS Syntax Level 3, 4.3.7), as UTF-8.
    std::string identifier(const char* what) {
        const size_t start = pos_;
        std::u16string out;
        while (!atEnd()) {
            const char16_t c = peek();
            if (c == u'\\') {
                out += escape();
            } else if (IsAsciiLetter(c) || IsDigit(c) || c == u'_' || c == u'-' || c >= 0x80) {
                out += c;
                ++pos_;
            } else {
                break;
            }
        }
        if (out.empty() || IsDigit(out[0]) || (out[0] == u'-' && out.size() > 1 && IsDigit(out[1])))
            fail((std::string("expected ") + what).c_str(), start);
        return ToUtf8(out);
    }

    std::string quoted() {
        const char16_t quote = peek();
        const size_t start = pos_++;
        std::u16string out;
        for (;;) {
            if (atEnd()) fail("unterminated string", start);
            const char16_t c = peek();
            if (c == quote) break;
            if (c == u'\\') {
                out += escape();
            } else {
                out += c;
                ++pos_;
            }
        }
        ++pos_;
        return ToUtf8(out);
    }

    std::u16string escape() {
        const size_t start = pos_++;
        if (atEnd() || peek() == u'\n' || peek() == u'\r' || peek() == u'\f') fail("bad escape", start);
        if (!IsHexDigit(peek())) return std::u16string(1, text_[pos_++]);
        char32_t code = 0;
        for (int n = 0; n < 6 && !atEnd() && IsHexDigit(peek()); ++n)
            code = code * 16 + HexValue(text_[pos_++]);
        if (!atEnd() && IsSpace(peek())) ++pos_;
        if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return u"\uFFFD";
        if (code < 0x10000) return std::u16string(1, static_cast<char16_t>(code));
        code -= 0x10000;
        return {static_cast<char16_t>(0xD800 + (code >> 10)), static_cast<char16_t>(0xDC00 + (code & 0x3FF))};
    }

    [[noreturn]] void fail(const char* what, size_t at) const {
        std::string message = std::string("CSS selector: ") + what;
        const std::string_view kind(what);
        if (at < text_.size() && !kind.starts_with("missing") && !kind.starts_with("unterminated")) {
            // Name the whole pseudo-class, not just its colon.
            size_t end = at + 1;
            while (text_[at] == u':' && end < text_.size() &&
                   (IsAsciiLetter(text_[end]) || text_[end] == u'-'))
                ++end;
            message += " '" + ToUtf8(text_.substr(at, end - at)) + "'";
        }
        message += " at character " + std::to_string(at + 1);
        throw Error(message);
    }

    bool atEnd() const { return pos_ >= text_.size(); }
    char16_t peek() const { return text_[pos_]; }
    void skipSpace() {
        while (!atEnd() && IsSpace(peek())) ++pos_;
    }

    std::u16string_view text_;
    size_t pos_ = 0;
};

}  // namespace

std::string CssToXPath(std::u16string_view selector) {
    return Parser(selector).selectorList();
}

}  // namespace vantrel
