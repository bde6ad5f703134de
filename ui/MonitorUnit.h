#pragma once
// The main window: shows the page list as status icons, offers every command, and owns what runs
// behind it for the whole run (the list, the check timer and its download thread, the
// notification-area icon, the page list file).
#include <QStringList>
#include <QWidget>
#include <memory>

#include "net/PageFetcher.h"

class QCheckBox;
class QLabel;
class QListView;
class QPushButton;
class QTimer;

namespace vantrel {

class PageList;
class PageListModel;
class TrayNotifier;
class TWebPageDlg;

struct MonitorSettings {
    QStringList args;  // the program's arguments, without the program path
    QString exeDir;    // the executable's directory, with a trailing "/"
    QString exePath;   // the executable's full path (for the autostart entry)
    QString autostartDir = QStringLiteral("/etc/xdg/autostart");
    int trayWaitMs = 60000;  // how long a start with "-s" waits for a notification area
    FetcherOptions fetcher;  // read time-out and extra CA certificates of the page fetcher
};

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
    bool startHidden() const;

    const PageList& pageList() const;
    PageListModel* model() const;
    // The factor the design geometry (642 x 466 at 96 dpi) is scaled by.
    qreal designScale() const;

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

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void buildControls();
    void FormCreate();
    void FormDestroy();
    bool ask(const QString& question);
    void saveAfterUserChange();
    void setOptionFromFile(int option, bool on);

    struct Impl;
    std::unique_ptr<Impl> d;
};

}  // namespace vantrel
