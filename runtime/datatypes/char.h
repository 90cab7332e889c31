// char!: one Unicode code point, 0 to 0x10FFFF. It registers with integer! as its parent and
// computes with integer!'s 32-bit worker, but keeps its results inside the code-point range
// and keeps its own type: a character plus a number is a character.
//
// Cell: w2 the code point.
//
// The constructors that append to a block, form and mold may move memory. A character's molded
// text comes from string::mold_char, which strings and vectors share.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kov::char_ {

constexpr int32_t max_code_point = 0x10FFFF;

inline Cell& make_at(Cell& c, int32_t cp) {
    cell::retype(c, T_char_);
    c.w2 = static_cast<uint32_t>(cp);
    return c;
}
inline Cell make(int32_t cp) { return Cell{T_char_, 0, static_cast<uint32_t>(cp), 0}; }
Cell* make_in(memory::Node block, int32_t cp);
Cell* push(int32_t cp);
inline int32_t get(const Cell& c) {
    cell::expect(cell::is(c, T_char_));
    return static_cast<int32_t>(c.w2);
}
// The code point replaced, the header kept.
inline void set(Cell& c, int32_t cp) {
    cell::expect(cell::is(c, T_char_));
    c.w2 = static_cast<uint32_t>(cp);
}

// The arithmetic and bitwise actions with a char! left operand; the result goes into a.
Cell* math(Cell* a, Cell* b, int32_t op);

void init();

}  // namespace kov::char_
