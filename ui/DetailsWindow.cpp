#include "ui/DetailsWindow.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QScrollArea>
#include <QShortcut>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "store/HistoryStore.h"
#include "ui/FilterPanel.h"
#include "ui/Monitor.h"
#include "ui/PageListModel.h"
#include "ui/RequestPanel.h"
#include "ui/RequestSupply.h"
#include "ui/ResponseChart.h"

namespace vantrel {

namespace {

const QString kNone = QStringLiteral("\u2014");

QString toQString(const std::u16string& text) {
    return QString::fromStdU16String(text);
}

// A failure message may hold line breaks ("Socket Error # 10061\r\nConnection refused."); a
// field shows one line.
QString oneLine(const std::u16string& text) {
    QString line = toQString(text);
    for (QChar& c : line)
        if (c.unicode() < 32 || c.unicode() == 127) c = QLatin1Char(' ');
    return line.simplified();
}

QString intervalInWords(const std::u16string& intervalText) {
    const int minutes = IntervalMinutes(intervalText);
    const auto count = [](int n, const char* unit) {
        return QString::number(n) + QLatin1Char(' ') + QLatin1String(unit) + (n == 1 ? "" : "s");
    };
    if (minutes >= 1440 && minutes % 1440 == 0) return count(minutes / 1440, "day");
    if (minutes >= 60 && minutes % 60 == 0) return count(minutes / 60, "hour");
    return count(minutes, "minute");
}

const char* const kCaptions[] = {"Label:",      "URL:",    "Interval:",           "Status:",
                                 "Last check:", "Result:", "Last status change:", "Last content change:"};
constexpr int kStatusRow = 3;

}  // namespace

QString DetailsWindow::localTime(int64_t utcMs) {
    return QDateTime::fromMSecsSinceEpoch(utcMs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QList<DetailsWindow::Row> DetailsWindow::rowsFor(const PageEntry& entry, const PageSummary& summary) {
    const int64_t stamp = ReadStamp(entry.stamp());
    // The history knows the check best; without it (history off, or checks from before it was
    // kept) the list's stamp still tells that and when the page was checked.
    const bool checked = summary.last.has_value() || stamp != 0;
    QString lastCheck = kNone;
    QString result = kNone;
    if (summary.last) {
        lastCheck = localTime(summary.last->timeMs);
        result = oneLine(CheckResultText(*summary.last));
    } else if (stamp != 0) {
        lastCheck = localTime(LocalToUtcMs(stamp * 1000));
    }
    const QString statusChange = summary.statusSinceMs ? localTime(*summary.statusSinceMs) : kNone;
    QString contentChange = kNone;
    if (summary.contentChangedMs)
        contentChange = localTime(*summary.contentChangedMs);
    else if (summary.last)
        contentChange = QStringLiteral("None recorded");
    const QString values[] = {toQString(entry.label),
                              toQString(entry.url()),
                              intervalInWords(entry.interval()),
                              toQString(StatusInWords(entry.status, checked)),
                              lastCheck,
                              result,
                              statusChange,
                              contentChange};
    QList<Row> rows;
    for (size_t i = 0; i < std::size(kCaptions); ++i) rows.append({QLatin1String(kCaptions[i]), values[i]});
    return rows;
}

void DetailsWindow::addCheck(PageSummary& summary, std::vector<CheckRecord>& recent,
                             const CheckRecord& check) {
    if (!summary.last || summary.last->status != check.status) summary.statusSinceMs = check.timeMs;
    if (check.outcome == PageStatus::Changed) summary.contentChangedMs = check.timeMs;
    summary.last = check;
    ++summary.checkCount;
    recent.insert(recent.begin(), check);
    if (recent.size() > size_t(kRecentChecks)) recent.resize(size_t(kRecentChecks));
}

DetailsWindow::DetailsWindow(Monitor& monitor, PageListModel& model, EntryId id, QWidget* parent)
    : QWidget(parent, Qt::Window), monitor_(monitor), id_(id) {
    setObjectName(QStringLiteral("DetailsWindow"));
    setWindowTitle(QStringLiteral("Details"));
    setAttribute(Qt::WA_DeleteOnClose);

    // The window may be smaller than what it holds (a small screen, a large scale): its content
    // scrolls then, so that every field, the filters and their Preview stay within reach.
    auto* content = new QWidget;
    auto* scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(scroll);
    auto* layout = new QVBoxLayout(content);
    historyOff_ = new MessageLabel(this);
    historyOff_->hide();
    layout->addWidget(historyOff_);
    notes_ = new QLabel(this);
    notes_->setObjectName(QStringLiteral("DetailsNotes"));
    notes_->setWordWrap(true);
    notes_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    notes_->hide();
    layout->addWidget(notes_);
    auto* fields = new QFormLayout;
    for (const char* caption : kCaptions) {
        auto* value = new QLabel(this);
        value->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        value->setWordWrap(true);
        fields->addRow(QLatin1String(caption), value);
        values_.append(value);
    }
    layout->addLayout(fields);
    // The checks and the page's filters share the lower part of the window, one tab each.
    auto* tabs = new QTabWidget(this);
    auto* checksTab = new QWidget(tabs);
    auto* checksLayout = new QVBoxLayout(checksTab);
    checksLayout->addWidget(new QLabel(QStringLiteral("Response times of the last checks:"), checksTab));
    chart_ = new ResponseChart(checksTab);
    checksLayout->addWidget(chart_);
    checks_ = new QTreeWidget(checksTab);
    checks_->setHeaderLabels({QStringLiteral("Time"), QStringLiteral("Result")});
    checks_->setRootIsDecorated(false);
    checks_->setUniformRowHeights(true);
    checks_->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    checksLayout->addWidget(checks_, 1);
    tabs->addTab(checksTab, QStringLiteral("&Checks"));
    if (const PageEntry* entry = monitor_.list().find(id_); entry && monitor_.history()) {
        const QString url = toQString(entry->url());
        RequestSupply* requests = monitor_.requests();
        filters_ = new FilterPanel(
            *monitor_.history(), url, [&monitor, url] { monitor.startAfresh(url); },
            requests ? requests->fetcherOptions() : FetcherOptions{}, tabs);
        if (requests)
            filters_->setRequestCompletion(
                [requests, page = url.toStdU16String()](PageFilterSettings settings) {
                    return requests->complete(page, std::move(settings));
                });
        tabs->addTab(filters_, QStringLiteral("&Filters"));
        if (requests)
            tabs->addTab(new RequestPanel(*monitor_.history(), *requests, url, tabs),
                         QStringLiteral("&Request"));
    }
    layout->addWidget(tabs, 1);
    scroll->setWidget(content);
    resize(560, 640);
    // Escape closes the window as its close button does.
    new QShortcut(QKeySequence(Qt::Key_Escape), this, this, &QWidget::close);

    readHistory();
    showEntry();
    showChecks();
    connect(&monitor_, &Monitor::checkRecorded, this, &DetailsWindow::checkRecorded);
    connect(&monitor_, &Monitor::pageNotesChanged, this, &DetailsWindow::showNotes);
    connect(&monitor_, &Monitor::networkWaitChanged, this, &DetailsWindow::showEntry);
    // The list's own changes: status, label, URL, interval; a deleted page closes the window.
    const auto follow = [this] {
        if (monitor_.list().find(id_))
            showEntry();
        else
            close();
    };
    connect(&model, &QAbstractItemModel::dataChanged, this, follow);
    connect(&model, &QAbstractItemModel::rowsRemoved, this, follow);
    connect(&model, &QAbstractItemModel::modelReset, this, follow);
}

void DetailsWindow::closeEvent(QCloseEvent* event) {
    // A page that was deleted takes its window with it: nothing is asked then.
    if (!filters_ || !filters_->edited() || !monitor_.list().find(id_)) {
        event->accept();
        return;
    }
    QMessageBox box(QMessageBox::Question, windowTitle(),
                    QStringLiteral("The filters of this page were changed. Save the changes?"),
                    QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, this);
    box.setDefaultButton(QMessageBox::Save);
    const int answer = box.exec();
    // Settings that do not parse are refused with the parser's message, and the window stays.
    const bool close = answer == QMessageBox::Discard || (answer == QMessageBox::Save && filters_->save());
    event->setAccepted(close);
}

void DetailsWindow::readHistory() {
    const PageEntry* entry = monitor_.list().find(id_);
    const HistoryStore* history = monitor_.history();
    if (!entry || !history) return;
    if (history->disabled()) {
        historyOff_->setMessage(toQString(history->disabledReason()), true);
        historyOff_->show();
        return;
    }
    // Writes paused (a lock, a nearly full disk) or checks not recorded: said, the rest shown.
    historyOff_->setMessage(toQString(history->notice()), true);
    historyOff_->setVisible(!historyOff_->text().isEmpty());
    summary_ = history->summary(entry->url());
    recent_ = history->recentChecks(entry->url(), kRecentChecks);
}

QList<DetailsWindow::Row> DetailsWindow::rows() const {
    QList<Row> shown;
    for (int i = 0; i < values_.size(); ++i) shown.append({QLatin1String(kCaptions[i]), values_[i]->text()});
    return shown;
}

void DetailsWindow::showEntry() {
    const PageEntry* entry = monitor_.list().find(id_);
    if (!entry) return;
    QList<Row> shown = rowsFor(*entry, summary_);
    // A check put off for the network leaves the status as it was; the reason shows beside it.
    if (monitor_.isPutOff(id_)) shown[kStatusRow].value += QStringLiteral(" \u2014 Waiting for the network");
    for (int i = 0; i < shown.size() && i < values_.size(); ++i) values_[i]->setText(shown[i].value);
    setWindowTitle(QStringLiteral("Details - ") + toQString(entry->label));
    showNotes();
}

void DetailsWindow::showNotes() {
    const PageEntry* entry = monitor_.list().find(id_);
    if (!entry) return;
    QStringList notes;
    if (const auto until = monitor_.list().pausedUntil(id_)) {
        notes << (*until == PageList::kPausedForGood
                      ? QStringLiteral("Checks paused until resumed.")
                      : QStringLiteral("Checks paused until ") + localTime(LocalToUtcMs(*until)) +
                            QLatin1Char('.'));
    }
    const QString failed = monitor_.commandNote(toQString(entry->url()));
    if (!failed.isEmpty()) notes << QStringLiteral("Alarm command failed at ") + failed;
    notes_->setText(notes.join(QLatin1Char('\n')));
    notes_->setVisible(!notes.isEmpty());
}

void DetailsWindow::showChecks() {
    checks_->clear();
    QList<QTreeWidgetItem*> items;
    for (const CheckRecord& check : recent_)
        items.append(new QTreeWidgetItem({localTime(check.timeMs), oneLine(CheckResultText(check))}));
    checks_->addTopLevelItems(items);
    chart_->setChecks(recent_);
}

void DetailsWindow::checkRecorded(const QString& url, const CheckRecord& check) {
    const PageEntry* entry = monitor_.list().find(id_);
    if (!entry || url != toQString(entry->url())) return;
    // The write is still queued: the window adds the check itself rather than reading it back.
    addCheck(summary_, recent_, check);
    showEntry();
    showChecks();
}

}  // namespace vantrel
