#pragma once
// The details view's order and both views' narrowing: the pages whose label or URL contains the
// search text (ignoring case) and whose status is the one chosen, sorted by the column the user
// picked. Sorting here leaves the list's own order (and "Sort in Alphabetical") untouched.
#include <QSortFilterProxyModel>
#include <array>

namespace vantrel {

class PageFilterProxy : public QSortFilterProxyModel {
    Q_OBJECT
  public:
    enum class Show { All, Online, Changed, Offline };
    static constexpr int kShowCount = 4;

    explicit PageFilterProxy(QObject* parent = nullptr);

    void setSearchText(const QString& text);
    QString searchText() const { return search_; }
    void setShow(Show show);
    Show show() const { return show_; }
    // Whether anything is left out: a search text or a status other than All.
    bool narrowing() const { return !search_.isEmpty() || show_ != Show::All; }

    // Whether the source row passes the search and the status filter.
    bool accepts(int sourceRow) const;
    // The pages that match the search text, for each choice of Show (All counts every status,
    // also those outside the three).
    std::array<int, kShowCount> counts() const;

  signals:
    // The filter changed: what the views show changed with it.
    void narrowingChanged();

  protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

  private:
    bool matchesSearch(int sourceRow) const;

    QString search_;
    Show show_ = Show::All;
};

}  // namespace vantrel
