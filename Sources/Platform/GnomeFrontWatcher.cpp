#include "GnomeFrontWatcher.h"

#include "SessionBus.h"

#include <systemd/sd-bus.h>

#include <cstring>

namespace trevlin::linux {

namespace {

// How long the extension may take to answer: it lives in the shell's main
// loop, which a busy animation can hold up for a moment.
constexpr uint64_t kCallTimeoutUsec = 2000000;

}  // namespace

GnomeFrontWatcher::GnomeFrontWatcher(std::string busAddress) : busAddress_(std::move(busAddress)) {}

GnomeFrontWatcher::~GnomeFrontWatcher() { stop(); }

FrontApp GnomeFrontWatcher::frontOfPid(int32_t pid) {
    if (pid == 0) return FrontApp::none();
    return pid > 0 ? FrontApp::of(pid) : FrontApp::unknown();
}

void GnomeFrontWatcher::refresh() {
    if (owner_.empty()) {
        publish(FrontApp::unknown(), kFrontGnomeExtensionReason);
        return;
    }
    sd_bus_error error = SD_BUS_ERROR_NULL;
    int32_t pid = -1;
    int r = sd_bus_get_property_trivial(bus_, owner_.c_str(), objectPath, interfaceName, "Pid", &error, 'i', &pid);
    sd_bus_error_free(&error);
    publish(r < 0 ? FrontApp::unknown() : frontOfPid(pid));
}

int GnomeFrontWatcher::onOwnerChanged(sd_bus_message* m, void* userdata, sd_bus_error*) {
    auto* self = static_cast<GnomeFrontWatcher*>(userdata);
    const char *name = nullptr, *oldOwner = nullptr, *newOwner = nullptr;
    if (sd_bus_message_read(m, "sss", &name, &oldOwner, &newOwner) < 0 || !newOwner) return 0;
    self->owner_ = newOwner;
    // Read from the loop, not from inside a callback.
    self->refreshWanted_ = true;
    return 0;
}

int GnomeFrontWatcher::onPropertiesChanged(sd_bus_message* m, void* userdata, sd_bus_error*) {
    auto* self = static_cast<GnomeFrontWatcher*>(userdata);
    const char* sender = sd_bus_message_get_sender(m);
    // Only the extension that owns the name speaks for the shell.
    if (!sender || self->owner_.empty() || self->owner_ != sender) return 0;
    const char* interface = nullptr;
    if (sd_bus_message_read(m, "s", &interface) < 0 || std::strcmp(interface, interfaceName) != 0) return 0;
    if (sd_bus_message_enter_container(m, SD_BUS_TYPE_ARRAY, "{sv}") < 0) return 0;
    while (sd_bus_message_enter_container(m, SD_BUS_TYPE_DICT_ENTRY, "sv") > 0) {
        const char* property = nullptr;
        int32_t pid = 0;
        if (sd_bus_message_read(m, "s", &property) < 0) return 0;
        if (std::strcmp(property, "Pid") == 0 && sd_bus_message_read(m, "v", "i", &pid) >= 0) {
            self->publish(frontOfPid(pid));
        } else if (sd_bus_message_skip(m, "v") < 0) {
            return 0;
        }
        if (sd_bus_message_exit_container(m) < 0) return 0;
    }
    if (sd_bus_message_exit_container(m) < 0) return 0;
    // A property listed as invalidated comes without its value: ask for it.
    char** invalidated = nullptr;
    if (sd_bus_message_read_strv(m, &invalidated) >= 0 && invalidated) {
        for (char** p = invalidated; *p; ++p) {
            if (std::strcmp(*p, "Pid") == 0) self->refreshWanted_ = true;
            std::free(*p);
        }
        std::free(invalidated);
    }
    return 0;
}

void GnomeFrontWatcher::run() {
    bus_ = openSessionBus(busAddress_);
    std::string propertiesRule = std::string("type='signal',path='") + objectPath +
                                 "',interface='org.freedesktop.DBus.Properties',member='PropertiesChanged',arg0='" +
                                 interfaceName + "'";
    bool ready = bus_ && sd_bus_set_method_call_timeout(bus_, kCallTimeoutUsec) >= 0 &&
                 sd_bus_add_match(bus_, nullptr, nameOwnerChangedRule(busName).c_str(), onOwnerChanged, this) >= 0 &&
                 sd_bus_add_match(bus_, nullptr, propertiesRule.c_str(), onPropertiesChanged, this) >= 0;
    if (ready) {
        owner_ = busNameOwner(bus_, busName);
        refresh();
    } else {
        // No session bus: the extension could not reach Trevlin either.
        publish(FrontApp::unknown());
    }
    settle();

    while (ready) {
        if (refreshWanted_) {
            refreshWanted_ = false;
            refresh();
        }
        BusWait w = pumpBus(bus_, stopFd(), -1);
        if (w == BusWait::stopped) break;
        if (w == BusWait::closed) {
            publish(FrontApp::unknown());
            break;
        }
    }
    if (bus_) bus_ = sd_bus_flush_close_unref(bus_);
}

}  // namespace trevlin::linux
