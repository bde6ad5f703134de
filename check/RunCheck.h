#pragma once
// One check of a page on the calling thread: the download, the page's filters when it has any,
// the checksum of the text it judges and as much of that text as the history keeps.
#include <cstddef>

#include "core/CheckCycle.h"

namespace vantrel {

class FetchError;
class PageFetcher;

// What a failed get says about this computer's network. No route or no address to send from
// (ENETUNREACH, ENETDOWN, EADDRNOTAVAIL, ENONET) is NoNetwork: the system refused before any server
// was asked. Time-outs, a host unreachable (EHOSTUNREACH, EHOSTDOWN: one machine on its network may
// be off) and name servers that give no answer are NoAnswer: one server or the whole network.
// Anything a server or name server said (refused, reset, an HTTP error, no such name, TLS) is
// Answered.
NetworkClue ClueOf(const FetchError& failure);

// `keptTextBytes` is the most of a text, in UTF-8 bytes, that the history keeps: the result's
// `text` holds at most one UTF-16 unit more, so the history still sees that the text was cut,
// while the checksum and `textBytes` cover the whole text. A failure of any kind (the get, a
// filter, an empty page) is a result with `gotText` false, the user's words for it in `detail`
// and its ClueOf in `clue`; it never throws.
DownloadResult RunCheck(PageFetcher& fetcher, const Download& download, size_t keptTextBytes);

}  // namespace vantrel
