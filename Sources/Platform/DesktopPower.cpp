#include "DesktopPower.h"

#include <pulse/pulseaudio.h>
#include <systemd/sd-bus.h>

#include <chrono>
#include <cstdlib>

namespace trevlin::linux {

namespace {

// How long to wait for the sound server. The limiter asks at most every 2 s
// and waits for the answer, so a server that hangs must not hold it longer.
constexpr auto kSoundServerTimeout = std::chrono::milliseconds(500);
// One wait of the sound server's loop, so the deadline is looked at often.
constexpr int kPollSliceMicros = 20000;

bool hasWord(const std::string& colonList, const std::string& word) {
    size_t i = 0;
    while (i <= colonList.size()) {
        size_t j = colonList.find(':', i);
        if (j == std::string::npos) j = colonList.size();
        if (colonList.compare(i, j - i, word) == 0) return true;
        i = j + 1;
    }
    return false;
}

}  // namespace

bool keepsAwake(const Inhibitor& inhibitor) {
    return inhibitor.mode == "block" && (hasWord(inhibitor.what, "sleep") || hasWord(inhibitor.what, "idle"));
}

std::optional<BusyReason> busyReasonOf(const std::set<Pid>& pids,
                                       const std::optional<std::vector<AudioStream>>& streams,
                                       const std::optional<std::vector<Inhibitor>>& inhibitors) {
    if (streams) {
        for (const auto& s : *streams)
            if (!s.corked && s.pid > 0 && pids.count(s.pid)) return BusyReason::playingAudio;
    }
    if (inhibitors) {
        for (const auto& i : *inhibitors)
            if (i.pid > 0 && pids.count(i.pid) && keepsAwake(i)) return BusyReason::keepingAwake;
    }
    return std::nullopt;
}

std::optional<std::vector<Inhibitor>> logindInhibitors() {
    sd_bus* bus = nullptr;
    if (sd_bus_open_system(&bus) < 0 || !bus) return std::nullopt;
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    int r = sd_bus_call_method(bus, "org.freedesktop.login1", "/org/freedesktop/login1",
                               "org.freedesktop.login1.Manager", "ListInhibitors", &error, &reply, "");
    sd_bus_error_free(&error);
    if (r < 0 || !reply) {
        sd_bus_unref(bus);
        return std::nullopt;
    }
    std::vector<Inhibitor> out;
    if (sd_bus_message_enter_container(reply, SD_BUS_TYPE_ARRAY, "(ssssuu)") >= 0) {
        const char *what, *who, *why, *mode;
        uint32_t uid, pid;
        while (sd_bus_message_read(reply, "(ssssuu)", &what, &who, &why, &mode, &uid, &pid) > 0) {
            out.push_back(Inhibitor{what, who, why, mode, uid, static_cast<Pid>(pid)});
        }
        sd_bus_message_exit_container(reply);
    }
    sd_bus_message_unref(reply);
    sd_bus_unref(bus);
    return out;
}

namespace {

struct PulseQuery {
    bool ready = false;
    bool failed = false;
    bool done = false;
    std::vector<AudioStream> streams;
};

void onSinkInput(pa_context*, const pa_sink_input_info* info, int eol, void* user) {
    auto* q = static_cast<PulseQuery*>(user);
    if (eol != 0 || !info) {
        q->done = true;
        return;
    }
    AudioStream s;
    s.name = info->name ? info->name : "";
    s.corked = info->corked != 0;
    if (const char* pid = pa_proplist_gets(info->proplist, PA_PROP_APPLICATION_PROCESS_ID))
        s.pid = static_cast<Pid>(std::strtol(pid, nullptr, 10));
    q->streams.push_back(std::move(s));
}

void onState(pa_context* c, void* user) {
    auto* q = static_cast<PulseQuery*>(user);
    switch (pa_context_get_state(c)) {
        case PA_CONTEXT_READY: q->ready = true; break;
        case PA_CONTEXT_FAILED:
        case PA_CONTEXT_TERMINATED: q->failed = true; break;
        default: break;
    }
}

}  // namespace

std::optional<std::vector<AudioStream>> audioStreams() {
    pa_mainloop* loop = pa_mainloop_new();
    if (!loop) return std::nullopt;
    pa_proplist* props = pa_proplist_new();
    pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "Trevlin");
    pa_context* ctx = pa_context_new_with_proplist(pa_mainloop_get_api(loop), "Trevlin", props);
    pa_proplist_free(props);
    if (!ctx) {
        pa_mainloop_free(loop);
        return std::nullopt;
    }
    PulseQuery q;
    pa_context_set_state_callback(ctx, onState, &q);
    std::optional<std::vector<AudioStream>> result;
    if (pa_context_connect(ctx, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
        auto deadline = std::chrono::steady_clock::now() + kSoundServerTimeout;
        pa_operation* op = nullptr;
        while (!q.failed && !q.done && std::chrono::steady_clock::now() < deadline) {
            if (q.ready && !op) op = pa_context_get_sink_input_info_list(ctx, onSinkInput, &q);
            if (pa_mainloop_prepare(loop, kPollSliceMicros) < 0 || pa_mainloop_poll(loop) < 0 || pa_mainloop_dispatch(loop) < 0)
                break;
        }
        if (op) pa_operation_unref(op);
        if (q.done) result = std::move(q.streams);
        pa_context_disconnect(ctx);
    }
    pa_context_unref(ctx);
    pa_mainloop_free(loop);
    return result;
}

}  // namespace trevlin::linux
