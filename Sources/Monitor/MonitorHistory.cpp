#include "MonitorHistory.h"

#include <algorithm>

namespace trevlin {

Ring::Ring(int capacity) : buf_(static_cast<size_t>(std::max(1, capacity)), 0.0f) {}

void Ring::append(float v) {
    buf_[static_cast<size_t>(head_)] = v;
    head_ = head_ + 1 == capacity() ? 0 : head_ + 1;
    count_ = std::min(count_ + 1, capacity());
}

float Ring::value(int back) const {
    if (back < 0 || back >= count_) return 0;
    const int cap = capacity();
    return buf_[static_cast<size_t>((head_ - back - 1 + 2 * cap) % cap)];
}

std::vector<float> Ring::last(int k, int padTo) const {
    const int n = std::max(0, std::min(k, count_));
    const int pad = std::max(0, padTo - n);
    std::vector<float> out;
    out.reserve(static_cast<size_t>(pad + n));
    out.assign(static_cast<size_t>(pad), 0.0f);
    for (int back = n - 1; back >= 0; --back) out.push_back(value(back));
    return out;
}

std::vector<float> Ring::array(int padTo) const { return last(count_, padTo); }

HistoryRecorder::HistoryRecorder(double createdAt) : historyEnd_(createdAt) {}

void HistoryRecorder::record(const MonitorSnapshot& snapshot, double saved) {
    ++tickCount_;
    historyEnd_ = snapshot.timestamp;
    sysTotal_.append(static_cast<float>(snapshot.totalCores));
    sysP_.append(static_cast<float>(snapshot.pCores));
    sysE_.append(static_cast<float>(snapshot.eCores));
    otherRing_.append(static_cast<float>(snapshot.other.cores));
    savedRing_.append(static_cast<float>(saved));

    for (const auto& row : snapshot.apps) {
        const double v = row.cores;
        auto it = appRings_.find(row.bundlePath);
        if (it == appRings_.end()) {
            if (v <= 0) continue;  // idle rows get no ring
            it = appRings_.emplace(row.bundlePath, RowRing{Ring(), tickCount_, 0}).first;
        }
        it->second.ring.append(static_cast<float>(v));
        it->second.touched = tickCount_;
        if (v > 0) it->second.lastSeen = tickCount_;
    }
    // Rows that are gone get a zero. Gone and idle rows alike are forgotten
    // once they have not been busy for the length of the history (an app
    // that stays open but idle is still listed every tick, so its ring must
    // not live on just because its row does).
    for (auto it = appRings_.begin(); it != appRings_.end();) {
        if (it->second.touched != tickCount_) it->second.ring.append(0);
        if (tickCount_ - it->second.lastSeen > keepTicks) {
            it = appRings_.erase(it);
            continue;
        }
        ++it;
    }
}

MonitorHistory HistoryRecorder::history() const {
    MonitorHistory h;
    const int n = sysTotal_.count();
    h.interval = 1.0;
    h.endTime = historyEnd_;
    h.systemTotal = sysTotal_.array(n);
    h.systemP = sysP_.array(n);
    h.systemE = sysE_.array(n);
    h.other = otherRing_.array(n);
    h.saved = savedRing_.array(n);
    for (const auto& [key, r] : appRings_) h.apps.emplace(key, r.ring.array(n));
    return h;
}

MonitorHistory HistoryRecorder::history(int last, const std::optional<std::vector<std::string>>& appKeys) const {
    MonitorHistory h;
    const int n = std::max(0, std::min(sysTotal_.count(), last));
    h.interval = 1.0;
    h.endTime = historyEnd_;
    h.systemTotal = sysTotal_.last(n, 0);
    h.systemP = sysP_.last(n, 0);
    h.systemE = sysE_.last(n, 0);
    h.other = otherRing_.last(n, 0);
    h.saved = savedRing_.last(n, 0);
    if (!appKeys) {
        for (const auto& [key, r] : appRings_) h.apps.emplace(key, r.ring.last(n, n));
    } else {
        for (const auto& key : *appKeys) {
            auto it = appRings_.find(key);
            if (it != appRings_.end()) h.apps.emplace(key, it->second.ring.last(n, n));
        }
    }
    return h;
}

SystemSamples HistoryRecorder::systemSamples(int64_t after, int maxCount) const {
    SystemSamples s;
    s.tick = tickCount_;
    const int64_t fresh = std::max<int64_t>(0, tickCount_ - after);
    const int n = static_cast<int>(std::max<int64_t>(0, std::min<int64_t>({maxCount, fresh, sysP_.count()})));
    s.p = sysP_.last(n, 0);
    s.e = sysE_.last(n, 0);
    s.saved = savedRing_.last(n, 0);
    return s;
}

std::optional<HistoryPoint> HistoryRecorder::historyPoint(int secondsAgo, int top) const {
    if (secondsAgo < 0 || secondsAgo >= sysP_.count()) return std::nullopt;
    HistoryPoint pt;
    pt.p = sysP_.value(secondsAgo);
    pt.e = sysE_.value(secondsAgo);
    pt.saved = savedRing_.value(secondsAgo);
    for (const auto& [key, r] : appRings_) {
        float v = r.ring.value(secondsAgo);
        if (v > 0.005f) pt.apps.emplace_back(key, v);
    }
    std::sort(pt.apps.begin(), pt.apps.end(), [](const auto& a, const auto& b) {
        if (a.second != b.second) return a.second > b.second;
        return a.first < b.first;
    });
    const size_t limit = static_cast<size_t>(std::max(0, top));
    if (pt.apps.size() > limit) pt.apps.resize(limit);
    return pt;
}

std::vector<std::string> HistoryRecorder::rowKeys() const {
    std::vector<std::string> keys;
    for (const auto& [key, r] : appRings_) keys.push_back(key);
    std::sort(keys.begin(), keys.end());
    return keys;
}

}  // namespace trevlin
