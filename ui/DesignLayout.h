#pragma once
// Places a window's controls at their design rectangles, scaled with the text size, and keeps
// each at its distance to the window edges it is anchored to when the window is resized: a
// control anchored to both opposite edges grows, one anchored to the right or bottom edge only
// moves with it. Each window keeps its rectangles in one table of DesignRect, which its tests
// read too.
#include <QFont>
#include <QIcon>
#include <QLayout>
#include <QList>
#include <QRect>
#include <span>
#include <string_view>

class QCheckBox;
class QLabel;
class QPushButton;

namespace vantrel {

struct DesignRect;

class DesignLayout : public QLayout {
    Q_OBJECT
  public:
    enum Anchor { Left = 1, Top = 2, Right = 4, Bottom = 8 };
    Q_DECLARE_FLAGS(Anchors, Anchor)

    // `designSize` is the client size the design rectangles are given for, at scale 1.
    DesignLayout(QSize designSize, qreal scale, QWidget* parent);
    ~DesignLayout() override;

    // Names `control` after its design and places it there at once (a dialog's controls are
    // where they belong before it is first shown). A text control whose design leaves room
    // grows to the width its text needs, up to that room: the design's widths fit Tahoma, and
    // a substitute font may run a little wider.
    void add(QWidget* control, const DesignRect& design);
    // Measuring a text loads the font database and shapes the text (megabytes of memory): a
    // window that may stay hidden measures its texts once, when its font is settled, by calling
    // fitTexts() after fitTextsLater() before its controls are added.
    void fitTextsLater() { fitLater_ = true; }
    void fitTexts();

    // Controls of the parent widget, named and placed at their design rectangles.
    QLabel* addPicture(const DesignRect& design, const QPixmap& picture);
    QLabel* addText(const DesignRect& design, const QString& text);
    // A push button with a 16 x 16 picture left of its caption; Enter presses it when focused.
    QPushButton* addButton(const DesignRect& design, const QString& caption, const QIcon& picture);
    QCheckBox* addCheckBox(const DesignRect& design, const QString& caption);

    // The entry named `name`; a name missing from the table is a programming error.
    static const DesignRect& find(std::span<const DesignRect> table, std::string_view name);

    // Tahoma 8 pt, or the closest installed sans-serif of similar width.
    static QFont windowFont();
    // The factor a window's design (given at 96 dpi) is scaled by on its screen.
    static qreal scaleFor(const QWidget* window);
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
        int room = 0;
    };
    // Widens the design of a text control to its text's width, up to its room.
    void fit(Placed& placed) const;

    QList<Placed> items_;
    bool fitLater_ = false;
    QSize designSize_;
    qreal scale_;
};

Q_DECLARE_OPERATORS_FOR_FLAGS(DesignLayout::Anchors)

// One control of a window's design: its name, its rectangle at 96 dpi, the edges it keeps its
// distance to, and for a text control the widest it may grow to (0: its design width).
struct DesignRect {
    const char* name;
    QRect rect;
    DesignLayout::Anchors anchors = DesignLayout::Left | DesignLayout::Top;
    int room = 0;
};

}  // namespace vantrel
