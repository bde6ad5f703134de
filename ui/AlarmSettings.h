#pragma once
// The alarm command's setting: a command line run on each announcement, with help on what it
// receives: the "Alarms" section of the settings window, kept in the settings file's "Alarms"
// group.
#include <QString>
#include <QWidget>

#include "ui/MessageLabel.h"

class QLineEdit;

namespace vantrel {

class Alarms;

class AlarmSettings : public QWidget {
    Q_OBJECT
  public:
    // `settingsPath` is the settings file (UserSettingsPath).
    AlarmSettings(Alarms& alarms, QString settingsPath, QWidget* parent = nullptr);

    QLineEdit* commandEdit() const { return edit_; }
    MessageLabel* errorLabel() const { return error_; }
    // Applies the line edited and stores it when it can be split; else says why, keeps the old and
    // returns false.
    bool apply();

  private:
    Alarms& alarms_;
    QString settingsPath_;
    QLineEdit* edit_ = nullptr;
    MessageLabel* error_ = nullptr;
};

}  // namespace vantrel
