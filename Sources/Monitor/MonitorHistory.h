// The monitor's history: fixed-size rings of one point per tick, for the
// whole system and for every recently busy row, and the queries that copy
// them out.
//
// Not thread-safe on its own: the monitor holds its lock around every call,
// so each query sees one consistent tick.
#pragma once

#include "MonitorTypes.h"

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace trevlin {

/// A ring of the newest `capacity` values. Appending never allocates.
class Ring {
public:
    explicit Ring(int capacity = MonitorHistory::capacity);

    void append(float v);
    /// The value `k` steps before the newest (0 = the newest); 0 when there
    /// are not that many values.
    float value(int back) const;
    /// The newest min(k, count) values oldest first, left-padded with zeros
    /// to `padTo` values.
    std::vector<float> last(int k, int padTo) const;
    /// All values oldest first, left-padded with zeros to `padTo` values.
    std::vector<float> array(int padTo) const;

    int count() const { return count_; }
    int head() const { return head_; }
    int capacity() const { return static_cast<int>(buf_.size()); }

private:
    std::vector<float> buf_;
    int head_ = 0;
    int count_ = 0;
};

/// Points of the system series newer than a tick the caller saw.
struct SystemSamples {
    int64_t tick = 0;  ///< the current tick count; pass it back next time
    std::vector<float> p;
    std::vector<float> e;
    std::vector<float> saved;
};

/// The history at one tick.
struct HistoryPoint {
    float p = 0;
    float e = 0;
    float saved = 0;
    /// Rows busier than 0.005 cores then: (key, cores), busiest first.
    std::vector<std::pair<std::string, float>> apps;
};

class HistoryRecorder {
public:
    /// A row's history is dropped this many ticks after it was last busy.
    static constexpr int64_t keepTicks = MonitorHistory::capacity;

    explicit HistoryRecorder(double createdAt);

    /// Appends one tick: the system series from the snapshot and `saved`,
    /// and every row's cores. Idle rows without a ring get none.
    void record(const MonitorSnapshot& snapshot, double saved);

    MonitorHistory history() const;
    /// The newest `last` points; app series only for `appKeys` (all when absent).
    MonitorHistory history(int last, const std::optional<std::vector<std::string>>& appKeys) const;
    SystemSamples systemSamples(int64_t after, int maxCount) const;
    /// Absent when `secondsAgo` is negative or beyond the recorded points.
    std::optional<HistoryPoint> historyPoint(int secondsAgo, int top) const;
    int64_t tickCount() const { return tickCount_; }
    double endTime() const { return historyEnd_; }
    /// Keys that currently have a ring.
    std::vector<std::string> rowKeys() const;

private:
    struct RowRing {
        Ring ring;
        int64_t lastSeen = 0;  ///< tick at which the row last had use above zero
        int64_t touched = 0;   ///< tick at which the ring last got a value from a row
    };

    Ring sysTotal_, sysP_, sysE_, otherRing_, savedRing_;
    std::unordered_map<std::string, RowRing> appRings_;
    int64_t tickCount_ = 0;
    double historyEnd_ = 0;
};

}  // namespace trevlin
