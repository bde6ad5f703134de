#include "ui/PageListModel.h"

#include <QColor>
#include <QImage>
#include <QString>

#include "ui/Pictures.h"

namespace vantrel {

namespace {

// A picture washed out to grey at half its opacity, for a page that is not watched for now.
QPixmap greyedCopy(const QPixmap& image) {
    QImage picture = image.toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < picture.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(picture.scanLine(y));
        for (int x = 0; x < picture.width(); ++x) {
            const int grey = qGray(line[x]);
            line[x] = qRgba(grey, grey, grey, qAlpha(line[x]) / 2);
        }
    }
    QPixmap grey = QPixmap::fromImage(picture);
    grey.setDevicePixelRatio(image.devicePixelRatio());
    return grey;
}

}  // namespace

namespace {
QString toQString(const std::u16string& text) {
    return QString::fromStdU16String(text);
}
}  // namespace

PageListModel::PageListModel(PageList& list, int iconSize, qreal devicePixelRatio, QObject* parent)
    : QAbstractListModel(parent), list_(list), iconSize_(iconSize), devicePixelRatio_(devicePixelRatio) {
    list_.setObserver(this);
}

PageListModel::~PageListModel() {
    list_.setObserver(nullptr);
}

int PageListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(list_.size());
}

QVariant PageListModel::data(const QModelIndex& index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid)) return {};
    const PageEntry& entry = list_.at(static_cast<size_t>(index.row()));
    switch (role) {
        case Qt::DisplayRole:
            return toQString(entry.label);
        case Qt::DecorationRole: {
            // Drawn when a view first asks (a hidden window's view never does), then kept.
            int status = static_cast<int>(entry.status);
            const bool shown = status >= 0 && status < kStatusImageCount;
            QPixmap& image = shown ? images_[status] : blank_;
            if (image.isNull()) {
                if (shown) {
                    image = Pictures::statusImage(status, iconSize_, devicePixelRatio_);
                } else {
                    image = QPixmap(QSize(iconSize_, iconSize_) * devicePixelRatio_);
                    image.fill(Qt::transparent);
                    image.setDevicePixelRatio(devicePixelRatio_);
                }
            }
            if (!shown || !list_.pausedUntil(entry.id)) return image;
            QPixmap& grey = greyed_[status];
            if (grey.isNull()) grey = greyedCopy(image);
            return grey;
        }
        case Qt::ForegroundRole:
            if (list_.pausedUntil(entry.id)) return QColor(Qt::gray);
            return {};
        case PausedRole:
            return list_.pausedUntil(entry.id).has_value();
        case IdRole:
            return QVariant::fromValue<quint64>(entry.id);
        case StatusRole:
            return static_cast<int>(entry.status);
        default:
            return {};
    }
}

Qt::ItemFlags PageListModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

EntryId PageListModel::idAt(const QModelIndex& index) const {
    if (!index.isValid() || index.model() != this || index.row() >= rowCount()) return 0;
    return list_.at(static_cast<size_t>(index.row())).id;
}

QModelIndex PageListModel::indexOf(EntryId id) const {
    auto position = list_.positionOf(id);
    if (!position) return {};
    return index(static_cast<int>(*position));
}

void PageListModel::aboutToInsert(size_t position) {
    int row = static_cast<int>(position);
    beginInsertRows(QModelIndex(), row, row);
}

void PageListModel::inserted(size_t) {
    endInsertRows();
}

void PageListModel::aboutToRemove(size_t position) {
    int row = static_cast<int>(position);
    beginRemoveRows(QModelIndex(), row, row);
}

void PageListModel::removed(size_t) {
    endRemoveRows();
}

void PageListModel::aboutToReorder() {
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    reorderMarks_.clear();
    for (const QModelIndex& index : persistentIndexList()) reorderMarks_.append({index, idAt(index)});
}

void PageListModel::reordered() {
    // Selections and other persistent indexes follow their entry to its new place.
    for (const auto& [from, id] : reorderMarks_) changePersistentIndex(from, indexOf(id));
    reorderMarks_.clear();
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void PageListModel::changed(size_t position) {
    QModelIndex at = index(static_cast<int>(position));
    emit dataChanged(at, at,
                     {Qt::DisplayRole, Qt::DecorationRole, Qt::ForegroundRole, StatusRole, PausedRole});
}

void PageListModel::changedRange(size_t first, size_t last) {
    emit dataChanged(index(static_cast<int>(first)), index(static_cast<int>(last)),
                     {Qt::DisplayRole, Qt::DecorationRole, Qt::ForegroundRole, StatusRole, PausedRole});
}

void PageListModel::aboutToReset() {
    beginResetModel();
}

void PageListModel::wasReset() {
    endResetModel();
}

}  // namespace vantrel
