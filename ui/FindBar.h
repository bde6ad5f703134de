#pragma once
// The bar that narrows the page list: a search field and the status choices All, Online,
// Changed and Offline, each with the number of pages it would show ("Offline 21"). Escape in the
// search field clears it, and closes the bar when it is empty already.
#include <QWidget>
#include <array>

class QLineEdit;
class QToolButton;

namespace vantrel {

class FindBar : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kChoiceCount = 4;

    explicit FindBar(QWidget* parent = nullptr);

    QLineEdit* searchField() const { return search_; }
    QToolButton* choice(int index) const { return choices_[static_cast<size_t>(index)]; }
    // The numbers on the status choices, in the order All, Online, Changed, Offline.
    void setCounts(const std::array<int, kChoiceCount>& counts);
    // Back to no search text and All.
    void reset();

  signals:
    void searchChanged(const QString& text);
    // 0 for All, then 1 + the status code.
    void choiceChanged(int index);
    void closeRequested();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QLineEdit* search_ = nullptr;
    std::array<QToolButton*, kChoiceCount> choices_{};
};

}  // namespace vantrel
