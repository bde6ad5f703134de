// The real program reaching pages an anonymous direct client cannot read: a page behind Basic
// authentication (nginx auth_basic) with its password in a GNOME Keyring, a page that needs the
// session cookie of a browser's cookies file, and an https page through a proxy that wants its own
// password (tinyproxy). The program runs on a session bus of the test's own, so no test touches
// the user's keyring; every page must be checked online.
#include <QtTest>

#include "ProgramFixture.h"
#include "store/HistoryStore.h"
#include "support/NginxServer.h"
#include "support/TinyproxyServer.h"

using namespace vantrel::test;

namespace {

const char kProxyUser[] = "proxyuser";
const char kProxyPassword[] = "proxy-pw";

// A session bus with an unlocked GNOME Keyring, for one test; stopped with the object.
class KeyringBus {
  public:
    explicit KeyringBus(const QString& home) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home);
        env.insert("XDG_DATA_HOME", home + "/data");
        env.remove("DISPLAY");
        QProcess bus;
        bus.setProcessEnvironment(env);
        bus.start("dbus-daemon", {"--session", "--fork", "--print-address=1", "--print-pid=1"});
        if (!bus.waitForFinished(timeoutMs()) || bus.exitCode() != 0) {
            error = "dbus-daemon did not start: " + bus.readAllStandardError();
            return;
        }
        const QStringList lines =
            QString::fromUtf8(bus.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        if (lines.size() < 2) {
            error = "dbus-daemon said no address";
            return;
        }
        address = lines[0].trimmed();
        pid_ = lines[1].trimmed().toLongLong();
        env.insert("DBUS_SESSION_BUS_ADDRESS", address);
        env_ = env;
        // Made with a password the test knows, given on standard input: no prompt is ever needed.
        QProcess unlock;
        unlock.setProcessEnvironment(env_);
        unlock.start("gnome-keyring-daemon", {"--unlock", "--components=secrets"});
        unlock.write("known");
        unlock.closeWriteChannel();
        if (!unlock.waitForFinished(timeoutMs())) error = "gnome-keyring-daemon did not start";
    }
    ~KeyringBus() {
        if (pid_ > 0) ::kill(static_cast<pid_t>(pid_), SIGTERM);
    }

    // Keeps a password as the program's secret store keeps it (its schema's name and "key").
    bool store(const QString& key, const QString& secret) const {
        QProcess tool;
        tool.setProcessEnvironment(env_);
        tool.start("secret-tool",
                   {"store", "--label=test", "xdg:schema", "org.vantrel.Password", "key", key});
        tool.write(secret.toUtf8());
        tool.closeWriteChannel();
        return tool.waitForFinished(timeoutMs()) && tool.exitCode() == 0;
    }

    QString error, address;

  private:
    QProcessEnvironment env_;
    qint64 pid_ = 0;
};

}  // namespace

class ProgramReachTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() {
        if (qEnvironmentVariableIsEmpty("DISPLAY")) QSKIP("needs an X display with a notification area");
        for (const char* tool :
             {"/usr/bin/dbus-daemon", "/usr/bin/gnome-keyring-daemon", "/usr/bin/secret-tool"})
            if (!QFileInfo(tool).isExecutable()) QSKIP(qPrintable(QString(tool) + " is missing"));
    }

    void pagesBehindALoginACookieAndAProxyAreOnline() {
        NginxServer nginx;
        QVERIFY2(nginx.error.empty(), nginx.error.c_str());
        TinyproxyServer proxy(kProxyUser, kProxyPassword);
        if (!proxy.installed) QSKIP(proxy.error.c_str());
        QVERIFY2(proxy.error.empty(), proxy.error.c_str());
        Program program;
        QVERIFY(program.valid());
        const QString dir = QFileInfo(program.dataFile()).absolutePath();
        KeyringBus bus(dir);
        QVERIFY2(bus.error.isEmpty(), qPrintable(bus.error));

        const QString privatePage = QString::fromStdString(nginx.plainUrl("/private.html"));
        const QString membersPage = QString::fromStdString(nginx.plainUrl("/members"));
        const QString tlsPage =
            QString::fromStdU16String(nginx.url("https", "localhost", nginx.tlsPort, "/plain.html"));
        QByteArray list = "[main]\r\ncount=3\r\nstart=0\r\nsort=0\r\nrecheck=0\r\n";
        int n = 0;
        for (const QString& url : {privatePage, membersPage, tlsPage}) {
            const QByteArray number = QByteArray::number(++n);
            list += "[web" + number + "]\r\ncaption=Page " + number +
                    "\r\nstatus=2\r\nitem1=" + url.toUtf8() + "\r\nitem2=0\r\nitem3=\r\nitem4=\r\n";
        }
        QVERIFY(program.writeDataFile(list));
        {
            QFile cookies(dir + "/cookies.txt");
            QVERIFY(cookies.open(QIODevice::WriteOnly));
            cookies.write(
                "# Netscape HTTP Cookie File\n#HttpOnly_127.0.0.1\tFALSE\t/\tFALSE\t0\tsession\ts3cret\n");
        }
        {
            // The plain pages are exempt from the proxy; the https page goes through it.
            QSettings settings(dir + "/settings.ini", QSettings::IniFormat);
            settings.beginGroup("Network");
            settings.setValue("proxyMode", "manual");
            settings.setValue("proxyHost", "127.0.0.1");
            settings.setValue("proxyPort", proxy.port);
            settings.setValue("proxyUser", kProxyUser);
            settings.setValue("noProxy", "127.0.0.1");
            settings.setValue("cookieFile", dir + "/cookies.txt");
        }
        const std::string historyPath = vantrel::HistoryStore::PathBeside(program.dataFile().toStdString());
        {
            vantrel::HistoryStore history(historyPath);
            vantrel::PageFilterSettings login;
            login.request.authUser = QString(kBasicUser).toStdU16String();
            history.saveSettings(privatePage.toStdU16String(), login);
            history.flush();
        }
        QVERIFY(bus.store("proxy", kProxyPassword));
        QVERIFY(bus.store("page:" + privatePage, kBasicPassword));

        program.extraEnv.insert("DBUS_SESSION_BUS_ADDRESS", bus.address);
        program.extraEnv.insert("SSL_CERT_FILE", QString::fromStdString(nginx.caFile()));
        QProcess* process = program.start({"-s"});
        const bool running = waitRunning(process);
        QVERIFY2(running, qPrintable(QString("state %1, flock %2, windows %3, output: %4")
                                         .arg(int(process->state()))
                                         .arg(holdsFlock(process->processId()))
                                         .arg(visibleWindows(process->processId()).join(','))
                                         .arg(QString::fromUtf8(process->readAll()))));
        const auto lastDetail = [&](const QString& url) {
            vantrel::HistoryStore history(historyPath, vantrel::HistoryStore::Access::ReadOnly);
            const auto last = history.summary(url.toStdU16String()).last;
            return last ? QString::fromStdU16String(last->detail) : QString();
        };
        for (const QString& url : {privatePage, membersPage, tlsPage}) {
            QVERIFY2(waitFor([&] { return !lastDetail(url).isEmpty(); }, timeoutMs()), qPrintable(url));
            QCOMPARE(lastDetail(url), QString("HTTP/1.1 200 OK"));
        }
        QVERIFY(proxy.requestsLogged("CONNECT") >= 1);
        QVERIFY(endsWithZero(process, SIGTERM));
        const auto sections = readSections(program.dataFile());
        for (const char* web : {"web1", "web2", "web3"})
            QCOMPARE(sections[web].value(1), (QPair<QString, QString>{"status", "0"}));
    }
};

QTEST_GUILESS_MAIN(ProgramReachTest)
#include "ProgramReach_qtest.moc"
