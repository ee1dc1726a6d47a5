// Why an app may be busy in the background: logind inhibitors that block
// sleep or idle, and sound streams that are playing.
#pragma once

#include "Platform.h"

#include <optional>
#include <string>
#include <vector>

namespace trevlin::linux {

struct Inhibitor {
    std::string what;  ///< colon-separated, e.g. "sleep:idle"
    std::string who;
    std::string why;
    std::string mode;  ///< "block" or "delay"
    uint32_t uid = 0;
    Pid pid = 0;
};

struct AudioStream {
    Pid pid = 0;        ///< application.process.id, 0 when absent
    std::string name;   ///< the stream's name
    bool corked = false;
};

/// logind's ListInhibitors on the system bus; absent without a bus or logind.
std::optional<std::vector<Inhibitor>> logindInhibitors();

/// Playback streams (sink inputs) of the PulseAudio server (PipeWire-Pulse
/// counts); absent when no server answers within half a second.
std::optional<std::vector<AudioStream>> audioStreams();

}  // namespace trevlin::linux
