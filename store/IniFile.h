#pragma once
// A sectioned key=value text held as its lines, read and changed key by key with the value rules
// of the page list file, and written back with every line it does not change kept in place.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace vantrel {

class IniFile {
  public:
    // Splits the text into lines at CR LF, LF or a lone CR. Lines before the first section line
    // belong to no section. The text is kept whole and its lines point into it: a file of many
    // thousand lines costs one copy rather than one allocation per line.
    explicit IniFile(std::u16string text = {});

    // The value of the key in the first section of that name (names compared without regard to
    // ASCII letter case): the rest of the key line after the first "=", blanks around it removed,
    // one pair of enclosing double or single quotation marks removed, cut to
    // limits::kMaxValueLength. nullopt when the section or the key is absent.
    std::optional<std::u16string> value(std::u16string_view section, std::u16string_view key) const;
    // The value, or the empty text when absent.
    std::u16string text(std::u16string_view section, std::u16string_view key) const;
    // The value as an integer: "0x"/"0X" at the start of a value longer than two characters reads
    // as "$", then IntFromText; `fallback` when absent or not a number.
    int32_t integer(std::u16string_view section, std::u16string_view key, int32_t fallback) const;
    // An integer value other than 0; off when absent or not a number.
    bool boolean(std::u16string_view section, std::u16string_view key) const;

    // Replaces the key's line in the first section of that name, or adds "key=value" after the
    // section's last key line (after its section line when it has none), adding the section at the
    // end when it is missing. A value that reading would change (blanks at either end, enclosing
    // quotation marks) is written inside double quotation marks; CR and LF become blanks.
    void set(std::u16string_view section, std::u16string_view key, std::u16string_view value);

    // The names of the sections, in file order, each name once (its first section).
    std::vector<std::u16string> sectionNames() const;

    // The same operations on a section found once, for reading or writing many keys of many
    // sections without looking each section up again.
    using SectionHandle = size_t;
    // The sections in file order, each name once (its first section), with their handles.
    std::vector<std::pair<std::u16string, SectionHandle>> sectionHandles() const;
    std::optional<std::u16string> valueIn(SectionHandle section, std::u16string_view key) const;
    int32_t integerIn(SectionHandle section, std::u16string_view key, int32_t fallback) const;
    // The first section of that name, added at the end when missing. Handles stay valid.
    SectionHandle sectionFor(std::u16string_view name);
    void setIn(SectionHandle section, std::u16string_view key, std::u16string_view value);

    // All lines, each ended by CR LF.
    std::u16string serialize() const;

  private:
    // A piece of text_, or a text of its own in owned_ once set() made or replaced it.
    struct Line {
        size_t begin = 0;  // in text_, or the index in owned_
        size_t length = 0;
        // The key, blanks trimmed, from the line's start: found once, as a file may hold very
        // long lines. Only for a key line.
        uint32_t keyBegin = 0;
        uint32_t keyLength = 0;
        bool owned = false;
        bool isKey = false;
    };
    struct Section {
        std::u16string name;
        std::vector<Line> lines;  // the section line first
    };

    std::u16string_view textOf(const Line& line) const;
    // A line of owned_ made of `text`, in place of `replaced` when that one is owned too.
    Line ownedLine(std::u16string text, const Line* replaced = nullptr);
    void classify(Line& line) const;
    const Section* findSection(std::u16string_view name) const;
    std::optional<size_t> findKey(const Section& section, std::u16string_view key) const;
    void addLine(Line line);

    std::u16string text_;
    std::vector<std::u16string> owned_;
    std::vector<Line> preamble_;
    std::vector<Section> sections_;
    // Folded name -> index of the first section of that name.
    std::unordered_map<std::u16string, size_t> index_;
};

// The value text as written after "=" so that reading gives back `value` (see IniFile::set).
std::u16string EncodeIniValue(std::u16string_view value);

}  // namespace vantrel
