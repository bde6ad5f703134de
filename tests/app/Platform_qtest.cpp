// The platform pieces of the program's entry: the single-instance guards, the signal bridge and
// the executable's path.
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <cstddef>
#include <cstring>
#include <memory>

#include "app/ExePath.h"
#include "app/SignalBridge.h"
#include "app/SingleInstance.h"

using namespace vantrel;

class PlatformTest : public QObject {
    Q_OBJECT
    QTemporaryDir runtimeDir_;
    QByteArray savedRuntimeDir_;

  private slots:
    void initTestCase() {
        QVERIFY(runtimeDir_.isValid());
        QVERIFY(::chmod(runtimeDir_.path().toLocal8Bit().constData(), 0700) == 0);
        savedRuntimeDir_ = qgetenv("XDG_RUNTIME_DIR");
    }
    void init() { qputenv("XDG_RUNTIME_DIR", runtimeDir_.path().toLocal8Bit()); }
    void cleanupTestCase() {
        qputenv("XDG_RUNTIME_DIR", savedRuntimeDir_);
        // The lock files of this run's titles, in the user's real lock folder.
        QDir folder(QString::fromStdString(SingleInstance::lockFolder()));
        for (const QString& name :
             folder.entryList({"*-" + QString::number(::getpid()) + ".lock"}, QDir::System | QDir::Files))
            folder.remove(name);
    }
    // Titles of this run alone: the lock files live in the user's real lock folder.
    static std::string unique(const std::string& title) { return title + "-" + std::to_string(::getpid()); }

    // A desktop session, an ssh session and a cron job of one user see different variables; they
    // must all find the one guard, in a private folder of the user's.
    void theGuardIsTheSameWhateverTheEnvironment() {
        const std::string title = unique("LockA");
        auto first = std::make_unique<SingleInstance>(title);
        QVERIFY(first->isFirst());
        struct stat info {};
        QVERIFY(::stat(SingleInstance::lockFolder().c_str(), &info) == 0);
        QCOMPARE(info.st_mode & 0777, mode_t(0700));
        QVERIFY(QFileInfo::exists(QString::fromStdString(SingleInstance::lockPath(title))));
        const QByteArray home = qgetenv("HOME");
        for (const char* runtime : {"", "/run/user/1000", "relative/run"}) {
            if (*runtime)
                qputenv("XDG_RUNTIME_DIR", runtime);
            else
                qunsetenv("XDG_RUNTIME_DIR");
            qputenv("HOME", runtimeDir_.path().toLocal8Bit());
            SingleInstance second(title);
            qputenv("HOME", home);
            QCOMPARE(second.outcome(), SingleInstance::Outcome::Second);
            SingleInstance other(unique("LockB"));
            QVERIFY(other.isFirst());
        }
        first.reset();
        SingleInstance third(title);
        QVERIFY(third.isFirst());
    }

    void aChildProcessDoesNotInheritTheLock() {
        // A browser started from the program must not keep the lock after the program ends.
        const std::string title = unique("LockC");
        auto holder = std::make_unique<SingleInstance>(title);
        QVERIFY(holder->isFirst());
        QProcess child;
        child.start("sleep", {"30"});
        QVERIFY(child.waitForStarted(10000));
        holder.reset();
        SingleInstance next(title);
        child.kill();
        child.waitForFinished(10000);
        QVERIFY(next.isFirst());
    }

    void aLockFileThatCannotBeUsedFallsBackToTheSocket_data() {
        QTest::addColumn<QString>("planted");
        QTest::newRow("symbolic link") << "link";
        QTest::newRow("FIFO") << "fifo";
        QTest::newRow("file of another user") << "foreign";
    }
    void aLockFileThatCannotBeUsedFallsBackToTheSocket() {
        QFETCH(QString, planted);
        const std::string title = unique("LockE-" + planted.toStdString());
        const QByteArray path = QByteArray::fromStdString(SingleInstance::lockPath(title));
        const QByteArray target = runtimeDir_.filePath("target-" + planted).toLocal8Bit();
        if (planted == "link") {
            QVERIFY(::symlink(target.constData(), path.constData()) == 0);
        } else if (planted == "fifo") {
            QVERIFY(::mkfifo(path.constData(), 0600) == 0);
        } else {
            if (::geteuid() != 0) QSKIP("only root can give a file to another user");
            QFile file(QString::fromLocal8Bit(path));
            QVERIFY(file.open(QIODevice::WriteOnly));
            QVERIFY(::chown(path.constData(), 65534, 65534) == 0);
        }
        auto first = std::make_unique<SingleInstance>(title);
        QVERIFY(first->isFirst());
        QVERIFY(!QFileInfo::exists(QString::fromLocal8Bit(target)));
        {
            SingleInstance second(title);
            QCOMPARE(second.outcome(), SingleInstance::Outcome::Second);
        }
        // The planted file is gone and the next start finds a sound lock file: the instance
        // that runs on the socket alone must still count.
        QVERIFY(::unlink(path.constData()) == 0);
        {
            SingleInstance second(title);
            QCOMPARE(second.outcome(), SingleInstance::Outcome::Second);
        }
        first.reset();
        SingleInstance third(title);
        QVERIFY(third.isFirst());
    }

    // Another user can take the socket's name (abstract names carry no permissions) and create
    // files in /tmp, but not the lock file in the user's own folder: the program still runs.
    // Only with that lock file unusable as well does it refuse to run.
    void anotherUserCannotKeepTheProgramFromRunning_data() {
        QTest::addColumn<bool>("lockFileUnusable");
        QTest::newRow("socket and /tmp taken") << false;
        QTest::newRow("socket taken, lock file a FIFO") << true;
    }
    void anotherUserCannotKeepTheProgramFromRunning() {
        QFETCH(bool, lockFileUnusable);
        if (::geteuid() != 0) QSKIP("only root can hold a socket as another user");
        qunsetenv("XDG_RUNTIME_DIR");
        const std::string title = unique(lockFileUnusable ? "LockF" : "LockG");
        const std::string name = SingleInstance::socketName(title);
        const QByteArray path = QByteArray::fromStdString(SingleInstance::lockPath(title));
        // What an earlier version used without XDG_RUNTIME_DIR.
        const QByteArray tmpPath =
            QByteArray::fromStdString("/tmp/" + title + "-" + std::to_string(::getuid()) + ".lock");
        if (lockFileUnusable) {
            QVERIFY(QDir().mkpath(QString::fromStdString(SingleInstance::lockFolder())));
            QVERIFY(::mkfifo(path.constData(), 0600) == 0);
        } else {
            QFile file(QString::fromLocal8Bit(tmpPath));
            QVERIFY(file.open(QIODevice::WriteOnly));
            QVERIFY(::chown(tmpPath.constData(), 65534, 65534) == 0);
        }
        int ready[2], hold[2];
        QVERIFY(::pipe(ready) == 0 && ::pipe(hold) == 0);
        const pid_t squatter = ::fork();
        QVERIFY(squatter >= 0);
        if (squatter == 0) {
            // Only system calls between fork and _exit.
            ::close(ready[0]);
            ::close(hold[1]);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            std::memcpy(address.sun_path + 1, name.data(), name.size());
            const auto size = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + name.size());
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            const bool bound =
                ::setresgid(65534, 65534, 65534) == 0 && ::setresuid(65534, 65534, 65534) == 0 &&
                ::bind(fd, reinterpret_cast<sockaddr*>(&address), size) == 0 && ::listen(fd, 4) == 0;
            const char byte = bound ? 'y' : 'n';
            [[maybe_unused]] ssize_t n = ::write(ready[1], &byte, 1);
            pollfd end{hold[0], POLLIN, 0};
            ::poll(&end, 1, 30000);  // until the parent closes its end, 30 s at most
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(hold[0]);
        char byte = 0;
        const bool bound = ::read(ready[0], &byte, 1) == 1 && byte == 'y';
        std::string failure;
        SingleInstance::Outcome outcome = SingleInstance::Outcome::First;
        if (bound) {
            SingleInstance instance(title);
            outcome = instance.outcome();
            failure = instance.failure();
        }
        ::close(ready[0]);
        ::close(hold[1]);
        ::waitpid(squatter, nullptr, 0);
        ::unlink(lockFileUnusable ? path.constData() : tmpPath.constData());
        QVERIFY(bound);
        if (!lockFileUnusable) {
            QCOMPARE(outcome, SingleInstance::Outcome::First);
            return;
        }
        QCOMPARE(outcome, SingleInstance::Outcome::Unguarded);
        QCOMPARE(QString::fromStdString(failure),
                 "Cannot make sure that only one instance runs: the lock file " +
                     QString::fromLocal8Bit(path) + " is not a regular file of this user, and the socket @" +
                     QString::fromStdString(name) + " is held by user 65534");
    }

    void endSignalsArriveInTheEventLoop_data() {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGHUP") << int(SIGHUP);
    }
    void endSignalsArriveInTheEventLoop() {
        QFETCH(int, signalNumber);
        SignalBridge bridge({SIGTERM, SIGINT, SIGHUP});
        QSignalSpy spy(&bridge, &SignalBridge::received);
        QVERIFY(std::raise(signalNumber) == 0);
        QVERIFY(std::raise(signalNumber) == 0);
        QTRY_COMPARE_WITH_TIMEOUT(spy.size(), 2, 10000);
        QCOMPARE(spy.at(0).at(0).toInt(), signalNumber);
        QCOMPARE(spy.at(1).at(0).toInt(), signalNumber);
    }

    void theBridgePutsBackThePreviousHandlers() {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        struct sigaction before {};
        QVERIFY(::sigaction(SIGHUP, &ignore, &before) == 0);
        {
            SignalBridge bridge({SIGHUP});
            struct sigaction during {};
            QVERIFY(::sigaction(SIGHUP, nullptr, &during) == 0);
            QVERIFY(during.sa_handler != SIG_IGN);
        }
        struct sigaction after {};
        QVERIFY(::sigaction(SIGHUP, &before, &after) == 0);
        QVERIFY(after.sa_handler == SIG_IGN);
    }

    void executablePathAndDirectory() {
        QCOMPARE(ExePath::path(), QFileInfo(QCoreApplication::applicationFilePath()).canonicalFilePath());
        QCOMPARE(ExePath::dir(), QFileInfo(ExePath::path()).path() + "/");
        QCOMPARE(ExePath::dirOf("/opt/vantrel/bin/vantrel"), QStringLiteral("/opt/vantrel/bin/"));
        QCOMPARE(ExePath::dirOf("/vantrel"), QStringLiteral("/"));
    }
};

QTEST_GUILESS_MAIN(PlatformTest)
#include "Platform_qtest.moc"
