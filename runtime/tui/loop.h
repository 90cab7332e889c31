// The GUI back end's event loop clocks: the frame pacer, which reads the terminal into the
// decoder (runtime/terminal/input.h) and waits out each 33 ms frame, the face timers and the
// double-click timing.
//
// Timers are kept in creation order, each named by its owner's id; elapsed times saturate
// rather than overflow. The clock and the byte source are handed in, so that tests never
// sleep. Moving memory: nothing here allocates series memory or runs Kov code.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "runtime/terminal/input.h"

namespace kov::tui {

// The face timers, in order of creation, each named by its owner's id.
class Timers {
public:
    void add(int32_t owner, int32_t period);
    // The last timer of the owner.
    void remove(int32_t owner);
    // Advances every timer; the owners of those that fired, in list order.
    void advance(int32_t elapsed, std::vector<int32_t>& fired);
    size_t size() const { return list_.size(); }
    void clear() { list_.clear(); }

private:
    struct Timer {
        int32_t owner, period, elapsed;
        bool one_shot, fired;
    };
    std::vector<Timer> list_;
};

// A timer period from a face's rate: n per second, or seconds; 0 when the rate is unusable.
int32_t period_of_rate(int64_t per_second);
int32_t period_of_seconds(double seconds);

// Double clicks: two completed clicks less than 500 ms apart, counted in frames.
class Clicks {
public:
    // Once per frame.
    void tick() {
        if (state_ == 2 && timer_ < 800) timer_ += 33;
    }
    // Whether a click now completes a double click; it then counts as the double click.
    bool take_double() {
        if (state_ == 2 && timer_ < 500) {
            state_ = 10;
            return true;
        }
        return false;
    }
    // After every button release.
    void released() {
        state_ = state_ == 10 ? 0 : 2;
        timer_ = 0;
    }
    void reset() { state_ = timer_ = 0; }

private:
    int state_ = 0, timer_ = 0;
};

class Clock {
public:
    virtual ~Clock() = default;
    virtual double now_ms() = 0;
};

class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Up to capacity bytes, waiting at most timeout_ms for the first: the count, 0 when
    // nothing came, or a negative code (the terminal's: end of input, resized, interrupt).
    virtual int read(unsigned char* buffer, int capacity, int timeout_ms) = 0;
};

// One pass of the event loop up to its dispatch: read, wait out the frame, advance the
// timers. Passes are 33 ms of nominal time; one whose work took longer counts what it took.
class Pacer {
public:
    static constexpr int frame_ms = 33;
    Pacer(Clock& clock, ByteSource& source) : clock_(clock), source_(source) {}

    struct Pass {
        bool got_input = false;
        bool resized = false;
        bool interrupted = false;
        int32_t advanced = 0;  // ms the timers moved
    };
    // A single pass (`once`, while a script waits) does not wait: its timers move by the
    // time since the pass before.
    Pass begin(terminal::Decoder& decoder, Timers& timers, std::vector<int32_t>& fired, bool once);
    // After the dispatch: what the pass's work took, for the next pass's wait.
    void end();
    void reset() { frame_ = 0; last_ = -1; }
    int32_t frame() const { return frame_; }

private:
    int read_into(terminal::Decoder& decoder, int timeout_ms, Pass& pass);

    Clock& clock_;
    ByteSource& source_;
    int32_t frame_ = 0;
    double start_ = 0;
    double last_ = -1;
};

}  // namespace kov::tui
