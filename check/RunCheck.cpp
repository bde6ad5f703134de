#include "check/RunCheck.h"

#include <malloc.h>

#include <cerrno>
#include <chrono>
#include <exception>
#include <mutex>
#include <stdexcept>

#include "filter/PageFilter.h"
#include "net/FetchError.h"
#include "net/PageFetcher.h"
#include "text/Crc32.h"
#include "text/Error.h"
#include "text/Text.h"
#include "text/Utf8.h"

namespace vantrel {

namespace {

// The user's words for a failed get: the last line of its message without its closing full stop
// ("Socket Error # 10061\r\nConnection refused." gives "Connection refused").
std::u16string FailureDetail(std::string_view message) {
    if (const size_t lineEnd = message.rfind('\n'); lineEnd != std::string_view::npos)
        message.remove_prefix(lineEnd + 1);
    if (message.size() > 1 && message.back() == '.') message.remove_suffix(1);
    return message.empty() ? u"Unknown failure" : FromUtf8(message);
}

// Large pages are filtered one at a time (see limits::kSerialFilterTextUnits).
std::timed_mutex& LargeFilterTurn() {
    static std::timed_mutex turn;
    return turn;
}
constexpr auto kTurnStep = std::chrono::milliseconds(50);

// Appends to `kept` no more of `piece` than fills it to `keptUnits`.
void Keep(std::u16string& kept, std::u16string_view piece, size_t keptUnits) {
    if (kept.size() < keptUnits) kept.append(piece.substr(0, keptUnits - kept.size()));
}

// The page's request settings as the fetcher takes them; throws Error when its header lines
// cannot be sent (they are checked when saved, so only a file edited by hand gets here).
RequestOptions OptionsOf(const PageRequestSettings& settings) {
    RequestOptions options;
    if (std::string problem = ParseHeaderLines(ToUtf8(settings.headers), options.headers); !problem.empty())
        throw Error("Request headers: " + problem);
    options.userAgent = ToUtf8(settings.userAgent);
    options.user = ToUtf8(settings.authUser);
    options.password = ToUtf8(settings.authPassword);
    return options;
}

}  // namespace

NetworkClue ClueOf(const FetchError& failure) {
    switch (failure.kind()) {
        case FetchErrorKind::ReadTimedOut:
        case FetchErrorKind::NameLookupFailed:
            return NetworkClue::NoAnswer;
        case FetchErrorKind::Socket:
            switch (failure.systemError()) {
                case ENETUNREACH:
                case ENETDOWN:
                case EADDRNOTAVAIL:
                case ENONET:
                    return NetworkClue::NoNetwork;
                case ETIMEDOUT:
                case EHOSTUNREACH:
                case EHOSTDOWN:
                    return NetworkClue::NoAnswer;
                default:
                    return NetworkClue::Answered;
            }
        default:
            return NetworkClue::Answered;
    }
}

DownloadResult RunCheck(PageFetcher& fetcher, const Download& download, size_t keptTextBytes) {
    const auto started = std::chrono::steady_clock::now();
    // Every UTF-16 unit takes at least one byte in UTF-8, so one unit past the history's cap is
    // always past it in bytes too: the history cuts the text and marks it cut.
    const size_t keptUnits = keptTextBytes + 1;
    DownloadResult result;
    try {
        fetcher.setRequestOptions(OptionsOf(download.settings.request));
        if (!download.settings.filtersText()) {
            // A page without filters is judged by its whole text, summed as it is decoded: it is
            // never held whole, so a large page costs neither its memory nor fresh memory's faults.
            Crc32::TextSum sum;
            std::u16string kept;
            const size_t units = fetcher.fetchInPieces(download.url, [&](std::u16string_view piece) {
                sum.add(piece);
                Keep(kept, piece, keptUnits);
            });
            result.detail = FromLatin1(fetcher.lastStatusLine());
            if (units > 0) {
                result.gotText = true;
                result.checksum = sum.text();
                result.textBytes = fetcher.lastTextUtf8Bytes();
                result.text = std::move(kept);
            }
        } else {
            // The filters take the text as it is decoded, up to their size limit: a page past it
            // fails whatever comes after the limit (every unit is at least one byte of UTF-8), so
            // the text stops one unit past, and a large page is never held whole.
            std::u16string text;
            fetcher.fetchInPieces(download.url, [&](std::u16string_view piece) {
                Keep(text, piece, limits::kMaxFilterTextBytes + 1);
            });
            result.detail = FromLatin1(fetcher.lastStatusLine());
            std::unique_lock<std::timed_mutex> turn;
            if (text.size() > limits::kSerialFilterTextUnits && text.size() <= limits::kMaxFilterTextBytes) {
                // In short steps, so that the end of the run does not wait for other pages' turns.
                turn = std::unique_lock(LargeFilterTurn(), std::defer_lock);
                while (!turn.try_lock_for(kTurnStep))
                    if (fetcher.cancelled()) throw std::runtime_error("Cancelled");
            }
            {
                FilterResult filtered =
                    ApplyFilters(std::move(text), download.settings, fetcher.lastContentType());
                if (filtered.ok()) {
                    result.gotText = true;
                    result.checksum = Crc32::checksumText(filtered.text);
                    result.textBytes = Utf8Length(filtered.text);
                    // A copy of what the history keeps: the filtered text's memory goes with it.
                    result.text = filtered.text.substr(0, keptUnits);
                } else {
                    result.detail = FromUtf8(filtered.reason);
                }
            }
            // The parse's blocks stay with this thread's arena until trimmed.
            if (turn.owns_lock()) malloc_trim(0);
        }
    } catch (const FetchError& error) {
        result = DownloadResult{};
        result.detail = FailureDetail(error.what());
        result.clue = ClueOf(error);
    } catch (const std::exception& error) {
        // Every failure of a download makes the check a failed one.
        result = DownloadResult{};
        result.detail = FailureDetail(error.what());
    } catch (...) {
        result = DownloadResult{};
        result.detail = u"Unknown failure";
    }
    result.requestHead = FromUtf8(fetcher.lastRequestHead());
    result.proxy = FromUtf8(fetcher.lastProxy());
    result.durationMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started)
            .count();
    return result;
}

}  // namespace vantrel
