#pragma once
// The list commands of the command line as requests: written by the starting process, answered
// by the running instance over the command channel, or, when none runs, by the starting process
// itself on the page list file under the single-instance lock.
#include <functional>
#include <string>
#include <vector>

#include "core/ListCommand.h"
#include "core/PageImport.h"
#include "store/ListImport.h"

namespace vantrel {

class Monitor;
class PageList;

// What a request changes or reads: the running instance's list, or the list file's.
class ListTarget {
  public:
    virtual ~ListTarget() = default;
    virtual const PageList& list() const = 0;
    // Adds the pages not in the list yet and saves once; throws when the save fails.
    virtual ImportSelection add(const std::vector<NewPage>& pages, int intervalIndex) = 0;
};

// The request that adds `pages` with `intervalIndex`.
std::string AddRequest(const std::vector<NewPage>& pages, int intervalIndex);
// The request that exports the list in `format`.
std::string ExportRequest(ListFormat format);

// The answer to `request`: "ok\n" and what it says (a message, or the exported bytes), or
// "error\n" and why.
std::string AnswerRequest(const std::string& request, ListTarget& target);

// The command channel's handler of the running instance: answers each request on `monitor`'s list.
std::function<std::string(const std::string&)> RequestHandlerFor(Monitor& monitor);

// Runs an Add, Import or Export command: `listPath` is the page list file, `title` the
// application's. Writes messages to standard output and errors to standard error. Returns the
// exit code: 0, or 2 for a failure.
int RunListCommand(const ListCommand& command, const std::string& listPath, const std::string& title);

}  // namespace vantrel
