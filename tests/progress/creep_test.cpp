// The creep of the progress bar, tick by tick with chosen draws.
#include <gtest/gtest.h>

#include <deque>
#include <stdexcept>

#include "creep.h"

using vellum::progress::BarState;
using vellum::progress::CreepTick;
using vellum::progress::RandomDraw;
using vellum::progress::RoundHalfEven;

namespace {

// Hands out the given draws in order; a tick that draws more fails the test.
struct Draws {
    std::deque<int> left;
    RandomDraw fn() {
        return [this]() {
            if (left.empty()) throw std::runtime_error("unexpected draw");
            int r = left.front();
            left.pop_front();
            return r;
        };
    }
};

struct Creep {
    short position = 0;
    short target = 0;
    BarState bar;
    Draws draws;
    void ticks(std::initializer_list<int> rs) {
        draws.left.assign(rs.begin(), rs.end());
        RandomDraw d = draws.fn();
        while (!draws.left.empty()) CreepTick(position, target, bar, d);
    }
    void idleTick() {  // a tick that must not draw at all
        RandomDraw d = draws.fn();
        CreepTick(position, target, bar, d);
    }
};

TEST(Creep, WorkedExampleStepForStep) {
    Creep c;
    // setMaxValue 200, fast setProgress 10, then slow setProgress 20.
    c.bar.max = 200;
    c.bar.value = 10;
    c.position = 10;
    c.target = 20;

    const int expectPos[] = {11, 12, 13, 13};
    int i = 0;
    for (int r : {0, 4, 1, 3}) {
        c.ticks({r});
        EXPECT_EQ(c.position, expectPos[i++]);
    }
    EXPECT_EQ(c.bar.value, 13);

    c.ticks({2, 0, 1, 4, 2});
    EXPECT_EQ(c.position, 18);
    EXPECT_EQ(c.bar.value, 13);  // the bar moves on show ticks only
    c.ticks({3});
    EXPECT_EQ(c.bar.value, 18);

    c.ticks({1, 2, 0});
    EXPECT_EQ(c.position, 21);
    c.ticks({3});
    EXPECT_EQ(c.bar.value, 21);

    // At or above the target: later ticks draw nothing and change nothing.
    for (int k = 0; k < 5; ++k) c.idleTick();
    EXPECT_EQ(c.bar.value, 21);
    EXPECT_EQ(c.position, 21);

    // Slow setProgress 30: the bar goes back to the old target 20 and creeps
    // on from position 21.
    c.bar.value = 20;
    c.target = 30;
    c.ticks({0});
    EXPECT_EQ(c.position, 22);
    c.ticks({3});
    EXPECT_EQ(c.bar.value, 22);
}

TEST(Creep, TargetZeroOrNegativeNeverMovesButCatchesUp) {
    for (short target : {0, -5}) {
        Creep c;
        c.target = target;
        c.bar.value = 40;
        c.position = 10;
        c.idleTick();
        EXPECT_EQ(c.bar.value, 40);
        EXPECT_EQ(c.position, 40) << "catch-up runs whatever the target";
    }
}

TEST(Creep, BarAtOrAboveTargetOnlyCatchesUp) {
    Creep c;
    c.target = 50;
    c.bar.value = 50;
    c.position = 45;
    c.idleTick();
    EXPECT_EQ(c.position, 50);
    EXPECT_EQ(c.bar.value, 50);
    c.bar.value = 60;
    c.idleTick();
    EXPECT_EQ(c.position, 60);
    EXPECT_EQ(c.bar.value, 60);
}

TEST(Creep, AdvanceStopsOneBelowTheMaximum) {
    Creep c;
    c.bar.max = 200;
    c.bar.value = 195;
    c.position = 195;
    c.target = 200;
    c.ticks({0, 0, 0, 0, 0, 0, 0, 0});
    EXPECT_EQ(c.position, 199);
    c.ticks({3});
    EXPECT_EQ(c.bar.value, 199);
    c.ticks({1, 3});  // still below the target: draws go on, the position does not
    EXPECT_EQ(c.position, 199);
    EXPECT_EQ(c.bar.value, 199);
}

TEST(Creep, LoweredMaximumClampsTheShownValue) {
    Creep c;
    c.bar.max = 100;  // lowered after the position had reached 150
    c.bar.value = 20;
    c.position = 150;
    c.target = 180;
    c.ticks({3});
    EXPECT_EQ(c.bar.value, 100);
    EXPECT_EQ(c.position, 150);
}

TEST(Creep, CatchUpRoundsHalfToEven) {
    EXPECT_EQ(RoundHalfEven(10.5f), 10);
    EXPECT_EQ(RoundHalfEven(11.5f), 12);
    EXPECT_EQ(RoundHalfEven(11.4f), 11);
    EXPECT_EQ(RoundHalfEven(-2.5f), -2);
    EXPECT_EQ(RoundHalfEven(40000.0f), 32767);
    Creep c;
    c.bar.value = 12.5f;
    c.position = 3;
    c.idleTick();
    EXPECT_EQ(c.position, 12);
}

TEST(Creep, ClockSeededDrawStaysInRangeAndVaries) {
    RandomDraw d = vellum::progress::ClockSeededDraw();
    int seen[5] = {};
    for (int i = 0; i < 500; ++i) {
        int r = d();
        ASSERT_GE(r, 0);
        ASSERT_LE(r, 4);
        ++seen[r];
    }
    for (int n : seen) EXPECT_GT(n, 40);  // about 100 each
}

}  // namespace
