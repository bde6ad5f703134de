#pragma once
// What the checks need beyond a page's stored settings, supplied on the user-interface thread: the
// proxies of the network settings, the passwords from the secret store, the program-wide
// User-Agent, the cookies of a browser's cookies file, and, coming back, the last request each page
// sent. The settings window and the details window change and read it; the checks never wait on
// the secret store more than once per password and run.
#include <QHash>
#include <QObject>
#include <QString>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "filter/FilterSettings.h"
#include "net/CookieFile.h"
#include "net/PageFetcher.h"
#include "ui/NetworkSettings.h"

namespace vantrel {

class CheckRunner;
class SecretStore;

class RequestSupply : public QObject {
    Q_OBJECT
  public:
    // `settingsPath` is the settings file; `secrets` null for the desktop's secret store.
    RequestSupply(const QString& settingsPath, std::shared_ptr<SecretStore> secrets,
                  QObject* parent = nullptr);
    ~RequestSupply() override;

    // Hands the proxies and the program-wide cookies file to `runner` and hears its requests.
    void attach(CheckRunner& runner);

    const NetworkSettings& network() const { return network_; }
    // Saves `settings` and, when `password` is given, keeps it (an empty one is forgotten).
    // Returns why the password was not kept ("" when it was, or none was given): the rest is
    // saved all the same.
    QString setNetwork(const NetworkSettings& settings, const std::optional<QString>& password);
    bool hasProxyPassword();

    // `settings` of the page at `url` completed for a check: its password, the program's
    // User-Agent when it has none of its own; its cookies file read in once per run.
    PageFilterSettings complete(const std::u16string& url, PageFilterSettings settings);
    // The page's password: kept (or forgotten when empty). Returns why it was not kept, or "".
    QString setPagePassword(const std::u16string& url, const QString& password);
    bool hasPagePassword(const std::u16string& url);

    struct Import {
        QString error;  // the file could not be read
        std::vector<CookieLine> lines;
    };
    // Reads the cookies of `path` into the checks' cookies: every cookie, or with `onlyHost` the
    // ones for that host.
    Import importCookies(const QString& path, const std::u16string& onlyHost = {});

    struct LastRequest {
        QString head;   // as sent, credentials and cookie values masked
        QString proxy;  // "host:port", empty when direct
    };
    // The last request of the page at `url` this run; empty when none was sent.
    LastRequest lastRequest(const QString& url) const;

    SecretStore& secrets() { return *secrets_; }
    // The proxies and cookies of the checks, for a fetch of the user's own (a filter preview).
    FetcherOptions fetcherOptions() const;

  signals:
    void requestRecorded(const QString& url);

  private:
    std::optional<std::string> password(const std::string& key);
    void applyProxy();

    QString settingsPath_;
    std::shared_ptr<SecretStore> secrets_;
    NetworkSettings network_;
    CheckRunner* runner_ = nullptr;
    ProxySettings proxy_;                                          // as handed to the runner
    std::map<std::string, std::optional<std::string>> passwords_;  // looked up this run
    std::set<std::pair<QString, std::u16string>> imported_;        // page cookie files read in
    // Looked up by hash: written for every check, hundreds a second in a large cycle.
    QHash<QString, LastRequest> last_;
};

// What an import took and refused, in words for the user: a count, then one cookie a line.
QString ImportReportText(const RequestSupply::Import& import);

}  // namespace vantrel
