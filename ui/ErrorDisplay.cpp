#include "ui/ErrorDisplay.h"

#include <unistd.h>

#include <QList>
#include <QMessageBox>
#include <QPointer>
#include <QStringList>
#include <cerrno>

namespace vantrel {

namespace {

ErrorDisplay::Sink gSink = nullptr;
QStringList gOpen;                    // texts whose box is open now, innermost last
QList<QPointer<QMessageBox>> gBoxes;  // the boxes open now, innermost last
bool gToStandardError = false;
int gWritten = 0;

void writeLine(const QString& shown) {
    // One write, so that the line is not torn by other output of the process.
    const QByteArray line = QStringLiteral("Vantrel: ").toUtf8() + shown.toUtf8() + '\n';
    const char* data = line.constData();
    qsizetype left = line.size();
    while (left > 0) {
        const ssize_t n = ::write(STDERR_FILENO, data, size_t(left));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        data += n;
        left -= n;
    }
    ++gWritten;
}

}  // namespace

QString ErrorDisplay::text(const QString& message) {
    // Messages that already end in punctuation (a quotation mark, a full stop, a closing bracket
    // below ".") keep it; one ending in a letter or a digit is closed with a full stop.
    if (!message.isEmpty() && message.back().unicode() > u'.') return message + u'.';
    return message;
}

void ErrorDisplay::show(const QString& message, QWidget* parent) {
    const QString shown = text(message);
    if (gToStandardError) {
        writeLine(shown);
        return;
    }
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
    gBoxes.append(&box);
    struct Forgotten {
        ~Forgotten() { gBoxes.removeLast(); }
    } forgotten;
    box.exec();
}

void ErrorDisplay::sendToStandardError() {
    if (gToStandardError) return;
    gToStandardError = true;
    // Outermost first, the order they came in; done() leaves each box's own event loop.
    for (const QPointer<QMessageBox>& box : std::as_const(gBoxes)) {
        if (box.isNull() || !box->isVisible()) continue;
        writeLine(box->text());
        box->done(QMessageBox::Ok);
    }
}

bool ErrorDisplay::sendsToStandardError() {
    return gToStandardError;
}

int ErrorDisplay::errorsWritten() {
    return gWritten;
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
