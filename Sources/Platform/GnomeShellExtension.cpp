#include "GnomeShellExtension.h"

#include "DesktopTexts.h"
#include "Files.h"
#include "SessionBus.h"

#include <systemd/sd-bus.h>

#include <cstdlib>

namespace trevlin::linux {

namespace {

// The first GNOME Shell that loads extensions as ES modules.
constexpr int kFirstModuleShell = 45;

}  // namespace

bool installGnomeExtension(const std::string& dataHome, int shellMajor, std::string* error) {
    if (dataHome.empty()) {
        if (error) *error = "no data folder";
        return false;
    }
    const std::string dir = dataHome + "/gnome-shell/extensions/" + kGnomeExtensionUuid;
    const char* script = shellMajor > 0 && shellMajor < kFirstModuleShell ? desktop_texts::gnomeExtensionLegacyScript
                                                                          : desktop_texts::gnomeExtensionModule;
    Files::Error failure;
    const bool ok = Files::createDirectories(dir, &failure) &&
                    Files::writeAtomically(dir + "/metadata.json", desktop_texts::gnomeExtensionMetadata, &failure) &&
                    Files::writeAtomically(dir + "/extension.js", script, &failure);
    if (!ok && error) *error = failure.message;
    return ok;
}

std::optional<int> gnomeShellMajorVersion(const std::string& busAddress) {
    sd_bus* bus = openSessionBus(busAddress);
    if (!bus) return std::nullopt;
    sd_bus_set_method_call_timeout(bus, 2000000);
    sd_bus_error error = SD_BUS_ERROR_NULL;
    char* version = nullptr;
    std::optional<int> major;
    if (sd_bus_get_property_string(bus, "org.gnome.Shell", "/org/gnome/Shell", "org.gnome.Shell", "ShellVersion", &error,
                                   &version) >= 0 &&
        version) {
        // "43.9", "46.0", "47.rc"
        char* end = nullptr;
        long value = std::strtol(version, &end, 10);
        if (end != version && value > 0 && value < 1000) major = static_cast<int>(value);
    }
    std::free(version);
    sd_bus_error_free(&error);
    sd_bus_flush_close_unref(bus);
    return major;
}

}  // namespace trevlin::linux
