#include "MonitorHistory.h"

#include <gtest/gtest.h>

using namespace trevlin;

namespace {

/// A snapshot whose system figures are `v` and whose rows have the given cores.
MonitorSnapshot snapshot(double v, std::vector<std::pair<std::string, double>> rows = {}, double at = 0) {
    MonitorSnapshot s;
    s.timestamp = at;
    s.totalCores = v;
    s.pCores = v / 2;
    s.eCores = v / 4;
    s.other.cores = v / 8;
    for (auto& [key, cores] : rows) {
        AppUsage r;
        r.bundlePath = key;
        r.name = key;
        r.cores = cores;
        s.apps.push_back(r);
    }
    return s;
}

std::vector<float> seq(int from, int to) {  // from..to inclusive
    std::vector<float> v;
    for (int i = from; i <= to; ++i) v.push_back(static_cast<float>(i));
    return v;
}

}  // namespace

TEST(Ring, Operations) {
    Ring r(4);
    EXPECT_EQ(r.count(), 0);
    EXPECT_EQ(r.value(0), 0);
    EXPECT_EQ(r.array(3), (std::vector<float>{0, 0, 0}));
    for (int i = 1; i <= 6; ++i) r.append(static_cast<float>(i));  // wraps: holds 3 4 5 6
    EXPECT_EQ(r.count(), 4);
    EXPECT_EQ(r.head(), 2);
    const struct {
        int back;
        float value;
    } values[] = {{0, 6}, {1, 5}, {3, 3}, {4, 0}, {-1, 0}};
    for (auto c : values) EXPECT_EQ(r.value(c.back), c.value) << c.back;
    EXPECT_EQ(r.array(0), seq(3, 6));
    EXPECT_EQ(r.array(6), (std::vector<float>{0, 0, 3, 4, 5, 6}));
    EXPECT_EQ(r.last(2, 0), seq(5, 6));
    EXPECT_EQ(r.last(2, 3), (std::vector<float>{0, 5, 6}));
    EXPECT_EQ(r.last(10, 0), seq(3, 6));
    EXPECT_TRUE(r.last(0, 0).empty());
    EXPECT_TRUE(r.last(-3, 0).empty());
}

TEST(HistoryRecorder, EmptyBeforeTheFirstTick) {
    HistoryRecorder h(123.0);
    auto all = h.history();
    EXPECT_EQ(all.interval, 1.0);
    EXPECT_EQ(all.endTime, 123.0);
    EXPECT_TRUE(all.systemTotal.empty() && all.systemP.empty() && all.systemE.empty() && all.saved.empty() &&
                all.other.empty() && all.apps.empty());
    for (int k : {-1, 0, 1, 1799}) EXPECT_FALSE(h.historyPoint(k, 5)) << k;
    auto s = h.systemSamples(0, 10);
    EXPECT_EQ(s.tick, 0);
    EXPECT_TRUE(s.p.empty());
}

TEST(HistoryRecorder, KeepsTheNewest1800Points) {
    HistoryRecorder h(0);
    for (int i = 1; i <= 2000; ++i) h.record(snapshot(i, {{"/opt/A.desktop", i}}, 1000.0 + i), i * 2);
    auto all = h.history();
    EXPECT_EQ(all.endTime, 3000.0);
    EXPECT_EQ(all.systemTotal, seq(201, 2000)) << "exactly 1800, the oldest 200 gone";
    for (const auto* series : {&all.systemP, &all.systemE, &all.saved, &all.other}) EXPECT_EQ(series->size(), 1800u);
    EXPECT_EQ(all.saved.front(), 402.0f);
    EXPECT_EQ(all.systemP.back(), 1000.0f);
    EXPECT_EQ(all.apps.at("/opt/A.desktop"), seq(201, 2000));
    EXPECT_EQ(h.tickCount(), 2000);
}

TEST(HistoryRecorder, LateRowIsLeftPadded) {
    HistoryRecorder h(0);
    for (int i = 1; i <= 150; ++i)
        h.record(snapshot(1, {{"/opt/Late.desktop", i > 100 ? 0.5 : 0.0}, {"cli:idle", 0.0}}), 0);
    auto all = h.history();
    ASSERT_EQ(all.systemTotal.size(), 150u);
    EXPECT_FALSE(all.apps.count("cli:idle")) << "idle rows get no ring";
    const auto& late = all.apps.at("/opt/Late.desktop");
    ASSERT_EQ(late.size(), 150u);
    EXPECT_EQ(std::vector<float>(late.begin(), late.begin() + 100), std::vector<float>(100, 0.0f));
    EXPECT_EQ(std::vector<float>(late.begin() + 100, late.end()), std::vector<float>(50, 0.5f));
}

TEST(HistoryRecorder, RecentHistoryWithAndWithoutAppKeys) {
    HistoryRecorder h(0);
    for (int i = 1; i <= 100; ++i) h.record(snapshot(i, {{"a", 1}, {"b", i > 90 ? 2 : 0}}), 0);

    auto none = h.history(60, std::vector<std::string>{});
    EXPECT_EQ(none.systemTotal, seq(41, 100));
    EXPECT_EQ(none.other.size(), 60u);
    EXPECT_TRUE(none.apps.empty());

    auto all = h.history(60, std::nullopt);
    EXPECT_EQ(all.apps.size(), 2u);
    const auto& b = all.apps.at("b");
    ASSERT_EQ(b.size(), 60u) << "a short ring is padded to the length asked for";
    EXPECT_EQ(b.front(), 0.0f);
    EXPECT_EQ(b.back(), 2.0f);

    auto some = h.history(5, std::vector<std::string>{"b", "missing"});
    EXPECT_EQ(some.apps.size(), 1u);
    EXPECT_EQ(some.apps.at("b"), std::vector<float>(5, 2.0f));

    EXPECT_EQ(h.history(1000, std::nullopt).systemTotal.size(), 100u);
    EXPECT_TRUE(h.history(-5, std::nullopt).systemTotal.empty());
}

TEST(HistoryRecorder, SystemSamplesSinceATick) {
    HistoryRecorder h(0);
    for (int i = 1; i <= 2000; ++i) h.record(snapshot(i * 2), i);
    const struct {
        int64_t after;
        int maxCount;
        size_t expected;
    } cases[] = {
        {2000, 50, 0},    // nothing new
        {2500, 50, 0},    // a tick from the future
        {1997, 50, 3},    // the three newest
        {1000, 50, 50},   // capped by maxCount
        {0, 5000, 1800},  // never more than the ring holds
        {1997, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.after);
        auto s = h.systemSamples(c.after, c.maxCount);
        EXPECT_EQ(s.tick, 2000);
        EXPECT_EQ(s.p.size(), c.expected);
        EXPECT_EQ(s.e.size(), c.expected);
        EXPECT_EQ(s.saved.size(), c.expected);
        if (c.expected) {
            EXPECT_EQ(s.p.back(), 2000.0f);
            EXPECT_EQ(s.e.back(), 1000.0f);
            EXPECT_EQ(s.saved.back(), 2000.0f);
            EXPECT_EQ(s.saved.front(), static_cast<float>(2000 - c.expected + 1)) << "oldest first";
        }
    }
}

TEST(HistoryRecorder, PointAtOneTick) {
    HistoryRecorder h(0);
    h.record(snapshot(4, {{"old", 1.0}}), 0.5);
    for (int i = 0; i < 3; ++i) h.record(snapshot(2), 0);
    h.record(snapshot(8, {{"z", 0.7}, {"a", 0.7}, {"m", 0.9}, {"tiny", 0.005}, {"small", 0.0051}}), 0.25);

    auto p = h.historyPoint(0, 10);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->p, 4.0f);
    EXPECT_EQ(p->e, 2.0f);
    EXPECT_EQ(p->saved, 0.25f);
    std::vector<std::string> keys;
    for (auto& [k, v] : p->apps) keys.push_back(k);
    EXPECT_EQ(keys, (std::vector<std::string>{"m", "a", "z", "small"})) << "0.005 itself is not listed";
    EXPECT_EQ(h.historyPoint(0, 2)->apps.size(), 2u);
    EXPECT_TRUE(h.historyPoint(0, 0)->apps.empty());

    auto oldest = h.historyPoint(4, 10);
    ASSERT_TRUE(oldest);
    EXPECT_EQ(oldest->p, 2.0f);
    EXPECT_EQ(oldest->saved, 0.5f);
    ASSERT_EQ(oldest->apps.size(), 1u) << "rings with fewer points give 0 there";
    EXPECT_EQ(oldest->apps[0].first, "old");
    EXPECT_FALSE(h.historyPoint(5, 10));
    EXPECT_FALSE(h.historyPoint(-1, 10));
}

TEST(HistoryRecorder, RowHistoryLastsThirtyMinutesAfterItWasLastBusy) {
    HistoryRecorder h(0);
    h.record(snapshot(1, {{"gone", 1.0}, {"idle", 1.0}}), 0);  // tick 1: both busy
    // "idle" stays as an idle row, "gone" disappears.
    for (int t = 2; t <= 1801; ++t) h.record(snapshot(1, {{"idle", 0.0}}), 0);
    auto keys = h.rowKeys();
    EXPECT_EQ(keys, (std::vector<std::string>{"gone", "idle"})) << "1800 ticks after: still kept";
    auto all = h.history();
    EXPECT_EQ(all.apps.at("gone").back(), 0.0f);
    EXPECT_EQ(all.apps.at("idle").size(), 1800u);

    h.record(snapshot(1, {{"idle", 0.0}}), 0);  // tick 1802
    EXPECT_TRUE(h.rowKeys().empty());

    // A row busy again in time keeps its ring.
    h.record(snapshot(1, {{"again", 1.0}}), 0);
    for (int t = 0; t < 1000; ++t) h.record(snapshot(1), 0);
    h.record(snapshot(1, {{"again", 0.5}}), 0);
    for (int t = 0; t < 1000; ++t) h.record(snapshot(1), 0);
    EXPECT_EQ(h.rowKeys(), std::vector<std::string>{"again"});
}
