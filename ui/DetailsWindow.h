#pragma once
// The non-modal "Details" window of one page: what the list knows of it, what the history knows of
// its last check and its changes, and its last checks as a list and a chart of response times.
// Follows the page live while open; closes itself when the page is deleted.
#include <QList>
#include <QWidget>
#include <vector>

#include "core/CheckReport.h"
#include "store/HistoryTables.h"
#include "ui/MessageLabel.h"

class QLabel;
class QTreeWidget;

namespace vantrel {

class Monitor;
class PageListModel;
class FilterPanel;
class ResponseChart;

class DetailsWindow : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kRecentChecks = 50;

    struct Row {
        QString caption, value;
        bool operator==(const Row&) const = default;
    };

    // Reads the page's history from the monitor's store; `model` tells of every change of the list.
    DetailsWindow(Monitor& monitor, PageListModel& model, EntryId id, QWidget* parent = nullptr);

    EntryId entryId() const { return id_; }
    // What the window shows for the page, in order (caption, value).
    QList<Row> rows() const;
    // The rows for `entry` with what the history knows of it.
    static QList<Row> rowsFor(const PageEntry& entry, const PageSummary& summary);
    // Folds a check that just ended into a summary and the newest-first list of recent checks, as
    // the history would read them back once the check is written.
    static void addCheck(PageSummary& summary, std::vector<CheckRecord>& recent, const CheckRecord& check);
    // "2026-12-08 11:49:48" in the local time zone.
    static QString localTime(int64_t utcMs);

    QTreeWidget* checksList() const { return checks_; }
    QLabel* historyOffLabel() const { return historyOff_; }
    // Whether the page's checks are paused and how the alarm command last failed for it.
    QLabel* notesLabel() const { return notes_; }
    // The page's filters; null when the page has no history store.
    FilterPanel* filterPanel() const { return filters_; }

  protected:
    // With filter edits not yet saved, asks whether to save them first; Cancel keeps it open.
    void closeEvent(QCloseEvent* event) override;

  private:
    void readHistory();
    void showEntry();
    void showChecks();
    void showNotes();
    void checkRecorded(const QString& url, const CheckRecord& check);

    Monitor& monitor_;
    EntryId id_;
    PageSummary summary_;
    std::vector<CheckRecord> recent_;  // newest first
    QList<QLabel*> values_;
    MessageLabel* historyOff_ = nullptr;
    QLabel* notes_ = nullptr;
    QTreeWidget* checks_ = nullptr;
    ResponseChart* chart_ = nullptr;
    FilterPanel* filters_ = nullptr;
};

}  // namespace vantrel
