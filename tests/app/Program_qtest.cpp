// The built program run as a process: orderly end on SIGTERM, SIGINT and SIGHUP with the page
// list saved, one instance at a time (also when the lock file cannot be used), "-s" in the first
// or second argument, the page list surviving a run, an end during a hung download, a start
// without a notification area, an end by signal that never waits on an error box or a tray, and
// the status listing printed beside a running program.
// Every case runs its own copy of the executable (webpages.dat lives next to it) with its own
// runtime directory (the single-instance lock lives there), so cases may run in parallel.
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>

#include "support/ScriptedServer.h"
#include "support/XvfbDisplay.h"

namespace {

// How long any one wait may last (VANTREL_TEST_TIMEOUT_MS overrides it).
int timeoutMs() {
    bool ok = false;
    const int value = qEnvironmentVariableIntValue("VANTREL_TEST_TIMEOUT_MS", &ok);
    return ok && value > 0 ? value : 20000;
}

// How long a hidden program is watched for a window that must not appear.
int settleMs() {
    bool ok = false;
    const int value = qEnvironmentVariableIntValue("VANTREL_TEST_SETTLE_MS", &ok);
    return ok && value > 0 ? value : 1500;
}

bool waitFor(const std::function<bool()>& done, int ms) {
    QElapsedTimer clock;
    clock.start();
    for (int round = 0; round < 100000; ++round) {
        if (done()) return true;
        if (clock.elapsed() > ms) return false;
        QTest::qWait(25);
    }
    return false;
}

// Runs a short helper (xdotool) to its end and returns its output lines.
QStringList run(const QString& program, const QStringList& args, const QString& display = {}) {
    QProcess process;
    if (!display.isEmpty()) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", display);
        process.setProcessEnvironment(env);
    }
    process.start(program, args);
    if (!process.waitForFinished(timeoutMs())) {
        process.kill();
        process.waitForFinished(timeoutMs());
        return {};
    }
    return QString::fromUtf8(process.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
}

// Windows of `pid` that are mapped on screen, optionally only those whose name matches.
QStringList visibleWindows(qint64 pid, const QString& name = {}, const QString& display = {}) {
    QStringList args{"search", "--onlyvisible", "--pid", QString::number(pid)};
    if (!name.isEmpty())
        args << "--all"
             << "--name" << name;  // both, not either
    return run("xdotool", args, display);
}

// Whether process `pid` holds a flock lock (read from /proc/locks, which takes none itself).
bool holdsFlock(qint64 pid) {
    QFile locks("/proc/locks");
    if (!locks.open(QIODevice::ReadOnly)) return false;
    const QString wanted = QString::number(pid);
    for (const QByteArray& line : locks.readAll().split('\n')) {
        const QStringList fields = QString::fromLatin1(line).split(' ', Qt::SkipEmptyParts);
        if (fields.size() > 4 && fields[1] == "FLOCK" && fields[4] == wanted) return true;
    }
    return false;
}

using Section = QList<QPair<QString, QString>>;

// The sections of a page list file in file order, "" for lines before the first section.
QMap<QString, Section> readSections(const QString& path, QStringList* otherLines = nullptr) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    QMap<QString, Section> sections;
    QString current;
    static const QRegularExpression lineBreak("\r\n|\n|\r");
    for (const QString& line : QString::fromUtf8(file.readAll()).split(lineBreak)) {
        if (line.startsWith('[') && line.endsWith(']')) {
            current = line.mid(1, line.size() - 2);
            sections[current];
        } else if (line.contains('=') && !line.startsWith(';')) {
            const qsizetype eq = line.indexOf('=');
            sections[current].append({line.left(eq).trimmed(), line.mid(eq + 1).trimmed()});
        } else if (!line.isEmpty() && otherLines != nullptr) {
            *otherLines << line;
        }
    }
    return sections;
}

Section mainSection(const char* count, const char* start = "0", const char* sort = "0",
                    const char* recheck = "0") {
    return {{"count", count}, {"start", start}, {"sort", sort}, {"recheck", recheck}};
}

// A stamp of now: local wall-clock seconds counted as if they were UTC.
QString nowStamp() {
    const QDateTime now = QDateTime::currentDateTime();
    return QString::number(now.toSecsSinceEpoch() + now.offsetFromUtc());
}

// One copy of the program in its own directory.
class Program {
  public:
    Program() {
        valid_ = dir_.isValid() && QFile::copy(VANTREL_EXE, exe()) && QDir(dir_.path()).mkdir("run") &&
                 ::chmod(QFile::encodeName(runtimeDir()).constData(), 0700) == 0;
    }
    ~Program() {
        for (QProcess* process : processes_) {
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished(timeoutMs());
            }
            delete process;
        }
    }
    bool valid() const { return valid_; }
    QString exe() const { return dir_.filePath("vantrel"); }
    QString runtimeDir() const { return dir_.filePath("run"); }
    QString dataFile() const { return dir_.filePath("webpages.dat"); }

    bool writeDataFile(const QByteArray& bytes) const {
        QFile file(dataFile());
        return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
    }
    QByteArray dataBytes() const {
        QFile file(dataFile());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // `withRuntimeDir` false: started as a cron job would be, without XDG_RUNTIME_DIR.
    QProcess* start(const QStringList& args, const QString& display = {}, bool withRuntimeDir = true) {
        auto* process = new QProcess;
        processes_ << process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove("DBUS_SESSION_BUS_ADDRESS");
        if (withRuntimeDir)
            env.insert("XDG_RUNTIME_DIR", runtimeDir());
        else
            env.remove("XDG_RUNTIME_DIR");
        if (!display.isEmpty()) env.insert("DISPLAY", display);
        process->setProcessEnvironment(env);
        process->setProcessChannelMode(QProcess::MergedChannels);
        process->start(exe(), args);
        process->waitForStarted(timeoutMs());
        return process;
    }

  private:
    QTemporaryDir dir_;
    bool valid_ = false;
    QList<QProcess*> processes_;
};

// Started, holding the lock file (unless `onLockFile` is false), and showing at least one window
// (its notification-area icon).
bool waitRunning(QProcess* process, bool onLockFile = true) {
    const qint64 pid = process->processId();
    return waitFor(
        [&] {
            return process->state() == QProcess::Running && (!onLockFile || holdsFlock(pid)) &&
                   !visibleWindows(pid).isEmpty();
        },
        timeoutMs());
}

// An X display of its own with no tray host on it.
// Sends SIGTERM and waits up to 2 s for the end: the time taken, or -1 when it did not end.
qint64 msToEndOnSigterm(QProcess* process) {
    QElapsedTimer ending;
    ending.start();
    ::kill(static_cast<pid_t>(process->processId()), SIGTERM);
    if (!process->waitForFinished(2000)) return -1;
    return ending.elapsed();
}

const QString kMainWindowName = "^Vantrel 1\\.2";

bool mainWindowShown(QProcess* process) {
    return !visibleWindows(process->processId(), kMainWindowName).isEmpty();
}

// Waits (bounded) for the main window to be shown; its window id, or empty when it never was.
QString waitForMainWindow(QProcess* process) {
    QStringList windows;
    waitFor(
        [&] {
            windows = visibleWindows(process->processId(), kMainWindowName);
            return !windows.isEmpty();
        },
        timeoutMs());
    return windows.isEmpty() ? QString() : windows.first();
}

// Sends `signalNumber` and waits for the end. True when the program ended by itself with code 0.
bool endsWithZero(QProcess* process, int signalNumber, int waitMs = timeoutMs()) {
    ::kill(static_cast<pid_t>(process->processId()), signalNumber);
    if (!process->waitForFinished(waitMs)) return false;
    if (process->exitStatus() != QProcess::NormalExit || process->exitCode() != 0) {
        qWarning("exit status %d, code %d, output: %s", int(process->exitStatus()), process->exitCode(),
                 process->readAll().constData());
        return false;
    }
    return true;
}

QByteArray threeEntries() {
    const QByteArray stamp = nowStamp().toUtf8();
    return "[main]\r\ncount=3\r\nstart=0\r\nsort=0\r\nrecheck=0\r\n"
           "[web1]\r\ncaption=News\r\nstatus=0\r\nitem1=http://\r\nitem2=8\r\nitem3=" +
           stamp +
           "\r\nitem4=CRC of a text above is: 414FA339\r\n"
           "[web2]\r\ncaption=Caf\xc3\xa9 \xe2\x9c\x93 \"quoted\" label\r\nstatus=1\r\nitem1=http://\r\n"
           "item2=8\r\nitem3=" +
           stamp +
           "\r\nitem4=CRC of a text above is: 00000000\r\n"
           "[web3]\r\ncaption=Down\r\nstatus=2\r\nitem1=http://\r\nitem2=8\r\nitem3=" +
           stamp +
           "\r\nitem4=\r\n"
           "; kept by hand\r\n[notes]\r\nowner=me\r\n";
}

}  // namespace

class ProgramTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase() {
        if (qEnvironmentVariableIsEmpty("DISPLAY")) QSKIP("needs an X display with a notification area");
        QVERIFY(QFileInfo(VANTREL_EXE).isExecutable());
    }

    void endSignalSavesTheFile_data() {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGHUP") << int(SIGHUP);
    }
    void endSignalSavesTheFile() {
        QFETCH(int, signalNumber);
        Program program;
        QVERIFY(program.valid());
        QProcess* process = program.start({"-s"});
        QVERIFY(waitRunning(process));
        QVERIFY(!QFileInfo::exists(program.dataFile()));  // read at start, written only at the end
        QVERIFY(endsWithZero(process, signalNumber));
        const auto sections = readSections(program.dataFile());
        QCOMPARE(sections.keys(), QStringList{"main"});
        QCOMPARE(sections["main"], mainSection("0"));
    }

    // "--status" takes no lock and needs no display: it lists the pages while the program runs,
    // and says so when the page list file cannot be read.
    void statusListsThePagesWhileTheProgramRuns() {
        Program program;
        QVERIFY(program.valid());
        QVERIFY(program.writeDataFile(threeEntries()));
        QProcess* running = program.start({"-s"});
        QVERIFY(waitRunning(running));
        const auto status = [&](QByteArray* errors) {
            QProcess process;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.remove("DISPLAY");
            env.remove("WAYLAND_DISPLAY");
            env.insert("XDG_RUNTIME_DIR", program.runtimeDir());
            process.setProcessEnvironment(env);
            process.start(program.exe(), {"--status"});
            if (!process.waitForFinished(timeoutMs())) return std::pair(-1, QStringList());
            *errors = process.readAllStandardError();
            return std::pair(
                process.exitCode(),
                QString::fromUtf8(process.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts));
        };
        QByteArray errors;
        const auto [code, lines] = status(&errors);
        QCOMPARE(code, 0);
        QCOMPARE(lines.size(), 3);
        QVERIFY2(lines[0].startsWith("News\tOnline\t"), qPrintable(lines[0]));
        QVERIFY2(lines[2].startsWith("Down\tOffline\t"), qPrintable(lines[2]));
        QVERIFY(endsWithZero(running, SIGTERM));

        QVERIFY(QFile::remove(program.dataFile()));
        QVERIFY(QDir().mkdir(program.dataFile()));
        const auto [failed, none] = status(&errors);
        QCOMPARE(failed, 2);
        QVERIFY(none.isEmpty());
        QCOMPARE(errors, "vantrel: cannot read " + QFile::encodeName(program.dataFile()) + "\n");
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

    void entriesSurviveARun() {
        Program program;
        QVERIFY(program.valid());
        QVERIFY(program.writeDataFile(threeEntries()));
        const auto before = readSections(program.dataFile());
        QProcess* process = program.start({"-s"});
        QVERIFY(waitRunning(process));
        QVERIFY(endsWithZero(process, SIGTERM));
        QStringList otherLines;
        const auto after = readSections(program.dataFile(), &otherLines);
        QCOMPARE(after, before);
        QCOMPARE(otherLines, QStringList{"; kept by hand"});
    }

    void aVisibleWindowSavesTooAndKeepsRunningUntilTheSignal() {
        Program program;
        QVERIFY(program.valid());
        QVERIFY(program.writeDataFile(threeEntries()));
        const auto before = readSections(program.dataFile());
        QProcess* process = program.start({});
        QVERIFY(waitRunning(process));
        QVERIFY(waitFor([&] { return mainWindowShown(process); }, timeoutMs()));
        QVERIFY(endsWithZero(process, SIGINT));
        QCOMPARE(readSections(program.dataFile()), before);
    }

    void theExitCommandSavesAndEndsTheProgram() {
        Program program;
        QVERIFY(program.valid());
        QVERIFY(program.writeDataFile(threeEntries()));
        const auto before = readSections(program.dataFile());
        QProcess* process = program.start({});
        const QString window = waitForMainWindow(process);
        QVERIFY(!window.isEmpty());
        run("xdotool", {"windowfocus", "--sync", window});
        run("xdotool", {"key", "alt+e"});
        QVERIFY(waitFor([&] { return process->state() == QProcess::NotRunning; }, timeoutMs()));
        QCOMPARE(process->exitStatus(), QProcess::NormalExit);
        QCOMPARE(process->exitCode(), 0);
        QCOMPARE(readSections(program.dataFile()), before);
    }

    void anEndSignalWhileTheAddDialogIsOpenEndsTheProgram() {
        Program program;
        QVERIFY(program.valid());
        QVERIFY(program.writeDataFile(threeEntries()));
        const auto before = readSections(program.dataFile());
        QProcess* process = program.start({});
        const QString window = waitForMainWindow(process);
        QVERIFY(!window.isEmpty());
        run("xdotool", {"windowfocus", "--sync", window});
        run("xdotool", {"key", "Escape"});  // Escape in the main window opens the add dialog
        QVERIFY(waitFor([&] { return !visibleWindows(process->processId(), "^Web Page$").isEmpty(); },
                        timeoutMs()));
        QVERIFY(endsWithZero(process, SIGTERM));
        QCOMPARE(readSections(program.dataFile()), before);
    }

    void theEndDuringAHungDownloadDoesNotWaitForIt_data() {
        QTest::addColumn<bool>("byExitCommand");
        QTest::newRow("SIGTERM") << false;
        QTest::newRow("Exit") << true;
    }
    void theEndDuringAHungDownloadDoesNotWaitForIt() {
        QFETCH(bool, byExitCommand);
        vantrel::test::ScriptedServer silent;
        QVERIFY(silent.listening());
        silent.set("/page", vantrel::test::Page{200, {}, true});
        Program program;
        QVERIFY(program.valid());
        const QByteArray url = QByteArray::fromStdString(silent.url8("/page"));
        QVERIFY(
            program.writeDataFile("[main]\r\ncount=1\r\nstart=0\r\nsort=0\r\nrecheck=0\r\n[web1]\r\n"
                                  "caption=Silent\r\nstatus=0\r\nitem1=" +
                                  url + "\r\nitem2=0\r\nitem3=\r\nitem4=\r\n"));
        QProcess* process = program.start(byExitCommand ? QStringList{} : QStringList{"-s"});
        QVERIFY(waitRunning(process));
        QString window;
        if (byExitCommand) {
            window = waitForMainWindow(process);
            QVERIFY(!window.isEmpty());
        }
        QVERIFY(silent.waitForRequests(1, timeoutMs()));
        // A download waits up to 15 s per read; the end must not wait for it.
        const int bound = qMin(timeoutMs(), 10000);
        QElapsedTimer ending;
        ending.start();
        if (byExitCommand) {
            run("xdotool", {"windowfocus", "--sync", window});
            run("xdotool", {"key", "alt+e"});
            QVERIFY(waitFor([&] { return process->state() == QProcess::NotRunning; }, bound));
            QCOMPARE(process->exitStatus(), QProcess::NormalExit);
            QCOMPARE(process->exitCode(), 0);
        } else {
            QVERIFY(endsWithZero(process, SIGTERM, bound));
        }
        qInfo("ended %lld ms after the request during a hung download", ending.elapsed());
        const auto sections = readSections(program.dataFile());
        QCOMPARE(sections["main"], mainSection("1"));
        QCOMPARE(sections["web1"].value(0), (QPair<QString, QString>{"caption", "Silent"}));
        QCOMPARE(sections["web1"].value(2), (QPair<QString, QString>{"item1", QString::fromUtf8(url)}));
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
        // Runs `sql` in the shell; its output up to `answer`, empty when that never came.
        const auto say = [&](const QByteArray& sql, const QByteArray& answer) {
            shell.write(sql + " SELECT '" + answer + "';\n");
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
};

QTEST_GUILESS_MAIN(ProgramTest)
#include "Program_qtest.moc"
