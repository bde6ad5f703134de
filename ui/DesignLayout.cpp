#include "ui/DesignLayout.h"

#include <QCheckBox>
#include <QFontDatabase>
#include <QLabel>
#include <QPushButton>
#include <QWidget>
#include <QWidgetItem>
#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace vantrel {

namespace {
int scaledLength(int length, qreal scale) {
    return static_cast<int>(std::lround(length * scale));
}
}  // namespace

DesignLayout::DesignLayout(QSize designSize, qreal scale, QWidget* parent)
    : QLayout(parent), designSize_(designSize), scale_(scale) {
    setContentsMargins(0, 0, 0, 0);
    setSpacing(0);
    // The window has no size limits: the layout must not impose a minimum or maximum.
    setSizeConstraint(QLayout::SetNoConstraint);
}

DesignLayout::~DesignLayout() {
    while (QLayoutItem* item = takeAt(0)) delete item;
}

void DesignLayout::add(QWidget* control, const DesignRect& design) {
    control->setObjectName(QLatin1String(design.name));
    addChildWidget(control);
    items_.append({new QWidgetItem(control), design.rect, design.anchors, design.room});
    if (!fitLater_) fit(items_.last());
    control->setGeometry(scaled(items_.last().design));
    invalidate();
}

void DesignLayout::fit(Placed& placed) const {
    QRect& rect = placed.design;
    if (placed.room <= rect.width() || !placed.item->widget()) return;
    const int needed = static_cast<int>(std::ceil(placed.item->widget()->sizeHint().width() / scale_));
    rect.setWidth(std::clamp(needed, rect.width(), placed.room));
}

void DesignLayout::fitTexts() {
    for (Placed& placed : items_) {
        if (placed.room <= placed.design.width()) continue;
        fit(placed);
        placed.item->widget()->setGeometry(scaled(placed.design));
    }
    invalidate();
}

const DesignRect& DesignLayout::find(std::span<const DesignRect> table, std::string_view name) {
    for (const DesignRect& design : table)
        if (name == design.name) return design;
    qFatal("no design rectangle named %.*s", static_cast<int>(name.size()), name.data());
    std::abort();
}

int DesignLayout::length(int design) const {
    return scaledLength(design, scale_);
}

qreal DesignLayout::scaleFor(const QWidget* window) {
    // The design is for 96 dpi; larger text sizes scale every measure alike.
    return std::max(1, window->logicalDpiY()) / 96.0;
}

QFont DesignLayout::windowFont() {
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

QLabel* DesignLayout::addPicture(const DesignRect& design, const QPixmap& picture) {
    auto* label = new QLabel(parentWidget());
    label->setPixmap(picture);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    add(label, design);
    return label;
}

QLabel* DesignLayout::addText(const DesignRect& design, const QString& text) {
    auto* label = new QLabel(text, parentWidget());
    add(label, design);
    return label;
}

QPushButton* DesignLayout::addButton(const DesignRect& design, const QString& caption, const QIcon& picture) {
    auto* button = new QPushButton(picture, caption, parentWidget());
    button->setIconSize(QSize(length(16), length(16)));
    // Enter presses the button that has the focus.
    button->setAutoDefault(true);
    add(button, design);
    return button;
}

QCheckBox* DesignLayout::addCheckBox(const DesignRect& design, const QString& caption) {
    auto* box = new QCheckBox(caption, parentWidget());
    add(box, design);
    return box;
}

void DesignLayout::addItem(QLayoutItem* item) {
    // Items added without a design place stay where they are drawn at the top left.
    items_.append({item, QRect(QPoint(0, 0), item->sizeHint()), Left | Top});
}

QLayoutItem* DesignLayout::itemAt(int index) const {
    return index >= 0 && index < items_.size() ? items_[index].item : nullptr;
}

QLayoutItem* DesignLayout::takeAt(int index) {
    if (index < 0 || index >= items_.size()) return nullptr;
    return items_.takeAt(index).item;
}

QRect DesignLayout::scaled(const QRect& design) const {
    return QRect(scaledLength(design.x(), scale_), scaledLength(design.y(), scale_),
                 scaledLength(design.width(), scale_), scaledLength(design.height(), scale_));
}

QSize DesignLayout::scaledDesignSize() const {
    return QSize(scaledLength(designSize_.width(), scale_), scaledLength(designSize_.height(), scale_));
}

QSize DesignLayout::sizeHint() const {
    return scaledDesignSize();
}

QSize DesignLayout::minimumSize() const {
    return QSize(0, 0);
}

void DesignLayout::setGeometry(const QRect& rect) {
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
