#pragma once
// The application's error display: a modal box captioned "Vantrel" with the error icon and OK.
#include <QString>
#include <exception>

class QWidget;

namespace vantrel {

class ErrorDisplay {
  public:
    // The message plus "." when its last character's code is greater than that of ".".
    static QString text(const QString& message);
    static void show(const QString& message, QWidget* parent = nullptr);
    static void show(const std::exception& error, QWidget* parent = nullptr);
    // Tests replace the modal box with a recorder; null restores it.
    using Sink = void (*)(const QString& shownText);
    static void setSink(Sink sink);
};

}  // namespace vantrel
