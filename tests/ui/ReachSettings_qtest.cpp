// The settings that reach a page: the Request tab of a page (header lines refused with the reason,
// the password kept in the secret store or refused with the store's reason while the rest is
// saved, a cookies file's import told cookie by cookie) and the Network section of the settings
// window (kept in the "Network" group of the settings file, the proxy's password in the store).
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSettings>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>

#include "store/HistoryStore.h"
#include "support/FakeSecretStore.h"
#include "ui/NetworkPanel.h"
#include "ui/RequestPanel.h"
#include "ui/RequestSupply.h"
#include "ui/SettingsWindow.h"

using namespace vantrel;

namespace {

const QString kPageUrl = QStringLiteral("http://shop.example.test/account");

}  // namespace

class ReachSettingsTest : public QObject {
    Q_OBJECT
  private slots:
    void requestTabSavesWhatCanBeSentAndKeepsThePasswordApart();
    void networkSectionKeepsItsGroupAndTheProxyPasswordApart();
};

void ReachSettingsTest::requestTabSavesWhatCanBeSentAndKeepsThePasswordApart() {
    QTemporaryDir dir;
    HistoryStore store(dir.filePath("history.db").toStdString());
    auto secrets = std::make_shared<test::FakeSecretStore>();
    RequestSupply supply(dir.filePath("settings.ini"), secrets);
    const std::u16string url = kPageUrl.toStdU16String();
    {
        RequestPanel panel(store, supply, kPageUrl);
        panel.headersEdit()->setPlainText(QStringLiteral("X-Token: abc\nHost: evil.test"));
        QVERIFY(!panel.save());
        QCOMPARE(panel.message(), QStringLiteral("Line 2: Host is always the page's own"));
        QCOMPARE(store.settings(url).request, PageRequestSettings{});

        panel.headersEdit()->setPlainText(QStringLiteral("X-Token: abc"));
        panel.userAgentEdit()->setText(QStringLiteral("Mozilla/5.0"));
        panel.userEdit()->setText(QStringLiteral("me"));
        QTest::keyClicks(panel.passwordEdit(), QStringLiteral("s3cret"));
        QVERIFY(panel.save());
        QCOMPARE(panel.message(), QStringLiteral("Saved."));
        QCOMPARE(store.settings(url).request,
                 (PageRequestSettings{u"X-Token: abc", u"Mozilla/5.0", u"me", u"", u""}));
        QCOMPARE(secrets->secrets.at(PageSecretKey(url)), std::string("s3cret"));
        QVERIFY(panel.passwordEdit()->text().isEmpty());
        // The check gets the password and the page's own User-Agent.
        const PageFilterSettings forCheck = supply.complete(url, store.settings(url));
        QCOMPARE(forCheck.request.authPassword, std::u16string(u"s3cret"));
    }
    {
        // No secret service: the password is refused with the reason, the rest is saved.
        secrets->why = "No secret service is running (no bus)";
        RequestPanel panel(store, supply, kPageUrl);
        QCOMPARE(panel.userEdit()->text(), QStringLiteral("me"));
        panel.userAgentEdit()->clear();
        QTest::keyClicks(panel.passwordEdit(), QStringLiteral("other"));
        QVERIFY(!panel.save());
        QCOMPARE(panel.message(),
                 QStringLiteral("No secret service is running (no bus): the password was not "
                                "kept; the other settings were saved."));
        QCOMPARE(store.settings(url).request.userAgent, std::u16string());
        QCOMPARE(secrets->secrets.at(PageSecretKey(url)), std::string("s3cret"));
    }
    {
        // A cookies file: what was taken and what refused, and why.
        QFile file(dir.filePath("cookies.txt"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(
            "# Netscape HTTP Cookie File\n.example.test\tTRUE\t/\tTRUE\t0\tsid\tx\n"
            "other.test\tFALSE\t/\tFALSE\t0\tid\t7\nbroken\n");
        file.close();
        RequestPanel panel(store, supply, kPageUrl);
        panel.cookieFileEdit()->setText(file.fileName());
        panel.importCookies();
        QCOMPARE(panel.importReport(),
                 QStringLiteral("1 of 3 cookies taken.\n"
                                "Taken: sid (.example.test)\n"
                                "Refused, line 3: id (other.test): it is not for shop.example.test\n"
                                "Refused, line 4: not seven fields separated by tabs"));
        QCOMPARE(panel.lastRequestText(), QStringLiteral("No check has sent a request in this run yet."));
    }
}

void ReachSettingsTest::networkSectionKeepsItsGroupAndTheProxyPasswordApart() {
    QTemporaryDir dir;
    auto secrets = std::make_shared<test::FakeSecretStore>();
    RequestSupply supply(dir.filePath("settings.ini"), secrets);
    SettingsWindow window;
    auto* panel = new NetworkPanel(supply);
    window.addSection(panel, QStringLiteral("&Network"), [panel] { return panel->apply(); });
    QCOMPARE(window.tabs()->count(), 1);
    QVERIFY(panel->environmentButton()->isChecked());
    QVERIFY(!panel->hostEdit()->isEnabled());

    panel->manualButton()->setChecked(true);
    QVERIFY(panel->hostEdit()->isEnabled());
    window.accept();  // no host: refused, the window stays
    QCOMPARE(panel->message(), QStringLiteral("The proxy needs a host."));
    panel->hostEdit()->setText(QStringLiteral("proxy.example.test"));
    panel->portBox()->setValue(8080);
    panel->userEdit()->setText(QStringLiteral("me"));
    QTest::keyClicks(panel->passwordEdit(), QStringLiteral("pw"));
    panel->noProxyEdit()->setText(QStringLiteral("localhost, .intranet.test"));
    panel->userAgentEdit()->setText(QStringLiteral("Mozilla/5.0 everywhere"));
    QVERIFY(panel->apply());
    QCOMPARE(secrets->secrets.at(kProxySecretKey), std::string("pw"));

    QSettings file(dir.filePath("settings.ini"), QSettings::IniFormat);
    file.beginGroup(QStringLiteral("Network"));
    QCOMPARE(file.value("proxyMode").toString(), QStringLiteral("manual"));
    QCOMPARE(file.value("proxyHost").toString(), QStringLiteral("proxy.example.test"));
    QCOMPARE(file.value("proxyPort").toInt(), 8080);
    QCOMPARE(file.value("noProxy").toString(), QStringLiteral("localhost, .intranet.test"));
    QVERIFY(!file.allKeys().join(',').contains(QStringLiteral("ass")));  // no password key
    const ProxySettings proxy =
        supply.network().proxy("pw", [](const char*) -> const char* { return nullptr; });
    QCOMPARE(proxy.proxyFor(false, "www.intranet.test", 80), nullptr);
    QCOMPARE(proxy.proxyFor(true, "example.test", 443)->authority(), std::string("proxy.example.test:8080"));
    // The program-wide User-Agent stands in for a page without its own.
    QCOMPARE(supply.complete(u"http://a.test/", {}).request.userAgent,
             std::u16string(u"Mozilla/5.0 everywhere"));

    // Without a service the section says so at once, and a new password is refused.
    secrets->why = "No secret service is running (no bus)";
    NetworkPanel again(supply);
    QCOMPARE(again.message(),
             QStringLiteral("No secret service is running (no bus): passwords cannot be kept."));
    QTest::keyClicks(again.passwordEdit(), QStringLiteral("new"));
    QVERIFY(!again.apply());
    QCOMPARE(secrets->secrets.at(kProxySecretKey), std::string("pw"));
}

QTEST_MAIN(ReachSettingsTest)
#include "ReachSettings_qtest.moc"
