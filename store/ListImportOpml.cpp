// The OPML reader of ListImport (OPML 2.0, opml.org/spec2.opml): libxml2 parses the document,
// without fetching anything from the network and without expanding entities.
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <memory>

#include "store/ListImport.h"
#include "text/Text.h"

namespace vantrel {

namespace {

struct DocFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};

bool IsElement(const xmlNode* node, const char* name) {
    return node->type == XML_ELEMENT_NODE && xmlStrcmp(node->name, BAD_CAST name) == 0;
}

std::u16string Attribute(xmlNode* node, const char* name) {
    xmlChar* value = xmlGetProp(node, BAD_CAST name);
    if (!value) return {};
    std::u16string text = Trim(FromUtf8(reinterpret_cast<const char*>(value)));
    xmlFree(value);
    return text;
}

// Reads the outlines under `parent`, depth first; false with `result` failed at the first
// outline whose address cannot be watched. Nesting is bounded by libxml2's own depth limit.
bool ReadOutlines(xmlNode* parent, ImportResult& result) {
    for (xmlNode* node = parent->children; node; node = node->next) {
        if (!IsElement(node, "outline")) continue;
        std::u16string url = Attribute(node, "htmlUrl");
        if (url.empty()) url = Attribute(node, "xmlUrl");
        // OPML 2.0's outlines of type "link" keep their address in "url".
        if (url.empty()) url = Attribute(node, "url");
        if (url.empty()) {
            // A folder of outlines, or a note without an address.
            if (!node->children) ++result.skipped;
        } else if (!IsWebAddress(url)) {
            result = ImportFailure(static_cast<int>(xmlGetLineNo(node)), "not a web address: " + ToUtf8(url));
            return false;
        } else {
            std::u16string label = Attribute(node, "title");
            if (label.empty()) label = Attribute(node, "text");
            result.pages.push_back({label.empty() ? url : label, url});
        }
        if (!ReadOutlines(node, result)) return false;
    }
    return true;
}

// Keeps the first error of a parse: it names the line at fault, where the last one (say, a
// premature end of the data) may only name the end of the file.
void KeepFirstError(void* context, xmlError* error) {
    auto* first = static_cast<xmlError*>(context);
    if (first->code == 0 && error) {
        first->code = error->code;
        first->line = error->line;
        first->message = error->message ? xmlMemStrdup(error->message) : nullptr;
    }
}

}  // namespace

ImportResult ImportOpml(std::string_view bytes) {
    const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
    xmlError first{};
    xmlSetStructuredErrorFunc(&first, KeepFirstError);
    const std::unique_ptr<xmlDoc, DocFree> doc(
        xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), nullptr, nullptr, options));
    xmlSetStructuredErrorFunc(nullptr, nullptr);
    const std::string firstMessage = first.message ? first.message : "not an XML document";
    xmlFree(first.message);
    if (!doc) {
        const int line = first.line > 0 ? first.line : 1;
        std::string message = firstMessage;
        while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
        return ImportFailure(line, "malformed XML: " + message);
    }
    xmlNode* root = xmlDocGetRootElement(doc.get());
    if (!root || !IsElement(root, "opml"))
        return ImportFailure(root ? static_cast<int>(xmlGetLineNo(root)) : 1, "not an OPML document");
    ImportResult result;
    for (xmlNode* node = root->children; node; node = node->next)
        if (IsElement(node, "body") && !ReadOutlines(node, result)) return result;
    return result;
}

}  // namespace vantrel
