// The number operators compiled code does itself: which built-in operator a function is, and
// the answer it gives for two integers or floats, made in registers and written as a whole
// cell, exactly as the action or native would leave it in its first argument's cell (the left
// operand's header kept; an integer that overflows, or an uneven division, a float). Anything
// else (other types, a zero divisor, a division of -2147483648 by -1) is left to the full
// call, which raises what it must.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/natives.h"

namespace kov::interp {

// The built-in operators that compiled code does in place, numbered.
enum Operation : uint8_t {
    op_add, op_subtract, op_multiply, op_remainder, op_divide,
    op_equal, op_strict_equal, op_not_equal, op_lesser, op_greater, op_lesser_or_equal, op_greater_or_equal,
    op_none
};
constexpr bool comparison(uint8_t op) { return op >= op_equal && op < op_none; }

[[gnu::always_inline]] inline Operation operation_of(const Cell& fn) {
    if (cell::is(fn, T_action)) {
        switch (function::entry_index(fn) - 1) {
        case actions::slot::add: return op_add;
        case actions::slot::subtract: return op_subtract;
        case actions::slot::multiply: return op_multiply;
        case actions::slot::remainder: return op_remainder;
        case actions::slot::divide: return op_divide;
        default: return op_none;
        }
    }
    if (!cell::is(fn, T_native)) return op_none;
    switch (function::entry_index(fn)) {
    case natives::index::equal_q: return op_equal;
    case natives::index::strict_equal_q: return op_strict_equal;
    case natives::index::not_equal_q: return op_not_equal;
    case natives::index::lesser_q: return op_lesser;
    case natives::index::greater_q: return op_greater;
    case natives::index::lesser_or_equal_q: return op_lesser_or_equal;
    case natives::index::greater_or_equal_q: return op_greater_or_equal;
    default: return op_none;
    }
}

// An operation on two integers a and b, its answer given to put_integer, put_float or
// put_logic, which write it where the caller keeps it (integer::do_math's answers: an
// overflowing add, subtract or multiply and an uneven division give the exact float). False
// where the full call must run: a divisor that raises or overflows.
template <class PutInteger, class PutFloat, class PutLogic>
[[gnu::always_inline]] inline bool integer_answer(uint8_t operation, int32_t a, int32_t b, PutInteger put_integer,
                                                  PutFloat put_float, PutLogic put_logic) {
    int32_t r;
    switch (operation) {
    case op_add:
        if (__builtin_add_overflow(a, b, &r)) [[unlikely]] return put_float(double(a) + double(b)), true;
        break;
    case op_subtract:
        if (__builtin_sub_overflow(a, b, &r)) [[unlikely]] return put_float(double(a) - double(b)), true;
        break;
    case op_multiply:
        if (__builtin_mul_overflow(a, b, &r)) [[unlikely]] return put_float(double(a) * double(b)), true;
        break;
    case op_remainder:
        if (!integer::fast_math(a, b, integer::remainder, r)) return false;
        break;
    case op_divide:
        if (b == 0 || b == -1) return false;
        if (a % b != 0) return put_float(double(a) / double(b)), true;
        r = a / b;
        break;
    case op_equal: case op_strict_equal: put_logic(a == b); return true;
    case op_not_equal: put_logic(a != b); return true;
    case op_lesser: put_logic(a < b); return true;
    case op_greater: put_logic(a > b); return true;
    case op_lesser_or_equal: put_logic(a <= b); return true;
    case op_greater_or_equal: put_logic(a >= b); return true;
    default: return false;
    }
    put_integer(r);
    return true;
}

// The answer of two integers into out: an integer keeps the left operand's header (as do_math
// leaves it in its cell), a float from an overflow or a division takes a plain float! header.
[[gnu::always_inline]] inline bool integer_operation(uint8_t operation, const Cell& left, int32_t b, Cell& out) {
    return integer_answer(
        operation, integer::get(left), b, [&](int32_t r) { integer::make_like(out, left, r); },
        [&](double d) { float_::make_from(out, left, d, true); },
        [&](bool v) { logic::make_at(out, v); });
}

// An operator with a float on either side (the other an integer or a float), as float_::math
// and the comparison natives answer it: a float result keeps the left operand's header but
// for its type; an ordering is IEEE's (every order with a NaN false), equality float!'s
// nearly-equal, strict equality the same type and the same number. None of them raises.
[[gnu::noinline]] inline bool float_operation(uint8_t operation, const Cell& left, const Cell& right, Cell& out) {
    uint32_t lt = cell::type(left), rt = cell::type(right);
    if ((lt != T_float_ && lt != T_integer) || (rt != T_float_ && rt != T_integer)) return false;
    double a = lt == T_float_ ? cell::get_double(left) : double(integer::get(left));
    double b = rt == T_float_ ? cell::get_double(right) : double(integer::get(right));
    double r;
    switch (operation) {
    case op_add: r = a + b; break;
    case op_subtract: r = a - b; break;
    case op_multiply: r = a * b; break;
    case op_divide: r = a / b; break;
    case op_equal: logic::make_at(out, float_::nearly_equal_q(a, b)); return true;
    case op_not_equal: logic::make_at(out, !float_::nearly_equal_q(a, b)); return true;
    case op_strict_equal: logic::make_at(out, lt == rt && a == b); return true;
    case op_lesser: logic::make_at(out, a < b); return true;
    case op_greater: logic::make_at(out, a > b); return true;
    case op_lesser_or_equal: logic::make_at(out, a <= b); return true;
    case op_greater_or_equal: logic::make_at(out, a >= b); return true;
    default: return false;
    }
    float_::make_from(out, left, r, false);
    return true;
}

// Two floats added, taken away, multiplied or divided: float_operation's answer, inline.
constexpr bool float_arithmetic_q(uint8_t operation) { return operation <= op_multiply || operation == op_divide; }
[[gnu::always_inline]] inline void float_arithmetic(uint8_t operation, const Cell& left, const Cell& right, Cell& out) {
    double a = cell::get_double(left), b = cell::get_double(right);
    double r = operation == op_add ? a + b : operation == op_subtract ? a - b : operation == op_multiply ? a * b : a / b;
    float_::make_from(out, left, r, false);
}

// An operator on two numbers, its answer into out (which may be the left operand's own cell);
// false where the full call must run.
[[gnu::always_inline]] inline bool number_operation(uint8_t operation, const Cell& left, const Cell& right, Cell& out) {
    if (cell::is(left, T_integer) && cell::is(right, T_integer)) [[likely]]
        return integer_operation(operation, left, integer::get(right), out);
    if (cell::is(left, T_float_) && cell::is(right, T_float_) && float_arithmetic_q(operation))
        return float_arithmetic(operation, left, right, out), true;
    return float_operation(operation, left, right, out);
}

}  // namespace kov::interp
