#include "KWinFrontWatcher.h"

#include "DesktopTexts.h"
#include "SessionBus.h"

#include <poll.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace trevlin::linux {

namespace {

constexpr const char* kKWin = "org.kde.KWin";
// How long a call to KWin may take: loading and starting a script is quick,
// and a KWin that hangs must not hold Trevlin's start or stop for long.
constexpr uint64_t kCallTimeoutUsec = 2000000;
// KWin frees an unloaded script later, in its event loop: a load under the
// same name right after an unload may still be refused for a moment.
constexpr int kLoadAttempts = 5;
constexpr int kLoadRetryMs = 100;

}  // namespace

KWinFrontWatcher::KWinFrontWatcher(std::string busAddress, std::string scriptDir)
    : busAddress_(std::move(busAddress)), scriptDir_(std::move(scriptDir)) {}

KWinFrontWatcher::~KWinFrontWatcher() { stop(); }

FrontApp KWinFrontWatcher::frontOfReport(const char* text) {
    if (!text || !*text) return FrontApp::unknown();
    errno = 0;
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || value < 0 || value > INT32_MAX) return FrontApp::unknown();
    return value == 0 ? FrontApp::none() : FrontApp::of(static_cast<Pid>(value));
}

int KWinFrontWatcher::onActivated(sd_bus_message* m, void* userdata, sd_bus_error* error) {
    auto* self = static_cast<KWinFrontWatcher*>(userdata);
    const char* sender = sd_bus_message_get_sender(m);
    // Only the script in KWin speaks for KWin.
    if (!sender || self->kwinOwner_.empty() || self->kwinOwner_ != sender)
        return sd_bus_error_set(error, SD_BUS_ERROR_ACCESS_DENIED, "Only KWin reports activations");
    const char* text = nullptr;
    int r = sd_bus_message_read(m, "s", &text);
    if (r < 0) return r;
    self->publish(frontOfReport(text));
    return sd_bus_reply_method_return(m, "");
}

int KWinFrontWatcher::onOwnerChanged(sd_bus_message* m, void* userdata, sd_bus_error*) {
    auto* self = static_cast<KWinFrontWatcher*>(userdata);
    const char *name = nullptr, *oldOwner = nullptr, *newOwner = nullptr;
    if (sd_bus_message_read(m, "sss", &name, &oldOwner, &newOwner) < 0 || !newOwner) return 0;
    self->kwinOwner_ = newOwner;
    self->scriptLoaded_ = false;
    if (self->kwinOwner_.empty()) self->publish(FrontApp::unknown());
    else self->reloadWanted_ = true;  // loaded from the loop, not from inside a callback
    return 0;
}

bool KWinFrontWatcher::writeScript(const std::string& busName) {
    std::string script = desktop_texts::kwinFrontScript;
    static const std::string placeholder = "TREVLIN_BUS_NAME";
    for (size_t at = script.find(placeholder); at != std::string::npos; at = script.find(placeholder, at))
        script.replace(at, placeholder.size(), busName);
    // KWin reads the file when the script runs, so it stays until stop. A
    // fresh name in a folder only the user can write (or /tmp, where mkstemps
    // refuses anything that exists) so no other user's file is ever loaded.
    std::string path = (scriptDir_.empty() ? std::string("/tmp") : scriptDir_) + "/trevlin-kwin-XXXXXX.js";
    int fd = ::mkstemps(path.data(), 3);
    if (fd < 0) return false;
    bool ok = true;
    for (size_t done = 0; ok && done < script.size();) {
        ssize_t n = ::write(fd, script.data() + done, script.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<size_t>(n);
    }
    if (::close(fd) != 0) ok = false;
    if (!ok) {
        ::unlink(path.c_str());
        return false;
    }
    scriptPath_ = path;
    return true;
}

bool KWinFrontWatcher::loadScript() {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    int32_t id = -1;
    for (int attempt = 0; attempt < kLoadAttempts && id < 0; ++attempt) {
        if (attempt > 0) {
            // A script of the same name is loaded, most likely left by a
            // Trevlin that did not quit cleanly: replace it.
            sd_bus_call_method(bus_, kKWin, "/Scripting", "org.kde.kwin.Scripting", "unloadScript", nullptr, nullptr,
                               "s", pluginName);
            pollfd p{stopFd(), POLLIN, 0};
            if (::poll(&p, 1, kLoadRetryMs) > 0) return false;
        }
        sd_bus_error_free(&error);
        reply = sd_bus_message_unref(reply);
        if (sd_bus_call_method(bus_, kKWin, "/Scripting", "org.kde.kwin.Scripting", "loadScript", &error, &reply, "ss",
                               scriptPath_.c_str(), pluginName) < 0 ||
            sd_bus_message_read(reply, "i", &id) < 0)
            break;
    }
    sd_bus_error_free(&error);
    reply = sd_bus_message_unref(reply);
    if (id < 0) return false;
    scriptLoaded_ = true;
    // Plasma 6 puts the script object under /Scripting, Plasma 5 at the root.
    // run() answers once the script has run, its first report ahead of the
    // answer; a run() that times out may still report later.
    std::string path = "/Scripting/Script" + std::to_string(id);
    int r = sd_bus_call_method(bus_, kKWin, path.c_str(), "org.kde.kwin.Script", "run", &error, nullptr, "");
    if (r < 0 && (sd_bus_error_has_name(&error, SD_BUS_ERROR_UNKNOWN_OBJECT) ||
                  sd_bus_error_has_name(&error, SD_BUS_ERROR_UNKNOWN_METHOD))) {
        sd_bus_error_free(&error);
        path = "/" + std::to_string(id);
        sd_bus_call_method(bus_, kKWin, path.c_str(), "org.kde.kwin.Script", "run", &error, nullptr, "");
    }
    sd_bus_error_free(&error);
    return true;
}

void KWinFrontWatcher::unloadScript() {
    if (!scriptLoaded_) return;
    scriptLoaded_ = false;
    sd_bus_call_method(bus_, kKWin, "/Scripting", "org.kde.kwin.Scripting", "unloadScript", nullptr, nullptr, "s",
                       pluginName);
}

void KWinFrontWatcher::run() {
    static const sd_bus_vtable vtable[] = {
        SD_BUS_VTABLE_START(0),
        SD_BUS_METHOD("Activated", "s", "", onActivated, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_VTABLE_END,
    };
    bus_ = openSessionBus(busAddress_);
    const char* unique = nullptr;
    bool ready = bus_ && sd_bus_set_method_call_timeout(bus_, kCallTimeoutUsec) >= 0 &&
                 sd_bus_get_unique_name(bus_, &unique) >= 0 && writeScript(unique) &&
                 sd_bus_add_object_vtable(bus_, nullptr, objectPath, interfaceName, vtable, this) >= 0 &&
                 sd_bus_add_match(bus_, nullptr, nameOwnerChangedRule(kKWin).c_str(), onOwnerChanged, this) >= 0;
    if (ready) {
        kwinOwner_ = busNameOwner(bus_, kKWin);
        if (kwinOwner_.empty() || !loadScript()) publish(FrontApp::unknown());
        // The script's first report came in ahead of run()'s answer: take it
        // before start() returns.
        ready = dispatchPending(bus_);
    }
    if (!ready) publish(FrontApp::unknown());
    settle();

    while (ready) {
        if (reloadWanted_) {
            reloadWanted_ = false;
            if (!loadScript()) publish(FrontApp::unknown());
        }
        BusWait w = pumpBus(bus_, stopFd(), -1);
        if (w == BusWait::stopped) break;
        if (w == BusWait::closed) {
            // The session bus went away: so did KWin's way to reach Trevlin.
            publish(FrontApp::unknown());
            scriptLoaded_ = false;
            break;
        }
    }
    if (bus_) {
        unloadScript();
        sd_bus_flush_close_unref(bus_);
        bus_ = nullptr;
    }
    if (!scriptPath_.empty()) ::unlink(scriptPath_.c_str());
}

}  // namespace trevlin::linux
