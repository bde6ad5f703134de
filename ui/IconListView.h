#pragma once
// The main window's list of pages: large status icons with the labels wrapped under them, laid
// out in rows from the top left on a pale yellow ground; read-only, one item selected at most.
#include <QListView>

namespace vantrel {

class IconListView : public QListView {
    Q_OBJECT
  public:
    // `scale` is the window's design scale; the icons are 32 x 32 at scale 1.
    explicit IconListView(qreal scale, QWidget* parent = nullptr);

    // A cell of the list at scale 1: the picture and up to three lines of its label.
    static constexpr int kGridWidth = 76;
    static constexpr int kGridHeight = 76;
    static constexpr int kIconSize = 32;

    // The item's picture and label as drawn: the part of its cell they fill, centred across it
    // and from its top, at most the whole cell (longer labels are elided after three lines).
    QRect visualRect(const QModelIndex& index) const override;
    QModelIndex indexAt(const QPoint& point) const override;
    // Keeps `pixels` at the bottom of the list free of items (for the find bar over it).
    void setBottomRoom(int pixels) { setViewportMargins(0, 0, 0, pixels); }

  protected:
    void mousePressEvent(QMouseEvent* event) override;
};

}  // namespace vantrel
