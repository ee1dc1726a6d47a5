// Why an app may be busy in the background: logind inhibitors that block
// sleep or idle, and sound streams that are playing.
#pragma once

#include "Platform.h"

#include <optional>
#include <set>
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

/// Whether an inhibitor keeps the computer awake: it blocks (a "delay" lock
/// only postpones) sleep or idle.
bool keepsAwake(const Inhibitor& inhibitor);

/// The busy reason of `pids` from what the sound server and logind said
/// (either may be absent when it did not answer): playing audio when one of
/// them has a playback stream that is not corked, which wins; keeping the
/// computer awake when one of them holds an inhibitor that keeps it awake.
std::optional<BusyReason> busyReasonOf(const std::set<Pid>& pids,
                                       const std::optional<std::vector<AudioStream>>& streams,
                                       const std::optional<std::vector<Inhibitor>>& inhibitors);

}  // namespace trevlin::linux
