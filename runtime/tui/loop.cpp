#include "runtime/tui/loop.h"

#include <cmath>

namespace kov::tui {

namespace {

constexpr uint32_t number_limit = 0x7FFFFFFF;

}  // namespace

// ---- timers ---------------------------------------------------------------------------------

void Timers::add(int32_t owner, int32_t period) { list_.push_back({owner, period, 0, false, false}); }

void Timers::remove(int32_t owner) {
    for (size_t i = list_.size(); i-- > 0;) {
        if (list_[i].owner == owner) {
            list_.erase(list_.begin() + static_cast<std::ptrdiff_t>(i));
            return;
        }
    }
}

void Timers::advance(int32_t elapsed, std::vector<int32_t>& fired) {
    for (Timer& t : list_) {
        t.elapsed = t.elapsed > static_cast<int32_t>(number_limit) - elapsed ? static_cast<int32_t>(number_limit) : t.elapsed + elapsed;
        if (t.fired || t.elapsed < t.period) continue;
        fired.push_back(t.owner);
        t.elapsed = 0;
        t.fired = t.one_shot;
    }
}

int32_t period_of_rate(int64_t per_second) { return per_second > 0 ? static_cast<int32_t>(1000 / per_second) : 0; }

int32_t period_of_seconds(double seconds) {
    if (!(seconds > 0)) return 0;
    double ms = std::trunc(seconds * 1000);
    return ms >= number_limit ? static_cast<int32_t>(number_limit) : static_cast<int32_t>(ms);
}

// ---- the pacer ------------------------------------------------------------------------------

int Pacer::read_into(terminal::Decoder& decoder, int timeout_ms, Pass& pass) {
    unsigned char bytes[4096];
    int got = source_.read(bytes, sizeof bytes, timeout_ms);
    if (got > 0) {
        decoder.feed(bytes, static_cast<size_t>(got));
        pass.got_input = true;
    } else if (got == -3) {
        pass.resized = true;
    } else if (got == -4) {
        pass.interrupted = true;
    }
    return got;
}

Pacer::Pass Pacer::begin(terminal::Decoder& decoder, Timers& timers, std::vector<int32_t>& fired, bool once) {
    Pass pass;
    read_into(decoder, 0, pass);
    double now = clock_.now_ms();
    if (once) {
        double since = last_ < 0 ? 0 : now - last_;
        frame_ = since > number_limit ? static_cast<int32_t>(number_limit) : static_cast<int32_t>(since);
    } else if (frame_ <= frame_ms) {
        if (!pass.got_input && !pass.resized && !pass.interrupted) read_into(decoder, frame_ms - frame_, pass);
        frame_ = frame_ms;
    }
    start_ = clock_.now_ms();
    last_ = start_;
    pass.advanced = frame_;
    timers.advance(frame_, fired);
    return pass;
}

void Pacer::end() {
    double took = clock_.now_ms() - start_;
    frame_ = took <= 0 ? 0 : took > number_limit ? static_cast<int32_t>(number_limit) : static_cast<int32_t>(took);
}

}  // namespace kov::tui
