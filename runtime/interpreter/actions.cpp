#include "runtime/interpreter/actions.h"

#include "runtime/cells.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/families.h"
#include "runtime/interpreter/stack.h"
#include "runtime/runtime.h"

namespace kov::actions {

int32_t compare_direct(const Cell& a, const Cell& b, int32_t op) {
    auto fn = lookup<slot::compare>(cell::type(a));
    if (!fn) return not_comparable;
    return fn(const_cast<Cell*>(&a), const_cast<Cell*>(&b), op);
}

bool compare(const Cell& a, const Cell& b, int32_t op) {
    int32_t r = compare_direct(a, b, op);
    if (r == not_comparable) {
        switch (op) {
        case equal: case strict_equal: case same: case parse_strict: case parse_loose: case find_equal:
            return false;
        case not_equal:
            return true;
        default:
            error::fire(err::script_invalid_compare, a, b);
        }
    }
    switch (op) {
    case equal: case strict_equal: case same: case parse_strict: case parse_loose: case find_equal:
        return r == 0;
    case not_equal: return r != 0;
    case lesser: return r < 0;
    case lesser_or_equal: return r < 1;
    case greater: return r >= 1;
    case greater_or_equal: return r >= 0;
    default: runtime::no_switch_matched();
    }
}

int32_t comparator_answer(const Cell& r) {
    switch (cell::type(r)) {
    case T_logic: return logic::get(r) ? -1 : 1;
    case T_integer: return sign_of(integer::get(r));
    case T_float_: {
        double d = cell::get_double(r);
        return d < 0 ? -1 : (d == 0 ? 0 : 1);
    }
    default: return 1;
    }
}

}  // namespace kov::actions
