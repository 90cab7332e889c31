// time!: a duration or time of day, held as seconds in a 64-bit double (negative for negative
// durations). The module holds the cell layout and its constructors so far; the actions
// (arithmetic through float!, text, path access) come with the datatype's own registration.
//
// Cell: w2-w3 the seconds (low word first); w1 unused.
//
// Only the constructors that append to a block may move memory.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kov::time {

constexpr double seconds_per_hour = 3600.0;
constexpr double seconds_per_minute = 60.0;

// ---- cell helpers -------------------------------------------------------------------------------
inline double get(const Cell& c) { return cell::get_double(c); }

// ---- constructors -------------------------------------------------------------------------------
// The cell's type becomes time!, its header flags kept.
inline Cell& make_at(Cell& c, double seconds) {
    cell::set_type(c, T_time);
    cell::set_double(c, seconds);
    return c;
}
inline Cell make(double seconds) {
    Cell c{T_time, 0, 0, 0};
    cell::set_double(c, seconds);
    return c;
}
Cell* make_in(memory::Node block, double seconds);
Cell* push(double seconds);

}  // namespace kov::time
