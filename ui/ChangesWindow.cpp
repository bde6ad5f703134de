#include "ui/ChangesWindow.h"

#include <QFontDatabase>
#include <QLabel>
#include <QShortcut>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <QThreadPool>
#include <QVBoxLayout>

#include "store/HistoryStore.h"
#include "ui/DetailsWindow.h"
#include "ui/Handover.h"
#include "ui/Monitor.h"
#include "ui/ThemeColours.h"

namespace vantrel {

const QColor ChangesWindow::kRemoved(255, 220, 220);
const QColor ChangesWindow::kAdded(215, 245, 215);

ChangesWindow::ChangesWindow(Monitor& monitor, EntryId id, QWidget* parent)
    : QWidget(parent, Qt::Window), id_(id) {
    setObjectName(QStringLiteral("ChangesWindow"));
    setAttribute(Qt::WA_DeleteOnClose);
    auto* layout = new QVBoxLayout(this);
    times_ = new QLabel(this);
    times_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(times_);
    view_ = new QTextEdit(this);
    view_->setReadOnly(true);
    view_->setLineWrapMode(QTextEdit::NoWrap);
    view_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    layout->addWidget(view_, 1);
    resize(640, 480);
    // Escape closes the window as its close button does.
    new QShortcut(QKeySequence(Qt::Key_Escape), this, this, &QWidget::close);

    const PageEntry* entry = monitor.list().find(id);
    setWindowTitle(QStringLiteral("Changes - ") +
                   (entry ? QString::fromStdU16String(entry->label) : QString()));
    const HistoryStore* history = monitor.history();
    if (!entry || !history) {
        showMessage(QStringLiteral("No history is kept."));
    } else if (history->disabled()) {
        showMessage(QString::fromStdU16String(history->disabledReason()));
    } else {
        compare(history->texts(entry->url()));
    }
}

ChangesWindow::~ChangesWindow() {
    if (job_) job_->forgetReceiver();
}

void ChangesWindow::compare(const PageTexts& texts) {
    if (!texts.before || !texts.latest) {
        showMessage(QStringLiteral("No change of this page has been recorded yet."));
        return;
    }
    const auto cut = [](const StoredText& text) {
        return text.cut ? QStringLiteral(" (cut at 1 MiB)") : QString();
    };
    times_->setText(QStringLiteral("Before: ") + DetailsWindow::localTime(texts.before->lastSeenMs) +
                    cut(*texts.before) + QStringLiteral("\nAfter: ") +
                    DetailsWindow::localTime(texts.latest->firstSeenMs) + cut(*texts.latest));
    view_->setPlainText(QStringLiteral("Comparing\u2026"));
    // Up to half a second on ten thousand differing lines: off the user-interface thread, so
    // neither the diff nor closing the window while it runs holds the window's thread. The pool's
    // threads are the application's: it waits for them when it ends, so no diff outlives it.
    job_ = std::make_shared<Handover<LineDiffResult>>(this, "takeDiff");
    QThreadPool::globalInstance()->start(
        [job = job_, before = texts.before->text, after = texts.latest->text] {
            job->post(DiffLines(before, after));
        });
}

void ChangesWindow::takeDiff() {
    if (std::optional<LineDiffResult> diff = job_ ? job_->take() : std::nullopt) showDiff(*diff);
}

void ChangesWindow::showMessage(const QString& message) {
    view_->setPlainText(message);
    shown_ = true;
    emit ready();
}

void ChangesWindow::showDiff(const LineDiffResult& diff) {
    if (diff.outcome == LineDiffResult::Outcome::Same) {
        showMessage(QStringLiteral("The two texts are the same line by line."));
        return;
    }
    if (diff.outcome == LineDiffResult::Outcome::TooLarge) {
        showMessage(
            QStringLiteral("More than %1 lines differ: too many to compare.").arg(limits::kMaxDiffLines));
        return;
    }
    view_->clear();
    QTextCursor cursor(view_->document());
    cursor.beginEditBlock();
    QTextCharFormat plain;
    QTextCharFormat folded;
    const QPalette& colours = view_->palette();
    folded.setForeground(ThemeColours::readable(QColor(110, 110, 110), colours.color(QPalette::Base)));
    const QColor removed = ThemeColours::tint(colours, kRemoved);
    const QColor added = ThemeColours::tint(colours, kAdded);
    folded.setFontItalic(true);
    bool first = true;
    for (const DiffLine& line : diff.lines) {
        QTextBlockFormat block;
        QString text;
        QTextCharFormat format = plain;
        switch (line.kind) {
            case DiffLine::Kind::Removed:
                block.setBackground(removed);
                text = QStringLiteral("- ") + QString::fromStdU16String(line.text);
                break;
            case DiffLine::Kind::Added:
                block.setBackground(added);
                text = QStringLiteral("+ ") + QString::fromStdU16String(line.text);
                break;
            case DiffLine::Kind::Context:
                text = QStringLiteral("  ") + QString::fromStdU16String(line.text);
                break;
            case DiffLine::Kind::Folded:
                format = folded;
                text = QStringLiteral("\u22ef %1 unchanged line%2")
                           .arg(line.foldedCount)
                           .arg(line.foldedCount == 1 ? "" : "s");
                break;
        }
        if (first)
            cursor.setBlockFormat(block);
        else
            cursor.insertBlock(block);
        first = false;
        cursor.insertText(text, format);
    }
    cursor.endEditBlock();
    view_->moveCursor(QTextCursor::Start);
    times_->setText(times_->text() +
                    QStringLiteral("\n%1 removed, %2 added").arg(diff.removed).arg(diff.added));
    shown_ = true;
    emit ready();
}

}  // namespace vantrel
