// The program's entry: one instance per user, the main window and its dialog, the event loop, and
// an orderly end on the main window's close, on SIGTERM/SIGINT/SIGHUP and at the session's end.
#include <signal.h>

#include <QFile>
#include <QStringList>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/Application.h"
#include "app/CommandChannel.h"
#include "app/DisplayCheck.h"
#include "app/ExePath.h"
#include "app/ListRequests.h"
#include "app/MemoryUse.h"
#include "app/SignalBridge.h"
#include "app/SingleInstance.h"
#include "core/ListCommand.h"
#include "store/HistoryStore.h"
#include "store/PageListLocation.h"
#include "store/StatusListing.h"
#include "store/XdgAutostart.h"
#include "ui/ErrorDisplay.h"
#include "ui/Monitor.h"
#include "ui/MonitorUnit.h"
#include "ui/UserSettings.h"
#include "ui/WebPageUnit.h"

using namespace vantrel;

namespace {

// The name the single-instance guard and the command channel know the program by.
constexpr char kInstanceTitle[] = "Vantrel";

// How long after a check the memory its download freed is handed back to the system: the checks of
// a busy spell share one hand-back.
constexpr std::chrono::seconds kGiveBackAfter{10};

const std::vector<int> kEndSignals = {SIGTERM, SIGINT, SIGHUP};

void setEndSignalsBlocked(bool blocked) {
    sigset_t set;
    sigemptyset(&set);
    for (const int signalNumber : kEndSignals) sigaddset(&set, signalNumber);
    pthread_sigmask(blocked ? SIG_BLOCK : SIG_UNBLOCK, &set, nullptr);
}

std::string PageListPathFor(const QString& exeDir) {
    return PageListPath(ExeFolder::probe(QFile::encodeName(exeDir).toStdString()),
                        UserEnvironment::current());
}

void PrintHelp() {
    const std::string pageList = PageListPathFor(ExePath::dir());
    const std::string autostartDir = XdgAutostart::userDirectory(UserEnvironment::current());
    std::printf(
        "Usage: vantrel [-s]\n"
        "       vantrel --add URL [--label TEXT] [--interval MINUTES]\n"
        "       vantrel --import FILE | --export FILE | --status [--json]\n"
        "Watches a list of web pages and tells from its notification-area icon when a page goes\n"
        "offline, comes back online, or changes.\n"
        "\n"
        "  -s         start hidden: only the notification-area icon shows\n"
        "  --status   print each page's status and last check, and exit (--json: as JSON)\n"
        "  --add      add a page (to the running program, else to the page list file)\n"
        "  --import   add the pages of a text, OPML (.opml) or urlwatch (.yaml) file\n"
        "  --export   write the list as text, OPML (.opml) or CSV (.csv)\n"
        "  --help     show this help and exit\n"
        "  --version  show the version and exit\n"
        "\n"
        "Page list file: %s\n"
        "Autostart entry, while \"Start with Windows Start-up\" is ticked: %s/Vantrel.desktop\n"
        "Needs a notification area: an XEmbed tray or a StatusNotifierItem host (on GNOME, the\n"
        "AppIndicator extension).\n",
        pageList.c_str(), autostartDir.c_str());
}

// How long "--status" waits for the running instance to name the pages that wait for the network.
// It answers at once unless it is busy; a hung one leaves only that state out of the listing.
constexpr int kStatusAnswerWaitMs = 3000;

// "--status": the page list with what the history knows, and from a running instance which pages
// wait for the network. Takes no lock and needs no display, so it works while the program runs.
int PrintStatus(bool json) {
    const std::string pageList = PageListPathFor(ExePath::dir());
    const StatusListing listing =
        BuildStatusListing(pageList, HistoryStore::PathBeside(pageList), json,
                           AskWaitingForNetwork(kInstanceTitle, kStatusAnswerWaitMs));
    std::fwrite(listing.output.data(), 1, listing.output.size(), stdout);
    std::fwrite(listing.errors.data(), 1, listing.errors.size(), stderr);
    return std::fflush(stdout) == 0 ? listing.exitCode : 2;
}

// How often the list is saved after checks changed it: settings.ini's [Results] saveSeconds, for a
// user who wants it saved more often than every few minutes (never less often than `longest`).
int ResultsSaveMs(const QString& listPath, int longest) {
    const std::unique_ptr<QSettings> user = OpenUserSettings(listPath);
    bool ok = false;
    const int seconds = user->value("Results/saveSeconds").toInt(&ok);
    if (!ok || seconds < 1) return longest;
    return seconds >= longest / 1000 ? longest : seconds * 1000;
}

}  // namespace

int main(int argc, char** argv) {
    // Answered before anything else: no window, no lock (--status reads the page list file).
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("Vantrel %s\n", VANTREL_VERSION);
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0) {
            PrintHelp();
            return 0;
        }
    }
    std::vector<std::u16string> words;
    for (int i = 1; i < argc; ++i) words.push_back(QFile::decodeName(argv[i]).toStdU16String());
    const ListCommand command = ParseListCommand(words);
    if (!command.error.empty()) {
        std::fprintf(stderr, "vantrel: %s\n", command.error.c_str());
        return 2;
    }
    if (command.kind == ListCommand::Kind::Status) return PrintStatus(command.json);
    if (command.kind != ListCommand::Kind::None)
        return RunListCommand(command, PageListPathFor(ExePath::dir()), kInstanceTitle);

    SetMemoryPolicy();

    // Held back until the bridge is in place, so an end signal that comes during start-up still
    // ends the program in order; the threads Qt starts inherit the block and leave the signals to
    // this thread.
    setEndSignalsBlocked(true);

    // Before any window and before the page list file is read: a second instance ends silently.
    SingleInstance instance(kInstanceTitle);
    if (instance.outcome() == SingleInstance::Outcome::Unguarded) {
        // Two instances side by side would each save over the other's changes: better not run.
        std::fprintf(stderr, "Vantrel: %s.\n", instance.failure().c_str());
        return 1;
    }
    if (!instance.isFirst()) return 0;

    // The arguments as given (Qt removes the options it knows from argv).
    QStringList args;
    for (int i = 1; i < argc; ++i) args << QFile::decodeName(argv[i]);

    // The toolkit aborts without a display; say so in one line instead. Where only the other
    // window system can be reached than the one the toolkit would pick, ask for that one.
    const DisplayCheck::Outcome display = DisplayCheck::check(
        DisplayCheck::current(argc, argv), DisplayCheck::canOpenX, DisplayCheck::canOpenWayland);
    if (!display.problem.empty()) {
        std::fprintf(stderr, "%s\n", display.problem.c_str());
        return 1;
    }
    std::vector<char*> appArgs(argv, argv + argc);
    std::string platformOption = "-platform";
    std::string platform = display.platform;
    if (!platform.empty()) {
        appArgs.push_back(platformOption.data());
        appArgs.push_back(platform.data());
    }
    appArgs.push_back(nullptr);
    int appArgc = int(appArgs.size()) - 1;
    Application app(appArgc, appArgs.data());
    std::unique_ptr<SignalBridge> bridge;
    try {
        bridge = std::make_unique<SignalBridge>(kEndSignals);
        QObject::connect(bridge.get(), &SignalBridge::received, &app, [&app](int) { app.endBySignal(); });
    } catch (const std::exception& error) {
        ErrorDisplay::show(error);
    }
    setEndSignalsBlocked(false);
    // The session manager's end arrives as a quit of the application (and SIGTERM after it): the
    // main window is destroyed on the way out and saves the page list like any other close.

    MonitorSettings settings;
    settings.args = args;
    settings.exePath = ExePath::path();
    settings.exeDir = ExePath::dirOf(settings.exePath);
    settings.pageListPath = QFile::decodeName(PageListPathFor(settings.exeDir).c_str());
    settings.resultsSaveMs = ResultsSaveMs(settings.pageListPath, settings.resultsSaveMs);

    std::unique_ptr<TMonitorForm> form;
    try {
        form = std::make_unique<TMonitorForm>(settings);
    } catch (const std::exception& error) {
        // An end signal cut the wait for a notification area short: the ending asked for, not
        // a failure. Nothing was read or saved in either case.
        if (app.endingBySignal()) return 0;
        // Above all "Cannot create shell notification icon": the program does not run without
        // its icon. Nothing was saved, so the page list file stays as it was.
        ErrorDisplay::show(error);
        return 1;
    }
    app.setMainWindow(form.get());
    std::unique_ptr<TWebPageDlg> dialog;
    form->setDialog([&dialog] {
        dialog = std::make_unique<TWebPageDlg>();
        return dialog.get();
    });
    // List commands of later starts ("--add", "--import", "--export") come to this list.
    CommandChannel channel(kInstanceTitle, RequestHandlerFor(form->monitor()));
    if (!channel.failure().empty()) std::fprintf(stderr, "Vantrel: %s.\n", channel.failure().c_str());
    if (!form->startHidden()) form->show();
    // What reading the list and starting up freed goes back to the system before the long idle,
    // and what downloads freed a little after each busy spell (never while nothing happens).
    QTimer::singleShot(0, [] { ReturnFreedMemory(); });
    QTimer giveBack;
    giveBack.setSingleShot(true);
    giveBack.setInterval(kGiveBackAfter);
    QObject::connect(&giveBack, &QTimer::timeout, [] { ReturnFreedMemory(); });
    QObject::connect(&form->monitor(), &Monitor::checkRecorded, &giveBack, [&giveBack] {
        if (!giveBack.isActive()) giveBack.start();
    });

    const int code = app.run();

    app.setMainWindow(nullptr);
    // The form first: it must not outlive the dialog it points to. FormDestroy saves the page
    // list file, still under the single-instance lock, so a new start reads the saved file.
    form.reset();
    dialog.reset();
    // A save that failed at an end by signal was written to standard error: not a success.
    if (app.endingBySignal() && ErrorDisplay::errorsWritten() > 0) return 1;
    return code;
}
