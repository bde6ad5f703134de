#pragma once
// One check of a page on the calling thread: the download, the page's filters when it has any,
// the checksum of the text it judges and as much of that text as the history keeps.
#include <cstddef>

#include "core/CheckCycle.h"

namespace vantrel {

class PageFetcher;

// `keptTextBytes` is the most of a text, in UTF-8 bytes, that the history keeps: the result's
// `text` holds at most one UTF-16 unit more, so the history still sees that the text was cut,
// while the checksum and `textBytes` cover the whole text. A failure of any kind (the get, a
// filter, an empty page) is a result with `gotText` false and the user's words for it in
// `detail`; it never throws.
DownloadResult RunCheck(PageFetcher& fetcher, const Download& download, size_t keptTextBytes);

}  // namespace vantrel
