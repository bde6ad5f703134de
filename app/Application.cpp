#include "app/Application.h"

#include <QWidget>

#include "ui/ErrorDisplay.h"
#include "ui/TrayNotifier.h"

namespace vantrel {

Application::Application(int& argc, char** argv) : QApplication(argc, argv) {
    // The display name then reads "Vantrel" too. It is deliberately not set on its own: Qt would
    // append it to every window caption ("... - Vantrel"), and the captions are fixed texts.
    setApplicationName(QStringLiteral("Vantrel"));
    // The launcher's name: a Wayland compositor (the window's app id) and the notification-area
    // host find the program's icon and name through it.
    setDesktopFileName(QString::fromLatin1(TrayNotifier::kDesktopEntry));
    // Only the main window's close ends the program; an error box that closes while the main
    // window sits hidden in the notification area must not.
    setQuitOnLastWindowClosed(false);
}

bool Application::notify(QObject* receiver, QEvent* event) {
    try {
        const bool handled = QApplication::notify(receiver, event);
        // The one way the run ends when the main window closes: its close box, Alt+F4, the Exit
        // button and a quit of the session all arrive here as an accepted close.
        if (event->type() == QEvent::Close && receiver == mainWindow_ && mainWindow_ != nullptr &&
            event->isAccepted()) {
            requestQuit();
        }
        return handled;
    } catch (...) {
        ErrorDisplay::show(std::current_exception());
    }
    return false;
}

int Application::run() {
    if (quitPending_) {
        quitPending_ = false;
        loopEnded_ = true;
        return 0;
    }
    loopEnded_ = false;
    inMainLoop_ = true;
    const int code = exec();
    inMainLoop_ = false;
    quitPending_ = false;
    loopEnded_ = true;
    return code;
}

void Application::requestQuit() {
    if (inMainLoop_) {
        if (!quitPending_) {
            // quit() closes the windows (a modal dialog included) and ends exec() in order.
            quitPending_ = true;
            quit();
        } else {
            // Asked again: leave every loop now, whatever window holds it.
            exit(0);
        }
        return;
    }
    if (loopEnded_) {
        // The main window is being destroyed: a message box left open must not hold the end.
        exit(0);
        return;
    }
    // Still starting: the main window is built and destroyed in order, without a loop. exit()
    // is no use here: it would make every later wait of the start-up (the wait for a
    // notification area) return at once and spin. A message box waiting for OK is closed.
    quitPending_ = true;
    if (QWidget* box = activeModalWidget()) box->close();
}

void Application::endBySignal() {
    endingBySignal_ = true;
    ErrorDisplay::sendToStandardError();
    TrayNotifier::stopWaiting();
    requestQuit();
}

}  // namespace vantrel
