// pair!: two signed 32-bit integers written joined by "x" (640x480). The module holds the
// cell layout and its constructors so far; the actions (integer arithmetic that falls over into
// point2D!, text, path access) come with the datatype's own registration.
//
// Cell: w2 x, w3 y (signed); w1 unused.
//
// Only the constructors that append to a block may move memory.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kov::pair {

// ---- cell helpers -------------------------------------------------------------------------------
inline int32_t x(const Cell& c) { return static_cast<int32_t>(c.w2); }
inline int32_t y(const Cell& c) { return static_cast<int32_t>(c.w3); }

// ---- constructors -------------------------------------------------------------------------------
// The cell's type becomes pair!, its header flags kept.
inline Cell& make_at(Cell& c, int32_t x, int32_t y) {
    cell::set_type(c, T_pair);
    c.w2 = static_cast<uint32_t>(x);
    c.w3 = static_cast<uint32_t>(y);
    return c;
}
inline Cell make(int32_t x, int32_t y) { return Cell{T_pair, 0, static_cast<uint32_t>(x), static_cast<uint32_t>(y)}; }
Cell* make_in(memory::Node block, int32_t x, int32_t y);
Cell* push(int32_t x, int32_t y);

}  // namespace kov::pair
