#pragma once
// Places the main window's controls at their design rectangles, scaled with the text size, and
// keeps each at its distance to the window edges it is anchored to when the window is resized:
// a control anchored to both opposite edges grows, one anchored to the right or bottom edge
// only moves with it.
#include <QFont>
#include <QIcon>
#include <QLayout>
#include <QList>
#include <QRect>

class QCheckBox;
class QLabel;
class QPushButton;

namespace vantrel {

class MonitorLayout : public QLayout {
    Q_OBJECT
  public:
    enum Anchor { Left = 1, Top = 2, Right = 4, Bottom = 8 };
    Q_DECLARE_FLAGS(Anchors, Anchor)

    // `designSize` is the client size the design rectangles are given for, at scale 1.
    MonitorLayout(QSize designSize, qreal scale, QWidget* parent = nullptr);
    ~MonitorLayout() override;

    void addControl(QWidget* control, const QRect& design, Anchors anchors);

    // Controls of the parent widget, named and placed at their design rectangles.
    QLabel* addPicture(const char* name, const QPixmap& picture, const QRect& design, Anchors anchors);
    QLabel* addText(const char* name, const char* text, const QRect& design, Anchors anchors);
    // A push button with a 16 x 16 picture left of its caption; Enter presses it when focused.
    QPushButton* addButton(const char* name, const char* caption, const QIcon& picture, const QRect& design,
                           Anchors anchors);
    QCheckBox* addCheckBox(const char* name, const char* caption, const QRect& design, Anchors anchors);

    // Lets a text control grow to the width its text needs, up to `maxDesignWidth`: the design's
    // widths fit Tahoma, and a substitute font may run a little wider.
    void fitWidth(QWidget* control, int maxDesignWidth);

    // Tahoma 8 pt, or the closest installed sans-serif of similar width.
    static QFont windowFont();
    // A design length, scaled.
    int length(int design) const;

    qreal scale() const { return scale_; }
    QRect scaled(const QRect& design) const;
    QSize scaledDesignSize() const;

    void addItem(QLayoutItem* item) override;
    QLayoutItem* itemAt(int index) const override;
    QLayoutItem* takeAt(int index) override;
    int count() const override { return static_cast<int>(items_.size()); }
    QSize sizeHint() const override;
    QSize minimumSize() const override;
    void setGeometry(const QRect& rect) override;

  private:
    struct Placed {
        QLayoutItem* item;
        QRect design;
        Anchors anchors;
    };
    QList<Placed> items_;
    QSize designSize_;
    qreal scale_;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(MonitorLayout::Anchors)

}  // namespace vantrel
