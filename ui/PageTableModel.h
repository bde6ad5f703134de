#pragma once
// The page list as a table for the details view: the rows of the icon view's model, each with
// the columns Status, Label, URL, Interval, Last check, Result and Last change, in the words the
// Details window uses. Follows the icon view's model row for row, so a row here is the same page
// as the row of the same number there.
#include <QAbstractTableModel>
#include <QHash>
#include <QPixmap>
#include <functional>

#include "core/CheckReport.h"
#include "store/HistoryTables.h"

namespace vantrel {

class PageList;
class PageListModel;

class PageTableModel : public QAbstractTableModel {
    Q_OBJECT
  public:
    enum Column { Status, Label, Url, Interval, LastCheck, Result, LastChange, ColumnCount };
    // What a column sorts by: status code, text, minutes or milliseconds since 1970.
    static constexpr int SortRole = Qt::UserRole + 10;

    using HistoryLookup = std::function<PageSummary(const std::u16string& url)>;

    // `rows` is the icon view's model over `list`; `history` tells what the history knows of a
    // URL (asked once per URL, then kept and followed through checkRecorded()); `iconSize` is
    // the side of the status pictures.
    PageTableModel(PageListModel& rows, const PageList& list, HistoryLookup history, int iconSize,
                   qreal devicePixelRatio, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // Whether the history is asked at all: not until the details view is first shown, since a
    // hidden view still measures its first row, and a run that never shows the view must not
    // load the history for it. Until then the columns show what the list alone knows.
    void askHistory();

    // A check of `url` ended: the rows of that page show it.
    void checkRecorded(const QString& url, const vantrel::CheckRecord& check);

  private:
    const PageSummary& summaryOf(const std::u16string& url) const;
    void forwardSignals();

    PageListModel& rows_;
    const PageList& list_;
    HistoryLookup history_;
    bool askHistory_ = false;
    int iconSize_;
    qreal devicePixelRatio_;
    mutable QHash<QString, PageSummary> summaries_;
    mutable QPixmap images_[4];
    QList<QPersistentModelIndex> layoutMarks_;
    QModelIndexList layoutFrom_;
};

}  // namespace vantrel
