// Entry point: either the --render batch job, or the app: one model (and
// with it the engine) for the life of the process, and a shut-down that lets
// go of every held process on every way out that can be caught.
#include "AppModel.h"
#include "Appearance.h"
#include "DisplayChoice.h"
#include "Guardian.h"
#include "LaunchOptions.h"
#include "Render/Renderer.h"
#include "SignalWatcher.h"
#include "Updater.h"
#include "Version.h"
#include "LinuxPlatform.h"
#include "Ui/Interface.h"
#include "Ui/MainWindowController.h"
#include "Ui/SingleInstance.h"

#include <QApplication>
#include <QMetaObject>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

using namespace trevlin;

namespace {

/// The signals that end the app in an orderly way.
const std::vector<int> kTerminationSignals = {SIGTERM, SIGHUP, SIGINT};

/// Every held process resumed and restored, then the settings on disk.
void shutDown(AppModel& model) {
    model.shutdownEngine();
    model.saveNow();
}

/// Qt (through Xlib's I/O error handler) ends the process with exit(1) when
/// its display connection breaks (a logout, a crashed X server): no signal,
/// no aboutToQuit. The orderly shut-down then runs from exit's handlers when
/// exit is called on the main thread, where every other shut-down runs;
/// called on another thread, where the model must not be touched, the
/// guardian lets go instead.
std::function<void()> finishAtExit;
std::thread::id mainThread;

void runFinishAtExit() {
    if (!finishAtExit || std::this_thread::get_id() != mainThread) return;
    auto finish = std::move(finishAtExit);
    finishAtExit = nullptr;
    finish();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs("usage: Trevlin [--render <dir>]\n"
                   "       Trevlin --help | --version\n\n"
                   "Shows what every app uses of the processor in the tray, and holds busy apps back.\n"
                   "  --render <dir>  draws every page, light and dark, into PNG files in <dir> and exits\n",
                   stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        const std::string build = Version::buildNumber();
        std::printf("Trevlin %s%s\n", Version::shortVersion().c_str(), build.empty() ? "" : (" (" + build + ")").c_str());
        return 0;
    }
    if (auto render = LaunchOptions::renderRequest(argc, argv)) {
        if (!render->directory) {
            std::fputs("usage: Trevlin --render <dir>\n", stderr);
            return 2;
        }
        // Off-screen, so that it runs without a display.
        if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        QApplication app(argc, argv);
        QApplication::setApplicationName("Trevlin");
        return Renderer::run(*render->directory);
    }

    // Before any thread exists, so that every thread inherits the mask: the
    // termination signals only ever arrive through the main event loop.
    SignalWatcher::blockAndIgnore(kTerminationSignals);

    // A display that works, else headless: the program still runs, and
    // holds apps back, without one.
    const DisplayChoice display = DisplayChoice::forThisProcess();
    const bool headless = display.headless;
    const char* sessionPlatform = std::getenv("QT_QPA_PLATFORM");
    const std::optional<std::string> sessionValue =
        sessionPlatform ? std::optional<std::string>(sessionPlatform) : std::nullopt;
    if (display.platform) ::setenv("QT_QPA_PLATFORM", display.platform->c_str(), 1);

    QApplication app(argc, argv);
    QApplication::setApplicationName("Trevlin");
    QApplication::setQuitOnLastWindowClosed(false);
    // What Trevlin starts (a browser for a link) gets the session's own value.
    if (sessionValue) ::setenv("QT_QPA_PLATFORM", sessionValue->c_str(), 1);
    else ::unsetenv("QT_QPA_PLATFORM");

    // One instance per user: a later start hands over to the first and ends
    // before it could hold any process. Without the lock Trevlin cannot tell
    // whether another one holds the same processes, so it does not run.
    ui::SingleInstance instance;
    switch (instance.acquire()) {
    case ui::SingleInstance::Result::running:
        return ui::SingleInstance::handOver();
    case ui::SingleInstance::Result::failed:
        std::fprintf(stderr, "Trevlin: not starting, the one-instance lock cannot be taken: %s\n", instance.error().c_str());
        return 1;
    case ui::SingleInstance::Result::first:
        break;
    }
    instance.listen();
    if (!display.message.empty()) std::fprintf(stderr, "%s\n", display.message.c_str());

    // Before anything is held: lets go of what this run holds should it end
    // in a way no handler here sees.
    std::string guardianError;
    auto guardian = Guardian::startForThisProcess(LinuxPlatform().dataDirectory(), &guardianError);
    if (!guardian)
        std::fprintf(stderr, "Trevlin: could not start the guardian (%s); a crash would leave processes held until the next start\n",
                     guardianError.c_str());

    auto model = std::make_unique<AppModel>();
    // An update relaunch lets go of every held process first.
    AppUpdater::shared().setModel(model.get());
    AppUpdater::shared().start();

    // Launch finished: task-bar presence and appearance.
    Appearance::apply(model->settings().appearance);

    // The tray item, its panel and the main window.
    std::unique_ptr<ui::Interface> interface;
    if (!headless) interface = std::make_unique<ui::Interface>(*model, [] { QCoreApplication::quit(); });
    QObject::connect(&instance, &ui::SingleInstance::reopenRequested, [&] {
        if (interface) interface->reopen();
    });
    // The windows asked for at launch, else the first launch's welcome.
    LaunchOptions::openWindowsAtLaunch(*model, LaunchOptions::openWindowFromEnvironment(), [&](bool behind) {
        if (interface) interface->mainWindow().show(false, behind);
    });

    bool shutDownDone = false;
    auto finish = [&] {
        if (shutDownDone) return;
        shutDownDone = true;
        shutDown(*model);
        if (guardian) guardian->finish();
    };
    QObject::connect(&app, &QCoreApplication::aboutToQuit, finish);
    SignalWatcher watcher(kTerminationSignals, [&](int) {
        finish();
        QCoreApplication::exit(0);
    });

    finishAtExit = finish;
    mainThread = std::this_thread::get_id();
    std::atexit(runFinishAtExit);
    int result = QApplication::exec();
    finishAtExit = nullptr;
    finish();
    interface.reset();
    AppUpdater::shared().setModel(nullptr);
    model.reset();
    return result;
}
