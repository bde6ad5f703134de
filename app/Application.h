#pragma once
// The application object: shows every exception that escapes an event handler on the error
// display and goes on, ends the run when the main window is closed, and turns quit requests
// (signals, the session's end) into one orderly end of the event loop.
#include <QApplication>

namespace vantrel {

class Application : public QApplication {
    Q_OBJECT
  public:
    // Sets the application name (and so the display name) "Vantrel" and keeps the program running when a
    // window other than the main window (a message box while the main window is hidden) closes last.
    Application(int& argc, char** argv);

    // Catches what an event handler throws, shows it with ErrorDisplay and returns false.
    bool notify(QObject* receiver, QEvent* event) override;

    // An accepted close of this window ends the event loop.
    void setMainWindow(QWidget* window) { mainWindow_ = window; }

    // Runs the event loop unless a quit was requested before it started (then returns 0 at
    // once). Returns the loop's exit code.
    int run();

    // The first request ends the event loop in order (windows are closed, exec returns). One
    // that comes before the loop runs is kept and makes run() return at once; it also closes a
    // message box that waits for OK meanwhile. A further request, or one after the loop ended,
    // leaves every nested loop at once (a modal box left open).
    void requestQuit();

    // An end by signal (SIGTERM, SIGINT, SIGHUP): nobody waits at the screen, so nothing may wait
    // for them. Every error from now on goes to standard error, a box open now is closed, a wait
    // for the notification area ends at once; then the quit is requested as above.
    void endBySignal();
    bool endingBySignal() const { return endingBySignal_; }

  private:
    QWidget* mainWindow_ = nullptr;
    bool inMainLoop_ = false;
    bool loopEnded_ = false;
    bool quitPending_ = false;
    bool endingBySignal_ = false;
};

}  // namespace vantrel
