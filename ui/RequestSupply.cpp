#include "ui/RequestSupply.h"

#include <QFile>
#include <QStringList>
#include <chrono>
#include <cstdlib>

#include "net/Url.h"
#include "store/SecretStore.h"
#include "ui/CheckRunner.h"
#include "ui/UserSettings.h"

namespace vantrel {

namespace {

// A cookies file far larger than any browser writes is not read whole into memory.
constexpr qint64 kMaxCookieFileBytes = 16 * 1024 * 1024;

long long NowSeconds() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace

RequestSupply::RequestSupply(const QString& settingsPath, std::shared_ptr<SecretStore> secrets,
                             QObject* parent)
    : QObject(parent),
      settingsPath_(settingsPath),
      secrets_(secrets ? std::move(secrets) : std::shared_ptr<SecretStore>(MakeDesktopSecretStore())) {
    QSettings file(settingsPath_, QSettings::IniFormat);
    network_ = NetworkSettings::load(file);
}

RequestSupply::~RequestSupply() = default;

void RequestSupply::attach(CheckRunner& runner) {
    runner_ = &runner;
    applyProxy();
    if (!network_.cookieFile.isEmpty()) importCookies(network_.cookieFile);
    connect(&runner, &CheckRunner::requestSent, this,
            [this](const QString& url, const QString& head, const QString& proxy) {
                last_[url] = {head, proxy};
                emit requestRecorded(url);
            });
}

std::optional<std::string> RequestSupply::password(const std::string& key) {
    auto it = passwords_.find(key);
    if (it == passwords_.end()) it = passwords_.emplace(key, secrets_->load(key)).first;
    return it->second;
}

void RequestSupply::applyProxy() {
    if (!runner_) return;
    const std::string secret =
        network_.proxyMode == NetworkSettings::ProxyMode::Manual && !network_.proxyUser.isEmpty()
            ? password(kProxySecretKey).value_or(std::string())
            : std::string();
    proxy_ = network_.proxy(secret, [](const char* name) { return std::getenv(name); });
    runner_->setProxy(proxy_);
}

QString RequestSupply::setNetwork(const NetworkSettings& settings, const std::optional<QString>& secret) {
    const bool newCookieFile = settings.cookieFile != network_.cookieFile;
    network_ = settings;
    {
        QSettings file(settingsPath_, QSettings::IniFormat);
        network_.save(file);
    }
    QString why;
    if (secret) {
        if (secret->isEmpty()) {
            secrets_->remove(kProxySecretKey);
            passwords_[kProxySecretKey] = std::nullopt;
        } else if (const std::string failed =
                       secrets_->save(kProxySecretKey, "Vantrel: proxy password", secret->toStdString());
                   !failed.empty()) {
            why = QString::fromStdString(failed);
        } else {
            passwords_[kProxySecretKey] = secret->toStdString();
        }
    }
    applyProxy();
    if (newCookieFile && !network_.cookieFile.isEmpty() && runner_) importCookies(network_.cookieFile);
    return why;
}

bool RequestSupply::hasProxyPassword() {
    return password(kProxySecretKey).has_value();
}

PageFilterSettings RequestSupply::complete(const std::u16string& url, PageFilterSettings settings) {
    PageRequestSettings& request = settings.request;
    if (!request.authUser.empty()) {
        if (const auto found = password(PageSecretKey(url)))
            request.authPassword = QString::fromStdString(*found).toStdU16String();
    }
    if (request.userAgent.empty()) request.userAgent = network_.userAgent.toStdU16String();
    if (!request.cookieFile.empty() && runner_) {
        const std::u16string host = Url::split(url).host;
        const QString file = QString::fromStdU16String(request.cookieFile);
        if (imported_.insert({file, host}).second) importCookies(file, host);
    }
    return settings;
}

QString RequestSupply::setPagePassword(const std::u16string& url, const QString& secret) {
    const std::string key = PageSecretKey(url);
    if (secret.isEmpty()) {
        secrets_->remove(key);
        passwords_[key] = std::nullopt;
        return {};
    }
    const std::string label = "Vantrel: password for " + QString::fromStdU16String(url).toStdString();
    if (const std::string failed = secrets_->save(key, label, secret.toStdString()); !failed.empty())
        return QString::fromStdString(failed);
    passwords_[key] = secret.toStdString();
    return {};
}

bool RequestSupply::hasPagePassword(const std::u16string& url) {
    return password(PageSecretKey(url)).has_value();
}

RequestSupply::Import RequestSupply::importCookies(const QString& path, const std::u16string& onlyHost) {
    Import result;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.error = QStringLiteral("Cannot read %1: %2").arg(path, file.errorString());
        return result;
    }
    if (file.size() > kMaxCookieFileBytes) {
        result.error = QStringLiteral("%1 is too large for a cookies file").arg(path);
        return result;
    }
    const QByteArray bytes = file.readAll();
    if (!runner_) {
        result.lines =
            CookieFile::parse(std::string_view(bytes.constData(), bytes.size()), NowSeconds(), onlyHost)
                .lines;
        return result;
    }
    result.lines = CookieFile::import(*runner_->cookies(), std::string_view(bytes.constData(), bytes.size()),
                                      NowSeconds(), onlyHost);
    return result;
}

// What an import took and refused, one cookie a line.
QString ImportReportText(const RequestSupply::Import& import) {
    if (!import.error.isEmpty()) return import.error;
    QStringList lines;
    int taken = 0;
    for (const CookieLine& line : import.lines) {
        const QString who = QStringLiteral("%1 (%2)").arg(QString::fromStdString(line.name),
                                                          QString::fromStdString(line.domain));
        if (line.refused.empty()) {
            ++taken;
            lines << QStringLiteral("Taken: %1").arg(who);
        } else {
            // A line that is no cookie at all has no name to show.
            const QString what =
                line.name.empty() && line.domain.empty() ? QString() : who + QStringLiteral(": ");
            lines << QStringLiteral("Refused, line %1: %2%3")
                         .arg(line.line)
                         .arg(what, QString::fromStdString(line.refused));
        }
    }
    lines.prepend(QStringLiteral("%1 of %2 cookies taken.").arg(taken).arg(import.lines.size()));
    return lines.join(QLatin1Char('\n'));
}

FetcherOptions RequestSupply::fetcherOptions() const {
    FetcherOptions options;
    options.proxy = proxy_;
    if (runner_) options.cookies = runner_->cookies();
    return options;
}

RequestSupply::LastRequest RequestSupply::lastRequest(const QString& url) const {
    const auto it = last_.constFind(url);
    return it == last_.cend() ? LastRequest{} : *it;
}

}  // namespace vantrel
