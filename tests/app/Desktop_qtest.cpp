// The program on a real desktop (scripts/with-desktop.sh, on X11 and with --wayland): what the
// desktop's notification daemon receives, a click on the daemon's bubble, the icon's menu as the
// panel's status tray reads it, and a start as a Wayland client.
#include <QRegularExpression>
#include <QtTest>

#include "ProgramFixture.h"

using namespace vantrel::test;

namespace {

// From the bubble's bottom right corner to a point inside its last button (the daemon's padding
// and half a button).
constexpr int kButtonInset = 32;

bool onWayland() {
    return qEnvironmentVariable("QT_QPA_PLATFORM") == QLatin1String("wayland");
}

// The reply of a call on the session bus, its white space folded, or empty when the call failed.
QString busCall(const QStringList& args) {
    QProcess process;
    process.start("dbus-send", QStringList{"--session", "--print-reply"} + args);
    if (!process.waitForFinished(timeoutMs()) || process.exitCode() != 0) return {};
    return QString::fromUtf8(process.readAllStandardOutput()).simplified();
}

QString busProperty(const QString& service, const QString& path, const QString& interface,
                    const QString& name) {
    return busCall({"--dest=" + service, path, "org.freedesktop.DBus.Properties.Get", "string:" + interface,
                    "string:" + name});
}

// Every Notify call on the session bus, as dbus-monitor prints it (white space folded).
class NoticeMonitor {
  public:
    NoticeMonitor() {
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.start("dbus-monitor", {"--session", "interface='org.freedesktop.Notifications'"});
        // It names itself (NameAcquired, NameLost) once it listens.
        ready_ = waitFor([this] { return read().contains("NameLost"); }, timeoutMs());
    }
    ~NoticeMonitor() {
        process_.kill();
        process_.waitForFinished(timeoutMs());
    }
    bool ready() const { return ready_; }
    QStringList notifyCalls() {
        QStringList calls;
        for (const QString& message : read().simplified().split("method call "))
            if (message.contains("member=Notify ")) calls << message;
        return calls;
    }
    // Waits for the Notify call that carries `summary`; empty when none came.
    QString waitForNotice(const QString& summary) {
        QString found;
        waitFor(
            [&] {
                for (const QString& call : notifyCalls())
                    if (call.contains("string \"" + summary + "\"")) found = call;
                return !found.isEmpty();
            },
            timeoutMs());
        return found;
    }

  private:
    QString read() {
        output_ += QString::fromUtf8(process_.readAll());
        return output_;
    }
    QProcess process_;
    QString output_;
    bool ready_ = false;
};

// A page list of one page at `url`, due at once, whose stored status and checksum make the first
// check announce it: a checksum that the page's text does not have ("is changed."), or the
// offline status ("is online.").
QByteArray onePage(const QByteArray& label, const QByteArray& url, bool offline) {
    return "[main]\r\ncount=1\r\nstart=0\r\nsort=0\r\nrecheck=0\r\n[web1]\r\ncaption=" + label +
           "\r\nstatus=" + (offline ? "2" : "0") + "\r\nitem1=" + url +
           "\r\nitem2=8\r\nitem3=0\r\nitem4=" + (offline ? "" : "CRC of a text above is: 12345678") + "\r\n";
}

bool onBus(const QString& name) {
    return busCall(
               {"--dest=org.freedesktop.DBus", "/", "org.freedesktop.DBus.NameHasOwner", "string:" + name})
        .endsWith("boolean true");
}

// The item of process `pid` in the panel's status tray: {service, path}, or empty when it has none.
QStringList trayItem(qint64 pid) {
    static const QRegularExpression item("string \"([^\"/]+)(/[^\"]*)\"");
    const QString items = busProperty("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
                                      "org.kde.StatusNotifierWatcher", "RegisteredStatusNotifierItems");
    for (const QRegularExpressionMatch& match : item.globalMatch(items)) {
        const QString owner =
            busCall({"--dest=org.freedesktop.DBus", "/", "org.freedesktop.DBus.GetConnectionUnixProcessID",
                     "string:" + match.captured(1)});
        if (owner.endsWith(" uint32 " + QString::number(pid))) return {match.captured(1), match.captured(2)};
    }
    return {};
}

}  // namespace

class DesktopTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void daemonGetsTheProgramsNoticeAndItsBubbleOpensTheRightWindow();
    void trayMenuShowsRechecksAndExits();
    void startsAsAWaylandClient();

  private:
    // Starts the program over `pageList` on this desktop's session bus, hidden unless `args` say.
    QProcess* start(Program& program, const QByteArray& pageList, const QStringList& args = {"-s"});
    ScriptedServer server_;
};

void DesktopTest::initTestCase() {
    // Never a silent pass outside the desktop: every test here needs it.
    QVERIFY2(onBus("org.freedesktop.Notifications") && onBus("org.kde.StatusNotifierWatcher"),
             "run under scripts/with-desktop.sh");
    QVERIFY(server_.listening());
    server_.setBody("/page", "hello\n");
    // The bubble stays up while the test finds it on a busy machine: the daemon's own timeout,
    // not the program's three seconds (what the daemon receives stays as sent).
    QProcess::execute("xfconf-query", {"-c", "xfce4-notifyd", "-p", "/expire-timeout-allow-override", "-n",
                                       "-t", "bool", "-s", "false"});
    QProcess::execute("xfconf-query",
                      {"-c", "xfce4-notifyd", "-p", "/expire-timeout", "-n", "-t", "int", "-s", "60"});
    if (onWayland() && !qEnvironmentVariable("WAYLAND_DISPLAY").startsWith('/'))
        // The program runs with a runtime folder of its own, where the compositor has no socket.
        qputenv("WAYLAND_DISPLAY",
                (qEnvironmentVariable("XDG_RUNTIME_DIR") + '/' + qEnvironmentVariable("WAYLAND_DISPLAY"))
                    .toLocal8Bit());
}

QProcess* DesktopTest::start(Program& program, const QByteArray& pageList, const QStringList& args) {
    program.keepSessionBus = true;
    if (!program.valid() || !program.writeDataFile(pageList)) return nullptr;
    return program.start(args);
}

// The notification names the program and acts: a click on the bubble of a change opens that
// page's changes, on any other it brings the hidden main window back.
void DesktopTest::daemonGetsTheProgramsNoticeAndItsBubbleOpensTheRightWindow() {
    if (onWayland()) QSKIP("the X11 desktop's test");
    const QByteArray url = QByteArray::fromStdString(server_.url8("/page"));
    // XFCE's daemon closes its bubble on a click and shows every action as a button, the
    // default one too, in the order sent: the default action's is the last, at the bottom right.
    const auto clickBubble = [] {
        const QStringList found =
            run("xdotool", {"search", "--sync", "--onlyvisible", "--limit", "1", "--classname",
                            "^xfce4-notifyd$", "getwindowgeometry", "--shell", "%1"});
        QMap<QString, int> geometry;
        for (const QString& line : found) geometry[line.section('=', 0, 0)] = line.section('=', 1).toInt();
        if (!geometry.value("WIDTH") || !geometry.value("HEIGHT")) return false;
        return run("xdotool", {"mousemove", "--window", QString::number(geometry["WINDOW"]),
                               QString::number(geometry["WIDTH"] - kButtonInset),
                               QString::number(geometry["HEIGHT"] - kButtonInset), "click", "1"})
            .isEmpty();
    };
    {
        NoticeMonitor monitor;
        QVERIFY(monitor.ready());
        Program program;
        QProcess* process = start(program, onePage("News & <b>views</b>", url, false));
        QVERIFY(process);
        const QString notice = monitor.waitForNotice("\"News & <b>views</b>\" is changed.");
        QVERIFY2(!notice.isEmpty(), qPrintable(monitor.notifyCalls().join('\n') + process->readAll()));
        qInfo("the daemon received: %s", qPrintable(notice));
        QVERIFY2(notice.contains("string \"Vantrel\" uint32 0 string \"io.github.vantrel.Vantrel\" "
                                 "string \"\"News & <b>views</b>\" is changed.\" string \"\" "
                                 "array [ string \"open\" string \"Open Page\" string \"default\" "
                                 "string \"Show Changes\" ]"),
                 qPrintable(notice));
        QVERIFY2(notice.contains(
                     "dict entry( string \"desktop-entry\" variant string \"io.github.vantrel.Vantrel\" )"),
                 qPrintable(notice));
        QVERIFY2(notice.contains("dict entry( string \"urgency\" variant byte 1 )"), qPrintable(notice));
        QVERIFY(notice.endsWith("int32 3000"));
        QVERIFY(clickBubble());
        QVERIFY(waitFor([&] { return !visibleWindows(process->processId(), "^Changes - News").isEmpty(); },
                        timeoutMs()));
        QVERIFY(!mainWindowShown(process));
        QVERIFY(endsWithZero(process, SIGTERM));
    }
    NoticeMonitor monitor;
    QVERIFY(monitor.ready());
    Program program;
    QProcess* process = start(program, onePage("Back", url, true));
    QVERIFY(process);
    const QString notice = monitor.waitForNotice("\"Back\" is online.");
    QVERIFY2(notice.contains("array [ string \"default\" string \"Show Vantrel\" ]") &&
                 notice.contains("variant byte 0"),
             qPrintable(notice));
    QVERIFY(clickBubble());
    QVERIFY(!waitForMainWindow(process).isEmpty());
    QVERIFY(endsWithZero(process, SIGTERM));
}

// The panel reads the icon's menu over D-Bus (com.canonical.dbusmenu) and sends its clicks back.
void DesktopTest::trayMenuShowsRechecksAndExits() {
    if (onWayland()) QSKIP("the X11 desktop's test");
    Program program;
    QProcess* process =
        start(program, onePage("Menu", QByteArray::fromStdString(server_.url8("/page")), false));
    QVERIFY(process);
    QStringList item;
    QVERIFY(waitFor(
        [&] {
            item = trayItem(process->processId());
            return !item.isEmpty();
        },
        timeoutMs()));
    static const QRegularExpression pathIn("object path \"([^\"]+)\"");
    const QString menuPath =
        pathIn.match(busProperty(item[0], item[1], "org.kde.StatusNotifierItem", "Menu")).captured(1);
    QVERIFY(!menuPath.isEmpty());
    const QString layout = busCall({"--dest=" + item[0], menuPath, "com.canonical.dbusmenu.GetLayout",
                                    "int32:0", "int32:-1", "array:string:"});
    // Each item: "struct { int32 ID array [ dict entry( string "label" variant string "..." ) ... ] ...".
    QMap<QString, QString> ids;
    QStringList labels;
    static const QRegularExpression label("^(\\d+) .*?string \"label\" variant string \"([^\"]*)\"");
    for (const QString& entry : layout.split("struct { int32 ")) {
        const QRegularExpressionMatch match = label.match(entry);
        if (!match.hasMatch()) continue;
        const QString text = match.captured(2).remove('_');
        labels << text;
        ids[text] = match.captured(1);
    }
    QCOMPARE(labels, QStringList({"Show Vantrel", "Recheck All", "Do Not Disturb", "For 1 Hour",
                                  "Until Tomorrow Morning", "Until Turned Off", "Turn Off", "Settings\u2026",
                                  "Exit"}));
    const auto click = [&](const QString& text) {
        return !busCall({"--dest=" + item[0], menuPath, "com.canonical.dbusmenu.Event", "int32:" + ids[text],
                         "string:clicked", "variant:int32:0", "uint32:0"})
                    .isNull();
    };
    QVERIFY(!mainWindowShown(process));
    QVERIFY(click("Show Vantrel"));
    QVERIFY(!waitForMainWindow(process).isEmpty());
    // The main window's question; Escape answers No.
    QVERIFY(click("Recheck All"));
    QVERIFY(
        waitFor([&] { return !visibleWindows(process->processId(), "^Question$").isEmpty(); }, timeoutMs()));
    run("xdotool", {"search", "--onlyvisible", "--pid", QString::number(process->processId()), "--name",
                    "^Question$", "windowactivate", "--sync", "%1", "key", "Escape"});
    QVERIFY(
        waitFor([&] { return visibleWindows(process->processId(), "^Question$").isEmpty(); }, timeoutMs()));
    QVERIFY(click("Exit"));
    QVERIFY(process->waitForFinished(timeoutMs()));
    QCOMPARE(process->exitStatus(), QProcess::NormalExit);
    QCOMPARE(process->exitCode(), 0);
}

// On Wayland the window is the compositor's toplevel, the icon a StatusNotifierItem and the
// announcement a notification of the service, as on X11.
void DesktopTest::startsAsAWaylandClient() {
    if (!onWayland()) QSKIP("the Wayland desktop's test");
    NoticeMonitor monitor;
    QVERIFY(monitor.ready());
    qputenv("WAYLAND_DEBUG", "client");
    Program program;
    QProcess* process =
        start(program, onePage("Wayland", QByteArray::fromStdString(server_.url8("/page")), false), {});
    qunsetenv("WAYLAND_DEBUG");
    QVERIFY(process);
    QByteArray log;
    const auto logged = [&](const QByteArray& what) {
        return waitFor(
            [&] {
                log += process->readAll();
                return log.contains(what);
            },
            timeoutMs());
    };
    QVERIFY2(logged("xdg_toplevel@") && logged(".set_title(\"Vantrel "), log.right(2000).constData());
    QVERIFY(logged(".set_app_id(\"io.github.vantrel.Vantrel\")"));
    QVERIFY(logged(".attach(wl_buffer@"));
    QVERIFY(waitFor([&] { return !trayItem(process->processId()).isEmpty(); }, timeoutMs()));
    QVERIFY(!monitor.waitForNotice("\"Wayland\" is changed.").isEmpty());
    QVERIFY(endsWithZero(process, SIGTERM));
}

QTEST_GUILESS_MAIN(DesktopTest)
#include "Desktop_qtest.moc"
