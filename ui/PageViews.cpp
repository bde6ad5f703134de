#include "ui/PageViews.h"

#include <QAction>
#include <QEvent>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QSettings>
#include <QTimer>
#include <QToolButton>

#include "store/HistoryStore.h"
#include "ui/DetailsListView.h"
#include "ui/FindBar.h"
#include "ui/IconListView.h"
#include "ui/ListTransfer.h"
#include "ui/Monitor.h"
#include "ui/PageFilterProxy.h"
#include "ui/PageListModel.h"
#include "ui/PageMenu.h"
#include "ui/PageTableModel.h"
#include "ui/ThemeColours.h"
#include "ui/UserSettings.h"

namespace vantrel {

namespace {

// A magnifying glass, or three rows of a table: drawn, so they look alike in every theme, in the
// designed navy or, on a dark theme, as much lighter as it takes to read on `ground`.
QIcon buttonPicture(bool magnifier, const QColor& ground, qreal ratio) {
    const QColor ink = ThemeColours::readable(QColor(40, 60, 110), ground);
    QPixmap picture(QSize(16, 16) * ratio);
    picture.setDevicePixelRatio(ratio);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(ink, 1.6));
    if (magnifier) {
        painter.drawEllipse(QRectF(2, 2, 8.5, 8.5));
        painter.setPen(QPen(ink, 2.4, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(10, 10), QPointF(14, 14));
    } else {
        for (const qreal y : {3.5, 8.0, 12.5}) {
            painter.drawLine(QPointF(1.5, y), QPointF(3.5, y));
            painter.drawLine(QPointF(5.5, y), QPointF(14.5, y));
        }
    }
    return QIcon(picture);
}

const QString kDetailsKey = QStringLiteral("View/details");
const QString kHeaderKey = QStringLiteral("View/header");

}  // namespace

PageViews::PageViews(QWidget& window, DesignLayout& layout, const DesignRect& listPlace, IconListView& icons,
                     PageListModel& model, Monitor& monitor)
    : QObject(&window),
      window_(window),
      layout_(layout),
      listPlace_(listPlace),
      icons_(icons),
      model_(model),
      monitor_(monitor) {
    setObjectName(QStringLiteral("PageViews"));
    const qreal ratio = window.devicePixelRatioF();
    findAction_ = new QAction(QStringLiteral("&Find\u2026"), &window);
    findAction_->setShortcut(QKeySequence::Find);
    findAction_->setShortcutContext(Qt::WindowShortcut);
    window.addAction(findAction_);
    connect(findAction_, &QAction::triggered, this, &PageViews::find);
    detailsAction_ = new QAction(QStringLiteral("Details &View"), &window);
    detailsAction_->setCheckable(true);
    connect(detailsAction_, &QAction::toggled, this, &PageViews::showDetails);

    findButton_ = new QToolButton(&window);
    findButton_->setToolButtonStyle(Qt::ToolButtonIconOnly);
    findButton_->setIcon(buttonPicture(true, window.palette().color(QPalette::Window), ratio));
    findButton_->setToolTip(QStringLiteral("Find pages and show them by status (Ctrl+F)"));
    findButton_->setAutoRaise(true);
    connect(findButton_, &QToolButton::clicked, this, &PageViews::find);
    layout.add(findButton_, kFindButton);
    // The button shows the action's picture and state; the action's text is for the menus.
    detailsAction_->setIcon(buttonPicture(false, window.palette().color(QPalette::Window), ratio));
    detailsAction_->setToolTip(QStringLiteral("Details view: the pages in a table"));
    viewButton_ = new QToolButton(&window);
    viewButton_->setDefaultAction(detailsAction_);
    viewButton_->setToolButtonStyle(Qt::ToolButtonIconOnly);
    viewButton_->setAutoRaise(true);
    layout.add(viewButton_, kViewButton);

    transfer_ = new ListTransfer(window, monitor);

    refreshTimer_ = new QTimer(this);
    refreshTimer_->setSingleShot(true);
    refreshTimer_->setInterval(0);
    connect(refreshTimer_, &QTimer::timeout, this, &PageViews::refresh);
    connect(icons_.selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &PageViews::followIconSelection);
    icons_.installEventFilter(this);

    settings_ = OpenUserSettings(monitor.filePath());
    if (settings_->value(kDetailsKey, false).toBool()) detailsAction_->setChecked(true);
}

PageViews::~PageViews() = default;

PageFilterProxy* PageViews::proxy() {
    if (proxy_) return proxy_;
    // The table and its filter are made for the details view or the find bar, whichever comes
    // first: a run that stays in the notification area needs neither. The history is asked only
    // when the details view shows a page.
    Monitor* history = &monitor_;
    table_ = new PageTableModel(
        model_, monitor_.list(),
        [history](const std::u16string& url) {
            HistoryStore* store = history->history();
            return store ? store->summary(url) : PageSummary{};
        },
        layout_.length(16), window_.devicePixelRatioF(), this);
    connect(&monitor_, &Monitor::checkRecorded, table_, &PageTableModel::checkRecorded);
    proxy_ = new PageFilterProxy(this);
    proxy_->setSourceModel(table_);
    connect(proxy_, &PageFilterProxy::narrowingChanged, this, &PageViews::refreshLater);
    for (const auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(table_, signal, this, &PageViews::refreshLater);
    connect(table_, &QAbstractItemModel::modelReset, this, &PageViews::refreshLater);
    connect(table_, &QAbstractItemModel::layoutChanged, this, &PageViews::refreshLater);
    connect(table_, &QAbstractItemModel::dataChanged, this, &PageViews::refreshLater);
    return proxy_;
}

PageTableModel* PageViews::table() {
    proxy();
    return table_;
}

DetailsListView* PageViews::details() {
    if (tree_) return tree_;
    tree_ = new DetailsListView(layout_.scale(), &window_);
    tree_->setModel(proxy());
    tree_->hide();
    layout_.add(tree_, listPlace_);
    // The design names the control after its rectangle: the details view keeps its own name.
    tree_->setObjectName(QStringLiteral("DetailsView"));
    connect(tree_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &PageViews::followTreeSelection);
    tree_->installEventFilter(this);
    tree_->restoreColumns(layout_, settings_->value(kHeaderKey).toByteArray());
    connect(tree_->header(), &QHeaderView::sortIndicatorChanged, this, &PageViews::saveHeader);
    connect(tree_->header(), &QHeaderView::sectionResized, this, &PageViews::saveHeader);
    if (commands_) attachTreeCommands();
    return tree_;
}

void PageViews::attachCommands(const PageMenu& menu, std::function<void()> open) {
    commands_ = &menu;
    open_ = std::move(open);
    QMenu* list = menu.listMenu();
    list->addSeparator();
    list->addAction(findAction_);
    list->addAction(detailsAction_);
    list->addSeparator();
    list->addAction(transfer_->importAction());
    list->addAction(transfer_->exportAction());
    if (tree_) attachTreeCommands();
}

void PageViews::attachTreeCommands() {
    tree_->addActions(icons_.actions());
    treeMenu_ = new PageMenu(tree_, commands_->pageMenu()->actions(), commands_->listMenu()->actions());
    connect(tree_, &QAbstractItemView::doubleClicked, this, [this](const QModelIndex&) { open_(); });
}

void PageViews::showDetails(bool on) {
    if (detailsAction_->isChecked() != on) detailsAction_->setChecked(on);
    if (detailsShown_ == on) return;
    detailsShown_ = on;
    details();
    const bool hadFocus = icons_.hasFocus() || tree_->hasFocus();
    // A sort by a column of the history reads the history of every page: that waits until the
    // view is first shown, so a run that never shows it never loads the history for it.
    if (on && !tree_->isSortingEnabled()) {
        table_->askHistory();
        tree_->setSortingEnabled(true);
    }
    tree_->setVisible(on);
    icons_.setVisible(!on);
    // A hidden view is not laid out: the one shown now takes its place at the window's size.
    window_.layout()->invalidate();
    window_.layout()->activate();
    if (hadFocus) (on ? static_cast<QWidget*>(tree_) : static_cast<QWidget*>(&icons_))->setFocus();
    followIconSelection();
    placeBar();
    settings_->setValue(kDetailsKey, on);
}

void PageViews::find() {
    // Built at the first find: its search field would load the fonts of a window never shown.
    if (!bar_) {
        bar_ = new FindBar(&window_);
        bar_->hide();
        connect(bar_, &FindBar::searchChanged, proxy(), &PageFilterProxy::setSearchText);
        connect(bar_, &FindBar::choiceChanged, proxy_,
                [this](int index) { proxy_->setShow(static_cast<PageFilterProxy::Show>(index)); });
        connect(bar_, &FindBar::closeRequested, this, &PageViews::closeFind);
    }
    if (bar_->isHidden()) {
        bar_->show();
        bar_->raise();
        placeBar();
        refresh();
    }
    bar_->searchField()->setFocus();
    bar_->searchField()->selectAll();
}

void PageViews::closeFind() {
    if (!bar_) return;
    bar_->reset();
    bar_->hide();
    placeBar();
    (detailsShown_ ? static_cast<QWidget*>(tree_) : static_cast<QWidget*>(&icons_))->setFocus();
}

void PageViews::placeBar() {
    const int room = barShown() ? bar_->sizeHint().height() : 0;
    icons_.setBottomRoom(room);
    if (tree_) tree_->setBottomRoom(room);
    if (room == 0) return;
    const QAbstractItemView* view = detailsShown_ ? static_cast<QAbstractItemView*>(tree_) : &icons_;
    const QRect area = view->geometry();
    const int frame = view->frameWidth();
    bar_->setGeometry(area.left() + frame, area.bottom() + 1 - frame - room, area.width() - 2 * frame, room);
}

bool PageViews::barShown() const {
    return bar_ && bar_->isVisible();
}

bool PageViews::eventFilter(QObject* watched, QEvent* event) {
    if ((event->type() == QEvent::Resize || event->type() == QEvent::Move) && barShown()) placeBar();
    return QObject::eventFilter(watched, event);
}

void PageViews::refreshLater() {
    // A recheck changes every row one by one: the views and counts follow once it is done.
    if (!refreshTimer_->isActive()) refreshTimer_->start();
}

void PageViews::refresh() {
    // The icon view shows the model itself, not the proxy (its rows are what the window's
    // commands address), so the pages the proxy leaves out are hidden there row by row.
    if (proxy_ && (proxy_->narrowing() || iconRowsHidden_)) {
        const int rows = model_.rowCount();
        for (int row = 0; row < rows; ++row) icons_.setRowHidden(row, !proxy_->accepts(row));
        iconRowsHidden_ = proxy_->narrowing();
        const QModelIndexList selected = icons_.selectionModel()->selectedIndexes();
        if (!selected.isEmpty() && icons_.isRowHidden(selected.first().row())) icons_.clearSelection();
    }
    if (barShown()) bar_->setCounts(proxy_->counts());
}

void PageViews::followIconSelection() {
    if (syncing_ || !tree_) return;
    syncing_ = true;
    const QModelIndexList selected = icons_.selectionModel()->selectedIndexes();
    const QModelIndex row =
        selected.isEmpty() ? QModelIndex() : proxy_->mapFromSource(table_->index(selected.first().row(), 0));
    if (row.isValid()) {
        tree_->selectionModel()->setCurrentIndex(
            row, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        tree_->scrollTo(row);
    } else {
        tree_->clearSelection();
    }
    syncing_ = false;
}

void PageViews::followTreeSelection() {
    if (syncing_) return;
    syncing_ = true;
    const QModelIndexList selected = tree_->selectionModel()->selectedRows();
    const QModelIndex row = selected.isEmpty() ? QModelIndex() : proxy_->mapToSource(selected.first());
    if (row.isValid())
        icons_.selectionModel()->setCurrentIndex(model_.index(row.row()),
                                                 QItemSelectionModel::ClearAndSelect);
    else
        icons_.clearSelection();
    syncing_ = false;
}

void PageViews::saveHeader() {
    settings_->setValue(kHeaderKey, tree_->header()->saveState());
}

}  // namespace vantrel
