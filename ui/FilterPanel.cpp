#include "ui/FilterPanel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <optional>
#include <thread>

#include "check/RunCheck.h"
#include "core/CheckCycle.h"
#include "core/CheckReport.h"
#include "store/HistoryStore.h"
#include "ui/Handover.h"

namespace vantrel {

namespace {

// The preview shows at most this much of the text (and keeps one unit more, to tell that it was
// cut); the checksum is over all of it.
constexpr int kMaxShownUnits = 200'000;

// Whether a check would read the page differently: the failure count alone does not change what
// is judged, so it does not start the page afresh.
bool SameTextFilters(const PageFilterSettings& a, const PageFilterSettings& b) {
    const bool sameSelector =
        a.selector == b.selector && (a.selector.empty() || a.selectorKind == b.selectorKind);
    return sameSelector && a.visibleTextOnly == b.visibleTextOnly && a.ignorePatterns == b.ignorePatterns;
}

}  // namespace

// What the panel and its preview thread share. The thread holds its own reference, so a panel
// closed while the page loads leaves it to end on its own.
struct FilterPanel::PreviewJob {
    PreviewJob(const FetcherOptions& options, FilterPanel* panel)
        : fetcher(options), result(panel, "takePreview") {}
    PageFetcher fetcher;  // cancel() from the panel's thread
    Handover<DownloadResult> result;
};

FilterPanel::FilterPanel(HistoryStore& store, const QString& url, std::function<void()> startAfresh,
                         FetcherOptions fetcher, QWidget* parent)
    : QWidget(parent),
      store_(store),
      url_(url),
      startAfresh_(std::move(startAfresh)),
      fetcher_(std::move(fetcher)) {
    selector_ = new QLineEdit(this);
    selector_->setObjectName(QStringLiteral("selector"));
    selector_->setPlaceholderText(tr("Empty: the whole page"));
    selectorKind_ = new QComboBox(this);
    selectorKind_->setObjectName(QStringLiteral("selectorKind"));
    selectorKind_->addItems({tr("CSS selector"), tr("XPath")});
    auto* selectorLabel = new QLabel(tr("Only a &part of the page:"), this);
    selectorLabel->setBuddy(selector_);

    visibleOnly_ = new QCheckBox(tr("&Visible text only (no markup, scripts, styles or comments)"), this);
    visibleOnly_->setObjectName(QStringLiteral("visibleTextOnly"));

    ignoreLines_ = new QPlainTextEdit(this);
    ignoreLines_->setObjectName(QStringLiteral("ignoreLines"));
    ignoreLines_->setTabChangesFocus(true);
    ignoreLines_->setLineWrapMode(QPlainTextEdit::NoWrap);
    ignoreLines_->setFixedHeight(ignoreLines_->fontMetrics().lineSpacing() * 4 + 12);
    auto* ignoreLabel = new QLabel(tr("&Ignore lines matching (one regular expression per line):"), this);
    ignoreLabel->setBuddy(ignoreLines_);

    failures_ = new QSpinBox(this);
    failures_->setObjectName(QStringLiteral("failuresBeforeOffline"));
    failures_->setRange(kMinFailuresBeforeOffline, kMaxFailuresBeforeOffline);
    auto* failuresLabel = new QLabel(tr("Report &offline after"), this);
    failuresLabel->setBuddy(failures_);

    message_ = new MessageLabel(this);
    message_->setObjectName(QStringLiteral("message"));
    message_->hide();

    previewButton_ = new QPushButton(tr("Pre&view"), this);
    previewButton_->setObjectName(QStringLiteral("preview"));
    saveButton_ = new QPushButton(tr("&Save"), this);
    saveButton_->setObjectName(QStringLiteral("save"));

    previewResult_ = new QLabel(this);
    previewResult_->setObjectName(QStringLiteral("previewResult"));
    previewResult_->setWordWrap(true);
    previewResult_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    previewText_ = new QPlainTextEdit(this);
    previewText_->setObjectName(QStringLiteral("previewText"));
    previewText_->setReadOnly(true);
    previewText_->setTabChangesFocus(true);
    previewText_->setPlaceholderText(tr("Preview shows the text a check of the page judges."));

    auto* grid = new QGridLayout(this);
    grid->addWidget(selectorLabel, 0, 0);
    grid->addWidget(selector_, 0, 1);
    grid->addWidget(selectorKind_, 0, 2);
    grid->addWidget(visibleOnly_, 1, 0, 1, 3);
    grid->addWidget(ignoreLabel, 2, 0, 1, 3);
    grid->addWidget(ignoreLines_, 3, 0, 1, 3);
    auto* failuresRow = new QHBoxLayout;
    failuresRow->addWidget(failuresLabel);
    failuresRow->addWidget(failures_);
    failuresRow->addWidget(new QLabel(tr("failed checks in a row"), this));
    failuresRow->addStretch();
    failuresRow->addWidget(previewButton_);
    failuresRow->addWidget(saveButton_);
    grid->addLayout(failuresRow, 4, 0, 1, 3);
    grid->addWidget(message_, 5, 0, 1, 3);
    grid->addWidget(previewResult_, 6, 0, 1, 3);
    grid->addWidget(previewText_, 7, 0, 1, 3);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(7, 1);

    connect(previewButton_, &QPushButton::clicked, this, &FilterPanel::preview);
    connect(saveButton_, &QPushButton::clicked, this, &FilterPanel::save);

    setFieldSettings(store_.settings(url_.toStdU16String()));
    if (store_.disabled()) {
        // Filters live in the history file: without it they cannot be kept.
        saveButton_->setEnabled(false);
        showMessage(QString::fromStdU16String(store_.disabledReason()), true);
    }
}

FilterPanel::~FilterPanel() {
    if (!job_) return;
    job_->result.forgetReceiver();
    job_->fetcher.cancel();
}

PageFilterSettings FilterPanel::fieldSettings() const {
    PageFilterSettings settings;
    settings.selector = selector_->text().trimmed().toStdU16String();
    settings.selectorKind = selectorKind_->currentIndex() == 1 ? SelectorKind::XPath : SelectorKind::Css;
    settings.visibleTextOnly = visibleOnly_->isChecked();
    // A pattern is kept as typed, spaces and all; empty lines are no pattern.
    const QStringList lines = ignoreLines_->toPlainText().split(QLatin1Char('\n'));
    for (const QString& line : lines)
        if (!line.isEmpty()) settings.ignorePatterns.push_back(line.toStdU16String());
    settings.failuresBeforeOffline = failures_->value();
    return settings;
}

void FilterPanel::setFieldSettings(const PageFilterSettings& settings) {
    selector_->setText(QString::fromStdU16String(settings.selector));
    selectorKind_->setCurrentIndex(settings.selectorKind == SelectorKind::XPath ? 1 : 0);
    visibleOnly_->setChecked(settings.visibleTextOnly);
    QStringList lines;
    for (const std::u16string& pattern : settings.ignorePatterns) lines << QString::fromStdU16String(pattern);
    ignoreLines_->setPlainText(lines.join(QLatin1Char('\n')));
    failures_->setValue(settings.failuresBeforeOffline);
}

bool FilterPanel::refuseInvalid(const PageFilterSettings& settings) {
    const std::optional<FilterProblem> problem = ValidateFilters(settings);
    if (!problem) return false;
    showMessage(QString::fromStdString(problem->message), true);
    switch (problem->field) {
        case FilterProblem::Field::Selector:
            selector_->setFocus();
            break;
        case FilterProblem::Field::IgnorePattern:
            ignoreLines_->setFocus();
            break;
        case FilterProblem::Field::FailuresBeforeOffline:
            failures_->setFocus();
            break;
    }
    return true;
}

bool FilterPanel::save() {
    if (store_.disabled()) return false;
    PageFilterSettings settings = fieldSettings();
    if (refuseInvalid(settings)) return false;
    const std::u16string url = url_.toStdU16String();
    // The Request tab's part of the page's settings is not this panel's to change.
    settings.request = store_.settings(url).request;
    const bool textFiltersChanged = !SameTextFilters(store_.settings(url), settings);
    store_.saveSettings(url, settings);
    // The stored checksum was taken over other text: the next check would call the page changed.
    if (textFiltersChanged && startAfresh_) startAfresh_();
    showMessage(tr("Saved."), false);
    emit saved();
    return true;
}

bool FilterPanel::edited() const {
    return !store_.disabled() && fieldSettings() != store_.settings(url_.toStdU16String());
}

void FilterPanel::preview() {
    if (previewing_) return;
    const PageFilterSettings settings = fieldSettings();
    if (refuseInvalid(settings)) return;
    showMessage(QString(), false);
    previewing_ = true;
    previewButton_->setEnabled(false);
    previewResult_->setText(tr("Loading %1 …").arg(url_));
    previewText_->clear();

    // The last preview's result was taken (no preview starts while one runs); its fetcher goes
    // with its thread.
    job_ = std::make_shared<PreviewJob>(fetcher_, this);
    Download download;
    download.url = url_.toStdU16String();
    download.settings = settings;
    // The page is asked for as its checks ask: with its headers, login and cookies.
    download.settings.request = store_.settings(download.url).request;
    if (completeRequest_) download.settings = completeRequest_(std::move(download.settings));
    std::thread([job = job_, download = std::move(download)] {
        job->result.post(RunCheck(job->fetcher, download, size_t{kMaxShownUnits}));
    }).detach();
}

void FilterPanel::takePreview() {
    if (std::optional<DownloadResult> result = job_ ? job_->result.take() : std::nullopt)
        showPreview(*result);
}

void FilterPanel::showPreview(const DownloadResult& result) {
    previewing_ = false;
    previewButton_->setEnabled(true);
    CheckRecord check;
    check.outcome = result.gotText ? PageStatus::Online : PageStatus::Offline;
    check.detail = result.detail;
    check.durationMs = result.durationMs;
    check.textBytes = result.textBytes;
    QString head = QString::fromStdU16String(CheckResultText(check));
    if (result.gotText) {
        head += QLatin1Char('\n') + QString::fromStdU16String(result.checksum);
        QString text = QString::fromStdU16String(result.text);
        if (text.size() > kMaxShownUnits) {
            text.truncate(kMaxShownUnits);
            head += QLatin1Char('\n') + tr("The first %L1 characters are shown.").arg(kMaxShownUnits);
        }
        previewText_->setPlainText(text);
    }
    previewResult_->setText(head);
    emit previewShown();
}

void FilterPanel::showMessage(const QString& text, bool error) {
    message_->setMessage(text, error);
    message_->setVisible(!text.isEmpty());
}

}  // namespace vantrel
