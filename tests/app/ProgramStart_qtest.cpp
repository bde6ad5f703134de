// The built program's start, run as a process: one instance at a time (also when the lock file
// cannot be used), "-s" in the first or second argument, a start without a notification area, and
// an end by signal that never waits on an error box or on a tray.
// Every case runs its own copy of the executable; the single-instance guard is the user's own,
// so the cases run one after the other.
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QtTest>

#include "ProgramFixture.h"
#include "app/DisplayCheck.h"

using namespace vantrel::test;

class ProgramStartTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() {
        if (qEnvironmentVariableIsEmpty("DISPLAY")) QSKIP("needs an X display with a notification area");
        QVERIFY(QFileInfo(VANTREL_EXE).isExecutable());
    }

    void aSecondInstanceEndsAtOnceAndTouchesNothing() {
        Program program;
        QVERIFY(program.valid());
        const QByteArray bytes = threeEntries();
        QVERIFY(program.writeDataFile(bytes));
        const QDateTime written = QFileInfo(program.dataFile()).lastModified();
        QProcess* first = program.start({"-s"});
        QVERIFY(waitRunning(first));

        for (const QStringList& args : {QStringList{"-s"}, QStringList{}}) {
            QProcess* second = program.start(args);
            QVERIFY(second->waitForFinished(timeoutMs()));
            QCOMPARE(second->exitStatus(), QProcess::NormalExit);
            QCOMPARE(second->exitCode(), 0);
            QCOMPARE(second->readAll(), QByteArray());  // silently
        }
        QCOMPARE(program.dataBytes(), bytes);
        QCOMPARE(QFileInfo(program.dataFile()).lastModified(), written);

        QCOMPARE(first->state(), QProcess::Running);
        QVERIFY(holdsFlock(first->processId()));
        QVERIFY(!waitFor([&] { return mainWindowShown(first); }, settleMs()));
        QVERIFY(endsWithZero(first, SIGTERM));
    }

    void aKilledInstanceDoesNotBlockTheNextStart() {
        Program program;
        QVERIFY(program.valid());
        QProcess* killed = program.start({"-s"});
        QVERIFY(waitRunning(killed));
        killed->kill();
        QVERIFY(killed->waitForFinished(timeoutMs()));
        QVERIFY(!QFileInfo::exists(program.dataFile()));  // a killed run saves nothing
        QProcess* next = program.start({"-s"});
        QVERIFY(waitRunning(next));
        QVERIFY(endsWithZero(next, SIGTERM));
        QCOMPARE(readSections(program.dataFile())["main"], mainSection("0"));
    }

    void switchInTheFirstOrSecondArgumentStartsHidden_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("hidden");
        QTest::newRow("-s") << QStringList{"-s"} << true;
        QTest::newRow("x -s") << QStringList{"x", "-s"} << true;
        QTest::newRow("-s x") << QStringList{"-s", "x"} << true;
        QTest::newRow("-S") << QStringList{"-S"} << false;
        QTest::newRow("x y -s") << QStringList{"x", "y", "-s"} << false;
        QTest::newRow("none") << QStringList{} << false;
        QTest::newRow("-s with a blank") << QStringList{"-s "} << false;
    }

    void switchInTheFirstOrSecondArgumentStartsHidden() {
        QFETCH(QStringList, args);
        QFETCH(bool, hidden);
        Program program;
        QVERIFY(program.valid());
        QProcess* process = program.start(args);
        QVERIFY(waitRunning(process));
        if (hidden) {
            QVERIFY(!waitFor([&] { return mainWindowShown(process); }, settleMs()));
        } else {
            QVERIFY(waitFor([&] { return mainWindowShown(process); }, timeoutMs()));
        }
        QVERIFY(endsWithZero(process, SIGTERM));
    }

    void withoutANotificationAreaTheErrorIsShownAndTheFileKept() {
        const vantrel::test::XvfbDisplay xvfb;
        QVERIFY2(!xvfb.name().empty(), xvfb.error().c_str());
        const QString display = QString::fromStdString(xvfb.name());

        Program program;
        QVERIFY(program.valid());
        const QByteArray bytes = threeEntries();
        QVERIFY(program.writeDataFile(bytes));
        QProcess* process = program.start({}, display);
        QStringList boxes;
        const bool boxShown = waitFor(
            [&] {
                boxes = visibleWindows(process->processId(), "^Vantrel$", display);
                return !boxes.isEmpty();
            },
            timeoutMs());
        if (!boxShown) {
            qWarning("no error box on %s; program state %d, output: %s", qPrintable(display),
                     int(process->state()), process->readAll().constData());
        }
        QVERIFY(boxShown);
        QVERIFY(visibleWindows(process->processId(), kMainWindowName, display).isEmpty());
        // OK ends the program: the error box holds the focus on its only button.
        run("xdotool", {"windowfocus", "--sync", boxes.first()}, display);
        run("xdotool", {"key", "--window", boxes.first(), "Return"}, display);
        const auto ended = [&] { return process->state() == QProcess::NotRunning; };
        if (!waitFor(ended, timeoutMs())) run("xdotool", {"key", "Return"}, display);
        QVERIFY(waitFor(ended, timeoutMs()));
        QCOMPARE(process->exitStatus(), QProcess::NormalExit);
        QCOMPARE(process->exitCode(), 1);
        QCOMPARE(program.dataBytes(), bytes);
    }

    void anEndSignalNeverWaitsOnTheErrorBox_data() {
        QTest::addColumn<bool>("byExitFirst");
        QTest::addColumn<bool>("folderReadOnly");
        QTest::newRow("read-only file") << false << false;
        QTest::newRow("unwritable folder") << false << true;
        QTest::newRow("Exit shows the box, SIGTERM closes it") << true << false;
    }

    void anEndSignalNeverWaitsOnTheErrorBox() {
        QFETCH(bool, byExitFirst);
        QFETCH(bool, folderReadOnly);
        if (folderReadOnly && ::geteuid() == 0) QSKIP("root writes into any folder");
        Program program;
        QVERIFY(program.valid());
        const QByteArray bytes = threeEntries();
        QVERIFY(program.writeDataFile(bytes));
        const QString dir = QFileInfo(program.dataFile()).canonicalPath();
        // A file without any write permission is refused also to root.
        const QString locked = folderReadOnly ? dir : program.dataFile();
        QVERIFY(::chmod(QFile::encodeName(locked).constData(), folderReadOnly ? 0555 : 0444) == 0);
        const auto unlock = qScopeGuard([&] { ::chmod(QFile::encodeName(locked).constData(), 0755); });

        QProcess* process = program.start(byExitFirst ? QStringList{} : QStringList{"-s"});
        QVERIFY(waitRunning(process));
        if (byExitFirst) {
            // Ending by Exit keeps the error box: the program waits for OK.
            const QString window = waitForMainWindow(process);
            QVERIFY(!window.isEmpty());
            run("xdotool", {"windowfocus", "--sync", window});
            run("xdotool", {"key", "alt+e"});
            QVERIFY(waitFor([&] { return !visibleWindows(process->processId(), "^Vantrel$").isEmpty(); },
                            timeoutMs()));
            QVERIFY(!waitFor([&] { return process->state() == QProcess::NotRunning; }, settleMs()));
        }
        const qint64 ms = msToEndOnSigterm(process);
        qInfo("ended %lld ms after SIGTERM", ms);
        QVERIFY(ms >= 0);
        QCOMPARE(process->exitStatus(), QProcess::NormalExit);
        QCOMPARE(process->exitCode(), 1);
        const QStringList lines = QString::fromUtf8(process->readAll()).split('\n');
        QVERIFY2(lines.count("Vantrel: Unable to write to " + dir + "/webpages.dat.") == 1,
                 qPrintable(lines.join('\n')));
        QCOMPARE(program.dataBytes(), bytes);
    }

    void anEndSignalDuringTheWaitForANotificationAreaEndsAtOnce() {
        const vantrel::test::XvfbDisplay noTray;
        QVERIFY2(!noTray.name().empty(), noTray.error().c_str());
        Program program;
        QVERIFY(program.valid());
        const QByteArray bytes = threeEntries();
        QVERIFY(program.writeDataFile(bytes));
        QProcess* process = program.start({"-s"}, QString::fromStdString(noTray.name()));
        // Hidden and waiting up to a minute for a tray host that never comes.
        QVERIFY(!waitFor([&] { return process->state() == QProcess::NotRunning; }, settleMs()));
        const qint64 ms = msToEndOnSigterm(process);
        qInfo("ended %lld ms after SIGTERM", ms);
        QVERIFY(ms >= 0);
        QCOMPARE(process->exitStatus(), QProcess::NormalExit);
        QCOMPARE(process->exitCode(), 0);
        QCOMPARE(program.dataBytes(), bytes);
    }

    // A session with XDG_RUNTIME_DIR and a cron job without it: one instance on one list.
    // A link planted at the lock file's path is not followed, and still only one runs.
    void oneInstanceWhateverTheEnvironmentEvenWithALinkAtTheLockPath() {
        Program program;
        QVERIFY(program.valid());
        const passwd* user = ::getpwuid(::getuid());
        QVERIFY(user != nullptr);
        const QString lockPath = QFile::decodeName(user->pw_dir) + "/.cache/vantrel/Vantrel.lock";
        const QString target = QFileInfo(program.dataFile()).path() + "/elsewhere";
        for (const bool withLink : {false, true}) {
            QFile::remove(lockPath);
            QVERIFY(QDir().mkpath(QFileInfo(lockPath).path()));
            if (withLink) QVERIFY(QFile::link(target, lockPath));
            QProcess* first = program.start({"-s"});
            QVERIFY(waitRunning(first, !withLink));
            QProcess* second = program.start({"-s"}, {}, false);
            QVERIFY(second->waitForFinished(timeoutMs()));
            QCOMPARE(second->exitStatus(), QProcess::NormalExit);
            QCOMPARE(second->exitCode(), 0);
            QCOMPARE(second->readAll(), QByteArray());
            QCOMPARE(first->state(), QProcess::Running);
            QVERIFY(endsWithZero(first, SIGTERM));
        }
        QVERIFY(!QFileInfo::exists(target));  // the link was not followed
        QFile::remove(lockPath);
    }

    // Another program holds the history's write lock (an sqlite3 shell in a transaction) from
    // the start. Released, the history takes up the checks that waited; held to the end, the end
    // by signal waits about a second for the history, no more.
    void aLockedHistoryNeitherStopsTheHistoryNorHoldsUpTheEnd_data() {
        QTest::addColumn<bool>("released");
        QTest::newRow("lock released while running") << true;
        QTest::newRow("lock held to the end") << false;
    }
    void aLockedHistoryNeitherStopsTheHistoryNorHoldsUpTheEnd() {
        QFETCH(bool, released);
        vantrel::test::ScriptedServer server;
        QVERIFY(server.listening());
        server.setBody("/", "<html>the page</html>");
        Program program;
        QVERIFY(program.valid());
        const QByteArray url = QByteArray::fromStdString(server.url8("/"));
        QByteArray list = "[main]\r\ncount=20\r\nstart=0\r\nsort=0\r\nrecheck=0\r\n";
        for (int i = 1; i <= 20; ++i)
            list += "[web" + QByteArray::number(i) + "]\r\ncaption=Page " + QByteArray::number(i) +
                    "\r\nstatus=0\r\nitem1=" + url + "?" + QByteArray::number(i) +
                    "\r\nitem2=0\r\nitem3=\r\nitem4=\r\n";
        QVERIFY(program.writeDataFile(list));
        const QString history = QFileInfo(program.dataFile()).path() + "/history.db";
        QProcess shell;
        shell.start("sqlite3", {history});
        QVERIFY(shell.waitForStarted(timeoutMs()));
        // Runs `sql` in the shell; its output up to `answer`, empty when that never came. The
        // answer is asked on a line of its own: the shell skips the rest of a line after an error
        // (no table yet, while the program's writer has still to make it).
        const auto say = [&](const QByteArray& sql, const QByteArray& answer) {
            shell.write(sql + "\nSELECT '" + answer + "';\n");
            QByteArray heard;
            const bool came = waitFor(
                [&] { return (heard += shell.readAllStandardOutput()).contains(answer); }, timeoutMs());
            return came ? heard : QByteArray();
        };
        // The shell's table is rolled back with its transaction: the file stays the program's.
        QVERIFY(!say("PRAGMA journal_mode=WAL; BEGIN IMMEDIATE; CREATE TABLE held(x);", "held").isEmpty());

        QProcess* process = program.start({"-s"});
        QVERIFY(waitRunning(process));
        QVERIFY(server.waitForRequests(20, timeoutMs()));
        QTest::qWait(500);  // the checks reach the history's queue
        if (released) {
            QVERIFY(!say("ROLLBACK;", "released").isEmpty());
            // The writer tries again after a pause of 4 s at most.
            QVERIFY(
                waitFor([&] { return say("SELECT 'n=' || count(*) FROM checks;", "end").contains("n=20"); },
                        timeoutMs()));
        }
        const qint64 ms = msToEndOnSigterm(process);
        qInfo("ended %lld ms after SIGTERM, %s", ms,
              released ? "the checks recorded" : "20 checks waiting for a locked history");
        shell.closeWriteChannel();
        shell.waitForFinished(timeoutMs());
        QVERIFY(ms >= 0);  // within 2 s; a busy wait of 5 s per check took minutes
        QCOMPARE(process->exitCode(), 0);
    }

    // Without a display the toolkit would abort (exit code 134): one line and exit code 1 instead.
    void withoutADisplayItSaysSoInOneLineAndEndsWithOne_data() {
        QTest::addColumn<QByteArray>("display");
        QTest::addColumn<QByteArray>("platform");
        QTest::addColumn<QString>("line");
        int free = 5990;  // a display number no server owns
        while (free < 6090 && QFileInfo::exists(QString("/tmp/.X11-unix/X%1").arg(free))) ++free;
        const QByteArray unused = ':' + QByteArray::number(free);
        QTest::newRow("X server gone")
            << unused << QByteArray() << QString("vantrel: cannot open display " + unused);
        QTest::newRow("no display at all")
            << QByteArray() << QByteArray()
            << QString("vantrel: no display (DISPLAY and WAYLAND_DISPLAY unset)");
        QTest::newRow("Wayland asked for") << unused << QByteArray("wayland")
                                           << QString("vantrel: cannot open display /nonexistent/wayland-9");
    }
    void withoutADisplayItSaysSoInOneLineAndEndsWithOne() {
        QFETCH(QByteArray, display);
        QFETCH(QByteArray, platform);
        QFETCH(QString, line);
        const QByteArray savedDisplay = qgetenv("DISPLAY");
        qputenv("DISPLAY", display);
        if (display.isEmpty()) qunsetenv("DISPLAY");
        qputenv("QT_QPA_PLATFORM", platform);
        qputenv("WAYLAND_DISPLAY", "/nonexistent/wayland-9");
        if (platform.isEmpty()) {
            qunsetenv("QT_QPA_PLATFORM");
            qunsetenv("WAYLAND_DISPLAY");
        }
        Program program;
        QProcess* process = program.start({"-s"});
        qputenv("DISPLAY", savedDisplay);
        qunsetenv("QT_QPA_PLATFORM");
        qunsetenv("WAYLAND_DISPLAY");
        QVERIFY(process->waitForFinished(timeoutMs()));
        QCOMPARE(process->exitStatus(), QProcess::NormalExit);
        QCOMPARE(process->exitCode(), 1);
        QCOMPARE(QString::fromUtf8(process->readAll()), line + '\n');
    }

    // The check asks for the platform the toolkit would try, and for the other one only when the
    // user named none and the first cannot be reached.
    void theDisplayCheckTriesThePlatformsAsTheToolkitWould() {
        using vantrel::DisplayCheck;
        QStringList tried;
        const auto x = [&](bool up) {
            return [&tried, up](const std::string& name) {
                tried << "x " + QString::fromStdString(name);
                return up;
            };
        };
        const auto wayland = [&](bool up) {
            return [&tried, up](const std::string& path) {
                tried << "wayland " + QString::fromStdString(path);
                return up;
            };
        };
        DisplayCheck::Environment env;
        env.display = ":5";
        env.runtimeDir = "/run/user/7";
        DisplayCheck::Outcome outcome = DisplayCheck::check(env, x(false), wayland(true));
        QCOMPARE(outcome.platform, std::string("wayland"));  // X gone, Wayland there
        QCOMPARE(tried, QStringList({"x :5", "wayland /run/user/7/wayland-0"}));
        tried.clear();
        env.sessionType = "wayland";
        env.waylandDisplay = "wayland-1";
        outcome = DisplayCheck::check(env, x(true), wayland(true));
        QCOMPARE(outcome.platform, std::string());  // the toolkit's own pick works
        QCOMPARE(tried, QStringList({"wayland /run/user/7/wayland-1"}));
        tried.clear();
        env.qpaPlatform = "xcb";  // the user's choice is never replaced
        outcome = DisplayCheck::check(env, x(false), wayland(true));
        QCOMPARE(outcome.problem, std::string("vantrel: cannot open display :5"));
        QCOMPARE(tried, QStringList({"x :5"}));
        env.platformArgument = "offscreen";  // a platform without a display is not checked
        QVERIFY(DisplayCheck::check(env, x(false), wayland(false)).problem.empty());
        env = {};
        env.display = ":5";
        env.waylandDisplay = "/tmp/w";
        QCOMPARE(DisplayCheck::check(env, x(false), wayland(false)).problem,
                 std::string("vantrel: cannot open display :5 nor /tmp/w"));
    }
};

QTEST_GUILESS_MAIN(ProgramStartTest)
#include "ProgramStart_qtest.moc"
