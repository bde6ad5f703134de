#pragma once
// The "Show Changes" window of one page: a line diff of its text before and after its latest
// change, removed lines in red and added lines in green, unchanged runs folded, with the times of
// the two checks above it. The diff is worked out on a thread of the application's pool.
#include <QWidget>
#include <memory>

#include "store/HistoryTables.h"
#include "text/LineDiff.h"

class QLabel;
class QTextEdit;

namespace vantrel {

class Monitor;
template <typename Result>
class Handover;

class ChangesWindow : public QWidget {
    Q_OBJECT
  public:
    // Reads the two texts of the page `id` from the monitor's history.
    ChangesWindow(Monitor& monitor, EntryId id, QWidget* parent = nullptr);
    // Returns at once: a diff still being worked out ends on its own (bounded: it gives up past
    // limits::kMaxDiffLines) and its result is dropped.
    ~ChangesWindow() override;

    EntryId entryId() const { return id_; }
    QLabel* timesLabel() const { return times_; }
    QTextEdit* view() const { return view_; }
    bool diffShown() const { return shown_; }

    // Background colours of removed and added lines on a light theme.
    static const QColor kRemoved;
    static const QColor kAdded;

  signals:
    // The diff (or the reason there is none) is on the screen.
    void ready();

  private:
    // Shows the diff the worker left in its job (posted by the worker, by name).
    Q_INVOKABLE void takeDiff();

    void compare(const PageTexts& texts);
    void showDiff(const LineDiffResult& diff);
    void showMessage(const QString& message);

    EntryId id_;
    QLabel* times_ = nullptr;
    QTextEdit* view_ = nullptr;
    std::shared_ptr<Handover<LineDiffResult>> job_;
    bool shown_ = false;
};

}  // namespace vantrel
