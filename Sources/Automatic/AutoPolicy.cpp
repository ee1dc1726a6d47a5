#include "AutoPolicy.h"

#include <utility>

namespace trevlin {

AutoDecision AutoDecision::limit(std::string path, std::string name, double cores) {
    AutoDecision d;
    d.kind = Kind::limit;
    d.path = std::move(path);
    d.name = std::move(name);
    d.cores = cores;
    return d;
}

AutoDecision AutoDecision::release(std::string path) {
    AutoDecision d;
    d.kind = Kind::release;
    d.path = std::move(path);
    return d;
}

AutoDecision AutoDecision::ask(AutoQuestion question) {
    AutoDecision d;
    d.kind = Kind::ask;
    d.path = question.path;
    d.question = std::move(question);
    return d;
}

bool AutoPolicy::isQuiet(const std::map<std::string, LimiterStatus>& statuses, const std::string& path) {
    auto it = statuses.find(path);
    if (it == statuses.end()) return false;  // no word from the limiter: keep holding
    const LimiterStatus& s = it->second;
    return s.pauseState == PauseState::none && !(s.allowedRunFraction < 1.0 && s.isThrottling);
}

std::vector<AutoDecision> AutoPolicy::evaluate(const std::vector<AppUsage>& apps,
                                               const std::map<std::string, LimiterStatus>& statuses,
                                               const StanceFunction& stance, double now, bool frontKnown) {
    std::vector<AutoDecision> out;
    std::set<std::string> seen;

    for (const AppUsage& app : apps) {
        const std::string& path = app.bundlePath;
        if (path.empty()) continue;
        seen.insert(path);
        State st = states_[path];
        const AutoStance wish = stance(path);
        const bool optedOut = wish == AutoStance::never || wish == AutoStance::skip;

        if (optedOut || app.isFrontmost) {
            if (st.limited) out.push_back(AutoDecision::release(path));
            st.limited = false;
            st.overSince.reset();
            st.quietSince.reset();
            // The front app keeps an open question open.
            if (optedOut) st.askPendingSince.reset();
            states_[path] = st;
            continue;
        }

        if (st.limited) {
            if (!isQuiet(statuses, path)) {
                st.quietSince.reset();
            } else {
                if (!st.quietSince) st.quietSince = now;
                if (now - *st.quietSince >= config.releaseQuietSeconds) {
                    out.push_back(AutoDecision::release(path));
                    st.limited = false;
                    st.quietSince.reset();
                    st.overSince.reset();
                }
            }
            states_[path] = st;
            continue;
        }

        if (!frontKnown) {
            // Busy time while the app may have been in use counts for nothing.
            st.overSince.reset();
            states_[path] = st;
            continue;
        }

        if (app.cores > config.triggerCores) {
            if (!st.overSince) st.overSince = now;
        } else {
            st.overSince.reset();
        }

        if (!st.overSince || now - *st.overSince < config.triggerSeconds) {
            states_[path] = st;
            continue;
        }

        if (wish == AutoStance::always) {
            st.limited = true;
            st.quietSince.reset();
            out.push_back(AutoDecision::limit(path, app.name, config.limitCores));
        } else if (st.askPendingSince) {
            if (now - *st.askPendingSince >= config.askCooldownSeconds) {
                // Unanswered for the whole cooldown: counts as ignored.
                st.askPendingSince.reset();
                st.lastIgnored = now;
            }
        } else if (st.lastIgnored && now - *st.lastIgnored < config.askCooldownSeconds) {
            // Still silent after an ignored question.
        } else {
            st.askPendingSince = now;
            out.push_back(AutoDecision::ask(AutoQuestion{path, app.name, app.cores, now - *st.overSince}));
        }
        states_[path] = st;
    }

    for (auto it = states_.begin(); it != states_.end();) {
        if (seen.count(it->first)) {
            ++it;
            continue;
        }
        if (it->second.limited) out.push_back(AutoDecision::release(it->first));
        it = states_.erase(it);
    }
    return out;
}

void AutoPolicy::markLimited(const std::string& path) {
    State& st = states_[path];
    st.limited = true;
    st.askPendingSince.reset();
    st.quietSince.reset();
}

void AutoPolicy::markIgnored(const std::string& path, double now) {
    State& st = states_[path];
    st.askPendingSince.reset();
    st.lastIgnored = now;
    st.overSince.reset();
}

void AutoPolicy::forget(const std::string& path) { states_.erase(path); }

std::vector<std::string> AutoPolicy::reset() {
    std::vector<std::string> limited;
    for (const auto& [path, st] : states_)
        if (st.limited) limited.push_back(path);
    states_.clear();
    return limited;
}

std::set<std::string> AutoPolicy::limitedPaths() const {
    std::set<std::string> out;
    for (const auto& [path, st] : states_)
        if (st.limited) out.insert(path);
    return out;
}

}  // namespace trevlin
