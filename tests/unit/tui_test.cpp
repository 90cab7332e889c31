// The GUI back end's loop clocks: timers, the frame pacer on a fake clock, and double-click
// timing.
#include <gtest/gtest.h>

#include <deque>
#include <string>

#include "runtime/tui/loop.h"

using namespace kov::tui;

namespace {

class FakeClock : public Clock {
public:
    double t = 1000;
    double now_ms() override { return t; }
};

// Each read hands out the next script entry; the pass's work is simulated by moving the clock.
class FakeSource : public ByteSource {
public:
    FakeClock& clock;
    std::deque<std::string> script;
    std::vector<int> timeouts;
    explicit FakeSource(FakeClock& c) : clock(c) {}
    int read(unsigned char* b, int cap, int timeout_ms) override {
        timeouts.push_back(timeout_ms);
        if (script.empty() || script.front().empty()) {
            if (!script.empty()) script.pop_front();
            clock.t += timeout_ms;
            return 0;
        }
        std::string s = script.front();
        script.pop_front();
        int n = static_cast<int>(s.size()) < cap ? static_cast<int>(s.size()) : cap;
        std::copy(s.begin(), s.begin() + n, b);
        return n;
    }
};

}  // namespace

TEST(TuiTimers, RatesAndOrder) {
    EXPECT_EQ(period_of_rate(2), 500);
    EXPECT_EQ(period_of_rate(0), 0);
    EXPECT_EQ(period_of_seconds(-1.0), 0);
    EXPECT_EQ(period_of_seconds(1e12), 0x7FFFFFFF);  // a slow rate never fires every frame
    Timers t;
    t.add(1, 500);
    t.add(2, 66);
    std::vector<int32_t> fired;
    for (int i = 0; i < 15; ++i) t.advance(33, fired);
    EXPECT_EQ(std::count(fired.begin(), fired.end(), 1), 0);
    t.advance(33, fired);  // 528 ms
    EXPECT_EQ(std::count(fired.begin(), fired.end(), 1), 1);
    EXPECT_EQ(std::count(fired.begin(), fired.end(), 2), 8);
    t.remove(1);
    EXPECT_EQ(t.size(), 1u);
}

TEST(TuiPacer, NominalFramesAndSlowWork) {
    FakeClock clock;
    FakeSource src(clock);
    Pacer p(clock, src);
    kov::terminal::Decoder d{kov::terminal::back_end_reading};
    Timers t;
    std::vector<int32_t> fired;
    // Work of 5 ms: the next pass waits 28 ms and moves the timers by 33.
    auto pass = p.begin(d, t, fired, false);
    EXPECT_EQ(pass.advanced, 33);
    clock.t += 5;
    p.end();
    src.timeouts.clear();
    pass = p.begin(d, t, fired, false);
    EXPECT_EQ(src.timeouts, (std::vector<int>{0, 28}));
    EXPECT_EQ(pass.advanced, 33);
    // Work of 50 ms: no wait, timers move by 50.
    clock.t += 50;
    p.end();
    src.timeouts.clear();
    pass = p.begin(d, t, fired, false);
    EXPECT_EQ(src.timeouts, (std::vector<int>{0}));
    EXPECT_EQ(pass.advanced, 50);
    // Input ends the wait early; the frame still counts 33 ms.
    p.end();
    src.script = {"", "k"};
    pass = p.begin(d, t, fired, false);
    EXPECT_TRUE(pass.got_input);
    EXPECT_EQ(pass.advanced, 33);
}

TEST(TuiPacer, SinglePassStillRunsDueTimers) {
    FakeClock clock;
    FakeSource src(clock);
    Pacer p(clock, src);
    kov::terminal::Decoder d{kov::terminal::back_end_reading};
    Timers t;
    t.add(7, 100);
    std::vector<int32_t> fired;
    p.begin(d, t, fired, true);
    p.end();
    clock.t += 150;  // the script slept
    auto pass = p.begin(d, t, fired, true);
    EXPECT_FALSE(pass.got_input);
    EXPECT_EQ(fired, (std::vector<int32_t>{7}));
}

TEST(TuiClicks, DoubleClickTiming) {
    Clicks c;
    auto frames = [&](int n) {
        for (int i = 0; i < n; ++i) c.tick();
    };
    EXPECT_FALSE(c.take_double());  // first click
    c.released();
    frames(12);  // 396 ms
    EXPECT_TRUE(c.take_double());
    c.released();
    EXPECT_FALSE(c.take_double());  // a third click right after is a plain click
    c.released();
    frames(16);  // 528 ms: too slow
    EXPECT_FALSE(c.take_double());
}
