#pragma once
// The program-wide network settings of the user, kept in the "Network" group of the settings file
// (ui/UserSettings.h): how to reach the pages (the environment's proxies, none, or a proxy of the
// program's own), a User-Agent for every page, and a browser's cookies file for every page. The
// proxy's password is in the secret store, never here.
#include <QSettings>
#include <QString>
#include <functional>

#include "net/ProxySettings.h"

namespace vantrel {

struct NetworkSettings {
    enum class ProxyMode { Environment, Direct, Manual };
    ProxyMode proxyMode = ProxyMode::Environment;
    QString proxyHost;
    int proxyPort = 3128;
    QString proxyUser;
    QString noProxy;
    QString userAgent;   // empty: the program's own
    QString cookieFile;  // empty: none

    static NetworkSettings load(QSettings& file);
    void save(QSettings& file) const;

    // The proxies the checks use: the program's own with `password`, none, or the environment's
    // (read through `getenv`).
    ProxySettings proxy(const std::string& password, const ProxySettings::Getenv& getenv) const;

    friend bool operator==(const NetworkSettings&, const NetworkSettings&) = default;
};

// The secret store's key of the proxy's password, and of a page's.
inline constexpr char kProxySecretKey[] = "proxy";
std::string PageSecretKey(const std::u16string& url);

}  // namespace vantrel
