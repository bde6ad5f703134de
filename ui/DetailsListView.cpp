#include "ui/DetailsListView.h"

#include <QHeaderView>
#include <QSignalBlocker>
#include <cmath>
#include <iterator>

#include "ui/DesignLayout.h"

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
    holdFonts();
}

void DetailsListView::holdFonts() {
    if (!shown_) header()->setMinimumSectionSize(1);
}

void DetailsListView::restoreColumns(const DesignLayout& layout, const QByteArray& state) {
    {
        // Each width set would lay the view out at once, hidden or not.
        const QSignalBlocker quiet(header());
        for (int i = 0; i < static_cast<int>(std::size(kColumnWidths)); ++i)
            setColumnWidth(i, layout.length(kColumnWidths[i]));
    }
    header()->restoreState(state);
    holdFonts();  // the saved state brings its own least size
}

void DetailsListView::showEvent(QShowEvent* event) {
    if (!shown_) {
        shown_ = true;
        header()->setMinimumSectionSize(-1);  // measured from the font from now on
    }
    QTreeView::showEvent(event);
}

}  // namespace vantrel
