// The platform pieces of the program's entry: the single-instance lock, the signal bridge and the
// executable's path.
#include <sys/stat.h>
#include <unistd.h>

#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>

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
    void cleanupTestCase() { qputenv("XDG_RUNTIME_DIR", savedRuntimeDir_); }

    void lockPathFollowsTheRuntimeDirectory() {
        const std::string tmp = "/tmp/Vantrel-" + std::to_string(::getuid()) + ".lock";
        qputenv("XDG_RUNTIME_DIR", "/run/user/1000");
        QCOMPARE(SingleInstance::lockPath("Vantrel"), std::string("/run/user/1000/Vantrel.lock"));
        qputenv("XDG_RUNTIME_DIR", "/run/user/1000/");
        QCOMPARE(SingleInstance::lockPath("Vantrel"), std::string("/run/user/1000/Vantrel.lock"));
        qputenv("XDG_RUNTIME_DIR", "");
        QCOMPARE(SingleInstance::lockPath("Vantrel"), tmp);
        qputenv("XDG_RUNTIME_DIR", "relative/run");
        QCOMPARE(SingleInstance::lockPath("Vantrel"), tmp);
        qunsetenv("XDG_RUNTIME_DIR");
        QCOMPARE(SingleInstance::lockPath("Vantrel"), tmp);
    }

    void onlyOneHolderAtATimeAndReleasedAtItsEnd() {
        auto first = std::make_unique<SingleInstance>("LockA");
        QVERIFY(first->isFirst());
        QVERIFY(QFileInfo::exists(runtimeDir_.filePath("LockA.lock")));
        {
            SingleInstance second("LockA");
            QVERIFY(!second.isFirst());
            SingleInstance other("LockB");
            QVERIFY(other.isFirst());
        }
        first.reset();
        SingleInstance third("LockA");
        QVERIFY(third.isFirst());
    }

    void aChildProcessDoesNotInheritTheLock() {
        // A browser started from the program must not keep the lock after the program ends.
        auto holder = std::make_unique<SingleInstance>("LockC");
        QVERIFY(holder->isFirst());
        QProcess child;
        child.start("sleep", {"30"});
        QVERIFY(child.waitForStarted(10000));
        holder.reset();
        SingleInstance next("LockC");
        child.kill();
        child.waitForFinished(10000);
        QVERIFY(next.isFirst());
    }

    void aRuntimeDirectoryWithoutAccessStillLetsTheProgramRun() {
        qputenv("XDG_RUNTIME_DIR", "/proc/no-such-dir");
        SingleInstance instance("LockD-" + std::to_string(::getpid()));
        QVERIFY(instance.isFirst());
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
