#include "ui/RequestPanel.h"

#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "net/RequestOptions.h"
#include "net/Url.h"
#include "store/HistoryStore.h"
#include "store/SecretStore.h"
#include "ui/MessageLabel.h"
#include "ui/RequestSupply.h"

namespace vantrel {

namespace {

QPlainTextEdit* ReadOnlyText(QWidget* parent) {
    auto* text = new QPlainTextEdit(parent);
    text->setReadOnly(true);
    text->setLineWrapMode(QPlainTextEdit::NoWrap);
    text->setTabChangesFocus(true);
    return text;
}

}  // namespace

RequestPanel::RequestPanel(HistoryStore& store, RequestSupply& supply, const QString& url, QWidget* parent)
    : QWidget(parent), store_(store), supply_(supply), url_(url) {
    const PageRequestSettings request = store_.settings(url_.toStdU16String()).request;
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    headers_ = new QPlainTextEdit(QString::fromStdU16String(request.headers), this);
    headers_->setPlaceholderText(QStringLiteral("Name: value, one header a line"));
    headers_->setTabChangesFocus(true);
    headers_->setMaximumHeight(headers_->fontMetrics().lineSpacing() * 5);
    form->addRow(QStringLiteral("Extra &headers:"), headers_);
    userAgent_ = new QLineEdit(QString::fromStdU16String(request.userAgent), this);
    userAgent_->setPlaceholderText(QStringLiteral("The program's own"));
    form->addRow(QStringLiteral("&User-Agent:"), userAgent_);
    user_ = new QLineEdit(QString::fromStdU16String(request.authUser), this);
    form->addRow(QStringLiteral("Basic authentication u&ser:"), user_);
    password_ = new QLineEdit(this);
    password_->setEchoMode(QLineEdit::Password);
    password_->setPlaceholderText(!request.authUser.empty() && supply_.hasPagePassword(url_.toStdU16String())
                                      ? QStringLiteral("Kept in the secret store; type to replace it")
                                      : QStringLiteral("Kept in the secret store, never on disk"));
    form->addRow(QStringLiteral("&Password:"), password_);
    auto* fileRow = new QHBoxLayout;
    cookieFile_ = new QLineEdit(QString::fromStdU16String(request.cookieFile), this);
    cookieFile_->setPlaceholderText(QStringLiteral("cookies.txt of a browser, read at each start"));
    auto* browse = new QPushButton(QStringLiteral("&Browse\u2026"), this);
    auto* importNow = new QPushButton(QStringLiteral("&Import"), this);
    fileRow->addWidget(cookieFile_, 1);
    fileRow->addWidget(browse);
    fileRow->addWidget(importNow);
    // A row holding a layout has no buddy of its own: the label is given one, or its "&" shows.
    auto* fileLabel = new QLabel(QStringLiteral("&Cookies file:"), this);
    fileLabel->setBuddy(cookieFile_);
    form->addRow(fileLabel, fileRow);
    layout->addLayout(form);
    report_ = ReadOnlyText(this);
    report_->setPlaceholderText(QStringLiteral("What an import took and refused"));
    layout->addWidget(report_, 1);
    layout->addWidget(new QLabel(QStringLiteral("Last request as sent:"), this));
    lastRequest_ = ReadOnlyText(this);
    layout->addWidget(lastRequest_, 1);
    auto* buttons = new QHBoxLayout;
    message_ = new MessageLabel(this);
    auto* saveButton = new QPushButton(QStringLiteral("Sa&ve"), this);
    buttons->addWidget(message_, 1);
    buttons->addWidget(saveButton);
    layout->addLayout(buttons);

    connect(saveButton, &QPushButton::clicked, this, &RequestPanel::save);
    connect(importNow, &QPushButton::clicked, this, &RequestPanel::importCookies);
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString file =
            QFileDialog::getOpenFileName(this, QStringLiteral("Cookies File"), cookieFile_->text(),
                                         QStringLiteral("Cookies files (*.txt);;All files (*)"));
        if (!file.isEmpty()) cookieFile_->setText(file);
    });
    connect(&supply_, &RequestSupply::requestRecorded, this, [this](const QString& recorded) {
        if (recorded == url_) showLastRequest();
    });
    showLastRequest();
}

bool RequestPanel::save() {
    if (store_.disabled()) {
        message_->setMessage(QStringLiteral("The history is off: the settings cannot be kept."), true);
        return false;
    }
    std::vector<std::pair<std::string, std::string>> parsed;
    if (const std::string problem = ParseHeaderLines(headers_->toPlainText().toStdString(), parsed);
        !problem.empty()) {
        message_->setMessage(QString::fromStdString(problem), true);
        headers_->setFocus();
        return false;
    }
    const std::u16string url = url_.toStdU16String();
    PageFilterSettings settings = store_.settings(url);
    const std::u16string oldFile = settings.request.cookieFile;
    settings.request.headers = headers_->toPlainText().trimmed().toStdU16String();
    settings.request.userAgent = userAgent_->text().trimmed().toStdU16String();
    settings.request.authUser = user_->text().trimmed().toStdU16String();
    settings.request.cookieFile = cookieFile_->text().trimmed().toStdU16String();
    store_.saveSettings(url, settings);
    QString why;
    if (settings.request.authUser.empty()) {
        supply_.setPagePassword(url, QString());
    } else if (password_->isModified()) {
        why = supply_.setPagePassword(url, password_->text());
    }
    password_->clear();
    password_->setModified(false);
    if (!settings.request.cookieFile.empty() && settings.request.cookieFile != oldFile) importCookies();
    if (why.isEmpty()) {
        message_->setMessage(QStringLiteral("Saved."), false);
    } else {
        message_->setMessage(
            QStringLiteral("%1: the password was not kept; the other settings were saved.").arg(why), true);
    }
    emit saved();
    return why.isEmpty();
}

void RequestPanel::importCookies() {
    const QString file = cookieFile_->text().trimmed();
    if (file.isEmpty()) return;
    report_->setPlainText(
        ImportReportText(supply_.importCookies(file, Url::split(url_.toStdU16String()).host)));
}

void RequestPanel::showLastRequest() {
    const RequestSupply::LastRequest last = supply_.lastRequest(url_);
    if (last.head.isEmpty()) {
        lastRequest_->setPlainText(QStringLiteral("No check has sent a request in this run yet."));
        return;
    }
    QString head = last.head;
    head.remove(QLatin1Char('\r'));
    lastRequest_->setPlainText((last.proxy.isEmpty()
                                    ? QStringLiteral("Direct connection.\n\n")
                                    : QStringLiteral("Through the proxy %1.\n\n").arg(last.proxy)) +
                               head.trimmed());
}

QString RequestPanel::message() const {
    return message_->text();
}

QString RequestPanel::importReport() const {
    return report_->toPlainText();
}

QString RequestPanel::lastRequestText() const {
    return lastRequest_->toPlainText();
}

}  // namespace vantrel
