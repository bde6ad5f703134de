#include "ui/ResponseChart.h"

#include <QDateTime>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>

#include "ui/ThemeColours.h"

namespace vantrel {

namespace {

const QColor kOnline(46, 139, 87);
const QColor kChanged(214, 140, 0);
const QColor kOffline(200, 40, 40);
const QColor kGrid(225, 225, 225);
constexpr int kDot = 5;

QColor colourOf(PageStatus outcome) {
    switch (outcome) {
        case PageStatus::Online:
            return kOnline;
        case PageStatus::Changed:
            return kChanged;
        default:
            return kOffline;
    }
}

}  // namespace

ResponseChart::ResponseChart(QWidget* parent) : QWidget(parent) {
    setMinimumHeight(130);
    setAccessibleName(QStringLiteral("Response times"));
}

QSize ResponseChart::sizeHint() const {
    return {420, 150};
}

void ResponseChart::setChecks(const std::vector<CheckRecord>& checks) {
    checks_ = checks;
    std::stable_sort(checks_.begin(), checks_.end(),
                     [](const CheckRecord& a, const CheckRecord& b) { return a.timeMs < b.timeMs; });
    update();
}

int64_t ResponseChart::axisTop(int64_t longestMs) {
    int64_t step = 10;
    // Bounded: the steps pass any int64 duration long before they could overflow.
    for (int i = 0; i < 18; ++i) {
        for (const int64_t factor : {1, 2, 5}) {
            if (longestMs <= step * factor) return step * factor;
        }
        step *= 10;
    }
    return longestMs;
}

void ResponseChart::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // White with dark text as designed on a light theme; the theme's base and text on a dark one.
    const QColor ground = ThemeColours::ground(palette(), QPalette::Base, Qt::white);
    const QColor text = ThemeColours::readable(palette().color(QPalette::Text), ground);
    painter.fillRect(rect(), ground);
    const QFontMetrics metrics(font());
    const int64_t longest =
        checks_.empty() ? 0
                        : std::max_element(checks_.begin(), checks_.end(), [](const auto& a, const auto& b) {
                              return a.durationMs < b.durationMs;
                          })->durationMs;
    const int64_t top = axisTop(longest);
    const QString topText = QString::fromStdU16String(DurationInWords(top));
    // Room for the top value at the left and for the times of the first and last check below.
    const QRectF plot(metrics.horizontalAdvance(topText) + 8.0, metrics.height() / 2.0 + 2,
                      width() - metrics.horizontalAdvance(topText) - 16.0,
                      height() - metrics.height() * 2.0 - 6);
    painter.setPen(ThemeColours::dark(palette()) ? palette().color(QPalette::Mid) : kGrid);
    for (int i = 0; i <= 4; ++i) {
        const qreal y = plot.bottom() - plot.height() * i / 4;
        painter.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
    }
    painter.setPen(text);
    painter.drawText(QRectF(0, plot.top() - metrics.height() / 2.0, plot.left() - 4, metrics.height()),
                     Qt::AlignRight | Qt::AlignVCenter, topText);
    painter.drawText(QRectF(0, plot.bottom() - metrics.height() / 2.0, plot.left() - 4, metrics.height()),
                     Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("0"));
    if (checks_.empty()) {
        painter.drawText(plot, Qt::AlignCenter, QStringLiteral("No checks recorded"));
        return;
    }

    const int64_t first = checks_.front().timeMs;
    const QRectF below(plot.left(), plot.bottom() + 3, plot.width(), metrics.height());
    const auto timeText = [](int64_t ms) {
        return QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm"));
    };
    painter.drawText(below, Qt::AlignLeft | Qt::AlignTop, timeText(first));
    if (checks_.size() > 1)
        painter.drawText(below, Qt::AlignRight | Qt::AlignTop, timeText(checks_.back().timeMs));
    const int64_t span = std::max<int64_t>(checks_.back().timeMs - first, 1);
    const auto place = [&](const CheckRecord& check) {
        // A single check sits in the middle.
        const qreal x = checks_.size() == 1
                            ? plot.center().x()
                            : plot.left() + plot.width() * qreal(check.timeMs - first) / qreal(span);
        const qreal y =
            plot.bottom() - plot.height() * qreal(std::clamp<int64_t>(check.durationMs, 0, top)) / qreal(top);
        return QPointF(x, y);
    };
    QPainterPath line;
    line.moveTo(place(checks_.front()));
    for (const CheckRecord& check : checks_) line.lineTo(place(check));
    painter.setPen(QPen(QColor(120, 140, 180), 1));
    painter.drawPath(line);
    painter.setPen(Qt::NoPen);
    for (const CheckRecord& check : checks_) {
        painter.setBrush(colourOf(check.outcome));
        painter.drawEllipse(place(check), kDot / 2.0, kDot / 2.0);
    }
}

}  // namespace vantrel
