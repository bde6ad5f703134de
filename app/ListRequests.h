#pragma once
// The list commands of the command line as requests: written by the starting process, answered
// by the running instance over the command channel, or, when none runs, by the starting process
// itself on the page list file under the single-instance lock.
#include <functional>
#include <set>
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
    // The URLs of the pages whose check is put off until the network is back: only a running
    // instance has them.
    virtual std::vector<std::u16string> waitingForNetwork() const { return {}; }
};

// The request that adds `pages` with `intervalIndex`.
std::string AddRequest(const std::vector<NewPage>& pages, int intervalIndex);
// The request that exports the list in `format`.
std::string ExportRequest(ListFormat format);

// The request that asks which pages wait for the network.
std::string WaitingRequest();

// The answer to `request`: "ok\n" and what it says (a message, or the exported bytes), or
// "error\n" and why.
std::string AnswerRequest(const std::string& request, ListTarget& target);

// The command channel's handler of the running instance: answers each request on `monitor`'s list.
std::function<std::string(const std::string&)> RequestHandlerFor(Monitor& monitor);

// The URLs of the pages that the running instance of `title` puts off until the network is back;
// empty when none runs, or when it does not answer within `timeoutMs`.
std::set<std::u16string> AskWaitingForNetwork(const std::string& title, int timeoutMs);

// Runs an Add, Import or Export command: `listPath` is the page list file, `title` the
// application's. Writes messages to standard output and errors to standard error. Returns the
// exit code: 0, or 2 for a failure.
int RunListCommand(const ListCommand& command, const std::string& listPath, const std::string& title);

}  // namespace vantrel
