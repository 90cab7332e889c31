#include "runtime/datatypes/char.h"

#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/vector.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/error.h"
#include "runtime/families.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/stack.h"
#include "runtime/numeric.h"
#include "runtime/series_buffer.h"
#include "runtime/unicode.h"

namespace kov::char_ {

// ---- constructors -------------------------------------------------------------------------------

Cell* make_in(memory::Node block, int32_t cp) { return &make_at(*series::append_cell(block), cp); }
Cell* push(int32_t cp) { return &make_at(*stack::reserve(), cp); }

// ---- internal routines --------------------------------------------------------------------------

namespace {

[[noreturn]] void bad_to(const Cell& v) { error::fire(err::script_bad_to_arg, datatype::make(T_char_), v); }

bool in_range(int64_t v) { return v >= 0 && v <= max_code_point; }

}  // namespace

Cell* math(Cell* a, Cell* b, int32_t op) {
    int32_t n = 0;
    switch (cell::type(*b)) {
    case T_char_:
    case T_integer: n = static_cast<int32_t>(b->w2); break;
    case T_float_:
        if (!numeric::to_int32(cell::get_double(*b), n)) error::fire(err::math_overflow);
        break;
    case T_vector:
        return vector::math_scalar_left(a, b, op);  // the vector changes in place
    default: error::fire(err::script_invalid_type, datatype::make(cell::type(*b)));
    }
    // Division goes without a result cell so that it truncates instead of giving a float!.
    Cell scratch = integer::make(0);
    int32_t r = integer::do_math(get(*a), n, op, op == integer::divide ? nullptr : &scratch);
    if (cell::is(scratch, T_float_) || !in_range(r)) error::fire(err::math_overflow);
    a->w2 = static_cast<uint32_t>(r);
    return a;
}

// ---- actions ------------------------------------------------------------------------------------

namespace {

// make and to (one routine).
Cell* to(Cell*, Cell* spec, uint32_t) {
    Cell* r = stack::reserve();
    int64_t cp = 0;
    // Every any-string! takes the string! branch.
    switch (in(cell::type(*spec), ANY_STRING) ? uint32_t(T_string) : cell::type(*spec)) {
    case T_string: {
        Cell s = *spec;
        if (string::rs_length_q(s) <= 0) bad_to(*spec);
        cp = string::get_char(string::rs_head(s), memory::buffer(s.w2)->unit());
        break;
    }
    case T_char_:
    case T_integer:
        cp = static_cast<int32_t>(spec->w2);
        if (!in_range(cp)) error::fire(err::script_out_of_range, *spec);
        break;
    case T_float_:
    case T_percent: {
        int32_t v;
        if (!numeric::to_int32(cell::get_double(*spec), v) || !in_range(v))
            error::fire(err::script_out_of_range, *spec);
        cp = v;
        break;
    }
    case T_binary: {
        memory::Buffer* b = memory::buffer(spec->w2);
        uint32_t index = spec->w1;
        if (index >= b->used()) bad_to(*spec);
        int64_t budget = b->used() - index;
        int32_t decoded = unicode::decode_utf8_bounded(b->head_ptr() + index, budget);
        if (decoded < 0) bad_to(*spec);  // a sequence cut by the tail
        cp = decoded;
        break;
    }
    default: bad_to(*spec);
    }
    make_at(*r, static_cast<int32_t>(cp));
    return r;
}

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t part) {
    string::append_char(buffer->w2, get(*value));
    return part - 1;
}

int32_t mold(Cell* value, Cell* buffer, const MoldArgs& how, int32_t part) {
    string::concatenate_literal(*buffer, "#\"");
    string::mold_char(*buffer, get(*value), how.all);
    string::concatenate_literal(*buffer, "\"");
    return part - 4;
}

int32_t compare(Cell* value, Cell* other, int32_t op) {
    uint32_t t = cell::type(*other);
    if ((op == actions::strict_equal || op == actions::find_equal) && t != T_char_) return 1;
    if (t != T_char_ && t != T_integer) return actions::not_comparable;
    return actions::sign_of(int64_t(get(*value)) - int64_t(static_cast<int32_t>(other->w2)));
}

Cell* add_a(Cell* a, Cell* b) { return char_::math(a, b, integer::add); }
Cell* subtract_a(Cell* a, Cell* b) { return char_::math(a, b, integer::subtract); }
Cell* multiply_a(Cell* a, Cell* b) { return char_::math(a, b, integer::multiply); }
Cell* divide_a(Cell* a, Cell* b) { return char_::math(a, b, integer::divide); }
Cell* remainder_a(Cell* a, Cell* b) { return char_::math(a, b, integer::remainder); }
Cell* and_a(Cell* a, Cell* b) { return char_::math(a, b, integer::and_); }
Cell* or_a(Cell* a, Cell* b) { return char_::math(a, b, integer::or_); }
Cell* xor_a(Cell* a, Cell* b) { return char_::math(a, b, integer::xor_); }

}  // namespace

void init() {
    using datatype::inherit;
    datatype::register_type({.id = T_char_, .name = "char!", .rest = datatype::Rest::empty,
                             .mark = nullptr,
                             .actions = {.make = to, .random = inherit, .to = to, .form = form, .mold = mold,
                                         .compare = compare, .absolute = inherit, .add = add_a,
                                         .divide = divide_a, .multiply = multiply_a,
                                         .remainder = remainder_a, .subtract = subtract_a,
                                         .even_q = inherit, .odd_q = inherit, .and_t = and_a,
                                         .or_t = or_a, .xor_t = xor_a}});
}

}  // namespace kov::char_
