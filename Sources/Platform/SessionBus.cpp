#include "SessionBus.h"

#include <poll.h>
#include <systemd/sd-bus.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

namespace trevlin::linux {

sd_bus* openSessionBus(const std::string& address) {
    sd_bus* bus = nullptr;
    if (address.empty()) {
        if (sd_bus_open_user(&bus) < 0) return nullptr;
        return bus;
    }
    if (sd_bus_new(&bus) < 0) return nullptr;
    if (sd_bus_set_address(bus, address.c_str()) < 0 || sd_bus_set_bus_client(bus, 1) < 0 || sd_bus_start(bus) < 0) {
        sd_bus_unref(bus);
        return nullptr;
    }
    return bus;
}

bool dispatchPending(sd_bus* bus) {
    for (;;) {
        int r = sd_bus_process(bus, nullptr);
        if (r < 0) return false;
        if (r == 0) return sd_bus_is_open(bus) > 0;
    }
}

BusWait pumpBus(sd_bus* bus, int stopFd, int timeoutMs) {
    int processed = sd_bus_process(bus, nullptr);
    if (processed < 0 || sd_bus_is_open(bus) <= 0) return BusWait::closed;
    // Back to the caller after each message, so what a handler left for the
    // loop to do is done before the next wait.
    if (processed > 0) return BusWait::ready;
    int fd = sd_bus_get_fd(bus);
    int events = sd_bus_get_events(bus);
    if (fd < 0 || events < 0) return BusWait::closed;
    // sd-bus may want to wake earlier, for a method call's timeout.
    uint64_t until = UINT64_MAX;
    if (sd_bus_get_timeout(bus, &until) >= 0 && until != UINT64_MAX) {
        timespec now{};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        uint64_t nowUsec = static_cast<uint64_t>(now.tv_sec) * 1000000u + static_cast<uint64_t>(now.tv_nsec) / 1000u;
        int busMs = until <= nowUsec ? 0 : static_cast<int>(std::min<uint64_t>((until - nowUsec + 999) / 1000, INT32_MAX));
        timeoutMs = timeoutMs < 0 ? busMs : std::min(timeoutMs, busMs);
    }
    pollfd fds[2] = {{fd, static_cast<short>(events), 0}, {stopFd, POLLIN, 0}};
    int r;
    do {
        r = ::poll(fds, 2, timeoutMs);
    } while (r < 0 && errno == EINTR);
    if (r < 0) return BusWait::closed;
    if (fds[1].revents) return BusWait::stopped;
    return BusWait::ready;
}

std::string busNameOwner(sd_bus* bus, const char* name) {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    std::string owner;
    if (sd_bus_call_method(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetNameOwner",
                           &error, &reply, "s", name) >= 0) {
        const char* unique = nullptr;
        if (sd_bus_message_read(reply, "s", &unique) >= 0 && unique) owner = unique;
    }
    sd_bus_error_free(&error);
    sd_bus_message_unref(reply);
    return owner;
}

std::string nameOwnerChangedRule(const char* name) {
    return std::string("type='signal',sender='org.freedesktop.DBus',path='/org/freedesktop/DBus',"
                       "interface='org.freedesktop.DBus',member='NameOwnerChanged',arg0='") +
           name + "'";
}

}  // namespace trevlin::linux
