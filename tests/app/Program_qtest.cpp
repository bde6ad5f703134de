// The built program run as a process: an orderly end on SIGTERM, SIGINT and SIGHUP and by its Exit
// command with the page list saved, the page list surviving a run, an end during a hung download,
// the results of checks surviving a kill, and the status listing printed beside a running program.
// Every case runs its own copy of the executable (webpages.dat lives next to it); the
// single-instance guard is the user's own, so the cases run one after the other.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QtTest>

#include "ProgramFixture.h"

using namespace vantrel::test;

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

    // "--add" reaches the running program over its command channel (so its own save at the end
    // keeps the page) and a stopped one's list file directly; either way the page is there once.
    void addReachesTheRunningProgramAndTheFileOnce() {
        Program program;
        QVERIFY(program.valid());
        QVERIFY(program.writeDataFile(threeEntries()));
        const auto command = [&](const QStringList& args, QByteArray* errors = nullptr) {
            QProcess process;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert("XDG_RUNTIME_DIR", program.runtimeDir());
            process.setProcessEnvironment(env);
            process.start(program.exe(), args);
            if (!process.waitForFinished(timeoutMs())) return -1;
            if (errors) *errors = process.readAllStandardError();
            return process.exitCode();
        };
        const auto count = [&](const QString& url) {
            int found = 0;
            const auto sections = readSections(program.dataFile());
            for (const Section& section : sections) found += section.contains({"item1", url}) ? 1 : 0;
            return found;
        };
        QProcess* running = program.start({"-s"});
        QVERIFY(waitRunning(running));
        const QStringList add{"--add", "https://added.example/", "--label", "Added", "--interval", "60"};
        QCOMPARE(command(add), 0);
        QCOMPARE(command(add), 0);
        QVERIFY(endsWithZero(running, SIGTERM));
        QCOMPARE(count("https://added.example/"), 1);
        QCOMPARE(readSections(program.dataFile())["main"].value(0),
                 qMakePair(QString("count"), QString("4")));

        QCOMPARE(command({"--add", "https://stopped.example/"}), 0);
        QCOMPARE(command({"--add", "https://stopped.example/"}), 0);
        QCOMPARE(count("https://stopped.example/"), 1);
        QCOMPARE(count("https://added.example/"), 1);
        QByteArray errors;
        QCOMPARE(command({"--add", "https://x.example/", "--interval", "7"}, &errors), 2);
        QVERIFY2(errors.startsWith("vantrel: --interval: 7 is not one of 1, 5,"), errors.constData());
        QCOMPARE(command({"--import", program.dataFile() + ".missing"}, &errors), 2);
        QCOMPARE(errors, "vantrel: cannot read " + QFile::encodeName(program.dataFile()) + ".missing\n");
        QCOMPARE(count("https://x.example/"), 0);
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

    // The checks' results are saved while the program runs (here after a second, through the
    // settings file), so a kill -9 loses nothing they learned: no orderly end saves them.
    void theResultsOfChecksSurviveAKill() {
        vantrel::test::ScriptedServer server;
        QVERIFY(server.listening());
        server.set("/page", vantrel::test::Page{200, "hello"});
        Program program;
        QVERIFY(program.valid());
        const QByteArray url = QByteArray::fromStdString(server.url8("/page"));
        QVERIFY(
            program.writeDataFile("[main]\r\ncount=1\r\nstart=0\r\nsort=0\r\nrecheck=0\r\n[web1]\r\n"
                                  "caption=Hello\r\nstatus=0\r\nitem1=" +
                                  url + "\r\nitem2=0\r\nitem3=\r\nitem4=\r\n"));
        QFile ini(QFileInfo(program.dataFile()).dir().filePath("settings.ini"));
        QVERIFY(ini.open(QIODevice::WriteOnly) && ini.write("[Results]\nsaveSeconds=1\n") > 0);
        ini.close();
        QProcess* process = program.start({"-s"});
        QVERIFY(waitRunning(process));
        QVERIFY(server.waitForRequests(1, timeoutMs()));
        const auto value = [&](const QString& key) {
            const auto sections = readSections(program.dataFile());
            for (const auto& [name, text] : sections.value("web1"))
                if (name == key) return text;
            return QString();
        };
        QVERIFY(waitFor([&] { return !value("item3").isEmpty(); }, timeoutMs()));
        ::kill(static_cast<pid_t>(process->processId()), SIGKILL);
        QVERIFY(process->waitForFinished(timeoutMs()));
        QCOMPARE(process->exitStatus(), QProcess::CrashExit);
        QCOMPARE(value("status"), "0");  // online
        QCOMPARE(value("item1"), QString::fromUtf8(url));
        QCOMPARE(value("item4"), "CRC of a text above is: 551272DF");  // of u"hello"
        QVERIFY(qAbs(value("item3").toLongLong() - nowStamp().toLongLong()) < 120);
    }
};

QTEST_GUILESS_MAIN(ProgramTest)
#include "Program_qtest.moc"
