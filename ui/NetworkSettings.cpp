#include "ui/NetworkSettings.h"

#include "text/Text.h"

namespace vantrel {

namespace {

const QString kGroup = QStringLiteral("Network");

}  // namespace

NetworkSettings NetworkSettings::load(QSettings& file) {
    NetworkSettings s;
    file.beginGroup(kGroup);
    const QString mode = file.value(QStringLiteral("proxyMode")).toString();
    s.proxyMode = mode == QLatin1String("none")     ? ProxyMode::Direct
                  : mode == QLatin1String("manual") ? ProxyMode::Manual
                                                    : ProxyMode::Environment;
    s.proxyHost = file.value(QStringLiteral("proxyHost")).toString();
    s.proxyPort = file.value(QStringLiteral("proxyPort"), 3128).toInt();
    s.proxyUser = file.value(QStringLiteral("proxyUser")).toString();
    s.noProxy = file.value(QStringLiteral("noProxy")).toString();
    s.userAgent = file.value(QStringLiteral("userAgent")).toString();
    s.cookieFile = file.value(QStringLiteral("cookieFile")).toString();
    file.endGroup();
    return s;
}

void NetworkSettings::save(QSettings& file) const {
    file.beginGroup(kGroup);
    file.setValue(QStringLiteral("proxyMode"), proxyMode == ProxyMode::Direct ? QStringLiteral("none")
                                               : proxyMode == ProxyMode::Manual
                                                   ? QStringLiteral("manual")
                                                   : QStringLiteral("environment"));
    file.setValue(QStringLiteral("proxyHost"), proxyHost);
    file.setValue(QStringLiteral("proxyPort"), proxyPort);
    file.setValue(QStringLiteral("proxyUser"), proxyUser);
    file.setValue(QStringLiteral("noProxy"), noProxy);
    file.setValue(QStringLiteral("userAgent"), userAgent);
    file.setValue(QStringLiteral("cookieFile"), cookieFile);
    file.endGroup();
    file.sync();
}

ProxySettings NetworkSettings::proxy(const std::string& password, const ProxySettings::Getenv& getenv) const {
    switch (proxyMode) {
        case ProxyMode::Direct:
            return {};
        case ProxyMode::Manual: {
            if (proxyHost.trimmed().isEmpty()) return {};
            ProxyServer server{proxyHost.trimmed().toStdString(), proxyPort, proxyUser.toStdString(),
                               password};
            return ProxySettings::single(server, noProxy.toStdString());
        }
        case ProxyMode::Environment:
            break;
    }
    return ProxySettings::fromEnvironment(getenv);
}

std::string PageSecretKey(const std::u16string& url) {
    return "page:" + ToUtf8(url);
}

}  // namespace vantrel
