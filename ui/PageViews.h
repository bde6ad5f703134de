#pragma once
// The main window's two views of the page list and what narrows them: the designed icon view
// (the default) and the details view with its columns, the find bar (Ctrl+F) over both, and the
// buttons that open the find bar and switch the view. Both views share one selection, the
// window's page commands and menus; the chosen view, the column widths and the sort are kept in
// the user's settings file (group "View").
#include <QObject>
#include <functional>
#include <memory>

#include "ui/DesignLayout.h"

class QAction;
class QSettings;
class QTimer;
class QToolButton;

namespace vantrel {

class DetailsListView;
class FindBar;
class IconListView;
class ListTransfer;
class Monitor;
class PageFilterProxy;
class PageListModel;
class PageMenu;
class PageTableModel;

class PageViews : public QObject {
    Q_OBJECT
  public:
    // The buttons' places in the window's design: in the free space right of the logo.
    static constexpr DesignRect kFindButton{"FindBtn", {330, 41, 25, 25}};
    static constexpr DesignRect kViewButton{"ViewBtn", {360, 41, 25, 25}};
    static constexpr char kSettingsGroup[] = "View";

    // Adds the details view at the icon view's place in `layout` and the two buttons; reads the
    // view chosen last from the settings file beside the monitor's list file.
    // `listPlace` is the icon view's design rectangle.
    PageViews(QWidget& window, DesignLayout& layout, const DesignRect& listPlace, IconListView& icons,
              PageListModel& model, Monitor& monitor);
    ~PageViews() override;

    // Gives the details view the icon view's page commands (its actions and their keys) and
    // menus, and `open` for a double-click on a row; adds find, the view switch, import and
    // export to the menus of both lists.
    void attachCommands(const PageMenu& menu, std::function<void()> open);

    bool detailsShown() const { return detailsShown_; }
    void showDetails(bool on);
    // Opens the find bar with the focus in its search field.
    void find();
    void closeFind();

    // The details view, its filter and table: made at the first call (the window that stays
    // hidden never makes them).
    DetailsListView* details();
    PageFilterProxy* proxy();
    PageTableModel* table();
    // The find bar; null until find() first opens it.
    FindBar* findBar() const { return bar_; }
    QAction* findAction() const { return findAction_; }
    QAction* detailsAction() const { return detailsAction_; }
    ListTransfer* transfer() const { return transfer_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void attachTreeCommands();
    void refreshLater();
    void refresh();
    void placeBar();
    bool barShown() const;
    void followIconSelection();
    void followTreeSelection();
    void saveHeader();

    QWidget& window_;
    DesignLayout& layout_;
    const DesignRect listPlace_;
    IconListView& icons_;
    PageListModel& model_;
    Monitor& monitor_;
    const PageMenu* commands_ = nullptr;  // the window's page commands, once attached
    std::function<void()> open_;
    PageTableModel* table_ = nullptr;
    PageFilterProxy* proxy_ = nullptr;
    DetailsListView* tree_ = nullptr;
    FindBar* bar_ = nullptr;
    QToolButton* findButton_ = nullptr;
    QToolButton* viewButton_ = nullptr;
    QAction* findAction_ = nullptr;
    QAction* detailsAction_ = nullptr;
    PageMenu* treeMenu_ = nullptr;
    ListTransfer* transfer_ = nullptr;
    QTimer* refreshTimer_ = nullptr;
    std::unique_ptr<QSettings> settings_;
    bool detailsShown_ = false;
    bool iconRowsHidden_ = false;
    bool syncing_ = false;
};

}  // namespace vantrel
