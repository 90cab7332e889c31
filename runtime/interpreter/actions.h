// Action dispatch helpers that datatypes and natives call directly: the comparison entry
// (raw answer and its logic mapping) and the argument errors of actions.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/datatypes/registry.h"

namespace kov::actions {

// Comparison codes.
enum Compare : int32_t {
    equal = 0, not_equal = 1, strict_equal = 2, lesser = 3, lesser_or_equal = 4, greater = 5,
    greater_or_equal = 6, sort_order = 7, sort_order_case = 8, same = 9, parse_strict = 10,
    parse_loose = 11, find_equal = 12,
};
constexpr int32_t not_comparable = -2;

// The codes that ask whether two values are equal (every other code asks for an order).
constexpr bool equality_code(int32_t op) {
    return op == equal || op == not_equal || op == strict_equal || op == same || op == find_equal;
}
// The codes under which the unit types answer: equality and the sorting orders.
constexpr bool unit_code(int32_t op) { return equality_code(op) || op == sort_order || op == sort_order_case; }

// The raw answer of the first value's comparison slot: -1, 0, 1, or -2 (not comparable).
int32_t compare_direct(const Cell& a, const Cell& b, int32_t op);
// The answer as a logic; -2 under an ordering code raises script/invalid-compare.
bool compare(const Cell& a, const Cell& b, int32_t op);
// -1, 0 or 1 from any difference.
inline int32_t sign_of(int64_t d) { return d < 0 ? -1 : (d > 0 ? 1 : 0); }
// The answer of a sort comparator function: true or a negative number puts its first
// argument first, 0 means equal, anything else puts it after.
int32_t comparator_answer(const Cell& answer);

// script/expect-arg for a value given to an action that does not take its datatype: the
// calling function's word, the value's datatype and the argument's word.
// Defined in natives.cpp, beside the natives' own argument errors.
[[noreturn]] void fire_expect_arg(const Cell& value, int32_t arg_index);

}  // namespace kov::actions
