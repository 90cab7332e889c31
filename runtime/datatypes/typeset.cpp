#include "runtime/datatypes/typeset.h"

#include "runtime/cells.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/stack.h"
#include "runtime/runtime.h"

namespace kov::typeset {

namespace {

using cells::at;

Cell typeset_type() { return Cell{T_datatype, T_typeset, 0, 0}; }

}  // namespace

uint32_t bit_count(const Cell& ts) {
    uint32_t n = 0;
    for (uint32_t id = 1; id <= datatype::highest_id(); ++id)
        if (contains(ts, id)) ++n;
    return n;
}

void add_type(Cell& ts, const Cell& value_in) {
    Cell value = value_in;
    if (cell::is(value, T_word)) value = *context::get(value);
    if (cell::is(value, T_unset)) error::fire(err::script_no_value, value_in);
    if (cell::is(value, T_typeset)) merge(ts, value);
    else if (cell::is(value, T_datatype)) add(ts, value.w1);
    else error::fire(err::script_invalid_arg, value);
}

Cell from_block(const Cell& block) {
    Cell ts = empty();
    memory::Node n = block.w2;
    for (uint32_t i = 0; i < cells::count(n); ++i) {
        Cell v = at(n, i);
        if (cell::is(v, T_word)) v = *context::get(v);
        switch (cell::type(v)) {
        case T_datatype: add(ts, v.w1); break;
        case T_typeset: merge(ts, v); break;
        case T_word: add(ts, T_object); break;
        case T_block: break;
        default: error::fire(err::script_invalid_type_spec, v);
        }
    }
    return ts;
}

namespace {

Cell* make(Cell*, Cell* spec, uint32_t) {
    if (cell::is(*spec, T_typeset)) return stack::push(*spec);
    if (!cell::is(*spec, T_block)) error::fire(err::script_bad_to_arg, typeset_type(), *spec);
    Cell* r = stack::push(empty());
    Cell s = *spec;
    for (uint32_t i = s.w1; i < cells::count(s.w2); ++i) {
        Cell v = at(s.w2, i);
        add_type(*r, v);
    }
    return r;
}

int32_t form_body(const Cell& ts, Cell& out, bool only, Cell* part_arg, int32_t part) {
    if (!only) part = string::emit(out, "make typeset! [", part);
    bool any = false;
    for (uint32_t id = 1; id <= datatype::highest_id(); ++id) {
        if (!contains(ts, id)) continue;
        if (part_arg && part <= 0) return part;
        if (any) part = string::emit(out, " ", part);
        const char* name = datatype::name_of(id);
        part = string::emit(out, name ? name : "?", part);
        any = true;
    }
    if (!only) part = string::emit(out, "]", part);
    return part;
}

int32_t form(Cell* value, Cell* out, Cell* arg, int32_t part) { return form_body(*value, *out, false, arg, part); }

int32_t mold(Cell* value, Cell* out, const MoldArgs& how, int32_t part) {
    return form_body(*value, *out, how.only, how.arg, part);
}

int32_t compare(Cell* a, Cell* b, int32_t op) {
    if (!cell::is(*b, T_typeset)) return actions::not_comparable;
    if (actions::equality_code(op)) return a->w1 == b->w1 && a->w2 == b->w2 && a->w3 == b->w3 ? 0 : 1;
    if (op == actions::sort_order || op == actions::sort_order_case)
        return actions::sign_of(int64_t(bit_count(*a)) - int64_t(bit_count(*b)));
    return actions::not_comparable;
}

Cell* set_operation(Cell* a, Cell* b, int32_t op) {
    if (op == 8) return a;
    Cell other = empty();
    if (cell::is(*b, T_typeset)) other = *b;
    else if (cell::is(*b, T_datatype)) add(other, b->w1);
    else error::fire(err::script_invalid_arg, *b);
    Cell r = *a;
    switch (op) {
    case 5: case 9:
        r.w1 |= other.w1; r.w2 |= other.w2; r.w3 |= other.w3;
        break;
    case 6: case 10:
        r.w1 &= other.w1; r.w2 &= other.w2; r.w3 &= other.w3;
        break;
    case 7: case 12:
        r.w1 ^= other.w1; r.w2 ^= other.w2; r.w3 ^= other.w3;
        break;
    case 11:
        r.w1 &= ~other.w1; r.w2 &= ~other.w2; r.w3 &= ~other.w3;
        break;
    default:
        runtime::no_switch_matched();
    }
    *a = r;
    return a;
}

Cell* and_t(Cell* a, Cell* b) { return set_operation(a, b, 6); }
Cell* or_t(Cell* a, Cell* b) { return set_operation(a, b, 5); }
Cell* xor_t(Cell* a, Cell* b) { return set_operation(a, b, 7); }

Cell* complement(Cell* v) {
    v->w1 = ~v->w1;
    v->w2 = ~v->w2;
    v->w3 = ~v->w3;
    return v;
}

Cell* find(Cell* series, Cell* value, const FindArgs&) {
    if (!cell::is(*value, T_datatype)) error::fire(err::script_invalid_arg, *value);
    logic::make_at(*series, contains(*series, value->w1));
    return series;
}

}  // namespace

// The worker of the set natives on typesets (codes 8 to 12).
Cell* set_op(Cell* a, Cell* b, int32_t op) { return set_operation(a, b, op); }

void init() {
    datatype::register_type({.id = T_typeset, .name = "typeset!", .rest = datatype::Rest::empty,
                             .mark = nullptr,
                             .actions = {.make = make, .to = make, .form = form, .mold = mold, .compare = compare,
                                         .and_t = and_t, .complement = complement, .or_t = or_t, .xor_t = xor_t,
                                         .find = find}});
}

}  // namespace kov::typeset
