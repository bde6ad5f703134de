#pragma once
// The add/edit dialog: collects and checks a page's label, URL and interval; never touches the
// page list itself.
#include <QDialog>
#include <QPoint>
#include <QPointer>

#include "ui/DesignLayout.h"

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
    // Hands `url` to the browser as the browser button does: nothing for an empty text or "http://".
    static void openInBrowser(const QString& url);

    // Typing limits of the two text fields; text set by code may be longer and is kept whole.
    static constexpr int kLabelMaxTyped = 40;
    static constexpr int kUrlMaxTyped = 200;
    // Pixels of the dialog's top strip (width, and half of it in height) that must be on a
    // screen for a run to show the dialog where it was last closed; otherwise it is centred.
    static constexpr int kMinReachable = 40;

    // The client area and every control's place, at 96 dpi; the dialog has a fixed size. A
    // caption stands 3 pixels above its field.
    static constexpr QSize kDesignSize{374, 208};
    static constexpr DesignRect kDesign[] = {
        {"LabelLabeledEditCaption", {16, 8, 60, 13}, DesignLayout::Left | DesignLayout::Top, 153},
        {"LabelLabeledEdit", {16, 24, 153, 21}},
        {"WebPageLabeledEditCaption", {16, 57, 60, 13}, DesignLayout::Left | DesignLayout::Top, 153},
        {"WebPageLabeledEdit", {16, 73, 310, 21}},
        {"OpenSpeedButton", {332, 72, 23, 22}},
        {"IntervalLabel", {16, 104, 42, 13}, DesignLayout::Left | DesignLayout::Top, 153},
        {"IntervalComboBox", {16, 123, 153, 21}},
        // Room up to the OK button for the box and its text.
        {"ChangeCheckBox", {16, 160, 153, 17}, DesignLayout::Left | DesignLayout::Top, 180},
        {"OKBitBtn", {197, 168, 75, 25}},
        {"CancelBitBtn2", {281, 168, 75, 25}},
    };

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
