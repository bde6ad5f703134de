#include "ui/WebPageUnit.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QToolButton>
#include <algorithm>

#include "core/PageEntry.h"
#include "text/Text.h"
#include "ui/Pictures.h"
#include "ui/ThemeColours.h"

namespace vantrel {

namespace {

const char* const kEmptyUrl = "http://";

// QProcess hands the text to xdg-open as one argument, byte for byte: no URL parser sees it, so
// nothing is normalised or re-encoded on the way to the browser. A failure is not reported.
void openWithXdg(const QString& url) {
    QProcess::startDetached(QStringLiteral("xdg-open"), {url});
}

TWebPageDlg::Opener gOpener = &openWithXdg;

QString trimmed(const QString& text) {
    return QString::fromStdU16String(Trim(text.toStdU16String()));
}

// Sets a field's text whole, even past its typing limit: the limit only stops typing.
void setTextKeepingLimit(QLineEdit* field, int typedLimit, const QString& text) {
    field->setMaxLength(std::max<int>(typedLimit, static_cast<int>(text.size())));
    field->setText(text);
}

// After the user shortens an over-long text the limit shrinks with it, never below the typing
// limit and never below the text (QLineEdit would cut the text otherwise): typing into a field
// that holds more than the limit stays blocked until it is back under the limit.
// The field starts with "http://"; a whole URL pasted behind it ("http://https://example.org/")
// would be saved with two schemes and fail as "Host not found". A scheme (RFC 3986, section 3.1)
// and "://" right after the starting text mean the user pasted over it: the starting text goes.
QString withoutPastedOverScheme(const QString& url) {
    static const QRegularExpression kScheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*://"));
    const QString start = QLatin1String(kEmptyUrl);
    if (!url.startsWith(start) || !kScheme.match(url.mid(start.size())).hasMatch()) return url;
    return url.mid(start.size());
}

void followTypedLimit(QLineEdit* field, int typedLimit) {
    QObject::connect(field, &QLineEdit::textEdited, field, [field, typedLimit](const QString& text) {
        field->setMaxLength(std::max<int>(typedLimit, static_cast<int>(text.size())));
    });
}

}  // namespace

TWebPageDlg::TWebPageDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("WebPageDlg"));
    setWindowTitle(QStringLiteral("Web Page"));
    QFont dialogFont = QApplication::font("QDialog");
    dialogFont.setPointSize(8);
    setFont(dialogFont);
    ThemeColours::fillWindow(this, Qt::white);
    buildControls();
}

void TWebPageDlg::buildControls() {
    // Larger text sizes scale every position and size alike, as in the main window.
    auto* layout = new DesignLayout(kDesignSize, DesignLayout::scaleFor(this), this);
    const auto at = [](const char* name) -> const DesignRect& { return DesignLayout::find(kDesign, name); };
    setFixedSize(layout->scaledDesignSize());
    const QSize picture(layout->length(16), layout->length(16));

    auto captioned = [&](QLineEdit* field, const char* name, const QString& caption) {
        layout->add(field, at(name));
        QLabel* label = layout->addText(at((QByteArray(name) + "Caption").constData()), caption);
        label->setBuddy(field);
    };
    LabelLabeledEdit = new QLineEdit(this);
    captioned(LabelLabeledEdit, "LabelLabeledEdit", QStringLiteral("Label:"));
    LabelLabeledEdit->setMaxLength(kLabelMaxTyped);
    followTypedLimit(LabelLabeledEdit, kLabelMaxTyped);

    WebPageLabeledEdit = new QLineEdit(this);
    captioned(WebPageLabeledEdit, "WebPageLabeledEdit", QStringLiteral("Web Page:"));
    WebPageLabeledEdit->setMaxLength(kUrlMaxTyped);
    WebPageLabeledEdit->setText(QString::fromLatin1(kEmptyUrl));
    followTypedLimit(WebPageLabeledEdit, kUrlMaxTyped);

    OpenSpeedButton = new QToolButton(this);
    OpenSpeedButton->setFocusPolicy(Qt::NoFocus);
    OpenSpeedButton->setIcon(Pictures::button(ButtonPicture::OpenInBrowser));
    OpenSpeedButton->setIconSize(picture);
    // The hint is for assistive tools only: the dialog shows no tooltips.
    OpenSpeedButton->setAccessibleName(QStringLiteral("Open with Web Browser"));
    layout->add(OpenSpeedButton, at("OpenSpeedButton"));

    IntervalLabel = layout->addText(at("IntervalLabel"), QStringLiteral("Interval:"));
    IntervalComboBox = new QComboBox(this);
    IntervalComboBox->setEditable(false);
    for (const IntervalChoice& choice : kIntervals) {
        IntervalComboBox->addItem(QString::fromStdU16String(std::u16string(choice.text)));
    }
    IntervalComboBox->setCurrentIndex(kDefaultIntervalIndex);
    layout->add(IntervalComboBox, at("IntervalComboBox"));
    IntervalLabel->setBuddy(IntervalComboBox);

    ChangeCheckBox = layout->addCheckBox(at("ChangeCheckBox"), QStringLiteral("Web Page is Changed"));
    ChangeCheckBox->setHidden(true);

    OKBitBtn = layout->addButton(at("OKBitBtn"), QStringLiteral("OK"), Pictures::button(ButtonPicture::Ok));
    OKBitBtn->setDefault(true);
    connect(OKBitBtn, &QPushButton::clicked, this, &TWebPageDlg::OKBtnClick);
    CancelBitBtn2 = layout->addButton(at("CancelBitBtn2"), QStringLiteral("Cancel"),
                                      Pictures::button(ButtonPicture::Cancel));
    connect(CancelBitBtn2, &QPushButton::clicked, this, &QDialog::reject);
    connect(OpenSpeedButton, &QToolButton::clicked, this, &TWebPageDlg::OpenSpeedButtonClick);

    setTabOrder(LabelLabeledEdit, WebPageLabeledEdit);
    setTabOrder(WebPageLabeledEdit, IntervalComboBox);
    setTabOrder(IntervalComboBox, ChangeCheckBox);
    setTabOrder(ChangeCheckBox, OKBitBtn);
    setTabOrder(OKBitBtn, CancelBitBtn2);
    LabelLabeledEdit->setFocus();
}

QString TWebPageDlg::labelText() const {
    return LabelLabeledEdit->text();
}

void TWebPageDlg::setLabelText(const QString& text) {
    setTextKeepingLimit(LabelLabeledEdit, kLabelMaxTyped, text);
}

QString TWebPageDlg::urlText() const {
    return WebPageLabeledEdit->text();
}

void TWebPageDlg::setUrlText(const QString& text) {
    setTextKeepingLimit(WebPageLabeledEdit, kUrlMaxTyped, text);
}

int TWebPageDlg::intervalIndex() const {
    return IntervalComboBox->currentIndex();
}

void TWebPageDlg::setIntervalIndex(int index) {
    IntervalComboBox->setCurrentIndex(index >= 0 && index < kIntervalCount ? index : -1);
}

bool TWebPageDlg::changedBoxShown() const {
    return !ChangeCheckBox->isHidden();
}

bool TWebPageDlg::changedBoxTicked() const {
    return ChangeCheckBox->isChecked();
}

void TWebPageDlg::setChangedBox(bool shown, bool ticked) {
    ChangeCheckBox->setHidden(!shown);
    ChangeCheckBox->setChecked(ticked);
}

int TWebPageDlg::run() {
    // Where it was last closed, unless no screen shows that place any more (a monitor was
    // unplugged or the resolution lowered): a modal dialog out of sight would leave the program
    // unusable, so it is centred again.
    if (shownBefore_ && reachable(QRect(lastPos_, size()))) {
        move(lastPos_);
    } else {
        QScreen* screen = parentWidget() ? parentWidget()->screen() : nullptr;
        if (!screen) screen = QGuiApplication::primaryScreen();
        if (screen) {
            const QRect area = screen->availableGeometry();
            move(area.center() - QPoint(width() / 2, height() / 2));
        }
    }
    QWidget* start = lastFocus_ ? lastFocus_.data() : LabelLabeledEdit;
    if (!start->isVisibleTo(this) || start->focusPolicy() == Qt::NoFocus) start = LabelLabeledEdit;
    start->setFocus(Qt::OtherFocusReason);
    shownBefore_ = true;
    return exec();
}

bool TWebPageDlg::reachable(const QRect& frame) {
    // The top strip, where the title bar is grabbed to move the dialog, must be partly on a screen.
    const QRect grip(frame.topLeft(), QSize(frame.width(), kMinReachable));
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect shown = screen->availableGeometry().intersected(grip);
        if (shown.width() >= kMinReachable && shown.height() >= kMinReachable / 2) return true;
    }
    return false;
}

void TWebPageDlg::done(int result) {
    lastPos_ = pos();
    if (QWidget* focused = focusWidget(); focused && isAncestorOf(focused)) lastFocus_ = focused;
    QDialog::done(result);
}

void TWebPageDlg::complain(const QString& text, QLineEdit* field) {
    QMessageBox box(QMessageBox::Information, QStringLiteral("INFORMATION"), text, QMessageBox::Ok, this);
    box.exec();
    field->setFocus(Qt::OtherFocusReason);
}

void TWebPageDlg::OKBtnClick() {
    setTextKeepingLimit(LabelLabeledEdit, kLabelMaxTyped, trimmed(LabelLabeledEdit->text()));
    setTextKeepingLimit(WebPageLabeledEdit, kUrlMaxTyped,
                        withoutPastedOverScheme(trimmed(WebPageLabeledEdit->text())));
    if (LabelLabeledEdit->text().isEmpty()) {
        complain(QStringLiteral("Please input the Label."), LabelLabeledEdit);
        return;
    }
    const QString url = WebPageLabeledEdit->text();
    if (url.isEmpty() || url == QLatin1String(kEmptyUrl)) {
        complain(QStringLiteral("Please input the Web Page."), WebPageLabeledEdit);
        return;
    }
    accept();
}

void TWebPageDlg::OpenSpeedButtonClick() {
    openInBrowser(WebPageLabeledEdit->text());
}

void TWebPageDlg::openInBrowser(const QString& url) {
    if (url.isEmpty() || url == QLatin1String(kEmptyUrl)) return;
    gOpener(url);
}

void TWebPageDlg::setOpener(Opener opener) {
    gOpener = opener ? opener : &openWithXdg;
}

}  // namespace vantrel
