#pragma once
// A small chart of response times over time for the details window: one dot per check, placed by
// its time and its duration, coloured by what the check found, joined by a thin line.
#include <QWidget>
#include <vector>

#include "core/CheckReport.h"

namespace vantrel {

class ResponseChart : public QWidget {
    Q_OBJECT
  public:
    explicit ResponseChart(QWidget* parent = nullptr);

    // The checks to draw, in any order.
    void setChecks(const std::vector<CheckRecord>& checks);
    // The top of the time axis in milliseconds: the longest duration rounded up to 1, 2 or 5 times
    // a power of ten (at least 10 ms).
    static int64_t axisTop(int64_t longestMs);

    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    std::vector<CheckRecord> checks_;  // oldest first
};

}  // namespace vantrel
