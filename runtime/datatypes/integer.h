// integer!: the 32-bit signed integer. Its arithmetic never wraps: an add, subtract or
// multiply that overflows, and a division that does not come out even, give a float!;
// -2147483648 divided by -1, and its remainder by -1, raise math/overflow.
// `do_math` is the 32-bit worker shared with char!, pair!, tuple! and vector!.
//
// Cell: w2 the value.
#pragma once
#include <cstdint>
#include <cstring>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kov::integer {

inline Cell& make_at(Cell& c, int32_t v) {
    cell::store(c, cell::retyped(c.header, T_integer), c.w1, static_cast<uint32_t>(v), c.w3);
    return c;
}
inline Cell make(int32_t v) { return Cell{T_integer, 0, static_cast<uint32_t>(v), 0}; }
// An integer cell like c (an integer: its header and the words around its value) holding v,
// into out: the cell loaded whole, the value inserted and the cell written whole (one load,
// one insert, one store), as make_at writes it.
inline void make_like(Cell& out, const Cell& c, int32_t v) {
    using Words = uint32_t __attribute__((vector_size(16)));
    Words w;
    std::memcpy(&w, &c, sizeof w);
    w[2] = static_cast<uint32_t>(v);
    std::memcpy(&out, &w, sizeof w);
}
// An integer cell given another value in place: make_at's answer for a cell that holds an
// integer already (an integer has no header flags of its own to drop, so the header and the
// other words stay). Written whole, as make_at writes it: a cell copied soon after would wait
// for one written word by word.
inline void set(Cell& c, int32_t v) { make_like(c, c, v); }
// An integer cell's value given delta more, in place, where the caller has made sure the sum
// does not overflow: written whole as set writes it, the sum made in the vector register the
// cell is loaded into, so that a counter's chain from one iteration to the next is one load,
// one add and one store (set's insert of a sum made apart takes several steps more, and made
// count's loop wait on them: 16% of its time). Where the sum is read again soon, as an operand
// of the next operation, set's way is quicker: its value is at hand in a register.
inline void add_unchecked(Cell& c, int32_t delta) {
    using Words = uint32_t __attribute__((vector_size(16)));
    Words w;
    std::memcpy(&w, &c, sizeof w);
    Words d = {0, 0, static_cast<uint32_t>(delta), 0};
    w += d;
    std::memcpy(&c, &w, sizeof w);
}
Cell* make_in(memory::Node block, int32_t v);
Cell* push(int32_t v);
Cell* box(int32_t v);
// char! inherits integer!'s actions and keeps its code point in the same word.
inline int32_t get(const Cell& c) {
    cell::expect(cell::is(c, T_integer) || cell::is(c, T_char_));
    return static_cast<int32_t>(c.w2);
}

inline int32_t sign(int32_t n) { return n < 0 ? -1 : (n > 0 ? 1 : 0); }
// |n|; -2147483648 raises math/overflow.
int32_t abs(int32_t n);
// Decimal text of n into out (at least 12 bytes); gives its length.
uint32_t form_signed(int32_t n, char* out);

// Operation codes shared by every arithmetic dispatcher.
enum Op : int32_t { add = 0, subtract = 1, multiply = 2, divide = 3, remainder = 4, or_ = 5, and_ = 6, xor_ = 7 };

// The 32-bit worker. With a cell, an overflowing add, subtract or multiply, and an uneven
// division, turn the cell into a float! holding the exact result (and the answer is 0);
// otherwise the answer is stored in the cell's w2 (its type unchanged). A zero divisor raises
// math/zero-divide, -2147483648 by -1 (divide or remainder) math/overflow.
int32_t do_math(int32_t a, int32_t b, int32_t op, Cell* result);
// The integer answer of an add, subtract, multiply or remainder, where there is one without
// raising: false for an overflow (do_math makes it a float), for the divisors that raise or
// overflow (0 and -1, which do_math checks), and for every other operation. do_math and the
// interpreter's in-place operators both take it, so the shortcut cannot answer otherwise.
[[gnu::always_inline]] inline bool fast_math(int32_t a, int32_t b, int32_t op, int32_t& r) {
    switch (op) {
    case add: return !__builtin_add_overflow(a, b, &r);
    case subtract: return !__builtin_sub_overflow(a, b, &r);
    case multiply: return !__builtin_mul_overflow(a, b, &r);
    case remainder:
        if (b == 0 || b == -1) return false;
        r = a % b;
        return true;
    default: return false;
    }
}
// The arithmetic and bitwise actions with an integer left operand; the result goes into a.
Cell* math(Cell* a, Cell* b, int32_t op);

void init();

}  // namespace kov::integer
