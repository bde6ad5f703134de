#pragma once
// The "Network" section of the settings window: the proxy (the environment's, none, or one of the
// program's own with its password in the secret store), a User-Agent for every page, and a
// browser's cookies file for every page with what its import took and refused.
#include <QWidget>

class QLineEdit;
class QPlainTextEdit;
class QRadioButton;
class QSpinBox;

namespace vantrel {

class MessageLabel;
class RequestSupply;

class NetworkPanel : public QWidget {
    Q_OBJECT
  public:
    explicit NetworkPanel(RequestSupply& requests, QWidget* parent = nullptr);

    // Saves the fields; a password the secret store cannot keep is refused with the reason shown,
    // the rest saved all the same. Returns false when something was not kept or not valid.
    bool apply();
    void importCookies();

    QRadioButton* environmentButton() const { return environment_; }
    QRadioButton* directButton() const { return direct_; }
    QRadioButton* manualButton() const { return manual_; }
    QLineEdit* hostEdit() const { return host_; }
    QSpinBox* portBox() const { return port_; }
    QLineEdit* userEdit() const { return user_; }
    QLineEdit* passwordEdit() const { return password_; }
    QLineEdit* noProxyEdit() const { return noProxy_; }
    QLineEdit* userAgentEdit() const { return userAgent_; }
    QLineEdit* cookieFileEdit() const { return cookieFile_; }
    QString message() const;
    QString importReport() const;

  private:
    void updateEnabled();

    RequestSupply& requests_;
    QRadioButton* environment_;
    QRadioButton* direct_;
    QRadioButton* manual_;
    QLineEdit* host_;
    QSpinBox* port_;
    QLineEdit* user_;
    QLineEdit* password_;
    QLineEdit* noProxy_;
    QLineEdit* userAgent_;
    QLineEdit* cookieFile_;
    QPlainTextEdit* report_;
    MessageLabel* message_;
};

}  // namespace vantrel
