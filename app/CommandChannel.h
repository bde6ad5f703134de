#pragma once
// The channel over which a second start hands a list command to the running instance: an
// abstract-namespace Unix socket named after the application title and the user id. The server
// takes one request per connection (the client's bytes up to its end of writing) and answers it;
// connections of other users are refused by their credentials.
#include <QObject>
#include <functional>
#include <optional>
#include <string>

class QSocketNotifier;

namespace vantrel {

class CommandChannel : public QObject {
    Q_OBJECT
  public:
    using Handler = std::function<std::string(const std::string& request)>;

    // Listens on the channel of `title`; a channel that cannot be opened is reported by
    // failure() and leaves the program without it (list commands then wait and fail).
    CommandChannel(const std::string& title, Handler handler, QObject* parent = nullptr);
    ~CommandChannel() override;
    const std::string& failure() const { return failure_; }

    // The socket name of `title` (without its leading NUL).
    static std::string socketName(const std::string& title);

    // Sends `request` to the running instance and returns its answer; nullopt when nothing
    // listens on the channel or the answer did not come within `timeoutMs`.
    static std::optional<std::string> send(const std::string& title, const std::string& request,
                                           int timeoutMs);

  private:
    void accept();
    void serve(int client);

    int listener_ = -1;
    QSocketNotifier* notifier_ = nullptr;
    Handler handler_;
    std::string failure_;
};

}  // namespace vantrel
