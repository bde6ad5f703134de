#include "ui/MonitorLayout.h"

#include <QCheckBox>
#include <QFontDatabase>
#include <QLabel>
#include <QPushButton>
#include <QWidget>
#include <QWidgetItem>
#include <algorithm>
#include <cmath>

namespace vantrel {

namespace {
int scaledLength(int length, qreal scale) {
    return static_cast<int>(std::lround(length * scale));
}
}  // namespace

MonitorLayout::MonitorLayout(QSize designSize, qreal scale, QWidget* parent)
    : QLayout(parent), designSize_(designSize), scale_(scale) {
    setContentsMargins(0, 0, 0, 0);
    setSpacing(0);
    // The window has no size limits: the layout must not impose a minimum or maximum.
    setSizeConstraint(QLayout::SetNoConstraint);
}

MonitorLayout::~MonitorLayout() {
    while (QLayoutItem* item = takeAt(0)) delete item;
}

void MonitorLayout::addControl(QWidget* control, const QRect& design, Anchors anchors) {
    addChildWidget(control);
    items_.append({new QWidgetItem(control), design, anchors});
    invalidate();
}

int MonitorLayout::length(int design) const {
    return scaledLength(design, scale_);
}

void MonitorLayout::fitWidth(QWidget* control, int maxDesignWidth) {
    for (Placed& placed : items_) {
        if (placed.item->widget() != control) continue;
        const int needed = static_cast<int>(std::ceil(control->sizeHint().width() / scale_));
        placed.design.setWidth(
            std::clamp(needed, placed.design.width(), std::max(maxDesignWidth, placed.design.width())));
        invalidate();
        return;
    }
}

QFont MonitorLayout::windowFont() {
    // Tahoma's narrow letters fill the design's text widths; of the common free families Liberation
    // Sans and DejaVu Sans Condensed come closest, DejaVu Sans runs wider.
    static const char* const kFamilies[] = {"Tahoma", "Liberation Sans", "DejaVu Sans Condensed",
                                            "DejaVu Sans"};
    QString family = QStringLiteral("Sans Serif");
    for (const char* candidate : kFamilies) {
        if (QFontDatabase::hasFamily(QLatin1String(candidate))) {
            family = QLatin1String(candidate);
            break;
        }
    }
    QFont font(family);
    font.setPointSize(8);
    return font;
}

QLabel* MonitorLayout::addPicture(const char* name, const QPixmap& picture, const QRect& design,
                                  Anchors anchors) {
    auto* label = new QLabel(parentWidget());
    label->setObjectName(QLatin1String(name));
    label->setPixmap(picture);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    addControl(label, design, anchors);
    return label;
}

QLabel* MonitorLayout::addText(const char* name, const char* text, const QRect& design, Anchors anchors) {
    auto* label = new QLabel(QLatin1String(text), parentWidget());
    label->setObjectName(QLatin1String(name));
    addControl(label, design, anchors);
    return label;
}

QPushButton* MonitorLayout::addButton(const char* name, const char* caption, const QIcon& picture,
                                      const QRect& design, Anchors anchors) {
    auto* button = new QPushButton(QLatin1String(caption), parentWidget());
    button->setObjectName(QLatin1String(name));
    button->setIcon(picture);
    button->setIconSize(QSize(length(16), length(16)));
    // There is no default button, but Enter presses the button that has the focus.
    button->setAutoDefault(true);
    addControl(button, design, anchors);
    return button;
}

QCheckBox* MonitorLayout::addCheckBox(const char* name, const char* caption, const QRect& design,
                                      Anchors anchors) {
    auto* box = new QCheckBox(QLatin1String(caption), parentWidget());
    box->setObjectName(QLatin1String(name));
    addControl(box, design, anchors);
    return box;
}

void MonitorLayout::addItem(QLayoutItem* item) {
    // Items added without a design place stay where they are drawn at the top left.
    items_.append({item, QRect(QPoint(0, 0), item->sizeHint()), Left | Top});
}

QLayoutItem* MonitorLayout::itemAt(int index) const {
    return index >= 0 && index < items_.size() ? items_[index].item : nullptr;
}

QLayoutItem* MonitorLayout::takeAt(int index) {
    if (index < 0 || index >= items_.size()) return nullptr;
    return items_.takeAt(index).item;
}

QRect MonitorLayout::scaled(const QRect& design) const {
    return QRect(scaledLength(design.x(), scale_), scaledLength(design.y(), scale_),
                 scaledLength(design.width(), scale_), scaledLength(design.height(), scale_));
}

QSize MonitorLayout::scaledDesignSize() const {
    return QSize(scaledLength(designSize_.width(), scale_), scaledLength(designSize_.height(), scale_));
}

QSize MonitorLayout::sizeHint() const {
    return scaledDesignSize();
}

QSize MonitorLayout::minimumSize() const {
    return QSize(0, 0);
}

void MonitorLayout::setGeometry(const QRect& rect) {
    QLayout::setGeometry(rect);
    const QSize design = scaledDesignSize();
    const int dx = rect.width() - design.width();
    const int dy = rect.height() - design.height();
    for (const Placed& placed : items_) {
        QRect r = scaled(placed.design);
        if (placed.anchors.testFlag(Right)) {
            if (placed.anchors.testFlag(Left))
                r.setWidth(std::max(0, r.width() + dx));
            else
                r.moveLeft(r.left() + dx);
        }
        if (placed.anchors.testFlag(Bottom)) {
            if (placed.anchors.testFlag(Top))
                r.setHeight(std::max(0, r.height() + dy));
            else
                r.moveTop(r.top() + dy);
        }
        r.translate(rect.topLeft());
        // Exact placement: a widget item would bend the rectangle to the widget's size hints.
        if (QWidget* widget = placed.item->widget())
            widget->setGeometry(r);
        else
            placed.item->setGeometry(r);
    }
}

}  // namespace vantrel
