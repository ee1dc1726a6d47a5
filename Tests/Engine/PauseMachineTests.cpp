// Pause mode's state machine, turn by turn: no threads, no processes.
#include "PauseMachine.h"

#include <gtest/gtest.h>

using namespace trevlin;

namespace {

struct Driver {
    PauseMachine machine{10.0};  // a catch-up every 10 s
    bool group = false;
    bool front = false;
    bool sparesBusy = false;
    bool catchUp = true;
    std::optional<std::string> busy;
    std::optional<std::string> frontUnknown;
    int asks = 0;

    PauseMachine::Turn at(double t) {
        PauseMachine::Seen s;
        s.now = t;
        s.isGroup = group;
        s.inFront = front;
        s.warmedUp = t >= 1.0;
        s.sparesBusy = sparesBusy;
        s.catchUpEnabled = catchUp;
        s.frontUnknown = frontUnknown;
        return machine.turn(s, [this] {
            ++asks;
            return busy;
        });
    }
};

std::string actions(const PauseMachine::Turn& t) {
    std::string s;
    if (t.release) s += "release ";
    if (t.hold) s += "hold ";
    if (t.newHold) s += "new ";
    return s;
}

TEST(PauseMachine, HoldsInTheBackgroundAndCatchesUpOnSchedule) {
    Driver d;
    EXPECT_EQ(actions(d.at(0.5)), "release ");  // the first scans only look
    EXPECT_EQ(d.machine.state(), PauseState::inFront);
    EXPECT_EQ(actions(d.at(1.0)), "hold new ");
    EXPECT_EQ(d.machine.state(), PauseState::paused);
    EXPECT_EQ(actions(d.at(5.0)), "hold ");  // every turn: new processes are held too
    // Ten seconds into the hold the app runs for five.
    EXPECT_EQ(actions(d.at(11.0)), "release ");
    EXPECT_EQ(d.machine.state(), PauseState::catchUp);
    EXPECT_TRUE(d.machine.holding());
    EXPECT_EQ(actions(d.at(15.9)), "");
    EXPECT_EQ(actions(d.at(16.0)), "hold ");
    EXPECT_EQ(d.machine.state(), PauseState::paused);
    EXPECT_EQ(actions(d.at(25.9)), "hold ");
    EXPECT_EQ(actions(d.at(26.0)), "release ");
    // Switching catch-up off ends the window at once.
    d.catchUp = false;
    EXPECT_EQ(actions(d.at(27.0)), "hold ");
    EXPECT_EQ(actions(d.at(60.0)), "hold ");
}

TEST(PauseMachine, FrontSparingAndGroupsLetGo) {
    Driver d;
    d.at(1.0);
    ASSERT_EQ(d.machine.state(), PauseState::paused);
    d.front = true;
    EXPECT_EQ(actions(d.at(2.0)), "release ");
    EXPECT_EQ(d.machine.state(), PauseState::inFront);
    EXPECT_FALSE(d.machine.holding());
    d.front = false;
    EXPECT_EQ(actions(d.at(3.0)), "hold new ");  // a new hold after a release

    // The hold found the app in front meanwhile: the next background turn
    // is a new hold again.
    d.machine.cameToFront();
    EXPECT_EQ(d.machine.state(), PauseState::inFront);
    EXPECT_EQ(actions(d.at(3.25)), "hold new ");

    // Playing audio spares it; the question is asked at most every 2 s.
    d.sparesBusy = true;
    d.busy = "playing audio";
    EXPECT_EQ(actions(d.at(4.0)), "release ");
    EXPECT_EQ(d.machine.state(), PauseState::spared);
    EXPECT_EQ(d.machine.sparedReason(), "playing audio");
    d.at(5.0);
    EXPECT_EQ(d.asks, 1);
    d.busy.reset();
    EXPECT_EQ(actions(d.at(5.9)), "release ");
    EXPECT_EQ(actions(d.at(6.0)), "hold new ");
    EXPECT_EQ(d.asks, 2);
    // Once in front, the next time in the background asks at once.
    d.front = true;
    d.at(6.5);
    d.front = false;
    d.at(6.75);
    EXPECT_EQ(d.asks, 3);

    // While the desktop does not tell which app is in front, nothing is
    // held: the user may be using this app. Once it tells, a new hold.
    d.busy.reset();
    d.at(7.0);
    ASSERT_EQ(d.machine.state(), PauseState::paused);
    d.frontUnknown = "in front or not: this desktop does not tell Trevlin";
    EXPECT_EQ(actions(d.at(7.5)), "release ");
    EXPECT_EQ(d.machine.state(), PauseState::spared);
    EXPECT_EQ(d.machine.sparedReason(), d.frontUnknown);
    EXPECT_EQ(actions(d.at(20.0)), "release ");  // no catch-up either
    d.frontUnknown.reset();
    EXPECT_EQ(actions(d.at(20.5)), "hold new ");
    EXPECT_FALSE(d.machine.sparedReason());

    // A command-line group is never held.
    d.group = true;
    EXPECT_EQ(actions(d.at(21.0)), "release ");
    EXPECT_EQ(d.machine.state(), PauseState::none);
}

}  // namespace
