#pragma once
// The built program run as a process, one copy in a folder of its own with its own runtime folder,
// and the means to watch its windows, its lock and its page
// list file, for the tests of the program.
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

namespace vantrel::test {

// How long any one wait may last (VANTREL_TEST_TIMEOUT_MS overrides it).
inline int timeoutMs() {
    bool ok = false;
    const int value = qEnvironmentVariableIntValue("VANTREL_TEST_TIMEOUT_MS", &ok);
    return ok && value > 0 ? value : 20000;
}

// How long a hidden program is watched for a window that must not appear.
inline int settleMs() {
    bool ok = false;
    const int value = qEnvironmentVariableIntValue("VANTREL_TEST_SETTLE_MS", &ok);
    return ok && value > 0 ? value : 1500;
}

inline bool waitFor(const std::function<bool()>& done, int ms) {
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
inline QStringList run(const QString& program, const QStringList& args, const QString& display = {}) {
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
inline QStringList visibleWindows(qint64 pid, const QString& name = {}, const QString& display = {}) {
    QStringList args{"search", "--onlyvisible", "--pid", QString::number(pid)};
    if (!name.isEmpty())
        args << "--all"
             << "--name" << name;  // both, not either
    return run("xdotool", args, display);
}

// Whether process `pid` holds a flock lock (read from /proc/locks, which takes none itself).
inline bool holdsFlock(qint64 pid) {
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
inline QMap<QString, Section> readSections(const QString& path, QStringList* otherLines = nullptr) {
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

inline Section mainSection(const char* count, const char* start = "0", const char* sort = "0",
                           const char* recheck = "0") {
    return {{"count", count}, {"start", start}, {"sort", sort}, {"recheck", recheck}};
}

// A stamp of now: local wall-clock seconds counted as if they were UTC.
inline QString nowStamp() {
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
    // Whether the program starts on the caller's session bus (a desktop's test), else on none.
    bool keepSessionBus = false;

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
        // Without a bus address the D-Bus library would start a bus of its own (autolaunch);
        // an address where none listens keeps the program off any bus unless the test wants one.
        if (!keepSessionBus) env.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + runtimeDir() + "/no-bus");
        if (withRuntimeDir)
            env.insert("XDG_RUNTIME_DIR", runtimeDir());
        else
            env.remove("XDG_RUNTIME_DIR");
        if (!display.isEmpty()) env.insert("DISPLAY", display);
        for (const QString& name : extraEnv.keys()) env.insert(name, extraEnv.value(name));
        process->setProcessEnvironment(env);
        process->setProcessChannelMode(QProcess::MergedChannels);
        process->start(exe(), args);
        process->waitForStarted(timeoutMs());
        return process;
    }

    // Set in the environment of every start (a session bus of the test's own, a CA file).
    QProcessEnvironment extraEnv;

  private:
    QTemporaryDir dir_;
    bool valid_ = false;
    QList<QProcess*> processes_;
};

// Started, holding the lock file (unless `onLockFile` is false), and showing at least one window
// (its notification-area icon).
inline bool waitRunning(QProcess* process, bool onLockFile = true) {
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
inline qint64 msToEndOnSigterm(QProcess* process) {
    QElapsedTimer ending;
    ending.start();
    ::kill(static_cast<pid_t>(process->processId()), SIGTERM);
    if (!process->waitForFinished(2000)) return -1;
    return ending.elapsed();
}

inline const QString kMainWindowName = "^Vantrel " + QRegularExpression::escape(VANTREL_VERSION);

inline bool mainWindowShown(QProcess* process) {
    return !visibleWindows(process->processId(), kMainWindowName).isEmpty();
}

// Waits (bounded) for the main window to be shown; its window id, or empty when it never was.
inline QString waitForMainWindow(QProcess* process) {
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
inline bool endsWithZero(QProcess* process, int signalNumber, int waitMs = timeoutMs()) {
    ::kill(static_cast<pid_t>(process->processId()), signalNumber);
    if (!process->waitForFinished(waitMs)) return false;
    if (process->exitStatus() != QProcess::NormalExit || process->exitCode() != 0) {
        qWarning("exit status %d, code %d, output: %s", int(process->exitStatus()), process->exitCode(),
                 process->readAll().constData());
        return false;
    }
    return true;
}

inline QByteArray threeEntries() {
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

}  // namespace vantrel::test
