#include "ui/SettingsWindow.h"

#include <QDialogButtonBox>
#include <QPointer>
#include <QTabWidget>
#include <QVBoxLayout>

#include "ui/NetworkPanel.h"

namespace vantrel {

SettingsWindow::SettingsWindow(QWidget* parent) : QDialog(parent), tabs_(new QTabWidget(this)) {
    setWindowTitle(QStringLiteral("Settings"));
    setObjectName(QStringLiteral("SettingsWindow"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs_, 1);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &SettingsWindow::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &SettingsWindow::reject);
}

void SettingsWindow::addSection(QWidget* section, const QString& title, std::function<bool()> apply) {
    section->setParent(tabs_);
    tabs_->addTab(section, title);
    sections_.push_back({section, std::move(apply)});
}

void SettingsWindow::accept() {
    for (const Section& section : sections_) {
        if (section.apply && !section.apply()) {
            tabs_->setCurrentWidget(section.widget);
            return;
        }
    }
    QDialog::accept();
}

SettingsWindow* ShowSettings(RequestSupply& requests, QWidget* parent,
                             const std::function<void(SettingsWindow&)>& addSections) {
    static QPointer<SettingsWindow> open;
    if (open) {
        open->show();
        open->raise();
        open->activateWindow();
        return open;
    }
    auto* window = new SettingsWindow(parent);
    window->setAttribute(Qt::WA_DeleteOnClose);
    // Its own window even with a parent: the main window may be hidden in the notification area.
    window->setWindowFlag(Qt::Window);
    auto* network = new NetworkPanel(requests);
    window->addSection(network, QStringLiteral("&Network"), [network] { return network->apply(); });
    if (addSections) addSections(*window);
    open = window;
    window->show();
    return window;
}

}  // namespace vantrel
