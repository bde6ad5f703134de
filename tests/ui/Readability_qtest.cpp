// Every text of every window reads against what is drawn behind it, at a contrast of 4.5:1 or
// more (WCAG 2.1, 1.4.3), in a light theme and a dark one. Measured on the pictures of the windows
// as drawn: the most frequent colour of a text's area is its ground, the pixel farthest from it is
// the text.
#include <QAbstractTextDocumentLayout>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QScrollArea>
#include <QStyleOptionButton>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextEdit>
#include <QtTest>
#include <cmath>

#include "PageFormFixture.h"
#include "store/HistoryStore.h"
#include "ui/AlarmSettings.h"
#include "ui/Alarms.h"
#include "ui/ChangesWindow.h"
#include "ui/DetailsWindow.h"
#include "ui/FilterPanel.h"
#include "ui/MessageLabel.h"
#include "ui/Monitor.h"
#include "ui/NetworkPanel.h"
#include "ui/PageWindows.h"
#include "ui/RequestPanel.h"
#include "ui/ResponseChart.h"
#include "ui/SettingsWindow.h"
#include "ui/ThemeColours.h"

using namespace vantrel;

namespace {

constexpr double kMinContrast = 4.5;

double luminance(QRgb pixel) {
    const auto linear = [](int c) {
        const double v = c / 255.0;
        return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(qRed(pixel)) + 0.7152 * linear(qGreen(pixel)) + 0.0722 * linear(qBlue(pixel));
}

double contrast(QRgb a, QRgb b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// A dark theme's colours, as a dark desktop theme hands them to the toolkit.
QPalette darkPalette() {
    QPalette dark(QColor(53, 53, 53));
    const QColor light(238, 238, 236);
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText, QPalette::BrightText})
        dark.setColor(role, light);
    dark.setColor(QPalette::Base, QColor(45, 45, 45));
    dark.setColor(QPalette::AlternateBase, QColor(53, 53, 53));
    dark.setColor(QPalette::Highlight, QColor(21, 83, 158));
    dark.setColor(QPalette::HighlightedText, Qt::white);
    dark.setColor(QPalette::PlaceholderText, QColor(160, 160, 160));
    return dark;
}

// Collects the texts of the windows that do not read, with their contrast.
class ContrastProbe {
  public:
    // Takes the picture of `window` as drawn, for the areas that follow.
    void take(QWidget* window) {
        window_ = window;
        image_ = window->grab().toImage().convertToFormat(QImage::Format_RGB32);
    }
    // The area `area` of `widget` (its own coordinates) holds text.
    void text(const QString& name, QWidget* widget, QRect area = {}) {
        if (area.isNull()) area = widget->rect();
        const QRect onImage =
            QRect(widget->mapTo(window_, area.topLeft()), area.size()).intersected(image_.rect());
        QHash<QRgb, int> counts;
        for (int y = onImage.top(); y <= onImage.bottom(); ++y)
            for (int x = onImage.left(); x <= onImage.right(); ++x) ++counts[image_.pixel(x, y)];
        QRgb ground = 0;
        for (auto it = counts.cbegin(); it != counts.cend(); ++it)
            if (it.value() > counts.value(ground)) ground = it.key();
        double best = 1;
        for (auto it = counts.cbegin(); it != counts.cend(); ++it)
            best = std::max(best, contrast(it.key(), ground));
        ++measured;
        const QString where = window_->objectName() + QLatin1Char(' ') + name;
        if (best < lowest) {
            lowest = best;
            lowestAt = where;
        }
        if (best < kMinContrast) faults << QStringLiteral("%1: %2").arg(where).arg(best, 0, 'f', 2);
    }
    // The caption of a tick box, without the box.
    void checkBox(QCheckBox* box) {
        QStyleOptionButton option;
        option.initFrom(box);
        option.text = box->text();
        text(box->objectName(), box, box->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, box));
    }
    // Every visible label of the window.
    void labels() {
        for (QLabel* label : window_->findChildren<QLabel*>())
            if (label->isVisible() && !label->text().isEmpty()) text(label->text().left(20), label);
    }

    QStringList faults;
    int measured = 0;
    double lowest = 21;
    QString lowestAt;

  private:
    QWidget* window_ = nullptr;
    QImage image_;
};

}  // namespace

class ReadabilityTest : public QObject, test::PageFormFixture {
    Q_OBJECT
  private slots:
    void initTestCase() {
        qApp->setQuitOnLastWindowClosed(false);
        QVERIFY2(trayprobe::waitForNotificationArea(), "these tests need a tray host (trayer under Xvfb)");
    }
    void cleanup() {
        form_.reset();
        dialog_.reset();
    }
    void everyTextReads_data();
    void everyTextReads();
    void anErrorReadsAfterTheThemeChanges();
};

void ReadabilityTest::everyTextReads_data() {
    QTest::addColumn<QPalette>("palette");
    QTest::newRow("light") << QApplication::style()->standardPalette();
    QTest::newRow("dark") << darkPalette();
}

void ReadabilityTest::everyTextReads() {
    QFETCH(QPalette, palette);
    QApplication::setPalette(palette);
    dialog_ = std::make_unique<TWebPageDlg>();
    TMonitorForm& form = open({"News", "Quiet"}, [](HistoryStore& store) {
        const auto record = [&store](int64_t ms, PageStatus status, std::u16string text) {
            store.record(u"http://127.0.0.1:1/News",
                         CheckRecord{ms, 140, status, status, u"HTTP/1.1 200 OK", 9}, std::move(text));
        };
        record(1796730588000, PageStatus::Online, u"title\nold\n1\n2\n3\n4\n5\n6\n7\nend");
        record(1796730648000, PageStatus::Changed, u"title\nnew\n1\n2\n3\n4\n5\n6\n7\nend");
    });
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    ContrastProbe probe;
    probe.take(&form);
    for (QLabel* legend : {form.Label1, form.Label2, form.Label3}) probe.text(legend->text(), legend);
    for (QCheckBox* box : {form.StartCheckBox, form.SortCheckBox, form.RecheckCheckBox}) probe.checkBox(box);
    const QRect logo = form.LogoImage->rect();
    probe.text("logo", form.LogoImage, logo.adjusted(logo.width() / 5, 0, 0, 0));
    for (int row = 0; row < 2; ++row) {
        const QRect item = form.ListView->visualRect(form.model()->index(row));
        probe.text("page " + QString::number(row), form.ListView->viewport(),
                   item.adjusted(0, form.ListView->iconSize().height() + 2, 0, 0));
    }

    dialog_->setChangedBox(true, false);
    dialog_->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog_.get()));
    probe.take(dialog_.get());
    probe.labels();
    probe.checkBox(dialog_->ChangeCheckBox);
    dialog_->hide();

    QMessageBox box(QMessageBox::Question, "Question", "Do you sure to recheck all web pages ?",
                    QMessageBox::Yes | QMessageBox::No, &form);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    probe.take(&box);
    probe.labels();
    box.hide();

    DetailsWindow* details = form.pageWindows().showDetails(idAt(1));
    QVERIFY(QTest::qWaitForWindowExposed(details));
    probe.take(details);
    probe.labels();
    probe.text("chart", details->findChild<ResponseChart*>());
    details->findChild<QTabWidget*>()->setCurrentWidget(details->filterPanel());
    QTest::qWait(50);
    probe.take(details);
    probe.labels();
    for (QCheckBox* tick : details->filterPanel()->findChildren<QCheckBox*>()) probe.checkBox(tick);

    // A refused save shows its reason in the warning red, on the Request tab and in the Network
    // section of the settings.
    auto* request = details->findChild<RequestPanel*>();
    QVERIFY(request);
    details->findChild<QTabWidget*>()->setCurrentWidget(request);
    request->headersEdit()->setPlainText(QStringLiteral("Host: elsewhere.test"));
    QVERIFY(!request->save());
    auto* requestMessage = request->findChild<MessageLabel*>();
    details->findChild<QScrollArea*>()->ensureWidgetVisible(requestMessage);  // beside Save, below
    QTest::qWait(50);
    probe.take(details);
    probe.text("request message", requestMessage);
    QVERIFY(form.monitor().requests());
    SettingsWindow* settings =
        ShowSettings(*form.monitor().requests(), &form,
                     [&form](SettingsWindow& window) { form.alarms().addSettingsSection(window); });
    QVERIFY(QTest::qWaitForWindowExposed(settings));
    auto* network = settings->findChild<NetworkPanel*>();
    network->manualButton()->setChecked(true);
    QVERIFY(!network->apply());
    QTest::qWait(50);
    probe.take(settings);
    probe.labels();
    probe.text("network message", network->findChild<MessageLabel*>());
    auto* alarm = settings->findChild<AlarmSettings*>();
    QVERIFY(alarm);
    settings->tabs()->setCurrentWidget(alarm);
    alarm->commandEdit()->setText(QStringLiteral("echo 'open"));
    QVERIFY(!alarm->apply());
    QTest::qWait(50);
    probe.take(settings);
    probe.text("alarm message", alarm->errorLabel());
    settings->close();

    ChangesWindow* changes = form.pageWindows().showChanges(idAt(0));
    QTRY_VERIFY(changes->diffShown());
    QVERIFY(QTest::qWaitForWindowExposed(changes));
    probe.take(changes);
    probe.labels();
    QTextDocument* document = changes->view()->document();
    for (int line = 0; line < 4; ++line) {
        const QRectF block = document->documentLayout()->blockBoundingRect(document->findBlockByNumber(line));
        probe.text("line " + QString::number(line), changes->view()->viewport(), block.toRect());
    }
    qInfo("%d texts, the lowest contrast %.2f at %s", probe.measured, probe.lowest,
          qPrintable(probe.lowestAt));
    QVERIFY2(probe.faults.isEmpty(), qPrintable(probe.faults.join("\n")));
    QVERIFY(probe.measured >= 30);
}

// An error shown before the desktop's theme turns dark is measured again against the new ground,
// and information goes back to the theme's own text colour.
void ReadabilityTest::anErrorReadsAfterTheThemeChanges() {
    QWidget section;
    section.setPalette(QApplication::style()->standardPalette());
    auto* message = new MessageLabel(&section);
    message->setMessage(QStringLiteral("The proxy needs a host."), true);
    QCOMPARE(message->palette().color(QPalette::WindowText), QColor(0xa0, 0x30, 0x00));
    section.setPalette(darkPalette());
    const QPalette shown = message->palette();
    QCOMPARE(shown.color(QPalette::Window), darkPalette().color(QPalette::Window));
    QVERIFY(ThemeColours::contrast(shown.color(QPalette::WindowText), shown.color(QPalette::Window)) >=
            kMinContrast);
    QVERIFY(shown.color(QPalette::WindowText).red() > shown.color(QPalette::WindowText).blue());  // still red
    message->setMessage(QStringLiteral("Saved."), false);
    QCOMPARE(message->palette().color(QPalette::WindowText), darkPalette().color(QPalette::WindowText));
}

QTEST_MAIN(ReadabilityTest)
#include "Readability_qtest.moc"
