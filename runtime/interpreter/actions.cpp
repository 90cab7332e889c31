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

void fire_expect_arg(const Cell& value, int32_t arg_index) {
    // The calling function's word, and the word naming its argument at that index (counting
    // the words, lit-words, get-words and refinements of its spec), or <anon>.
    uint32_t symbol = 0, context = 0;
    stack::caller_word(symbol, context);
    Cell caller = symbol ? word::cell_of(T_word, symbol, context) : none::value;
    Cell type{T_datatype, cell::type(value), 0, 0};
    Cell arg{T_word, 0, stack::anon_symbol(), 0xFFFFFFFFu};
    const Cell* fn = symbol ? context::get_any(symbol, context) : nullptr;
    uint32_t t = fn ? cell::type(*fn) : 0;
    if (in(t, ANY_FUNCTION)) {
        memory::Buffer* spec = memory::buffer(function::spec_of(*fn));
        const Cell* c = cells::of(spec);
        int32_t n = 0;
        for (uint32_t i = 0, count = spec->used() / sizeof(Cell); i < count; ++i) {
            uint32_t ct = cell::type(c[i]);
            if (ct != T_word && ct != T_lit_word && ct != T_get_word && ct != T_refinement) continue;
            if (n++ == arg_index) {
                arg = word::cell_of(T_word, word::symbol_of(c[i]));
                break;
            }
        }
    }
    error::fire(err::script_expect_arg, caller, type, arg);
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
