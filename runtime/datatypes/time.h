// time!: a duration or time of day, held as seconds in a 64-bit double (negative for negative
// durations). It is a child of float! and takes float!'s arithmetic, comparison and rounding;
// its own are the text h:mm:ss, construction from [hours minutes seconds], access to its
// fields, and the rules that keep time arithmetic sensible (time times time is refused, time
// divided by time is a plain number).
//
// Fields: the hour is the whole hours truncated toward zero (so it carries the sign), the
// minute the minutes within the hour of the magnitude (0 to 59), the second the seconds
// within the minute with the sign of the time. Writing a field moves the time by the
// difference between the new and the old field as read, so that writing back what was read
// changes nothing, for negative times too.
//
// Cell: w2-w3 the seconds (low word first); w1 unused.
//
// Moving memory: the constructors that append to a block, form and mold (which append to
// the output), make/to from text (the lexer) and path assignment (which stores the time back
// and may run change hooks) may move memory; the arithmetic does not.
#pragma once
#include <cmath>
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kov::time {

constexpr double seconds_per_hour = 3600.0;
constexpr double seconds_per_minute = 60.0;
// The smallest seconds shown, and the nudge of even? and odd?.
constexpr double smallest_seconds = 1e-06;

// ---- cell helpers -------------------------------------------------------------------------------
inline double get(const Cell& c) { return cell::get_double(c); }

// Whole hours, truncated toward zero (so negative for a negative time).
inline double hours_of(double seconds) { return std::trunc(seconds / seconds_per_hour); }
// Minutes within the hour of the magnitude, 0 to 59.
inline double minutes_of(double seconds) {
    return std::floor(std::fmod(std::fabs(seconds), seconds_per_hour) / seconds_per_minute);
}
// Seconds within the minute, with the sign of the time.
inline double seconds_of(double seconds) { return std::fmod(seconds, seconds_per_minute); }

// ---- constructors -------------------------------------------------------------------------------
// The cell's type becomes time!, its header flags kept.
inline Cell& make_at(Cell& c, double seconds) { return cell::store_double(c, T_time, 0, seconds); }
inline Cell make(double seconds) { return cell::with_double(T_time, seconds); }
Cell* make_in(memory::Node block, double seconds);
Cell* push(double seconds);

void init();

}  // namespace kov::time
