// float! and percent!: the 64-bit IEEE double, and the same double printed as a percentage
// (a percent! holds the fraction: 50% is 0.5). float! is the number engine of the types built
// on doubles: its arithmetic (`math`, `do_math`), comparison and rounding also serve
// percent!, integer! with a float operand, and time!.
//
// The arithmetic keeps IEEE semantics: division by zero gives an infinity, an invalid
// operation NaN, never an error. Comparison for equality is near-equality (a few units in the
// last place); strict-equal? and same? are exact; every ordering test with a NaN is false.
//
// Cell: w2-w3 the double (low word first); w1 unused.
//
// Only the constructors that append to a block and form/mold (which append to the output
// string) may move memory.
#pragma once
#include <bit>
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/datatypes/registry.h"
#include "runtime/float_text.h"
#include "runtime/memory.h"

namespace kov::float_ {

inline Cell& make_at(Cell& c, double d) { return cell::store_double(c, T_float_, c.w1, d); }
inline Cell make(double d) { return cell::with_double(T_float_, d); }
// An operation's float answer into out, written whole, made from its operand c as an answer
// made in c's cell: c's header flags (none where plain) and the word a float leaves unused.
inline void make_from(Cell& out, const Cell& c, double d, bool plain) {
    uint64_t bits = std::bit_cast<uint64_t>(d);
    cell::store(out, plain ? uint32_t(T_float_) : (c.header & ~0xFFu) | T_float_, c.w1, static_cast<uint32_t>(bits),
                static_cast<uint32_t>(bits >> 32));
}
Cell* make_in(memory::Node block, double d);
Cell* push(double d);
Cell* box(double d);
inline double get_value(const Cell& c) {
    cell::expect(cell::is(c, T_float_) || cell::is(c, T_percent) || cell::is(c, T_time));
    return cell::get_double(c);
}

// ---- number predicates on raw values ------------------------------------------------------------
bool nan_q(double d);
inline bool unordered_q(float f) { return f != f; }
bool special_q(double d);          // an infinity or a NaN
double abs(double d);              // the sign bit cleared
// Near-equality of two 32-bit floats (vector elements): never for a NaN; within 10 units in
// the last place for finite values; at the top of the range (the largest finite float or an
// infinity) a wider window of the same sign.
bool equal_nan_safe_q(float a, float b);
// Near-equality of two doubles as equal? sees it: no NaN, and equal, or closer than the
// machine epsilon, or at most 10 representable doubles apart.
bool nearly_equal_q(double a, double b);

// ---- arithmetic ---------------------------------------------------------------------------------
// Operation codes 0-4 (add, subtract, multiply, divide, remainder) on two doubles; any other
// code raises script/cannot-use.
double do_math(double a, double b, int32_t op);
// The arithmetic of a left operand of integer!, float!, percent! or time! with the right
// operand b; the result goes into a. The result type: time! when exactly one operand is a
// time!, else percent! when a is a percent!, else a's type (float! for an integer! a).
Cell* math(Cell* a, Cell* b, int32_t op);

// ---- actions other types reach directly ---------------------------------------------------------
// value is a float!, percent! or time! cell (integer! converts its value first).
int32_t compare(Cell* value, Cell* other, int32_t op);
Cell* round(Cell* n, Cell* scale, const RoundArgs& how);

void init();

}  // namespace kov::float_

namespace kov::percent {

inline Cell& make_at(Cell& c, double fraction) { return cell::store_double(c, T_percent, c.w1, fraction); }
inline Cell make(double fraction) { return cell::with_double(T_percent, fraction); }
Cell* make_in(memory::Node block, double fraction);
Cell* push(double fraction);

void init();

}  // namespace kov::percent
