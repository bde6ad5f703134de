#include "ui/PageTableModel.h"

#include <vector>

#include "core/PageList.h"
#include "ui/DetailsWindow.h"
#include "ui/PageListModel.h"
#include "ui/Pictures.h"

namespace vantrel {

namespace {

// The Details window's rows that the columns show, in column order after Status.
constexpr int kLabelRow = 0, kUrlRow = 1, kIntervalRow = 2, kStatusRow = 3, kCheckRow = 4, kResultRow = 5,
              kContentRow = 7;

const char* const kHeaders[] = {"Status", "Label", "URL", "Interval", "Last check", "Result", "Last change"};

}  // namespace

PageTableModel::PageTableModel(PageListModel& rows, const PageList& list, HistoryLookup history, int iconSize,
                               qreal devicePixelRatio, QObject* parent)
    : QAbstractTableModel(parent),
      rows_(rows),
      list_(list),
      history_(std::move(history)),
      iconSize_(iconSize),
      devicePixelRatio_(devicePixelRatio) {
    forwardSignals();
}

void PageTableModel::forwardSignals() {
    // Every change of the rows' model is this model's change of the same rows, in all columns.
    connect(&rows_, &QAbstractItemModel::rowsAboutToBeInserted, this,
            [this](const QModelIndex&, int first, int last) { beginInsertRows({}, first, last); });
    connect(&rows_, &QAbstractItemModel::rowsInserted, this, [this] { endInsertRows(); });
    connect(&rows_, &QAbstractItemModel::rowsAboutToBeRemoved, this,
            [this](const QModelIndex&, int first, int last) { beginRemoveRows({}, first, last); });
    connect(&rows_, &QAbstractItemModel::rowsRemoved, this, [this] { endRemoveRows(); });
    connect(&rows_, &QAbstractItemModel::modelAboutToBeReset, this, [this] { beginResetModel(); });
    connect(&rows_, &QAbstractItemModel::modelReset, this, [this] { endResetModel(); });
    connect(&rows_, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& from, const QModelIndex& to) {
                emit dataChanged(index(from.row(), 0), index(to.row(), ColumnCount - 1));
            });
    // A reorder moves whole rows: each persistent index of this model follows the row of the
    // rows' model it stood on, which follows its page.
    connect(&rows_, &QAbstractItemModel::layoutAboutToBeChanged, this, [this] {
        emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
        layoutFrom_ = persistentIndexList();
        layoutMarks_.clear();
        for (const QModelIndex& at : layoutFrom_)
            layoutMarks_.append(QPersistentModelIndex(rows_.index(at.row())));
    });
    connect(&rows_, &QAbstractItemModel::layoutChanged, this, [this] {
        QModelIndexList to;
        for (qsizetype i = 0; i < layoutFrom_.size(); ++i) {
            const QPersistentModelIndex& mark = layoutMarks_[i];
            to.append(mark.isValid() ? index(mark.row(), layoutFrom_[i].column()) : QModelIndex());
        }
        changePersistentIndexList(layoutFrom_, to);
        layoutFrom_.clear();
        layoutMarks_.clear();
        emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    });
}

int PageTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_.rowCount();
}

int PageTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

Qt::ItemFlags PageTableModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

QVariant PageTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= ColumnCount)
        return {};
    return QString::fromLatin1(kHeaders[section]);
}

void PageTableModel::askHistory() {
    if (askHistory_) return;
    askHistory_ = true;
    if (rowCount() > 0) emit dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1));
}

const PageSummary& PageTableModel::summaryOf(const std::u16string& url) const {
    static const PageSummary kNothingKnown;
    if (!askHistory_) return kNothingKnown;
    const QString key = QString::fromStdU16String(url);
    auto found = summaries_.find(key);
    if (found == summaries_.end()) found = summaries_.insert(key, history_ ? history_(url) : PageSummary{});
    return *found;
}

void PageTableModel::checkRecorded(const QString& url, const CheckRecord& check) {
    auto found = summaries_.find(url);
    if (found == summaries_.end()) return;  // read afresh when first shown
    std::vector<CheckRecord> recent;
    DetailsWindow::addCheck(*found, recent, check);
    // The page's own change comes through the rows' model; this row shows the history's part.
    const std::u16string key = url.toStdU16String();
    for (size_t row = 0; row < list_.size(); ++row)
        if (list_.at(row).url() == key)
            emit dataChanged(index(static_cast<int>(row), LastCheck),
                             index(static_cast<int>(row), LastChange));
}

QVariant PageTableModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) return {};
    const PageEntry& entry = list_.at(static_cast<size_t>(index.row()));
    const int column = index.column();
    const int status = static_cast<int>(entry.status);
    if (role == Qt::DecorationRole && column == Status) {
        if (status < 0 || status >= 4) return {};
        QPixmap& image = images_[status];
        if (image.isNull()) image = Pictures::statusImage(status, iconSize_, devicePixelRatio_);
        return image;
    }
    if (role == PageListModel::IdRole) return QVariant::fromValue<quint64>(entry.id);
    if (role == PageListModel::StatusRole) return status;
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole && role != SortRole) return {};
    // The search reads these two for every page: they come without asking the history.
    if (column == Label || column == Url) {
        const QString text = QString::fromStdU16String(column == Label ? entry.label : entry.url());
        return role == SortRole ? QVariant(text.toCaseFolded()) : QVariant(text);
    }

    const PageSummary& summary = summaryOf(entry.url());
    if (role == SortRole) {
        switch (column) {
            case Status:
                return status;
            case Interval:
                return IntervalMinutes(entry.interval());
            case LastCheck:
                if (summary.last) return qint64(summary.last->timeMs);
                return qint64(ReadStamp(entry.stamp()) != 0 ? LocalToUtcMs(ReadStamp(entry.stamp()) * 1000)
                                                            : 0);
            case LastChange:
                return qint64(summary.contentChangedMs.value_or(0));
            default:
                break;
        }
    }
    static constexpr int kRowOfColumn[] = {kStatusRow, kLabelRow,  kUrlRow,    kIntervalRow,
                                           kCheckRow,  kResultRow, kContentRow};
    const QList<DetailsWindow::Row> rows = DetailsWindow::rowsFor(entry, summary);
    const QString text = rows.value(kRowOfColumn[column]).value;
    return role == SortRole ? QVariant(text.toCaseFolded()) : QVariant(text);
}

}  // namespace vantrel
