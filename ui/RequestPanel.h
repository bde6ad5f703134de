#pragma once
// The "Request" part of a page's settings: header lines of the user's, a User-Agent of the page's
// own, Basic authentication (the password in the secret store) and a browser's cookies file, with
// what an import of it took and refused, and the page's last request as it was sent.
#include <QString>
#include <QWidget>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace vantrel {

class HistoryStore;
class MessageLabel;
class RequestSupply;

class RequestPanel : public QWidget {
    Q_OBJECT
  public:
    // Shows what `store` keeps for `url`; `store` and `supply` must outlive the panel.
    RequestPanel(HistoryStore& store, RequestSupply& supply, const QString& url, QWidget* parent = nullptr);

    // Refuses header lines that cannot be sent (the reason shown, nothing saved, returns false);
    // otherwise saves, keeps a new password in the secret store and reads a new cookies file in.
    bool save();
    // Reads the cookies file of the field in now and shows what was taken and refused.
    void importCookies();

    QPlainTextEdit* headersEdit() const { return headers_; }
    QLineEdit* userAgentEdit() const { return userAgent_; }
    QLineEdit* userEdit() const { return user_; }
    QLineEdit* passwordEdit() const { return password_; }
    QLineEdit* cookieFileEdit() const { return cookieFile_; }
    QString message() const;
    QString importReport() const;
    QString lastRequestText() const;

  signals:
    void saved();

  private:
    void showLastRequest();

    HistoryStore& store_;
    RequestSupply& supply_;
    QString url_;
    QPlainTextEdit* headers_ = nullptr;
    QLineEdit* userAgent_ = nullptr;
    QLineEdit* user_ = nullptr;
    QLineEdit* password_ = nullptr;
    QLineEdit* cookieFile_ = nullptr;
    QPlainTextEdit* report_ = nullptr;
    QPlainTextEdit* lastRequest_ = nullptr;
    MessageLabel* message_ = nullptr;
};

}  // namespace vantrel
