#pragma once
// The main window: shows the page list as status icons and offers every command. What runs
// behind it for the whole run (the list, the check cycle, the page list file, the autostart
// entry) is its Monitor; the window holds the controls, the check timer and the
// notification-area icon, and hides itself when minimized.
#include <QWidget>
#include <functional>
#include <memory>

#include "ui/DesignLayout.h"
#include "ui/Monitor.h"

class QAction;
class QCheckBox;
class QLabel;
class QListView;
class QPushButton;
class QTimer;

namespace vantrel {

class Alarms;
class PageListModel;
class PauseMenu;
class PageMenu;
class PageViews;
class PageWindows;
class TrayNotifier;
class TWebPageDlg;

class TMonitorForm : public QWidget {
    Q_OBJECT
  public:
    // Builds the controls, starts the timer and runs FormCreate. Throws Error("Cannot create
    // shell notification icon") when there is no notification area; any other failure in
    // FormCreate is shown by the error display and the window goes on with what was done.
    explicit TMonitorForm(const MonitorSettings& settings, QWidget* parent = nullptr);
    // Runs FormDestroy (saves the page list file; a failure is shown by the error display).
    ~TMonitorForm() override;

    void setDialog(TWebPageDlg* dialog);
    // The dialog made by `make` when it is first needed: building it lays out text, which a
    // start in the notification area would otherwise pay for without ever showing it.
    void setDialog(std::function<TWebPageDlg*()> make);
    bool startHidden() const;
    void setVisible(bool visible) override;

    const PageList& pageList() const { return monitor_->list(); }
    PageListModel* model() const { return model_.get(); }
    Monitor& monitor() const { return *monitor_; }
    // The Details and Show Changes windows of the pages.
    PageWindows& pageWindows() const { return *pageWindows_; }
    // The alarms between the checks and the notification-area icon.
    Alarms& alarms() const { return *alarms_; }
    // The factor the design geometry is scaled by.
    qreal designScale() const { return scale_; }

    // The client area and every control's place, at 96 dpi.
    static constexpr QSize kDesignSize{642, 466};
    static constexpr DesignRect kDesign[] = {
        {"LogoImage", {16, 16, 289, 50}},
        {"Image1", {444, 6, 16, 16}, DesignLayout::Top | DesignLayout::Right},
        {"Label1", {466, 8, 30, 13}, DesignLayout::Top | DesignLayout::Right, 36},
        {"Image2", {502, 6, 16, 16}, DesignLayout::Top | DesignLayout::Right},
        {"Label2", {524, 8, 43, 13}, DesignLayout::Top | DesignLayout::Right, 46},
        {"Image3", {570, 6, 16, 16}, DesignLayout::Top | DesignLayout::Right},
        {"Label3", {592, 8, 32, 13}, DesignLayout::Top | DesignLayout::Right, 50},
        {"AddBitBtn", {394, 41, 110, 25}, DesignLayout::Top | DesignLayout::Right},
        {"DelBitBtn", {514, 41, 110, 25}, DesignLayout::Top | DesignLayout::Right},
        {"ListView",
         {16, 72, 608, 350},
         DesignLayout::Left | DesignLayout::Top | DesignLayout::Right | DesignLayout::Bottom},
        // Text room up to the next control, for a substitute font wider than Tahoma.
        {"StartCheckBox", {16, 432, 158, 17}, DesignLayout::Bottom | DesignLayout::Left, 164},
        {"SortCheckBox", {180, 432, 110, 17}, DesignLayout::Bottom | DesignLayout::Left, 122},
        {"RecheckCheckBox", {302, 432, 129, 17}, DesignLayout::Bottom | DesignLayout::Left, 136},
        {"RecheckBitBtn", {438, 428, 96, 25}, DesignLayout::Bottom | DesignLayout::Right},
        {"ExitBitBtn", {544, 428, 80, 25}, DesignLayout::Bottom | DesignLayout::Right},
    };

    // The child controls and components, by their names.
    QLabel* LogoImage = nullptr;
    QLabel* Image1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Image2 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Image3 = nullptr;
    QLabel* Label3 = nullptr;
    QPushButton* AddBitBtn = nullptr;
    QPushButton* DelBitBtn = nullptr;
    QListView* ListView = nullptr;
    QCheckBox* StartCheckBox = nullptr;
    QCheckBox* SortCheckBox = nullptr;
    QCheckBox* RecheckCheckBox = nullptr;
    QPushButton* RecheckBitBtn = nullptr;
    QPushButton* ExitBitBtn = nullptr;
    QTimer* Timer = nullptr;
    TrayNotifier* TrayIcon = nullptr;
    // The commands of the list's menus and keys, each made once: the menus show these actions
    // with their keys, the keys work while the list has the focus, and the commands of a page are
    // enabled while a page is selected.
    QAction* CheckNowAction = nullptr;
    QAction* OpenInBrowserAction = nullptr;
    QAction* EditAction = nullptr;
    QAction* DeleteAction = nullptr;
    QAction* DetailsAction = nullptr;
    QAction* ShowChangesAction = nullptr;
    QAction* AddAction = nullptr;
    QAction* RecheckAllAction = nullptr;
    // The notification-area icon's menu has these two besides Recheck All.
    QAction* ShowAction = nullptr;
    QAction* ExitAction = nullptr;
    // Opens the settings window: in the list's menus, and ready for the icon's menu.
    QAction* SettingsAction = nullptr;
    // The context menus of the list, over those actions.
    PageMenu* Menu = nullptr;
    // The details view beside the icon view, and the find bar over both.
    PageViews* Views = nullptr;

  public slots:
    void AddBitBtnClick();
    void ListViewDblClick();
    void DelBitBtnClick();
    void RecheckBitBtnClick();
    void ExitBitBtnClick();
    void StartCheckBoxClick();
    // Runs for clicks on SortCheckBox and on RecheckCheckBox.
    void SortCheckBoxClick();
    void TimerTimer();
    void TrayIconClick();
    // A click on the balloon that announced a change of the page `id`.
    void TrayIconBalloonClick(vantrel::EntryId id);
    // "Open Page" on the notification that announced a change of the page `id`.
    void TrayIconOpenPage(vantrel::EntryId id);
    void CheckNowActionExecute();
    void OpenInBrowserActionExecute();
    void DetailsActionExecute();
    void ShowChangesActionExecute();
    void SettingsActionExecute();

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    void buildControls();
    void createActions();
    void updateActions();
    void dressControls();
    void FormCreate();
    void FormDestroy();
    bool ask(const QString& question);
    // The entry selected in the list, or 0 when none is.
    EntryId selectedId() const;
    Options boxes() const;

    std::unique_ptr<Monitor> monitor_;
    std::unique_ptr<PageListModel> model_;
    std::unique_ptr<PageWindows> pageWindows_;
    TWebPageDlg* dialog();

    Alarms* alarms_ = nullptr;
    PauseMenu* pauseMenu_ = nullptr;
    TWebPageDlg* dialog_ = nullptr;
    std::function<TWebPageDlg*()> makeDialog_;
    qreal scale_ = 1.0;
    bool startHidden_ = false;
    bool minimizeHook_ = false;
    bool dressed_ = false;
};

}  // namespace vantrel
