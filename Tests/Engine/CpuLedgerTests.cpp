// What a process and its ended children count, pass by pass: the children
// time of a parent holds each reaped child's whole life, and only what was
// not counted while the child was seen may count again.

#include "CpuLedger.h"

#include <gtest/gtest.h>

#include <map>

using namespace trevlin;

namespace {

/// A small process tree read pass by pass, with its ledgers, as the
/// monitor keeps them.
struct Tree {
    struct Proc {
        Pid parent;
        CpuReading now;  ///< the kernel's counters
    };
    std::map<Pid, Proc> procs;
    std::map<Pid, std::pair<Pid, CpuLedger>> ledgers;  // pid → (parent, ledger)
    bool firstPass = true;

    void run(Pid pid, uint64_t ticks) { procs.at(pid).now.own += ticks; }
    /// The parent waits for `pid`: its children time grows by the child's whole life.
    void reap(Pid pid) {
        const Proc p = procs.at(pid);
        if (auto parent = procs.find(p.parent); parent != procs.end())
            parent->second.now.children += p.now.own + p.now.children;
        procs.erase(pid);
    }

    /// One pass: what is new per pid.
    std::map<Pid, uint64_t> pass() {
        std::vector<EndedProcess> ended;
        for (auto it = ledgers.begin(); it != ledgers.end();) {
            if (!procs.count(it->first)) {
                ended.push_back(EndedProcess{it->first, it->second.first, it->second.second});
                it = ledgers.erase(it);
            } else {
                ++it;
            }
        }
        creditEndedProcesses(ended, [&](Pid parent, uint64_t ticks) {
            if (auto p = ledgers.find(parent); p != ledgers.end()) p->second.second.credit(ticks);
        });
        std::map<Pid, uint64_t> fresh;
        for (auto& [pid, p] : procs) {
            CpuReading f;
            if (auto l = ledgers.find(pid); l != ledgers.end()) {
                f = l->second.second.advance(p.now);
            } else {
                ledgers[pid] = {p.parent, CpuLedger::firstSight(p.now, !firstPass, &f)};
            }
            fresh[pid] = f.own + f.children;
        }
        firstPass = false;
        return fresh;
    }
};

uint64_t sum(const std::map<Pid, uint64_t>& m) {
    uint64_t s = 0;
    for (auto& [pid, v] : m) s += v;
    return s;
}

}  // namespace

TEST(CpuLedger, EndedChildrenCountOnceThroughTheirParent) {
    const struct Case {
        const char* what;
        // Steps between the baseline pass and the pass that is checked.
        std::function<void(Tree&)> before;   // after the baseline, before a middle pass
        std::function<void(Tree&)> after;    // after the middle pass
        uint64_t middle;                     // new in the middle pass
        uint64_t last;                       // new in the last pass
    } cases[] = {
        {"a child seen once, reaped between passes, counts only its tail",
         [](Tree& t) { t.procs[20] = {10, {}}; t.run(20, 30); },
         [](Tree& t) { t.run(20, 7); t.reap(20); },
         30, 7},
        {"a child never seen counts its whole life",
         [](Tree&) {},
         [](Tree& t) { t.procs[20] = {10, {}}; t.run(20, 40); t.reap(20); },
         0, 40},
        {"a grandchild reaped by a child that also ended",
         [](Tree& t) { t.procs[20] = {10, {}}; t.procs[30] = {20, {}}; t.run(20, 5); t.run(30, 50); },
         [](Tree& t) { t.run(30, 9); t.reap(30); t.run(20, 2); t.reap(20); },
         55, 11},
        {"the same with the grandchild's pid below its parent's",
         [](Tree& t) { t.procs[20] = {10, {}}; t.procs[15] = {20, {}}; t.run(20, 5); t.run(15, 50); },
         [](Tree& t) { t.run(15, 9); t.reap(15); t.run(20, 2); t.reap(20); },
         55, 11},
        {"a grandchild reaped by its parent while the parent is still seen",
         [](Tree& t) { t.procs[20] = {10, {}}; t.procs[30] = {20, {}}; t.run(30, 50); },
         [](Tree& t) { t.run(30, 4); t.reap(30); t.run(20, 1); },
         50, 5},
        {"an orphan's credit never exceeds what its parent's children time shows",
         [](Tree& t) { t.procs[20] = {10, {}}; t.run(20, 10); },
         [](Tree& t) { t.procs.erase(20); t.run(10, 3); },  // reaped by someone else
         10, 3},
        {"time run before the monitor saw a child is no new time when it is reaped",
         [](Tree& t) { t.run(10, 1); },
         [](Tree& t) { t.run(11, 2); t.reap(11); },
         1, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Tree t;
        t.procs[10] = {1, {}};
        t.procs[11] = {10, {1000, 0}};  // ran long before the baseline
        EXPECT_EQ(sum(t.pass()), 0u) << "the baseline";
        c.before(t);
        EXPECT_EQ(sum(t.pass()), c.middle);
        c.after(t);
        EXPECT_EQ(sum(t.pass()), c.last);
        EXPECT_EQ(sum(t.pass()), 0u) << "nothing counts twice";
    }
}

TEST(CpuLedger, CreditMatchesLaterGrowthAndCountersThatRunBackwardsGiveNothing) {
    CpuReading fresh;
    auto l = CpuLedger::firstSight({100, 40}, false, &fresh);
    EXPECT_EQ(fresh, (CpuReading{0, 0}));
    l.credit(30);  // a child ended with 30 counted; its parent has not reaped it yet
    EXPECT_EQ(l.advance({110, 40}), (CpuReading{10, 0}));
    EXPECT_EQ(l.pendingCredit(), 30u);
    EXPECT_EQ(l.advance({110, 75}), (CpuReading{0, 5})) << "reaped: 35 in all, 30 of it counted";
    EXPECT_EQ(l.pendingCredit(), 0u);
    EXPECT_EQ(l.advance({90, 70}), (CpuReading{0, 0}));
    EXPECT_EQ(l.accounted(), 160u);

    auto born = CpuLedger::firstSight({25, 5}, true, &fresh);
    EXPECT_EQ(fresh, (CpuReading{25, 5}));
    EXPECT_EQ(born.accounted(), 30u);
}
