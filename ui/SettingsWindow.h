#pragma once
// The program's "Settings" window: one tab per feature's section (the network first), each saved
// when the user presses OK. A feature adds its section in ShowSettings (one line) or through
// addSection.
#include <QDialog>
#include <functional>

class QTabWidget;

namespace vantrel {

class RequestSupply;

class SettingsWindow : public QDialog {
    Q_OBJECT
  public:
    explicit SettingsWindow(QWidget* parent = nullptr);

    // Adds `section` as a tab named `title`. `apply` saves it on OK; when it returns false the
    // window stays open on that tab (the section shows why).
    void addSection(QWidget* section, const QString& title, std::function<bool()> apply);
    QTabWidget* tabs() const { return tabs_; }

    void accept() override;

  private:
    struct Section {
        QWidget* widget;
        std::function<bool()> apply;
    };
    QTabWidget* tabs_;
    std::vector<Section> sections_;
};

// Opens the settings window with every section, non-modal, deleted when closed; a second call
// while it is open raises the one that is open. `addSections` adds the sections of features
// that live above this window (the alarms), after the network's.
SettingsWindow* ShowSettings(RequestSupply& requests, QWidget* parent,
                             const std::function<void(SettingsWindow&)>& addSections = {});

}  // namespace vantrel
