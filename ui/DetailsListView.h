#pragma once
// The details view of the page list: one row per page with its columns, sortable by a click on a
// column's header, columns resizable; read-only, one row selected at most.
#include <QTreeView>

namespace vantrel {

class DesignLayout;

class DetailsListView : public QTreeView {
    Q_OBJECT
  public:
    // `scale` is the window's design scale.
    explicit DetailsListView(qreal scale, QWidget* parent = nullptr);

    // Keeps `pixels` at the bottom of the view free of rows (for the find bar over it).
    void setBottomRoom(int pixels) { setViewportMargins(0, 0, 0, pixels); }
    // Column widths at scale 1, until the user changes them.
    static constexpr int kColumnWidths[] = {110, 200, 240, 80, 130, 240, 130};
    // Sets the column widths of the design at `layout`'s scale, then the header's saved `state`
    // over them.
    void restoreColumns(const DesignLayout& layout, const QByteArray& state);

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    // A program that stays in the notification area never shows this view, and should not load
    // a font for it: until the first showing, the header's least section size is a fixed one
    // (measured, it comes from a font) and nothing is laid out.
    void holdFonts();
    bool shown_ = false;
};

}  // namespace vantrel
