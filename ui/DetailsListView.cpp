#include "ui/DetailsListView.h"

#include <QHeaderView>
#include <cmath>

namespace vantrel {

DetailsListView::DetailsListView(qreal scale, QWidget* parent) : QTreeView(parent) {
    setObjectName(QStringLiteral("DetailsView"));
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setAlternatingRowColors(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setTextElideMode(Qt::ElideRight);
    const int icon = static_cast<int>(std::lround(16 * scale));
    setIconSize(QSize(icon, icon));
    QHeaderView* top = header();
    top->setSectionsMovable(false);
    top->setStretchLastSection(true);
    top->setSectionResizeMode(QHeaderView::Interactive);
    // No sort until the user asks for one: the rows keep the list's order. Sorting is switched on
    // by the first showing of the view (see PageViews).
    top->setSortIndicator(-1, Qt::AscendingOrder);
    top->setSortIndicatorClearable(true);
}

}  // namespace vantrel
