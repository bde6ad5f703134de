#include "ui/PageFilterProxy.h"

#include "ui/PageListModel.h"
#include "ui/PageTableModel.h"

namespace vantrel {

PageFilterProxy::PageFilterProxy(QObject* parent) : QSortFilterProxyModel(parent) {
    setSortRole(PageTableModel::SortRole);
    setSortCaseSensitivity(Qt::CaseInsensitive);
    // A check that changes a page's status moves it in or out of view at once.
    setDynamicSortFilter(true);
}

void PageFilterProxy::setSearchText(const QString& text) {
    if (text == search_) return;
    search_ = text;
    invalidateRowsFilter();
    emit narrowingChanged();
}

void PageFilterProxy::setShow(Show show) {
    if (show == show_) return;
    show_ = show;
    invalidateRowsFilter();
    emit narrowingChanged();
}

bool PageFilterProxy::matchesSearch(int sourceRow) const {
    if (search_.isEmpty()) return true;
    const QAbstractItemModel* source = sourceModel();
    for (const int column : {PageTableModel::Label, PageTableModel::Url}) {
        const QString text = source->index(sourceRow, column).data(Qt::DisplayRole).toString();
        if (text.contains(search_, Qt::CaseInsensitive)) return true;
    }
    return false;
}

bool PageFilterProxy::accepts(int sourceRow) const {
    if (show_ != Show::All) {
        const int status = sourceModel()->index(sourceRow, 0).data(PageListModel::StatusRole).toInt();
        if (status != static_cast<int>(show_) - 1) return false;
    }
    return matchesSearch(sourceRow);
}

std::array<int, PageFilterProxy::kShowCount> PageFilterProxy::counts() const {
    std::array<int, kShowCount> counts{};
    const QAbstractItemModel* source = sourceModel();
    if (!source) return counts;
    const int rows = source->rowCount();
    for (int row = 0; row < rows; ++row) {
        if (!matchesSearch(row)) continue;
        ++counts[0];
        const int status = source->index(row, 0).data(PageListModel::StatusRole).toInt();
        if (status >= 0 && status < kShowCount - 1) ++counts[static_cast<size_t>(status) + 1];
    }
    return counts;
}

bool PageFilterProxy::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const {
    return !sourceParent.isValid() && accepts(sourceRow);
}

}  // namespace vantrel
