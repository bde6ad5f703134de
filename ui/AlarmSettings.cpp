#include "ui/AlarmSettings.h"

#include <QLabel>
#include <QLineEdit>
#include <QSettings>
#include <QVBoxLayout>

#include "ui/Alarms.h"
#include "ui/MessageLabel.h"

namespace vantrel {

namespace {

const QString kCommandKey = QStringLiteral("Alarms/Command");

}  // namespace

AlarmSettings::AlarmSettings(Alarms& alarms, QString settingsPath, QWidget* parent)
    : QWidget(parent), alarms_(alarms), settingsPath_(std::move(settingsPath)) {
    setObjectName(QStringLiteral("AlarmSettings"));
    setWindowTitle(QStringLiteral("Alarm Command"));
    auto* layout = new QVBoxLayout(this);
    auto* caption = new QLabel(QStringLiteral("&Command run on each announcement (empty: none):"), this);
    layout->addWidget(caption);
    edit_ = new QLineEdit(alarms_.commandLine(), this);
    edit_->setPlaceholderText(QStringLiteral("curl -s -d \"$VANTREL_LABEL\" https://ntfy.sh/my-topic"));
    caption->setBuddy(edit_);
    layout->addWidget(edit_);
    error_ = new MessageLabel(this);
    error_->hide();
    layout->addWidget(error_);
    auto* help = new QLabel(
        QStringLiteral("Run without a shell: quotes and backslashes group words as in a shell, nothing "
                       "else is expanded (write /bin/sh -c '\u2026' for a pipe). It receives "
                       "VANTREL_LABEL, VANTREL_URL, VANTREL_OLD_STATUS, VANTREL_NEW_STATUS and "
                       "VANTREL_RESULT in its environment and is stopped after 10 seconds; a failure "
                       "shows in the page's Details."),
        this);
    help->setWordWrap(true);
    layout->addWidget(help);
    layout->addStretch(1);
}

bool AlarmSettings::apply() {
    const QString error = alarms_.setCommandLine(edit_->text());
    error_->setMessage(error, true);
    error_->setVisible(!error.isEmpty());
    if (!error.isEmpty()) return false;
    QSettings settings(settingsPath_, QSettings::IniFormat);
    settings.setValue(kCommandKey, alarms_.commandLine());
    return true;
}

}  // namespace vantrel
