#include "core/CommandWords.h"

namespace vantrel {

namespace {

bool IsBlank(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\n';
}

// The characters a backslash escapes inside double quotes (XCU 2.2.3).
bool EscapedInDoubleQuotes(char16_t c) {
    return c == u'$' || c == u'`' || c == u'"' || c == u'\\' || c == u'\n';
}

}  // namespace

CommandWords SplitCommandLine(std::u16string_view line) {
    CommandWords result;
    std::u16string word;
    // A word that is only quotes ('' or "") is an empty argument, not nothing.
    bool inWord = false;
    size_t i = 0;
    const auto endWord = [&] {
        if (inWord) result.words.push_back(std::move(word));
        word.clear();
        inWord = false;
    };
    while (i < line.size()) {
        const char16_t c = line[i++];
        if (IsBlank(c)) {
            endWord();
        } else if (c == u'\\') {
            if (i == line.size()) {
                // A trailing backslash stands for itself, as nothing follows to escape.
                word += c;
                inWord = true;
            } else if (line[i] == u'\n') {
                ++i;  // a line continuation vanishes
            } else {
                word += line[i++];
                inWord = true;
            }
        } else if (c == u'\'') {
            const size_t end = line.find(u'\'', i);
            if (end == std::u16string_view::npos) return CommandWords{{}, u"Unterminated single quote"};
            word.append(line.substr(i, end - i));
            i = end + 1;
            inWord = true;
        } else if (c == u'"') {
            inWord = true;
            for (;;) {
                if (i == line.size()) return CommandWords{{}, u"Unterminated double quote"};
                const char16_t d = line[i++];
                if (d == u'"') break;
                if (d == u'\\' && i < line.size() && EscapedInDoubleQuotes(line[i])) {
                    if (line[i] != u'\n') word += line[i];
                    ++i;
                } else {
                    word += d;
                }
            }
        } else {
            word += c;
            inWord = true;
        }
    }
    endWord();
    return result;
}

}  // namespace vantrel
