#pragma once
// The page list as an item model for the main window's icon view: one row per entry, in list
// order, with the label as text and the status image as picture. Follows every change of the
// list through PageListObserver; read-only.
#include <QAbstractListModel>
#include <QList>
#include <QPixmap>
#include <utility>

#include "core/PageList.h"

namespace vantrel {

class PageListModel : public QAbstractListModel, private PageListObserver {
    Q_OBJECT
  public:
    // The entry's EntryId (quint64) under this role.
    static constexpr int IdRole = Qt::UserRole + 1;
    // The status code (int) under this role.
    static constexpr int StatusRole = Qt::UserRole + 2;
    // Whether the page's checks are paused (bool); its picture and label are then drawn grey.
    static constexpr int PausedRole = Qt::UserRole + 3;

    // Observes `list` for its lifetime; `iconSize` is the side of the status images in logical
    // pixels, drawn for `devicePixelRatio`.
    PageListModel(PageList& list, int iconSize, qreal devicePixelRatio = 1.0, QObject* parent = nullptr);
    ~PageListModel() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // The entry shown at `index`, or 0 for an invalid index.
    EntryId idAt(const QModelIndex& index) const;
    // The index of the entry with `id`, or an invalid one when it is gone.
    QModelIndex indexOf(EntryId id) const;

    // Status images exist for codes 0..3; any other code shows no picture: a blank one, so that
    // the label stays in its place under it.
    static constexpr int kStatusImageCount = 4;

  private:
    void aboutToInsert(size_t position) override;
    void inserted(size_t position) override;
    void aboutToRemove(size_t position) override;
    void removed(size_t position) override;
    void aboutToReorder() override;
    void reordered() override;
    void changed(size_t position) override;
    void changedRange(size_t first, size_t last) override;
    void aboutToReset() override;
    void wasReset() override;

    PageList& list_;
    const int iconSize_;
    const qreal devicePixelRatio_;
    mutable QPixmap images_[kStatusImageCount];
    mutable QPixmap greyed_[kStatusImageCount];  // the same for paused pages
    mutable QPixmap blank_;
    // Persistent indexes and the entries they pointed at while the list is being reordered.
    QList<std::pair<QModelIndex, EntryId>> reorderMarks_;
};

}  // namespace vantrel
