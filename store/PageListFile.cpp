#include "store/PageListFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <exception>
#include <filesystem>
#include <optional>
#include <utility>
#include <vector>

#include "store/FileIo.h"
#include "store/IniFile.h"
#include "store/PageListLocation.h"
#include "store/StoreLimits.h"
#include "store/TextCodec.h"
#include "text/Error.h"
#include "text/Text.h"

namespace vantrel {
namespace {

constexpr std::u16string_view kMain = u"main";
constexpr std::u16string_view kCaption = u"caption";
constexpr std::u16string_view kStatus = u"status";
constexpr int32_t kDefaultStatus = static_cast<int32_t>(PageStatus::Offline);

std::u16string FlagText(bool on) {
    return on ? u"1" : u"0";
}

// N for a section named "web" followed by N in decimal without leading zeros, 1 <= N <= count.
std::optional<int32_t> WebNumber(std::u16string_view name, int32_t count) {
    if (name.size() < 4 || !EqualsIgnoreAsciiCase(name.substr(0, 3), u"web")) return std::nullopt;
    const std::u16string_view digits = name.substr(3);
    if (digits.size() > 10 || digits.front() == u'0') return std::nullopt;
    int64_t number = 0;
    for (char16_t c : digits) {
        if (c < u'0' || c > u'9') return std::nullopt;
        number = number * 10 + (c - u'0');
    }
    if (number > count) return std::nullopt;
    return static_cast<int32_t>(number);
}

std::string FullPath(const std::string& path) {
    std::error_code error;
    const auto absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.string();
}

// A link is followed, so that saving replaces the file it points to rather than the link.
std::string ResolveLink(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
    std::error_code error;
    const auto target = std::filesystem::canonical(path, error);
    return error ? path : target.string();
}

// A file the user marked read-only (no write permission bit at all) is refused also to root,
// as the platform's read-only attribute is; otherwise the process's own write access decides.
// Renaming over the file would succeed in a writable directory, so the file itself is asked.
bool IsReadOnly(const std::string& path, mode_t mode) {
    return (mode & 0222) == 0 || ::faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) != 0;
}

constexpr std::u16string_view kItemKeys[kColumnCount] = {u"item1", u"item2", u"item3", u"item4"};

std::optional<PageEntry> LoadEntry(const IniFile& ini, IniFile::SectionHandle section, bool recheck) {
    PageEntry entry;
    entry.label = ini.valueIn(section, kCaption).value_or(std::u16string());
    if (entry.label.empty()) return std::nullopt;
    entry.status = static_cast<PageStatus>(ini.integerIn(section, kStatus, kDefaultStatus));
    for (int column = 0; column < kColumnCount; ++column) {
        entry.columns[column] = ini.valueIn(section, kItemKeys[column]).value_or(std::u16string());
    }
    if (recheck) {
        entry.status = PageStatus::Offline;
        entry.columns[kStamp].clear();
    }
    return entry;
}

}  // namespace

PageListSnapshot TakeSnapshot(const PageList& list, const Options& options) {
    return PageListSnapshot{options, list.entries()};
}

PageListFile::PageListFile(std::string path, int64_t maxBytes)
    : path_(std::move(path)), maxBytes_(maxBytes) {}

PageListFile::~PageListFile() = default;

std::optional<PageListFile::Seen> PageListFile::look(const std::string& path) {
    struct stat info {};
    Seen seen;
    if (::stat(path.c_str(), &info) != 0) {
        if (errno == ENOENT || errno == ENOTDIR || errno == ENAMETOOLONG) return seen;
        return std::nullopt;
    }
    seen.exists = true;
    seen.size = static_cast<int64_t>(info.st_size);
    seen.mode = info.st_mode;
    seen.owner = info.st_uid;
    seen.group = info.st_gid;
    return seen;
}

Options PageListFile::load(PageList& list, const std::function<void(Option, bool)>& setOption) {
    Options options;
    std::vector<PageEntry> entries;
    {
        std::lock_guard lock(mutex_);
        unreadable_ = false;
        const FileRead file = ReadWholeFile(ResolveLink(path_), maxBytes_);
        if (file.outcome != FileRead::Outcome::Read) {
            // Remembered so that the save at the end of the run cannot replace what we never saw.
            unreadable_ = file.outcome == FileRead::Outcome::Unreadable;
            return {};
        }
        const IniFile ini(DecodeText(file.bytes).text);

        const int32_t count = ini.integer(kMain, u"count", 0);
        options.start = ini.boolean(kMain, u"start");
        options.sort = ini.boolean(kMain, u"sort");
        options.recheck = ini.boolean(kMain, u"recheck");

        // Listing the sections present gives the same entries as asking for web1..webN one by
        // one, without walking a huge hand-edited count.
        std::vector<std::pair<int32_t, IniFile::SectionHandle>> sections;
        if (count >= 1) {
            for (const auto& [name, handle] : ini.sectionHandles()) {
                if (const auto number = WebNumber(name, count)) sections.emplace_back(*number, handle);
            }
        }
        std::sort(sections.begin(), sections.end(),
                  [](const auto& a, const auto& b) { return a.first < b.first; });
        entries.reserve(sections.size());
        for (const auto& section : sections) {
            if (auto entry = LoadEntry(ini, section.second, options.recheck))
                entries.push_back(std::move(*entry));
        }
    }

    // A failing option action (the start registration) must not cut the entries short: the save
    // at the end of the run would otherwise replace the stored list with a shorter one.
    std::exception_ptr held;
    const auto report = [&](Option option, bool on) {
        if (!on || !setOption) return;
        try {
            setOption(option, true);
        } catch (...) {
            if (!held) held = std::current_exception();
        }
    };
    report(Option::Start, options.start);
    report(Option::Sort, options.sort);
    report(Option::Recheck, options.recheck);
    if (options.sort) list.setSorted(true);
    list.insertLoaded(std::move(entries));

    if (held) std::rethrow_exception(held);
    return options;
}

void PageListFile::save(const PageListSnapshot& snapshot) {
    std::lock_guard lock(mutex_);
    const Error refused("Unable to write to " + FullPath(path_));
    if (unreadable_) throw refused;
    const std::string target = ResolveLink(path_);
    const std::optional<Seen> now = look(target);
    if (!now || (now->exists && (!S_ISREG(now->mode) || now->size > maxBytes_))) throw refused;

    // The file is read again rather than kept from the load: whatever another program changed
    // (or made, or removed) since is kept, and an idle run holds no copy of it.
    const FileRead current = ReadWholeFile(target, maxBytes_);
    if (current.outcome == FileRead::Outcome::Unreadable) throw refused;
    DecodedText decoded;
    if (current.outcome == FileRead::Outcome::Read) decoded = DecodeText(current.bytes);

    ReplaceOptions replace;
    if (now->exists) {
        if (IsReadOnly(target, now->mode)) throw refused;
        replace.mode = now->mode & 07777;
        replace.owner = now->owner;
        replace.group = now->group;
    } else {
        // The first save into the user's configuration folder makes the folder.
        if (!CreatePageListFolder(path_)) throw refused;
        replace.keepUmaskMode = true;
    }

    IniFile ini(std::move(decoded.text));
    ini.set(kMain, u"count", IntToText(static_cast<int64_t>(snapshot.entries.size())));
    ini.set(kMain, u"start", FlagText(snapshot.options.start));
    ini.set(kMain, u"sort", FlagText(snapshot.options.sort));
    ini.set(kMain, u"recheck", FlagText(snapshot.options.recheck));
    size_t position = 0;
    for (const PageEntry& entry : snapshot.entries) {
        const auto section = ini.sectionFor(u"web" + IntToText(static_cast<int64_t>(++position)));
        ini.setIn(section, kCaption, entry.label);
        ini.setIn(section, kStatus, IntToText(static_cast<int32_t>(entry.status)));
        for (int column = 0; column < kColumnCount; ++column) {
            ini.setIn(section, kItemKeys[column], entry.columns[column]);
        }
    }
    if (!ReplaceFileAtomically(target, EncodeText(ini.serialize(), decoded.encoding), replace)) throw refused;
}

}  // namespace vantrel
