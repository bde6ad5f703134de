// The application object in process: the error display's text rule, exceptions that escape an
// event handler, and how the event loop ends (main window closed, quit requested in a modal box,
// a message box closing while the main window is hidden).
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <QtTest>
#include <csignal>

#include "app/Application.h"
#include "app/SignalBridge.h"
#include "text/Error.h"
#include "ui/ErrorDisplay.h"

using namespace vantrel;

namespace {

QStringList gShown;
void recordShown(const QString& text) {
    gShown << text;
}

// Throws from its event handler for QEvent::User, counts every other custom event.
class ThrowingObject : public QObject {
  public:
    int delivered = 0;
    bool event(QEvent* e) override {
        if (e->type() == QEvent::User) throw Error("Cannot open the page list");
        if (e->type() == QEvent::Type(QEvent::User + 1)) throw 42;
        if (e->type() == QEvent::Type(QEvent::User + 2)) {
            ++delivered;
            return true;
        }
        return QObject::event(e);
    }
};

// Ends any loop that did not end by itself, so a fault fails the test instead of hanging it.
constexpr int kWatchdogMs = 20000;

}  // namespace

class ApplicationTest : public QObject {
    Q_OBJECT
  private slots:
    void init() {
        gShown.clear();
        ErrorDisplay::setSink(recordShown);
    }
    void cleanup() { ErrorDisplay::setSink(nullptr); }

    // Runs first: a request made before the loop runs (a signal during start-up) is kept.
    void quitRequestedBeforeTheLoopEndsItAtOnce() {
        auto* app = static_cast<Application*>(qApp);
        // An error box of the start-up is open when the signal comes: it is closed, not left
        // waiting for OK, and the loop never starts.
        QMessageBox box(QMessageBox::Critical, "Vantrel", "Unable to write to /x.", QMessageBox::Ok);
        QTimer::singleShot(0, &box, [app] { app->requestQuit(); });
        QTimer::singleShot(kWatchdogMs, &box, [&box] { box.done(3); });
        QVERIFY(box.exec() != 3);
        bool loopRan = false;
        // The timer belongs to an object of this function, so it cannot fire into a later test
        // once `loopRan` is gone.
        QObject scope;
        QTimer::singleShot(0, &scope, [&] { loopRan = true; });
        app->requestQuit();
        QCOMPARE(app->run(), 0);
        QVERIFY(!loopRan);
    }

    void errorTextEndsWithAFullStopAfterLettersAndDigits_data() {
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("shown");
        QTest::newRow("empty") << ""
                               << "";
        QTest::newRow("letter") << "Cannot create shell notification icon"
                                << "Cannot create shell notification icon.";
        QTest::newRow("digit") << "Error 404"
                               << "Error 404.";
        QTest::newRow("path") << "Unable to write to /home/u/webpages.dat"
                              << "Unable to write to /home/u/webpages.dat.";
        QTest::newRow("full stop") << "Read timed out."
                                   << "Read timed out.";
        QTest::newRow("double quote") << "\"News\" is offline"
                                      << "\"News\" is offline.";
        QTest::newRow("ends in double quote") << "Bad URL \"x\""
                                              << "Bad URL \"x\"";
        QTest::newRow("ends in single quote") << "Bad URL 'x'"
                                              << "Bad URL 'x'";
        QTest::newRow("hyphen (code 45)") << "a-"
                                          << "a-";
        QTest::newRow("slash (code 47)") << "a/"
                                         << "a/.";
        QTest::newRow("closing bracket (code 41)") << "(x)"
                                                   << "(x)";
        QTest::newRow("non-ASCII letter")
            << QStringLiteral("Gr\u00fc\u00dfe") << QStringLiteral("Gr\u00fc\u00dfe.");
    }
    void errorTextEndsWithAFullStopAfterLettersAndDigits() {
        QFETCH(QString, message);
        QFETCH(QString, shown);
        QCOMPARE(ErrorDisplay::text(message), shown);
        ErrorDisplay::show(message);
        QCOMPARE(gShown, QStringList{shown});
    }

    void exceptionFromAnEventHandlerIsShownAndTheProgramGoesOn() {
        ThrowingObject object;
        QEvent throwing(QEvent::User);
        QCOMPARE(QCoreApplication::sendEvent(&object, &throwing), false);
        QEvent unknown(QEvent::Type(QEvent::User + 1));
        QCOMPARE(QCoreApplication::sendEvent(&object, &unknown), false);
        QCOMPARE(gShown, (QStringList{"Cannot open the page list.", "Unknown exception."}));

        // Posted events go through the same door: the loop survives and delivers the next one.
        QCoreApplication::postEvent(&object, new QEvent(QEvent::User));
        QCoreApplication::postEvent(&object, new QEvent(QEvent::Type(QEvent::User + 2)));
        QTRY_COMPARE_WITH_TIMEOUT(object.delivered, 1, kWatchdogMs);
        QCOMPARE(gShown.size(), 3);
        QCOMPARE(gShown.last(), QStringLiteral("Cannot open the page list."));
    }

    void aHandlerFailingAgainWhileItsErrorIsShownOpensNoSecondBox() {
        // The sink stands for the box's own loop, in which the same handler fails again.
        static ThrowingObject* object = nullptr;
        static int nested = 0;
        ThrowingObject failing;
        object = &failing;
        nested = 0;
        ErrorDisplay::setSink([](const QString& text) {
            gShown << text;
            if (++nested > 3) return;  // bounds the recursion a fault would cause
            QEvent again(QEvent::User);
            QCoreApplication::sendEvent(object, &again);
            QEvent other(QEvent::Type(QEvent::User + 1));
            QCoreApplication::sendEvent(object, &other);
        });
        QEvent first(QEvent::User);
        QCoreApplication::sendEvent(&failing, &first);
        QCOMPARE(gShown, (QStringList{"Cannot open the page list.", "Unknown exception."}));

        // Once the box is closed the same error is shown again.
        gShown.clear();
        ErrorDisplay::setSink(recordShown);
        QCoreApplication::sendEvent(&failing, &first);
        QCOMPARE(gShown, QStringList{"Cannot open the page list."});
    }

    void exceptionFromATimerInTheLoopIsShownAndTheLoopGoesOn() {
        auto* app = static_cast<Application*>(qApp);
        QWidget main;
        app->setMainWindow(&main);
        QTimer::singleShot(0, app, [] { throw Error("Tick failed"); });
        QTimer::singleShot(10, &main, [&main] { main.close(); });
        QObject watchdogScope;  // the watchdog ends with this test
        QTimer::singleShot(kWatchdogMs, &watchdogScope, [] { QCoreApplication::exit(3); });
        QCOMPARE(app->run(), 0);
        QCOMPARE(gShown, QStringList{"Tick failed."});
        app->setMainWindow(nullptr);
    }

    void messageBoxClosingWhileTheMainWindowIsHiddenKeepsTheProgram() {
        auto* app = static_cast<Application*>(qApp);
        QWidget main;  // never shown: the program sits in the notification area
        app->setMainWindow(&main);
        bool stillRunning = false;
        QTimer::singleShot(0, app, [&] {
            QMessageBox box(QMessageBox::Information, "INFORMATION", "Enter a label", QMessageBox::Ok);
            QTimer::singleShot(0, &box, [&box] { box.accept(); });
            box.exec();
            // The box was the last visible window; the loop must still be there for this.
            QTimer::singleShot(0, app, [&] {
                stillRunning = true;
                main.close();
            });
        });
        QObject watchdogScope;  // the watchdog ends with this test
        QTimer::singleShot(kWatchdogMs, &watchdogScope, [] { QCoreApplication::exit(3); });
        QCOMPARE(app->run(), 0);
        QVERIFY(stillRunning);
        app->setMainWindow(nullptr);
    }

    void endSignalDuringAModalBoxEndsTheLoop() {
        auto* app = static_cast<Application*>(qApp);
        SignalBridge bridge({SIGTERM, SIGINT, SIGHUP});
        connect(&bridge, &SignalBridge::received, app, [app](int) { app->requestQuit(); });
        QWidget main;
        app->setMainWindow(&main);
        main.show();
        bool boxReturned = false;
        QTimer::singleShot(0, app, [&] {
            QMessageBox box(QMessageBox::Question, "Question", "Do you sure to recheck all web pages ?",
                            QMessageBox::Yes | QMessageBox::No);
            QTimer::singleShot(0, &box, [] { std::raise(SIGTERM); });
            box.exec();
            boxReturned = true;
        });
        QObject watchdogScope;  // the watchdog ends with this test
        QTimer::singleShot(kWatchdogMs, &watchdogScope, [] { QCoreApplication::exit(3); });
        QCOMPARE(app->run(), 0);
        QVERIFY(boxReturned);
        app->setMainWindow(nullptr);
    }

    void secondRequestLeavesABoxShownAfterTheLoopEnded() {
        // The main window's destruction shows a failed save; a second SIGTERM must not wait for OK.
        auto* app = static_cast<Application*>(qApp);
        QWidget main;
        app->setMainWindow(&main);
        QTimer::singleShot(0, &main, [&main] { main.close(); });
        QCOMPARE(app->run(), 0);
        QMessageBox box(QMessageBox::Critical, "Vantrel", "Unable to write to /x.", QMessageBox::Ok);
        QTimer::singleShot(0, app, [app] { app->requestQuit(); });
        QTimer::singleShot(kWatchdogMs, &box, [&box] { box.done(3); });
        QVERIFY(box.exec() != 3);
        app->setMainWindow(nullptr);
    }
};

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    Application app(argc, argv);
    ApplicationTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "Application_qtest.moc"
