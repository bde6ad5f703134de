#include "ui/ErrorDisplay.h"

#include <QMessageBox>
#include <QStringList>

namespace vantrel {

namespace {

ErrorDisplay::Sink gSink = nullptr;
QStringList gOpen;  // texts whose box is open now, innermost last

}  // namespace

QString ErrorDisplay::text(const QString& message) {
    // Messages that already end in punctuation (a quotation mark, a full stop, a closing bracket
    // below ".") keep it; one ending in a letter or a digit is closed with a full stop.
    if (!message.isEmpty() && message.back().unicode() > u'.') return message + u'.';
    return message;
}

void ErrorDisplay::show(const QString& message, QWidget* parent) {
    const QString shown = text(message);
    if (gOpen.contains(shown)) return;
    gOpen.append(shown);
    struct Closed {
        ~Closed() { gOpen.removeLast(); }
    } closed;
    if (gSink != nullptr) {
        gSink(shown);
        return;
    }
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Vantrel"), shown, QMessageBox::Ok, parent);
    box.exec();
}

void ErrorDisplay::show(const std::exception& error, QWidget* parent) {
    show(QString::fromUtf8(error.what()), parent);
}

void ErrorDisplay::show(const std::exception_ptr& error, QWidget* parent) {
    if (!error) return;
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& thrown) {
        show(thrown, parent);
    } catch (...) {
        show(QStringLiteral("Unknown exception"), parent);
    }
}

void ErrorDisplay::setSink(Sink sink) {
    gSink = sink;
}

}  // namespace vantrel
