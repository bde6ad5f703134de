#include "ui/IconListView.h"

#include <QMouseEvent>
#include <cmath>

namespace vantrel {

namespace {
const QColor kGround(255, 255, 225);
int scaledLength(int length, qreal scale) {
    return static_cast<int>(std::lround(length * scale));
}
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
    setGridSize(QSize(scaledLength(kGridWidth, scale), scaledLength(kGridHeight, scale)));
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setDragEnabled(false);

    QPalette ground = palette();
    ground.setColor(QPalette::Base, kGround);
    // The selection is not shown while the list does not have the focus.
    ground.setColor(QPalette::Inactive, QPalette::Highlight, kGround);
    ground.setColor(QPalette::Inactive, QPalette::HighlightedText,
                    ground.color(QPalette::Active, QPalette::Text));
    setPalette(ground);
}

void IconListView::mousePressEvent(QMouseEvent* event) {
    // A press on empty space leaves nothing selected, so a double-click there edits nothing.
    if (!indexAt(event->position().toPoint()).isValid()) clearSelection();
    QListView::mousePressEvent(event);
}

}  // namespace vantrel
