#include "runtime/datatypes/unit_types.h"

#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/error.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/random.h"
#include "runtime/interpreter/stack.h"
#include "runtime/runtime.h"
#include "runtime/series_buffer.h"

namespace kov {

namespace logic {

const Cell true_value{T_logic, 1, 0, 0};
const Cell false_value{T_logic, 0, 0, 0};

Cell* make_in(memory::Node block, bool v) { return &make_at(*series::append_cell(block), v); }
Cell* push(bool v) { return &make_at(*stack::reserve(), v); }
Cell* box(bool v) { return &make_at(*stack::arguments(), v); }

bool true_value_q(const Cell& value, bool check_unset, const Cell* error_arg) {
    switch (cell::type(value)) {
    case T_none: return false;
    case T_logic: return value.w1 != 0;
    case T_unset:
        if (check_unset) error::fire(err::script_no_value, error_arg ? *error_arg : none::value);
        return true;
    default: return true;
    }
}

namespace {

Cell* to(Cell*, Cell* spec, uint32_t) {
    Cell* r = stack::reserve();
    if (cell::is(*spec, T_logic)) *r = *spec;
    else make_at(*r, !cell::is(*spec, T_none));
    return r;
}

Cell* make(Cell* proto, Cell* spec, uint32_t type) {
    switch (cell::type(*spec)) {
    case T_integer: return push(spec->w2 != 0);
    case T_float_:
    case T_percent: return push(cell::get_double(*spec) != 0.0);  // NaN is true
    default: return to(proto, spec, type);
    }
}

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t part) {
    return string::emit(*buffer, value->w1 ? "true" : "false", part);
}

int32_t mold(Cell* value, Cell* buffer, const MoldArgs& how, int32_t part) {
    if (!how.all) return form(value, buffer, nullptr, part);
    return string::emit(*buffer, value->w1 ? "#(true)" : "#(false)", part);
}

int32_t compare(Cell* value, Cell* other, int32_t op) {
    if (!cell::is(*other, T_logic) || !actions::unit_code(op)) return actions::not_comparable;
    return static_cast<int32_t>(value->w1) - static_cast<int32_t>(other->w1);
}

Cell* complement(Cell* value) {
    value->w1 ^= 1;
    return value;
}

Cell* do_math(Cell* a, Cell* b, int op) {
    if (!cell::is(*b, T_logic)) actions::fire_expect_arg(*b, 1);
    switch (op) {
    case 6: a->w1 &= b->w1; break;
    case 5: a->w1 |= b->w1; break;
    case 7: a->w1 ^= b->w1; break;
    default: runtime::no_switch_matched();
    }
    return a;
}

Cell* and_t(Cell* a, Cell* b) { return do_math(a, b, 6); }
Cell* or_t(Cell* a, Cell* b) { return do_math(a, b, 5); }
Cell* xor_t(Cell* a, Cell* b) { return do_math(a, b, 7); }

Cell* random(Cell* value, const RandomArgs& how) {
    bool seed = how.seed, secure = how.secure;
    if (seed) {
        random::seed(static_cast<int32_t>(value->w1));
        return &unset::make_at(*value);
    }
    int32_t r = secure ? random::secure_next() : random::next();
    value->w1 = r > 0x3FFFFFFF ? 1 : 0;
    return value;
}

}  // namespace

void init() {
    datatype::register_type({.id = T_logic, .name = "logic!", .rest = datatype::Rest::empty,
                             .mark = nullptr, .same = datatype::same::first, .hash = datatype::hashing::first,
                             .actions = {.make = make, .random = random, .to = to, .form = form, .mold = mold,
                                         .compare = compare, .and_t = and_t, .complement = complement,
                                         .or_t = or_t, .xor_t = xor_t}});
}

}  // namespace logic

}  // namespace kov
