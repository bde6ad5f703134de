#pragma once
// The add/edit dialog: collects and checks a page's label, URL and interval; never touches the
// page list itself.
#include <QDialog>
#include <QPoint>
#include <QPointer>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QToolButton;
class QLabel;

namespace vantrel {

class TWebPageDlg : public QDialog {
    Q_OBJECT
  public:
    explicit TWebPageDlg(QWidget* parent = nullptr);

    // Filled by the main window before a run and read after it.
    QString labelText() const;
    void setLabelText(const QString& text);
    QString urlText() const;
    void setUrlText(const QString& text);
    int intervalIndex() const;         // 0..8, or -1 for none
    void setIntervalIndex(int index);  // outside 0..8 shows none
    bool changedBoxShown() const;
    bool changedBoxTicked() const;
    void setChangedBox(bool shown, bool ticked);

    // Runs modally; QDialog::Accepted only after the checks of OK passed.
    int run();

    // The child controls, by their names, for the main window's tests.
    QLineEdit* LabelLabeledEdit = nullptr;
    QLineEdit* WebPageLabeledEdit = nullptr;
    QToolButton* OpenSpeedButton = nullptr;
    QLabel* IntervalLabel = nullptr;
    QComboBox* IntervalComboBox = nullptr;
    QCheckBox* ChangeCheckBox = nullptr;
    QPushButton* OKBitBtn = nullptr;
    QPushButton* CancelBitBtn2 = nullptr;

    // How the browser is opened; tests replace it. Receives the untrimmed text.
    using Opener = void (*)(const QString& url);
    static void setOpener(Opener opener);

    // Typing limits of the two text fields; text set by code may be longer and is kept whole.
    static constexpr int kLabelMaxTyped = 40;
    static constexpr int kUrlMaxTyped = 200;
    // Pixels of the dialog's top strip (width, and half of it in height) that must be on a
    // screen for a run to show the dialog where it was last closed; otherwise it is centred.
    static constexpr int kMinReachable = 40;

  public slots:
    void OKBtnClick();
    void OpenSpeedButtonClick();

    // Remembers where the dialog was and which control had the focus, for the next run.
    void done(int result) override;

  private:
    void buildControls();
    void complain(const QString& text, QLineEdit* field);
    // Whether a dialog at `frame` could be seen and grabbed on one of the screens.
    static bool reachable(const QRect& frame);

    bool shownBefore_ = false;
    QPoint lastPos_;
    QPointer<QWidget> lastFocus_;
};

}  // namespace vantrel
