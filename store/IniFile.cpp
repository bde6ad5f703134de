#include "store/IniFile.h"

#include <utility>

#include "store/StoreLimits.h"
#include "text/Text.h"

namespace vantrel {
namespace {

bool IsBlank(char16_t c) {
    return c == u' ' || c == u'\t';
}

// The name of a section line ("[name]", blanks allowed around the brackets and the name; a
// missing "]" ends the name at the end of the line), or nullopt for any other line.
std::optional<std::u16string_view> SectionName(std::u16string_view line) {
    const std::u16string_view trimmed = TrimSpacesAndTabs(line);
    if (trimmed.empty() || trimmed.front() != u'[') return std::nullopt;
    std::u16string_view name = trimmed.substr(1);
    name = name.substr(0, name.find(u']'));
    return TrimSpacesAndTabs(name);
}

struct KeyLine {
    std::u16string_view key;
    std::u16string_view rawValue;
};

std::optional<KeyLine> ParseKeyLine(std::u16string_view line) {
    const size_t eq = line.find(u'=');
    if (eq == std::u16string_view::npos) return std::nullopt;
    return KeyLine{TrimSpacesAndTabs(line.substr(0, eq)), TrimSpacesAndTabs(line.substr(eq + 1))};
}

bool IsQuote(char16_t c) {
    return c == u'"' || c == u'\'';
}

bool Enclosed(std::u16string_view value) {
    return value.size() >= 2 && IsQuote(value.front()) && value.back() == value.front();
}

}  // namespace

std::u16string EncodeIniValue(std::u16string_view value) {
    // A line break would end the key line and let the rest of the value pose as other lines.
    std::u16string plain(value);
    for (char16_t& c : plain) {
        if (c == u'\r' || c == u'\n') c = u' ';
    }
    if (plain.empty() || !(IsBlank(plain.front()) || IsBlank(plain.back()) || Enclosed(plain))) return plain;
    return u'"' + plain + u'"';
}

std::u16string_view IniFile::textOf(const Line& line) const {
    if (line.owned) return owned_[line.begin];
    return std::u16string_view(text_).substr(line.begin, line.length);
}

void IniFile::classify(Line& line) const {
    const std::u16string_view text = textOf(line);
    line.isKey = false;
    if (SectionName(text)) return;
    if (const auto parsed = ParseKeyLine(text)) {
        line.isKey = true;
        line.keyBegin = static_cast<uint32_t>(parsed->key.data() - text.data());
        line.keyLength = static_cast<uint32_t>(parsed->key.size());
    }
}

IniFile::Line IniFile::ownedLine(std::u16string text, const Line* replaced) {
    Line line;
    line.owned = true;
    line.length = text.size();
    if (replaced && replaced->owned) {
        line.begin = replaced->begin;
        owned_[line.begin] = std::move(text);
    } else {
        line.begin = owned_.size();
        owned_.push_back(std::move(text));
    }
    classify(line);
    return line;
}

IniFile::IniFile(std::u16string text) : text_(std::move(text)) {
    size_t start = 0;
    while (start < text_.size()) {
        size_t end = start;
        while (end < text_.size() && text_[end] != u'\r' && text_[end] != u'\n') ++end;
        Line line;
        line.begin = start;
        line.length = end - start;
        classify(line);
        addLine(line);
        if (end < text_.size()) {
            const bool crlf = text_[end] == u'\r' && end + 1 < text_.size() && text_[end + 1] == u'\n';
            end += crlf ? 2 : 1;
        }
        start = end;
    }
}

void IniFile::addLine(Line line) {
    if (auto name = SectionName(textOf(line))) {
        Section section{std::u16string(*name), {}};
        section.lines.push_back(line);
        index_.try_emplace(ToLowerAscii(section.name), sections_.size());
        sections_.push_back(std::move(section));
    } else if (sections_.empty()) {
        preamble_.push_back(line);
    } else {
        sections_.back().lines.push_back(line);
    }
}

const IniFile::Section* IniFile::findSection(std::u16string_view name) const {
    const auto it = index_.find(ToLowerAscii(name));
    return it == index_.end() ? nullptr : &sections_[it->second];
}

std::optional<size_t> IniFile::findKey(const Section& section, std::u16string_view key) const {
    for (size_t i = 1; i < section.lines.size(); ++i) {
        const Line& line = section.lines[i];
        if (line.isKey && line.keyLength == key.size() &&
            EqualsIgnoreAsciiCase(textOf(line).substr(line.keyBegin, line.keyLength), key))
            return i;
    }
    return std::nullopt;
}

std::optional<std::u16string> IniFile::value(std::u16string_view section, std::u16string_view key) const {
    const Section* found = findSection(section);
    if (!found) return std::nullopt;
    return valueIn(static_cast<SectionHandle>(found - sections_.data()), key);
}

std::optional<std::u16string> IniFile::valueIn(SectionHandle section, std::u16string_view key) const {
    const Section& found = sections_.at(section);
    const auto line = findKey(found, key);
    if (!line) return std::nullopt;
    std::u16string_view raw = ParseKeyLine(textOf(found.lines[*line]))->rawValue;
    // The quotation marks come off before the cut, so a quoted value of the full length written
    // by `set` reads back whole.
    if (Enclosed(raw)) raw = raw.substr(1, raw.size() - 2);
    std::u16string_view cut = raw.substr(0, limits::kMaxValueLength);
    // A cut between the two halves of a surrogate pair would leave half a character that no UTF-8
    // file can hold; the whole character goes instead.
    if (cut.size() < raw.size() && !cut.empty() && cut.back() >= 0xD800 && cut.back() <= 0xDBFF) {
        cut.remove_suffix(1);
    }
    return std::u16string(cut);
}

namespace {
int32_t IntegerFromValue(std::u16string number, int32_t fallback) {
    if (number.size() > 2 && number[0] == u'0' && (number[1] == u'x' || number[1] == u'X')) {
        number.replace(0, 2, u"$");
    }
    return IntFromText(number, fallback);
}
}  // namespace

std::u16string IniFile::text(std::u16string_view section, std::u16string_view key) const {
    return value(section, key).value_or(std::u16string());
}

int32_t IniFile::integer(std::u16string_view section, std::u16string_view key, int32_t fallback) const {
    return IntegerFromValue(text(section, key), fallback);
}

int32_t IniFile::integerIn(SectionHandle section, std::u16string_view key, int32_t fallback) const {
    return IntegerFromValue(valueIn(section, key).value_or(std::u16string()), fallback);
}

bool IniFile::boolean(std::u16string_view section, std::u16string_view key) const {
    return integer(section, key, 0) != 0;
}

IniFile::SectionHandle IniFile::sectionFor(std::u16string_view name) {
    if (const auto it = index_.find(ToLowerAscii(name)); it != index_.end()) return it->second;
    std::u16string header = u"[";
    header += name;
    header += u']';
    addLine(ownedLine(std::move(header)));
    return sections_.size() - 1;
}

void IniFile::set(std::u16string_view section, std::u16string_view key, std::u16string_view value) {
    setIn(sectionFor(section), key, value);
}

void IniFile::setIn(SectionHandle section, std::u16string_view key, std::u16string_view value) {
    std::u16string line;
    line.reserve(key.size() + 1 + value.size());
    line += key;
    line += u'=';
    line += EncodeIniValue(value);
    Section& target = sections_.at(section);
    if (const auto existing = findKey(target, key)) {
        // An unchanged line is left as it is (a save rewrites every key of every entry).
        Line& old = target.lines[*existing];
        if (textOf(old) != line) old = ownedLine(std::move(line), &old);
        return;
    }
    size_t lastKey = 0;
    for (size_t i = 1; i < target.lines.size(); ++i) {
        if (target.lines[i].isKey) lastKey = i;
    }
    const Line added = ownedLine(std::move(line));
    target.lines.insert(target.lines.begin() + static_cast<std::ptrdiff_t>(lastKey + 1), added);
}

std::vector<std::u16string> IniFile::sectionNames() const {
    std::vector<std::u16string> names;
    names.reserve(index_.size());
    for (size_t i = 0; i < sections_.size(); ++i) {
        const auto it = index_.find(ToLowerAscii(sections_[i].name));
        if (it->second == i) names.push_back(sections_[i].name);
    }
    return names;
}

std::vector<std::pair<std::u16string, IniFile::SectionHandle>> IniFile::sectionHandles() const {
    std::vector<std::pair<std::u16string, SectionHandle>> handles;
    handles.reserve(index_.size());
    for (size_t i = 0; i < sections_.size(); ++i) {
        const auto it = index_.find(ToLowerAscii(sections_[i].name));
        if (it->second == i) handles.emplace_back(sections_[i].name, i);
    }
    return handles;
}

std::u16string IniFile::serialize() const {
    std::u16string out;
    size_t length = 0;
    for (const auto& line : preamble_) length += line.length + 2;
    for (const auto& section : sections_)
        for (const auto& line : section.lines) length += line.length + 2;
    out.reserve(length);
    auto put = [this, &out](const std::vector<Line>& lines) {
        for (const auto& line : lines) {
            out += textOf(line);
            out += u"\r\n";
        }
    };
    put(preamble_);
    for (const auto& section : sections_) put(section.lines);
    return out;
}

}  // namespace vantrel
