// Pictures of the program's windows for people to look at: the main window with entries in every
// status, the web page dialog open for an edit, the details and changes windows of a page with
// a history of mixed results, and the details view of 300 pages with a search and a status filter,
// written to <build>/screenshots/ (or the folder given as the argument; with --dark, the pictures
// of a desktop in a dark theme). scripts/screenshots.sh runs it on a virtual display with a tray
// host. Each picture is one entry of kShots: a new window gets a function that brings it up and
// saves it with save().
#include <QApplication>
#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QListView>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>
#include <cstdio>
#include <memory>

#include "store/HistoryStore.h"
#include "support/FakeSecretStore.h"
#include "support/ScriptedServer.h"
#include "support/TrayProbe.h"
#include "ui/ChangesWindow.h"
#include "ui/DetailsListView.h"
#include "ui/DetailsWindow.h"
#include "ui/FilterPanel.h"
#include "ui/FindBar.h"
#include "ui/MonitorUnit.h"
#include "ui/NetworkPanel.h"
#include "ui/PageTableModel.h"
#include "ui/PageViews.h"
#include "ui/PageWindows.h"
#include "ui/RequestPanel.h"
#include "ui/RequestSupply.h"
#include "ui/SettingsWindow.h"
#include "ui/ThemeColours.h"
#include "ui/WebPageUnit.h"

using vantrel::MonitorSettings;
using vantrel::TMonitorForm;
using vantrel::TWebPageDlg;

namespace {

struct SampleEntry {
    const char* caption;
    int status;
    const char* url;
};

// Statuses 3 and 7 come from files edited by hand: 3 shows the spare globe, 7 no picture.
const SampleEntry kEntries[] = {
    {"Example News", 0, "http://127.0.0.1:9/news"},
    {"Town Council Agenda", 1, "http://127.0.0.1:9/council/agenda.html"},
    {"Office Printer", 2, "http://127.0.0.1:9/printer"},
    {"Spare Globe (status 3)", 3, "http://127.0.0.1:9/three"},
    {"Unknown Status 7", 7, "http://127.0.0.1:9/seven"},
    {"Weather Forecast for the Coast", 0, "http://127.0.0.1:9/weather"},
    {"Release Notes", 1, "http://127.0.0.1:9/releases"},
};

// Every entry was checked just now on a one-day interval, so no check runs while the pictures
// are taken.
QByteArray pageListFile() {
    const QDateTime now = QDateTime::currentDateTime();
    const qint64 stamp = now.toSecsSinceEpoch() + now.offsetFromUtc();
    QByteArray text = "[main]\r\ncount=" + QByteArray::number(int(std::size(kEntries))) +
                      "\r\nstart=0\r\nsort=0\r\nrecheck=0\r\n";
    int n = 0;
    for (const SampleEntry& e : kEntries) {
        text += "[web" + QByteArray::number(++n) + "]\r\ncaption=" + e.caption +
                "\r\nstatus=" + QByteArray::number(e.status) + "\r\nitem1=" + e.url +
                "\r\nitem2=8\r\nitem3=" + QByteArray::number(stamp) + "\r\nitem4=1A2B3C4D\r\n";
    }
    return text;
}

// The agenda page's history: 40 checks every 20 minutes up to now, with slow answers, failures of
// several kinds and one change of its text.
void seedHistory(const QString& path) {
    using namespace vantrel;
    HistoryStore store(path.toStdString());
    const std::u16string url = u"http://127.0.0.1:9/council/agenda.html";
    const int64_t now = QDateTime::currentMSecsSinceEpoch();
    const std::u16string before =
        u"Town Council\nAgenda for the meeting of 14 December\n1. Opening\n2. Minutes of the last meeting\n"
        u"3. Budget 2027\n4. Road works on Harbour Street\n5. Questions from residents\n6. Any other "
        u"business\nThe meeting starts at 19:00 in the town hall.";
    const std::u16string after =
        u"Town Council\nAgenda for the meeting of 14 December\n1. Opening\n2. Minutes of the last meeting\n"
        u"3. Budget 2027 (second reading)\n4. Road works on Harbour Street\n5. New bus timetable\n6. "
        u"Questions from residents\n7. Any other business\nThe meeting starts at 19:30 in the town hall.";
    for (int i = 0; i < 40; ++i) {
        CheckRecord check;
        check.timeMs = now - int64_t(39 - i) * 20 * 60000;
        check.durationMs = 120 + (i * 37) % 180 + (i % 9 == 4 ? 900 : 0);
        check.outcome = i < 30 ? PageStatus::Online : PageStatus::Changed;
        check.detail = u"HTTP/1.1 200 OK";
        check.textBytes = i < 30 ? 12345 : 12610;
        std::optional<std::u16string> text = i < 30 ? before : after;
        if (i == 12 || i == 13) {
            check.outcome = PageStatus::Offline;
            check.detail = i == 12 ? u"Connection refused" : u"HTTP/1.1 503 Service Unavailable";
            check.textBytes = 0;
            text.reset();
        } else if (i == 35) {
            check.outcome = PageStatus::Offline;
            check.detail = u"Read timed out";
            check.durationMs = 1500;
            check.textBytes = 0;
            text.reset();
        }
        check.status = i >= 30                                ? PageStatus::Changed
                       : check.outcome == PageStatus::Offline ? PageStatus::Offline
                                                              : PageStatus::Online;
        // After the change the page stays changed until the user looks at it.
        if (i > 30 && check.outcome != PageStatus::Offline) check.outcome = PageStatus::Online;
        store.record(url, check, text);
    }
}

void settle() {
    for (int i = 0; i < 10; ++i) {
        QCoreApplication::processEvents();
        QTest::qWait(20);
    }
}

// The windows the pictures are taken of, over a page list file of sample entries.
struct Scene {
    QTemporaryDir dir;
    QString outDir;
    bool dark = false;
    std::unique_ptr<TMonitorForm> form;
    std::unique_ptr<TWebPageDlg> dialog;
};

// Saves `widget` as <stem>.png; on a scaled display as <stem>@2x.png and the like, so that a run
// with QT_SCALE_FACTOR=2 gives the pictures for a high-density screen beside the plain ones.
// In a dark theme the pictures are dark-main.png, dark-details.png and so on.
bool save(const Scene& scene, QWidget& widget, const char* stem) {
    QString name = QLatin1String(stem);
    if (scene.dark) name = QStringLiteral("dark-") + name.remove(QStringLiteral("-window"));
    const qreal ratio = widget.devicePixelRatioF();
    if (ratio != 1.0) name += QLatin1Char('@') + QString::number(ratio) + QLatin1Char('x');
    const QString path = scene.outDir + QLatin1Char('/') + name + QStringLiteral(".png");
    if (!widget.grab().save(path) || QFileInfo(path).size() == 0) {
        std::fprintf(stderr, "could not write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

bool mainWindow(Scene& scene) {
    return save(scene, *scene.form, "main-window");
}

// The dialog is modal: it is grabbed from inside its own event loop, then closed.
bool webPageDialog(Scene& scene) {
    const QModelIndex changed = scene.form->ListView->model()->index(1, 0);
    scene.form->ListView->setFocus();
    scene.form->ListView->selectionModel()->setCurrentIndex(changed, QItemSelectionModel::ClearAndSelect);
    bool saved = false;
    QTimer::singleShot(0, scene.dialog.get(), [&] {
        if (QTest::qWaitForWindowExposed(scene.dialog.get())) settle();
        saved = save(scene, *scene.dialog, "web-page-dialog");
        scene.dialog->reject();
    });
    scene.form->ListViewDblClick();
    return saved;
}

// The details window of the agenda page, whose history has slow answers, failures and a change.
bool detailsWindow(Scene& scene) {
    vantrel::DetailsWindow* details = scene.form->pageWindows().showDetails(scene.form->pageList().at(1).id);
    if (!details || !QTest::qWaitForWindowExposed(details)) return false;
    settle();
    return save(scene, *details, "details-window");
}

// What changed in the agenda page at its latest change; the diff is worked out on a thread.
bool changesWindow(Scene& scene) {
    vantrel::ChangesWindow* changes = scene.form->pageWindows().showChanges(scene.form->pageList().at(1).id);
    if (!changes || !QTest::qWaitForWindowExposed(changes)) return false;
    for (int i = 0; i < 250 && !changes->diffShown(); ++i) QTest::qWait(20);
    settle();
    return changes->diffShown() && save(scene, *changes, "changes-window");
}

// The filters of a page with a clock in its markup and a "minutes ago" line, with the preview of
// what its checks judge, served from 127.0.0.1.
bool filterPanel(Scene& scene) {
    vantrel::test::ScriptedServer server;
    server.setBody("/prices",
                   "<html><head><title>Coffee prices</title><script>var served = '11:49:48';</script>"
                   "<style>p { margin: 0 }</style></head><body><h1>Coffee prices</h1>"
                   "<div id=\"list\"><p>Arabica: 4.20 per kg</p><p>Robusta: 2.10 per kg</p>"
                   "<p>Liberica: 5.75 per kg</p></div><p>Updated 2 minutes ago</p>"
                   "<input type=\"hidden\" name=\"token\" value=\"a81f0c\"></body></html>");
    const QString url = QString::fromStdU16String(server.url("/prices"));
    vantrel::HistoryStore store(scene.dir.filePath(QStringLiteral("history.db")).toStdString());
    vantrel::PageFilterSettings settings;
    settings.visibleTextOnly = true;
    settings.ignorePatterns = {u"^Updated \\d+ minutes? ago$"};
    settings.failuresBeforeOffline = 2;
    store.saveSettings(url.toStdU16String(), settings);
    vantrel::FilterPanel panel(store, url, [] {});
    panel.setWindowTitle(QStringLiteral("Filters"));
    panel.resize(560, 460);
    panel.show();
    QSignalSpy shown(&panel, &vantrel::FilterPanel::previewShown);
    panel.preview();
    if (!QTest::qWaitForWindowExposed(&panel) || (shown.isEmpty() && !shown.wait(10000))) return false;
    settle();
    return save(scene, panel, "filter-panel");
}

// A list of 300 pages as a user who watches many has it: 250 online, 29 changed and 21 offline,
// each with one check in the history, shown in the details view; then the same narrowed by a
// search, and by the Offline choice.
bool detailsViewOf300Pages(Scene& scene) {
    using namespace vantrel;
    static const char* const kSubjects[] = {
        "Weather forecast for", "Town council agenda of", "Bus timetable for",  "Library opening hours in",
        "Job offers in",        "Flat rentals in",        "School news from",   "Road works around",
        "Events this week in",  "Swimming pool of",       "Farmers market in",  "Recycling dates for",
        "Harbour news of",      "Cinema programme in",    "Police reports from"};
    static const char* const kPlaces[] = {"the coast", "Northfield",  "Eastbrook", "Westmoor",  "Southport",
                                          "Lakeside",  "Hillcrest",   "Riverton",  "Oakdale",   "Brookhaven",
                                          "Fairview",  "Kingsbridge", "Marston",   "Ashford",   "Redcliff",
                                          "Elmwood",   "Stonebridge", "Greenvale", "Millbrook", "Seaton"};
    QTemporaryDir dir;
    const QDateTime now = QDateTime::currentDateTime();
    const qint64 stamp = now.toSecsSinceEpoch() + now.offsetFromUtc();
    QByteArray text = "[main]\r\ncount=300\r\nstart=0\r\nsort=0\r\nrecheck=0\r\n";
    {
        HistoryStore store(dir.filePath(QStringLiteral("history.db")).toStdString());
        for (int i = 0; i < 300; ++i) {
            const int status = i % 14 == 3 ? 2 : i % 10 == 7 ? 1 : 0;
            const QByteArray label = QByteArray(kSubjects[i % std::size(kSubjects)]) + " " +
                                     kPlaces[(i / 15) % std::size(kPlaces)];
            const QByteArray url =
                "https://" + QByteArray(kPlaces[(i / 15) % std::size(kPlaces)]).toLower().replace(' ', '-') +
                ".example/page/" + QByteArray::number(i);
            text += "[web" + QByteArray::number(i + 1) + "]\r\ncaption=" + label +
                    "\r\nstatus=" + QByteArray::number(status) + "\r\nitem1=" + url +
                    "\r\nitem2=" + QByteArray::number(2 + i % 5) +
                    "\r\nitem3=" + QByteArray::number(stamp - i * 7) + "\r\nitem4=1A2B3C4D\r\n";
            CheckRecord check;
            check.timeMs = QDateTime::currentMSecsSinceEpoch() - int64_t(i) * 7000;
            check.durationMs = 90 + (i * 53) % 400;
            check.outcome = check.status = static_cast<PageStatus>(status);
            check.detail = status == 2
                               ? (i % 3 == 0 ? u"Connection refused" : u"HTTP/1.1 503 Service Unavailable")
                               : u"HTTP/1.1 200 OK";
            check.textBytes = status == 2 ? 0 : 4000 + (i * 797) % 60000;
            store.record(QString::fromLatin1(url).toStdU16String(), check,
                         status == 2 ? std::nullopt : std::optional<std::u16string>(u"text"));
        }
    }
    QFile file(dir.filePath(QStringLiteral("webpages.dat")));
    if (!file.open(QIODevice::WriteOnly) || file.write(text) < 0) return false;
    file.close();
    MonitorSettings settings;
    settings.exeDir = dir.path() + QLatin1Char('/');
    settings.exePath = dir.filePath(QStringLiteral("vantrel"));
    settings.autostartDir = dir.filePath(QStringLiteral("no-autostart"));
    settings.trayWaitMs = 0;
    TMonitorForm form(settings);
    form.Timer->stop();
    form.resize(form.width() * 3 / 2, form.height() * 5 / 4);
    form.show();
    if (!QTest::qWaitForWindowExposed(&form)) return false;
    PageViews& views = *form.Views;
    views.showDetails(true);
    views.details()->sortByColumn(PageTableModel::Status, Qt::DescendingOrder);
    settle();
    bool saved = save(scene, form, "details-view");
    views.find();
    views.findBar()->searchField()->setText(QStringLiteral("coast"));
    settle();
    saved = save(scene, form, "details-view-search") && saved;
    views.findBar()->searchField()->clear();
    views.findBar()->choice(3)->click();
    settle();
    saved = save(scene, form, "details-view-offline") && saved;
    views.showDetails(false);
    settle();
    return save(scene, form, "icon-view-offline") && saved;
}

// The settings window's network section with a proxy of the user's own, and a page's Request tab
// after a request went out, over a secret store in memory (no session bus is started for them).
bool settingsWindow(Scene& scene) {
    auto secrets = std::make_shared<vantrel::test::FakeSecretStore>();
    vantrel::RequestSupply supply(scene.dir.filePath(QStringLiteral("reach-settings.ini")), secrets);
    vantrel::NetworkSettings network;
    network.proxyMode = vantrel::NetworkSettings::ProxyMode::Manual;
    network.proxyHost = QStringLiteral("proxy.example.test");
    network.proxyUser = QStringLiteral("jane");
    network.noProxy = QStringLiteral("localhost, .intranet.example.test");
    supply.setNetwork(network, QStringLiteral("secret"));
    vantrel::SettingsWindow window;
    auto* panel = new vantrel::NetworkPanel(supply);
    window.addSection(panel, QStringLiteral("&Network"), [panel] { return panel->apply(); });
    window.resize(560, 520);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window)) return false;
    settle();
    return save(scene, window, "settings-window");
}

bool requestPanel(Scene& scene) {
    auto secrets = std::make_shared<vantrel::test::FakeSecretStore>();
    vantrel::RequestSupply supply(scene.dir.filePath(QStringLiteral("reach-settings.ini")), secrets);
    const QString url = QStringLiteral("https://shop.example.test/account");
    vantrel::HistoryStore store(scene.dir.filePath(QStringLiteral("reach-history.db")).toStdString());
    vantrel::PageFilterSettings settings;
    settings.request = {u"Accept-Language: en\nX-Requested-With: watcher", u"", u"jane", u"", u""};
    store.saveSettings(url.toStdU16String(), settings);
    supply.setPagePassword(url.toStdU16String(), QStringLiteral("secret"));
    vantrel::RequestPanel panel(store, supply, url);
    panel.setWindowTitle(QStringLiteral("Request"));
    panel.resize(560, 520);
    panel.show();
    if (!QTest::qWaitForWindowExposed(&panel)) return false;
    settle();
    return save(scene, panel, "request-panel");
}

struct Shot {
    const char* name;
    bool (*take)(Scene&);
};

const Shot kShots[] = {
    {"main window", mainWindow},
    {"web page dialog for an edit", webPageDialog},
    {"details window", detailsWindow},
    {"changes window", changesWindow},
    {"filters with a preview", filterPanel},
    {"details view of 300 pages with search and filters", detailsViewOf300Pages},
    {"settings window", settingsWindow},
    {"request tab", requestPanel},
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (QGuiApplication::platformName() == QLatin1String("offscreen") ||
        !trayprobe::waitForNotificationArea()) {
        std::fprintf(stderr,
                     "screenshots need a display with a notification area (scripts/with-display.sh)\n");
        return 2;
    }
    Scene scene;
    QStringList args = app.arguments().mid(1);
    // "--dark": the desktop is in a dark theme, which the pictures are named after.
    if (args.removeAll(QStringLiteral("--dark")) > 0) {
        if (!vantrel::ThemeColours::dark(QApplication::palette())) {
            std::fprintf(stderr, "--dark, but the desktop's theme is not dark\n");
            return 1;
        }
        scene.dark = true;
    }
    scene.outDir = args.isEmpty() ? QStringLiteral(VANTREL_BINARY_DIR "/screenshots") : args.first();
    QFile file(scene.dir.filePath(QStringLiteral("webpages.dat")));
    if (!scene.dir.isValid() || !QDir().mkpath(scene.outDir) || !file.open(QIODevice::WriteOnly) ||
        file.write(pageListFile()) < 0) {
        std::fprintf(stderr, "cannot prepare %s\n", qPrintable(scene.outDir));
        return 1;
    }
    file.close();
    seedHistory(scene.dir.filePath(QStringLiteral("history.db")));

    MonitorSettings settings;
    settings.exeDir = scene.dir.path() + QLatin1Char('/');
    settings.exePath = scene.dir.filePath(QStringLiteral("vantrel"));
    settings.autostartDir = scene.dir.filePath(QStringLiteral("no-autostart"));
    settings.trayWaitMs = 0;
    scene.form = std::make_unique<TMonitorForm>(settings);
    scene.dialog = std::make_unique<TWebPageDlg>(scene.form.get());
    scene.form->setDialog(scene.dialog.get());
    scene.form->show();
    if (!QTest::qWaitForWindowExposed(scene.form.get())) {
        std::fprintf(stderr, "the main window was not shown\n");
        return 1;
    }
    settle();

    int failed = 0;
    for (const Shot& shot : kShots) {
        if (!shot.take(scene)) {
            std::fprintf(stderr, "no picture of the %s\n", shot.name);
            ++failed;
        }
    }
    scene.dialog.reset();
    scene.form.reset();
    return failed == 0 ? 0 : 1;
}
