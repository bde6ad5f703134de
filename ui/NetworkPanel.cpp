#include "ui/NetworkPanel.h"

#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "store/SecretStore.h"
#include "ui/MessageLabel.h"
#include "ui/RequestSupply.h"

namespace vantrel {

NetworkPanel::NetworkPanel(RequestSupply& requests, QWidget* parent) : QWidget(parent), requests_(requests) {
    const NetworkSettings& s = requests_.network();
    auto* layout = new QVBoxLayout(this);
    auto* proxyBox = new QGroupBox(QStringLiteral("Proxy"), this);
    auto* proxyLayout = new QVBoxLayout(proxyBox);
    environment_ = new QRadioButton(
        QStringLiteral("As the &environment says (http_proxy, https_proxy, no_proxy)"), proxyBox);
    direct_ = new QRadioButton(QStringLiteral("&Direct connection, no proxy"), proxyBox);
    manual_ = new QRadioButton(QStringLiteral("&This proxy:"), proxyBox);
    proxyLayout->addWidget(environment_);
    proxyLayout->addWidget(direct_);
    proxyLayout->addWidget(manual_);
    auto* form = new QFormLayout;
    auto* hostRow = new QHBoxLayout;
    host_ = new QLineEdit(s.proxyHost, proxyBox);
    host_->setPlaceholderText(QStringLiteral("proxy.example.com"));
    port_ = new QSpinBox(proxyBox);
    port_->setRange(1, 65535);
    port_->setValue(s.proxyPort);
    hostRow->addWidget(host_, 1);
    auto* portLabel = new QLabel(QStringLiteral("P&ort:"), proxyBox);
    portLabel->setBuddy(port_);
    hostRow->addWidget(portLabel);
    hostRow->addWidget(port_);
    // A row holding a layout has no buddy of its own: the label is given one, or its "&" shows.
    auto* hostLabel = new QLabel(QStringLiteral("&Host:"), proxyBox);
    hostLabel->setBuddy(host_);
    form->addRow(hostLabel, hostRow);
    user_ = new QLineEdit(s.proxyUser, proxyBox);
    form->addRow(QStringLiteral("&User:"), user_);
    password_ = new QLineEdit(proxyBox);
    password_->setEchoMode(QLineEdit::Password);
    password_->setPlaceholderText(requests_.network().proxyUser.isEmpty() || !requests_.hasProxyPassword()
                                      ? QStringLiteral("Kept in the secret store, never on disk")
                                      : QStringLiteral("Kept in the secret store; type to replace it"));
    form->addRow(QStringLiteral("&Password:"), password_);
    noProxy_ = new QLineEdit(s.noProxy, proxyBox);
    noProxy_->setPlaceholderText(QStringLiteral("localhost, .intranet.example, 10.0.0.1"));
    form->addRow(QStringLiteral("&No proxy for:"), noProxy_);
    proxyLayout->addLayout(form);
    layout->addWidget(proxyBox);

    auto* pages = new QFormLayout;
    userAgent_ = new QLineEdit(s.userAgent, this);
    userAgent_->setPlaceholderText(QStringLiteral("The program's own"));
    pages->addRow(QStringLiteral("User-&Agent for every page:"), userAgent_);
    auto* fileRow = new QHBoxLayout;
    cookieFile_ = new QLineEdit(s.cookieFile, this);
    cookieFile_->setPlaceholderText(QStringLiteral("cookies.txt of a browser, read at each start"));
    auto* browse = new QPushButton(QStringLiteral("&Browse\u2026"), this);
    auto* importNow = new QPushButton(QStringLiteral("&Import"), this);
    fileRow->addWidget(cookieFile_, 1);
    fileRow->addWidget(browse);
    fileRow->addWidget(importNow);
    auto* fileLabel = new QLabel(QStringLiteral("&Cookies for every page:"), this);
    fileLabel->setBuddy(cookieFile_);
    pages->addRow(fileLabel, fileRow);
    layout->addLayout(pages);
    report_ = new QPlainTextEdit(this);
    report_->setReadOnly(true);
    report_->setLineWrapMode(QPlainTextEdit::NoWrap);
    report_->setPlaceholderText(QStringLiteral("What an import took and refused"));
    layout->addWidget(report_, 1);
    message_ = new MessageLabel(this);
    layout->addWidget(message_);

    switch (s.proxyMode) {
        case NetworkSettings::ProxyMode::Environment:
            environment_->setChecked(true);
            break;
        case NetworkSettings::ProxyMode::Direct:
            direct_->setChecked(true);
            break;
        case NetworkSettings::ProxyMode::Manual:
            manual_->setChecked(true);
            break;
    }
    for (QRadioButton* button : {environment_, direct_, manual_})
        connect(button, &QRadioButton::toggled, this, &NetworkPanel::updateEnabled);
    connect(importNow, &QPushButton::clicked, this, &NetworkPanel::importCookies);
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString file =
            QFileDialog::getOpenFileName(this, QStringLiteral("Cookies File"), cookieFile_->text(),
                                         QStringLiteral("Cookies files (*.txt);;All files (*)"));
        if (!file.isEmpty()) cookieFile_->setText(file);
    });
    updateEnabled();
    // Said at once, not only when a password is typed: the user knows before choosing a proxy
    // that needs one.
    if (const std::string why = requests_.secrets().unavailable(); !why.empty())
        message_->setMessage(QStringLiteral("%1: passwords cannot be kept.").arg(QString::fromStdString(why)),
                             true);
}

void NetworkPanel::updateEnabled() {
    for (QWidget* field : std::initializer_list<QWidget*>{host_, port_, user_, password_, noProxy_})
        field->setEnabled(manual_->isChecked());
}

bool NetworkPanel::apply() {
    NetworkSettings s = requests_.network();
    s.proxyMode = manual_->isChecked()   ? NetworkSettings::ProxyMode::Manual
                  : direct_->isChecked() ? NetworkSettings::ProxyMode::Direct
                                         : NetworkSettings::ProxyMode::Environment;
    if (s.proxyMode == NetworkSettings::ProxyMode::Manual && host_->text().trimmed().isEmpty()) {
        message_->setMessage(QStringLiteral("The proxy needs a host."), true);
        host_->setFocus();
        return false;
    }
    s.proxyHost = host_->text().trimmed();
    s.proxyPort = port_->value();
    s.proxyUser = user_->text().trimmed();
    s.noProxy = noProxy_->text().trimmed();
    s.userAgent = userAgent_->text().trimmed();
    s.cookieFile = cookieFile_->text().trimmed();
    const bool newFile = s.cookieFile != requests_.network().cookieFile && !s.cookieFile.isEmpty();
    std::optional<QString> secret;
    if (s.proxyUser.isEmpty())
        secret = QString();
    else if (password_->isModified())
        secret = password_->text();
    const QString why = requests_.setNetwork(s, secret);
    password_->clear();
    password_->setModified(false);
    if (newFile) importCookies();
    if (!why.isEmpty()) {
        message_->setMessage(
            QStringLiteral("%1: the password was not kept; the other settings were saved.").arg(why), true);
        return false;
    }
    return true;
}

void NetworkPanel::importCookies() {
    const QString file = cookieFile_->text().trimmed();
    if (!file.isEmpty()) report_->setPlainText(ImportReportText(requests_.importCookies(file)));
}

QString NetworkPanel::message() const {
    return message_->text();
}

QString NetworkPanel::importReport() const {
    return report_->toPlainText();
}

}  // namespace vantrel
