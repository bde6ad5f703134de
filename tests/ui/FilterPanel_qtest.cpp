// The filters part of a page's settings: invalid input refused with the parser's message and
// nothing saved, a save that starts the page afresh only when what is checked changes, and a
// preview that loads on a thread of its own while the window goes on.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

#include "store/HistoryStore.h"
#include "support/ScriptedServer.h"
#include "text/Crc32.h"
#include "ui/FilterPanel.h"

using namespace vantrel;

namespace {

constexpr int kWaitMs = 10000;
const QString kPageUrl = QStringLiteral("http://127.0.0.1:9/prices");

template <typename T>
T* field(FilterPanel& panel, const char* name) {
    T* widget = panel.findChild<T*>(QLatin1String(name));
    if (!widget) qFatal("no field %s", name);
    return widget;
}

QString message(FilterPanel& panel) {
    return field<QLabel>(panel, "message")->text();
}

}  // namespace

class FilterPanelTest : public QObject {
    Q_OBJECT
  private slots:
    void invalidInputIsRefusedWithTheParsersMessageAndNothingIsSaved();
    void savingStartsThePageAfreshOnlyWhenWhatIsCheckedChanges();
    void previewLoadsWithoutHoldingTheWindowAndShowsTheCheckedText();
};

void FilterPanelTest::invalidInputIsRefusedWithTheParsersMessageAndNothingIsSaved() {
    QTemporaryDir dir;
    HistoryStore store(dir.filePath("history.db").toStdString());
    int afresh = 0;
    FilterPanel panel(store, kPageUrl, [&] { ++afresh; });
    QSignalSpy saved(&panel, &FilterPanel::saved);

    // A regular expression, then an XPath expression, that do not compile.
    field<QPlainTextEdit>(panel, "ignoreLines")->setPlainText(QStringLiteral("^Updated\n(unclosed"));
    field<QPushButton>(panel, "save")->click();
    const std::optional<FilterProblem> pattern = ValidateFilters(panel.fieldSettings());
    QVERIFY(pattern.has_value());
    QCOMPARE(message(panel), QString::fromStdString(pattern->message));
    QVERIFY(message(panel).startsWith(QStringLiteral("Ignore pattern 2: ")));

    field<QPlainTextEdit>(panel, "ignoreLines")->clear();
    field<QComboBox>(panel, "selectorKind")->setCurrentIndex(1);
    field<QLineEdit>(panel, "selector")->setText(QStringLiteral("//div[@id="));
    QVERIFY(!panel.save());
    QCOMPARE(message(panel), QString::fromStdString(ValidateFilters(panel.fieldSettings())->message));

    // A preview of invalid settings is refused the same way, before any download.
    panel.preview();
    QVERIFY(!panel.previewing());

    QCOMPARE(saved.size(), 0);
    QCOMPARE(afresh, 0);
    QVERIFY(store.settings(kPageUrl.toStdU16String()) == PageFilterSettings{});
}

void FilterPanelTest::savingStartsThePageAfreshOnlyWhenWhatIsCheckedChanges() {
    QTemporaryDir dir;
    const std::string path = dir.filePath("history.db").toStdString();
    int afresh = 0;
    {
        HistoryStore store(path);
        FilterPanel panel(store, kPageUrl, [&] { ++afresh; });
        field<QCheckBox>(panel, "visibleTextOnly")->setChecked(true);
        field<QPlainTextEdit>(panel, "ignoreLines")->setPlainText(QStringLiteral("\\d+ minutes ago\n\n"));
        QVERIFY(panel.save());
        QCOMPARE(afresh, 1);
        // The failure count alone changes nothing the check reads.
        field<QSpinBox>(panel, "failuresBeforeOffline")->setValue(3);
        QVERIFY(panel.save());
        QCOMPARE(afresh, 1);
    }
    // Kept with the history: a new panel over the reopened file shows them.
    HistoryStore reopened(path);
    FilterPanel panel(reopened, kPageUrl, [] {});
    const PageFilterSettings kept = panel.fieldSettings();
    QVERIFY(kept.visibleTextOnly);
    QVERIFY(kept.ignorePatterns == std::vector<std::u16string>{u"\\d+ minutes ago"});
    QCOMPARE(kept.failuresBeforeOffline, 3);
}

void FilterPanelTest::previewLoadsWithoutHoldingTheWindowAndShowsTheCheckedText() {
    test::ScriptedServer server;
    server.set("/prices", test::Page{200,
                                     "<html><head><script>var now = '11:00:01';</script></head>"
                                     "<body><p>Prices: 5</p><p>Updated 2 minutes ago</p></body></html>",
                                     false, true});
    QTemporaryDir dir;
    HistoryStore store(dir.filePath("history.db").toStdString());
    const QString url = QString::fromStdU16String(server.url("/prices"));
    auto panel = std::make_unique<FilterPanel>(store, url, [] {});
    field<QCheckBox>(*panel, "visibleTextOnly")->setChecked(true);
    field<QPlainTextEdit>(*panel, "ignoreLines")->setPlainText(QStringLiteral("^Updated \\d+ minutes ago$"));
    QSignalSpy shown(panel.get(), &FilterPanel::previewShown);

    // The server holds its answer: the preview is under way and the window handles events.
    panel->preview();
    QVERIFY(panel->previewing());
    QVERIFY(!field<QPushButton>(*panel, "preview")->isEnabled());
    QTRY_COMPARE_WITH_TIMEOUT(server.held(), 1, kWaitMs);
    QTest::qWait(50);
    QCOMPARE(shown.size(), 0);
    server.release();
    QTRY_COMPARE_WITH_TIMEOUT(shown.size(), 1, kWaitMs);
    QCOMPARE(field<QPlainTextEdit>(*panel, "previewText")->toPlainText(), QStringLiteral("Prices: 5\n"));
    const QString result = field<QLabel>(*panel, "previewResult")->text();
    QVERIFY2(result.startsWith(QStringLiteral("200 OK \u2014 10 bytes in ")), qPrintable(result));
    QVERIFY2(result.endsWith(QString::fromStdU16String(Crc32::checksumText(u"Prices: 5\n"))),
             qPrintable(result));
    // Previewing saves nothing.
    QVERIFY(store.settings(url.toStdU16String()) == PageFilterSettings{});

    // A panel closed while its preview loads ends at once; the late result goes nowhere.
    panel->preview();
    QTRY_COMPARE_WITH_TIMEOUT(server.held(), 1, kWaitMs);
    panel.reset();
    server.release();
    QTest::qWait(100);
}

QTEST_MAIN(FilterPanelTest)
#include "FilterPanel_qtest.moc"
