// A private D-Bus session bus for one test program: a real dbus-daemon
// started with a configuration of its own (no activatable services, so a
// name nobody owns stays unowned), stopped and reaped when the object goes.
#pragma once

#include "TempDir.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace trevlin::test {

class PrivateBus {
public:
    PrivateBus() {
        std::ofstream(config_) << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                                 " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                                 "<busconfig><type>session</type><listen>unix:dir="
                              << dir_.path()
                              << "</listen><auth>EXTERNAL</auth>"
                                 "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                                 "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n";
        int out[2];
        if (::pipe(out) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], 1);
            ::close(out[0]);
            ::close(out[1]);
            std::string arg = "--config-file=" + config_;
            ::execlp("dbus-daemon", "dbus-daemon", arg.c_str(), "--print-address", "--nofork", (char*)nullptr);
            ::_exit(127);
        }
        ::close(out[1]);
        char c;
        while (::read(out[0], &c, 1) == 1 && c != '\n') address_.push_back(c);
        ::close(out[0]);
    }
    ~PrivateBus() { stop(); }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    /// The bus address, empty when the daemon could not be started.
    const std::string& address() const { return address_; }

    /// Ends the daemon: every connection to the bus breaks.
    void stop() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }

private:
    TempDir dir_;
    std::string config_ = dir_.path() + "/bus.conf";
    std::string address_;
    pid_t pid_ = -1;
};

}  // namespace trevlin::test
