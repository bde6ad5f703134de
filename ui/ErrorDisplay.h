#pragma once
// The application's error display, the one way every failure that escapes an event handler, the
// main window's creation or destruction, a check cycle or the start-up reaches the user: a modal
// box captioned "Vantrel" with the error icon and OK; once the program ends by signal, a line on
// standard error.
#include <QString>
#include <exception>

class QWidget;

namespace vantrel {

class ErrorDisplay {
  public:
    // The message plus "." when its last character's code is greater than that of ".".
    static QString text(const QString& message);

    // The box runs its own event loop, in which a handler that fails again with the same error
    // (a repaint, the next tick of a timer) would open one box per event, each nested in the
    // last, until the stack runs out: while a box is open, the same text is not shown again.
    static void show(const QString& message, QWidget* parent = nullptr);
    static void show(const std::exception& error, QWidget* parent = nullptr);
    // Any thrown value; one that is no std::exception reads "Unknown exception".
    static void show(const std::exception_ptr& error, QWidget* parent = nullptr);

    // Runs an event handler's body; whatever escapes it is shown and the program goes on.
    template <class Body>
    static void guarded(QWidget* owner, Body&& body) {
        try {
            body();
        } catch (...) {
            show(std::current_exception(), owner);
        }
    }

    // An end by signal (log-off, shutdown, Ctrl+C) has nobody to click OK: from this call on,
    // every error goes to standard error as one line, "Vantrel: " and the text, and never waits.
    // A box open now is closed, its text written there as well. It stays so for the run.
    static void sendToStandardError();
    static bool sendsToStandardError();
    // How many errors went to standard error so far.
    static int errorsWritten();

    // Tests replace the modal box with a recorder; null restores it.
    using Sink = void (*)(const QString& shownText);
    static void setSink(Sink sink);
};

}  // namespace vantrel
