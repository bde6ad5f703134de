#pragma once
// The main window: shows the page list as status icons, offers every command, and owns what runs
// behind it for the whole run (the list, the check timer and its download thread, the
// notification-area icon, the page list file).
#include <QStringList>
#include <QWidget>
#include <memory>

namespace vantrel {

class TWebPageDlg;

struct MonitorSettings {
    QStringList args;      // the program's arguments, without the program path
    QString exeDir;        // the executable's directory, with a trailing "/"
    QString exePath;       // the executable's full path (for the autostart entry)
    QString autostartDir = QStringLiteral("/etc/xdg/autostart");
    int trayWaitMs = 60000;  // how long a start with "-s" waits for a notification area
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

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

}  // namespace vantrel
