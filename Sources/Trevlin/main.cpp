// Entry point: either the --render batch job, or the app: one model (and
// with it the engine) for the life of the process, and a shut-down that lets
// go of every held process on every way out that can be caught.
#include "AppModel.h"
#include "Appearance.h"
#include "LaunchOptions.h"
#include "Render/Renderer.h"
#include "SignalWatcher.h"
#include "Updater.h"
#include "Version.h"
#include "Ui/Interface.h"
#include "Ui/MainWindowController.h"
#include "Ui/SingleInstance.h"

#include <QApplication>
#include <QMetaObject>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

using namespace trevlin;

namespace {

/// The signals that end the app in an orderly way.
const std::vector<int> kTerminationSignals = {SIGTERM, SIGHUP, SIGINT};

/// Every held process resumed and restored, then the settings on disk.
void shutDown(AppModel& model) {
    model.shutdownEngine();
    model.saveNow();
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

    // Without any display the program still runs, headless.
    const bool headless = !std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY");
    if (headless && !std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);

    QApplication app(argc, argv);
    QApplication::setApplicationName("Trevlin");
    QApplication::setQuitOnLastWindowClosed(false);

    // One instance per user: a later start hands over to the first and ends
    // before it could hold any process.
    ui::SingleInstance instance;
    if (instance.acquire() == ui::SingleInstance::Result::running) return ui::SingleInstance::handOver();
    instance.listen();
    if (headless) std::fputs("Trevlin: no display, running without the tray icon and windows\n", stderr);

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
    };
    QObject::connect(&app, &QCoreApplication::aboutToQuit, finish);
    SignalWatcher watcher(kTerminationSignals, [&](int) {
        finish();
        QCoreApplication::exit(0);
    });

    int result = QApplication::exec();
    finish();
    interface.reset();
    AppUpdater::shared().setModel(nullptr);
    model.reset();
    return result;
}
