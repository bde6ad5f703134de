// The built program's start, run as a process: one instance at a time (also when the lock file
// cannot be used), "-s" in the first or second argument, a start without a notification area, and
// an end by signal that never waits on an error box or on a tray.
// Every case runs its own copy of the executable with its own runtime directory, so cases may run
// in parallel.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QtTest>

#include "ProgramFixture.h"

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

    void aLinkAtTheLockPathStillLetsOnlyOneInstanceRun() {
        Program program;
        QVERIFY(program.valid());
        const QString target = QFileInfo(program.dataFile()).path() + "/elsewhere";
        QVERIFY(QFile::link(target, program.runtimeDir() + "/Vantrel.lock"));
        QProcess* first = program.start({"-s"});
        QVERIFY(waitRunning(first, false));
        QProcess* second = program.start({"-s"});
        QVERIFY(second->waitForFinished(timeoutMs()));
        QCOMPARE(second->exitStatus(), QProcess::NormalExit);
        QCOMPARE(second->exitCode(), 0);
        QCOMPARE(second->readAll(), QByteArray());
        QCOMPARE(first->state(), QProcess::Running);
        QVERIFY(!QFileInfo::exists(target));  // the link was not followed
        QVERIFY(endsWithZero(first, SIGTERM));
    }
};

QTEST_GUILESS_MAIN(ProgramStartTest)
#include "ProgramStart_qtest.moc"
