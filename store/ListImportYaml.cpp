// The urlwatch jobs reader of ListImport: libyaml loads each document of the file, and each
// document is one job, a mapping of keys to values (urlwatch's "urls.yaml").
#include <yaml.h>

#include <cstring>

#include "store/ListImport.h"
#include "text/Text.h"

namespace vantrel {

namespace {

int LineOf(const yaml_mark_t& mark) {
    return static_cast<int>(mark.line) + 1;
}

// The scalar value of `key` in the mapping `node`, or null when it has none (or not a scalar).
const yaml_node_t* Value(yaml_document_t& doc, const yaml_node_t& node, const char* key) {
    for (yaml_node_pair_t* pair = node.data.mapping.pairs.start; pair < node.data.mapping.pairs.top; ++pair) {
        const yaml_node_t* name = yaml_document_get_node(&doc, pair->key);
        if (!name || name->type != YAML_SCALAR_NODE) continue;
        const auto* text = reinterpret_cast<const char*>(name->data.scalar.value);
        if (std::strcmp(text, key) == 0) return yaml_document_get_node(&doc, pair->value);
    }
    return nullptr;
}

std::u16string ScalarText(const yaml_node_t* node) {
    if (!node || node->type != YAML_SCALAR_NODE) return {};
    return Trim(FromUtf8(
        std::string_view(reinterpret_cast<const char*>(node->data.scalar.value), node->data.scalar.length)));
}

class Parser {
  public:
    explicit Parser(std::string_view text) {
        yaml_parser_initialize(&parser_);
        yaml_parser_set_input_string(&parser_, reinterpret_cast<const unsigned char*>(text.data()),
                                     text.size());
    }
    ~Parser() { yaml_parser_delete(&parser_); }
    Parser(const Parser&) = delete;
    Parser& operator=(const Parser&) = delete;

    yaml_parser_t* get() { return &parser_; }

  private:
    yaml_parser_t parser_;
};

class Document {
  public:
    Document() = default;
    ~Document() {
        if (loaded) yaml_document_delete(&doc);
    }
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;

    yaml_document_t doc{};
    bool loaded = false;
};

// Adds the job `root` to `result`; false with `result` failed when it is not a job.
bool ReadJob(yaml_document_t& doc, const yaml_node_t& root, ImportResult& result) {
    if (root.type != YAML_MAPPING_NODE) {
        result = ImportFailure(LineOf(root.start_mark), "a job is a mapping of keys to values");
        return false;
    }
    const yaml_node_t* urlNode = Value(doc, root, "url");
    if (!urlNode) {
        if (Value(doc, root, "command") || Value(doc, root, "navigate")) {
            ++result.skipped;
            return true;
        }
        result = ImportFailure(LineOf(root.start_mark), "a job without url, command or navigate");
        return false;
    }
    const std::u16string url = ScalarText(urlNode);
    if (urlNode->type != YAML_SCALAR_NODE || url.empty()) {
        result = ImportFailure(LineOf(urlNode->start_mark), "the url is not a text");
        return false;
    }
    // file:// and other schemes are jobs of a kind the program does not watch.
    if (!IsWebAddress(url)) {
        ++result.skipped;
        return true;
    }
    const std::u16string name = ScalarText(Value(doc, root, "name"));
    result.pages.push_back({name.empty() ? url : name, url});
    return true;
}

}  // namespace

ImportResult ImportUrlwatchJobs(std::string_view utf8) {
    if (!IsValidUtf8(utf8)) return ImportFailure(1, "the text is not UTF-8");
    Parser parser(utf8);
    ImportResult result;
    for (;;) {
        Document document;
        if (!yaml_parser_load(parser.get(), &document.doc)) {
            const yaml_parser_t& p = *parser.get();
            const std::string problem = p.problem ? p.problem : "malformed YAML";
            return ImportFailure(LineOf(p.problem_mark), problem);
        }
        document.loaded = true;
        const yaml_node_t* root = yaml_document_get_root_node(&document.doc);
        // The stream's end comes as a document without a root.
        if (!root) break;
        // An empty document ("---" with nothing after it) is no job.
        if (root->type == YAML_SCALAR_NODE && root->data.scalar.length == 0) continue;
        if (!ReadJob(document.doc, *root, result)) return result;
    }
    return result;
}

}  // namespace vantrel
