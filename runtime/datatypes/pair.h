// pair!: two signed 32-bit integers written joined by "x" (640x480), for sizes, offsets and
// coordinates. Its arithmetic is integer arithmetic per component; when a component's result
// would not be an integer (overflow, an uneven division, a float factor or divisor), the whole
// operation is done in point2D! instead and the result is a point2D!.
//
// Cell: w2 x, w3 y (signed); w1 unused.
//
// Moving memory: the constructors that append to a block, form and mold (which append to
// the output), make/to from text (the lexer) and path assignment (which stores the pair back
// and may run change hooks) may move memory; the arithmetic does not.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kov::pair {

// ---- cell helpers -------------------------------------------------------------------------------
inline int32_t x(const Cell& c) {
    cell::expect(cell::is(c, T_pair));
    return static_cast<int32_t>(c.w2);
}
inline int32_t y(const Cell& c) {
    cell::expect(cell::is(c, T_pair));
    return static_cast<int32_t>(c.w3);
}

// ---- constructors -------------------------------------------------------------------------------
// The cell's type becomes pair!, its generic header flags kept.
inline Cell& make_at(Cell& c, int32_t x, int32_t y) {
    cell::retype(c, T_pair);
    c.w1 = 0;
    c.w2 = static_cast<uint32_t>(x);
    c.w3 = static_cast<uint32_t>(y);
    return c;
}
inline Cell make(int32_t x, int32_t y) { return Cell{T_pair, 0, static_cast<uint32_t>(x), static_cast<uint32_t>(y)}; }
Cell* make_in(memory::Node block, int32_t x, int32_t y);
Cell* push(int32_t x, int32_t y);

// ---- internal routines --------------------------------------------------------------------------
// The pair in the cell becomes the point2D! of the same coordinates, in place.
void as_point2d(Cell& c);
// The integer of an integer! cell, or a float! truncated toward zero (script/type-limit when
// it has no 32-bit integer).
int32_t get_int(const Cell& c);

// The arithmetic and bitwise actions (operation codes of integer::Op) with a pair in a and
// the right operand in b; the result (a pair! or a point2D!) goes into a.
Cell* math(Cell* a, Cell* b, int32_t op);
// b minus the pair in a (a number on the left of a subtraction); the result goes into a.
Cell* subtract_from(Cell* a, Cell* b);

void init();

}  // namespace kov::pair
