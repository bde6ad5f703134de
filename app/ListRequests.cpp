#include "app/ListRequests.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <optional>
#include <thread>

#include "app/CommandChannel.h"
#include "app/SingleInstance.h"
#include "core/CheckReport.h"
#include "store/FileIo.h"
#include "store/ListExport.h"
#include "store/PageListFile.h"
#include "store/StoreLimits.h"
#include "text/Text.h"
#include "ui/Monitor.h"

namespace vantrel {

namespace {

constexpr char kAddVerb[] = "vantrel-add ";
constexpr char kExportVerb[] = "vantrel-export ";
constexpr char kWaitingVerb[] = "vantrel-waiting";
// How long a start waits for the running instance to answer (it may be starting up itself).
constexpr int kAnswerWaitMs = 30000;
constexpr auto kRetryPause = std::chrono::milliseconds(200);

std::string OneLine(std::u16string_view text) {
    std::string out = ToUtf8(text);
    for (char& c : out)
        if (c == '\t' || c == '\r' || c == '\n') c = ' ';
    return out;
}

std::string PagesInWords(size_t count) {
    return std::to_string(count) + (count == 1 ? " page" : " pages");
}

// The list file of a stopped program, read at once and saved after the change.
class FileTarget : public ListTarget {
  public:
    explicit FileTarget(const std::string& path) : file_(path) {
        options_ = file_.load(list_, [](Option, bool) {});
    }
    const PageList& list() const override { return list_; }
    ImportSelection add(const std::vector<NewPage>& pages, int intervalIndex) override {
        ImportSelection selection = SelectNewPages(list_, pages);
        AddPages(list_, selection.fresh, intervalIndex);
        if (!selection.fresh.empty()) file_.save(list_, options_);
        return selection;
    }

  private:
    PageListFile file_;
    PageList list_;
    Options options_;
};

int Fail(const std::string& why) {
    std::fprintf(stderr, "vantrel: %s\n", why.c_str());
    return 2;
}

// The running instance's list, changed through its monitor (which saves as after any edit).
class MonitorTarget : public ListTarget {
  public:
    explicit MonitorTarget(Monitor& monitor) : monitor_(monitor) {}
    const PageList& list() const override { return monitor_.list(); }
    ImportSelection add(const std::vector<NewPage>& pages, int intervalIndex) override {
        return monitor_.addPages(pages, intervalIndex);
    }
    std::vector<std::u16string> waitingForNetwork() const override {
        std::vector<std::u16string> urls;
        const PageList& list = monitor_.list();
        for (size_t i = 0; i < list.size(); ++i) {
            if (monitor_.isPutOff(list.at(i).id)) urls.push_back(list.at(i).url());
        }
        return urls;
    }

  private:
    Monitor& monitor_;
};

}  // namespace

std::string AddRequest(const std::vector<NewPage>& pages, int intervalIndex) {
    std::string request = kAddVerb + std::to_string(intervalIndex) + "\n";
    for (const NewPage& page : pages) request += OneLine(page.url) + "\t" + OneLine(page.label) + "\n";
    return request;
}

std::string ExportRequest(ListFormat format) {
    return kExportVerb + std::to_string(static_cast<int>(format)) + "\n";
}

std::string WaitingRequest() {
    std::string request(kWaitingVerb);
    request += '\n';
    return request;
}

std::string AnswerRequest(const std::string& request, ListTarget& target) {
    const size_t headEnd = request.find('\n');
    const std::string head = request.substr(0, headEnd);
    try {
        if (head.starts_with(kAddVerb)) {
            const int interval = IntFromText(FromUtf8(head.substr(sizeof kAddVerb - 1)), -1);
            if (interval < 0 || interval >= kIntervalCount) return "error\nno such interval\n";
            const ImportResult pages = ImportTextList(request.substr(headEnd + 1));
            if (!pages.error.empty()) return "error\n" + pages.error + "\n";
            const ImportSelection added = target.add(pages.pages, interval);
            return "ok\nAdded " + PagesInWords(added.fresh.size()) + "; " +
                   PagesInWords(size_t(added.duplicates)) + " already in the list.\n";
        }
        if (head.starts_with(kExportVerb)) {
            const int format = IntFromText(FromUtf8(head.substr(sizeof kExportVerb - 1)), -1);
            return "ok\n" + ExportList(static_cast<ListFormat>(std::clamp(format, 0, 3)),
                                       ExportedPagesOf(target.list()));
        }
        if (head == kWaitingVerb) {
            std::string answer = "ok\n";
            for (const std::u16string& url : target.waitingForNetwork()) answer += OneLine(url) + "\n";
            return answer;
        }
        return "error\nunknown request\n";
    } catch (const std::exception& error) {
        return "error\n" + std::string(error.what()) + "\n";
    }
}

std::function<std::string(const std::string&)> RequestHandlerFor(Monitor& monitor) {
    return [&monitor](const std::string& request) {
        MonitorTarget target(monitor);
        return AnswerRequest(request, target);
    };
}

std::set<std::u16string> AskWaitingForNetwork(const std::string& title, int timeoutMs) {
    std::set<std::u16string> urls;
    const std::optional<std::string> answer = CommandChannel::send(title, WaitingRequest(), timeoutMs);
    // An older running copy answers "error": it knows no such state to tell.
    if (!answer || !answer->starts_with("ok\n")) return urls;
    size_t start = 3;
    while (start < answer->size()) {
        const size_t end = std::min(answer->find('\n', start), answer->size());
        if (end > start) urls.insert(FromUtf8(answer->substr(start, end - start)));
        start = end + 1;
    }
    return urls;
}

int RunListCommand(const ListCommand& command, const std::string& listPath, const std::string& title) {
    std::string request;
    const std::string path = ToUtf8(command.path);
    if (command.kind == ListCommand::Kind::Add) {
        request = AddRequest({{command.label, command.url}}, command.intervalIndex);
    } else if (command.kind == ListCommand::Kind::Import) {
        const FileRead file = ReadWholeFile(path, limits::kMaxImportFileBytes);
        if (file.outcome != FileRead::Outcome::Read) return Fail("cannot read " + path);
        const ImportResult read = ImportList(ListFormatFor(path, file.bytes), file.bytes);
        if (!read.error.empty()) return Fail(path + ": " + read.error);
        if (read.skipped > 0) std::printf("Skipped %d entries that are not web pages.\n", read.skipped);
        request = AddRequest(read.pages, command.intervalIndex);
    } else {
        request = ExportRequest(ListFormatFor(path));
    }

    std::string answer;
    {
        // Taking the guard answers whether an instance runs; while this process holds it, none
        // can start and save over the change.
        SingleInstance instance(title);
        if (instance.outcome() == SingleInstance::Outcome::Unguarded) return Fail(instance.failure());
        if (instance.isFirst()) {
            FileTarget target(listPath);
            answer = AnswerRequest(request, target);
        } else {
            // The instance may still be starting: its channel opens once its window is made.
            const auto start = std::chrono::steady_clock::now();
            for (int round = 0; round < 1000 && answer.empty(); ++round) {
                if (auto got = CommandChannel::send(title, request, kAnswerWaitMs)) answer = std::move(*got);
                if (!answer.empty() ||
                    std::chrono::steady_clock::now() - start > std::chrono::milliseconds(kAnswerWaitMs))
                    break;
                std::this_thread::sleep_for(kRetryPause);
            }
            if (answer.empty()) return Fail("the running Vantrel does not answer");
        }
    }
    if (!answer.starts_with("ok\n")) {
        const std::string why = answer.starts_with("error\n") ? answer.substr(6) : "no answer\n";
        std::fprintf(stderr, "vantrel: %s", why.c_str());
        return 2;
    }
    const std::string body = answer.substr(3);
    if (command.kind != ListCommand::Kind::Export) {
        std::fputs(body.c_str(), stdout);
        return 0;
    }
    ReplaceOptions options;
    options.keepUmaskMode = true;
    if (!ReplaceFileAtomically(path, body, options)) return Fail("cannot write " + path);
    return 0;
}

}  // namespace vantrel
