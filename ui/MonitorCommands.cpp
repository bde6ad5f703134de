// The commands of the main window that act on one page or come from the tray icon: its clicks,
// the buttons of the desktop's notifications, and the page menu's entries.
#include "ui/Alarms.h"
#include "ui/ErrorDisplay.h"
#include "ui/MonitorUnit.h"
#include "ui/PageWindows.h"
#include "ui/RequestSupply.h"
#include "ui/SettingsWindow.h"
#include "ui/WebPageUnit.h"

namespace vantrel {

namespace {

QString toQString(const std::u16string& text) {
    return QString::fromStdU16String(text);
}

}  // namespace

void TMonitorForm::TrayIconClick() {
    ErrorDisplay::guarded(this, [this] {
        // Restores to the state before the minimize (normal or maximized). Cleared before the
        // show: the window then maps once, in that state, and the toolkit sends one show event.
        if (windowState() & Qt::WindowMinimized) setWindowState(windowState() & ~Qt::WindowMinimized);
        show();
        raise();
        activateWindow();
    });
}

void TMonitorForm::TrayIconBalloonClick(EntryId id) {
    ErrorDisplay::guarded(this, [&] {
        if (!pageWindows_->showChanges(id)) TrayIconClick();
    });
}

void TMonitorForm::TrayIconOpenPage(EntryId id) {
    ErrorDisplay::guarded(this, [&] {
        if (const PageEntry* entry = pageList().find(id)) TWebPageDlg::openInBrowser(toQString(entry->url()));
    });
}

void TMonitorForm::CheckNowActionExecute() {
    // The page is checked at the next tick; the list file is saved at once.
    ErrorDisplay::guarded(this, [this] { monitor_->checkNow(selectedId()); });
}

void TMonitorForm::OpenInBrowserActionExecute() {
    ErrorDisplay::guarded(this, [this] {
        if (const PageEntry* entry = pageList().find(selectedId()))
            TWebPageDlg::openInBrowser(toQString(entry->url()));
    });
}

void TMonitorForm::DetailsActionExecute() {
    ErrorDisplay::guarded(this, [this] { pageWindows_->showDetails(selectedId()); });
}

void TMonitorForm::ShowChangesActionExecute() {
    ErrorDisplay::guarded(this, [this] { pageWindows_->showChanges(selectedId()); });
}

void TMonitorForm::SettingsActionExecute() {
    ErrorDisplay::guarded(this, [this] {
        if (RequestSupply* requests = monitor_->requests())
            ShowSettings(*requests, this,
                         [this](SettingsWindow& window) { alarms_->addSettingsSection(window); });
    });
}

}  // namespace vantrel
