#include "ui/IconListView.h"

#include <QMouseEvent>
#include <QStyledItemDelegate>
#include <algorithm>
#include <cmath>

#include "ui/ThemeColours.h"

namespace vantrel {

namespace {

const QColor kGround(255, 255, 225);

int scaledLength(int length, qreal scale) {
    return static_cast<int>(std::lround(length * scale));
}

// Lays every item out as one whole cell, so the view sizes them all from one answer instead of
// measuring every label: with a hundred thousand entries the measuring alone took seconds. The
// label is measured only for the items the view draws or hit-tests (IconListView::visualRect).
class CellDelegate : public QStyledItemDelegate {
  public:
    CellDelegate(QSize cell, QObject* parent) : QStyledItemDelegate(parent), cell_(cell) {}

    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override { return cell_; }
    // What the picture and the wrapped label need.
    QSize contentSize(const QStyleOptionViewItem& option, const QModelIndex& index) const {
        return QStyledItemDelegate::sizeHint(option, index);
    }

  private:
    QSize cell_;
};

}  // namespace

IconListView::IconListView(qreal scale, QWidget* parent) : QListView(parent) {
    setViewMode(QListView::IconMode);
    setFlow(QListView::LeftToRight);
    setWrapping(true);
    // Items stay where the layout puts them: no dragging, and a delete closes the gap.
    setMovement(QListView::Static);
    setResizeMode(QListView::Adjust);
    setWordWrap(true);
    const int icon = scaledLength(kIconSize, scale);
    setIconSize(QSize(icon, icon));
    const QSize cell(scaledLength(kGridWidth, scale), scaledLength(kGridHeight, scale));
    setGridSize(cell);
    setItemDelegate(new CellDelegate(cell, this));
    setUniformItemSizes(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setDragEnabled(false);

    QPalette ground = palette();
    const QColor base = ThemeColours::ground(ground, QPalette::Base, kGround);
    ground.setColor(QPalette::Base, base);
    // The selection is not shown while the list does not have the focus.
    ground.setColor(QPalette::Inactive, QPalette::Highlight, base);
    ground.setColor(QPalette::Inactive, QPalette::HighlightedText,
                    ground.color(QPalette::Active, QPalette::Text));
    setPalette(ground);
}

QRect IconListView::visualRect(const QModelIndex& index) const {
    const QRect cell = QListView::visualRect(index);
    const auto* delegate = dynamic_cast<const CellDelegate*>(itemDelegate());
    if (!cell.isValid() || delegate == nullptr) return cell;
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    const QSize content = delegate->contentSize(option, index);
    // Where a layout that measured the item would put it: centred across its cell, at the top.
    const int width = std::min(cell.width(), content.width());
    const int height = std::min(cell.height(), content.height());
    return QRect(cell.left() + (cell.width() - width) / 2, cell.top(), width, height);
}

QModelIndex IconListView::indexAt(const QPoint& point) const {
    // The cell holds the point; the item is hit only where it is drawn.
    const QModelIndex index = QListView::indexAt(point);
    return index.isValid() && visualRect(index).contains(point) ? index : QModelIndex();
}

void IconListView::mousePressEvent(QMouseEvent* event) {
    // A press on empty space leaves nothing selected, so a double-click there edits nothing.
    if (!indexAt(event->position().toPoint()).isValid()) clearSelection();
    QListView::mousePressEvent(event);
}

}  // namespace vantrel
