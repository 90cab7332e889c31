#include "runtime/datatypes/pair.h"

#include <cmath>
#include <cstring>
#include <utility>

#include "runtime/cells.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/datatypes/scalar.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/random.h"
#include "runtime/interpreter/stack.h"
#include "runtime/numeric.h"
#include "runtime/series_buffer.h"
#include "runtime/words.h"

namespace kov::pair {

// ---- constructors -------------------------------------------------------------------------------

Cell* make_in(memory::Node block, int32_t x, int32_t y) { return &make_at(*series::append_cell(block), x, y); }
Cell* push(int32_t x, int32_t y) { return &make_at(*stack::reserve(), x, y); }

// ---- internal routines --------------------------------------------------------------------------

void as_point2d(Cell& c) {
    int32_t px = x(c), py = y(c);
    point2d::make_at(c, static_cast<float>(px), static_cast<float>(py));
}

namespace {

using scalar::datatype_of;

[[noreturn]] void bad_to(const Cell& spec) { error::fire(err::script_bad_to_arg, datatype_of(T_pair), spec); }

// A component from a double: truncated toward zero; one beyond the 32-bit range (or NaN) has
// no pair to go into.
int32_t component(double d) {
    int32_t v;
    if (!numeric::to_int32(d, v)) error::fire(err::script_type_limit, datatype_of(T_pair));
    return v;
}

// 1 for x, 2 for y, letter case ignored. Another word raises script/cannot-use against the
// pair (pick), or script/invalid-path in the path (a path step).
int32_t check_selector(const Cell& word, const Cell& pair_or_path) {
    if (scalar::word_is(word, words::symbols::x)) return 1;
    if (scalar::word_is(word, words::symbols::y)) return 2;
    if (cell::is(pair_or_path, T_pair)) error::fire(err::script_cannot_use, word, pair_or_path);
    error::fire(err::script_invalid_path, pair_or_path, word);
}

// The operation redone on points: a becomes the point2D! of its pair, b the point2D! of the
// right components.
Cell* in_point2d(Cell* a, Cell* b, double rx, double ry, int32_t op) {
    as_point2d(*a);
    point2d::make_at(*b, point2d::narrow(rx), point2d::narrow(ry));
    return point2d::math(a, b, op);
}

}  // namespace

int32_t get_int(const Cell& c) {
    if (cell::is(c, T_integer)) return integer::get(c);
    return component(cell::get_double(c));
}

Cell* math(Cell* a, Cell* b, int32_t op) {
    int32_t rx, ry;
    switch (cell::type(*b)) {
    case T_pair:
        rx = x(*b);
        ry = y(*b);
        break;
    case T_integer:
        rx = ry = integer::get(*b);
        break;
    case T_point2d:
        as_point2d(*a);
        return point2d::math(a, b, op);
    case T_float_:
    case T_percent: {
        double f = cell::get_double(*b);
        if (op == integer::multiply || op == integer::divide) {
            // A float factor or divisor always gives a point; infinite divisors divide to 0.
            if (f != f || (op == integer::multiply && !std::isfinite(f))) error::fire(err::script_invalid_arg, *b);
            double px = x(*a), py = y(*a);
            double nx = op == integer::multiply ? px * f : px / f;
            double ny = op == integer::multiply ? py * f : py / f;
            point2d::make_at(*a, point2d::narrow(nx), point2d::narrow(ny));
            return a;
        }
        if (!std::isfinite(f)) error::fire(err::script_invalid_arg, *b);
        // Any other operation uses the value truncated; one beyond the 32-bit range cannot
        // be an integer operand, so the operation is done on points, like an overflow.
        double t = std::trunc(f);
        int32_t v;
        if (!numeric::to_int32(t, v)) return in_point2d(a, b, t, t, op);
        rx = ry = v;
        break;
    }
    default:
        error::fire(err::script_invalid_type, datatype_of(cell::type(*b)));
    }
    // A zero divisor is refused whichever component it is in, before an uneven x could send
    // the operation to point2D!, where it would divide to an infinity.
    if ((op == integer::divide || op == integer::remainder) && (rx == 0 || ry == 0))
        error::fire(err::math_zero_divide);
    // Component by component in 32 bits; a result that is not an integer (the worker turns
    // its cell into a float!) sends the whole operation to point2D!, the pair untouched.
    Cell scratch = integer::make(0);
    int32_t nx = integer::do_math(x(*a), rx, op, &scratch);
    if (!cell::is(scratch, T_integer)) return in_point2d(a, b, rx, ry, op);
    int32_t ny = integer::do_math(y(*a), ry, op, &scratch);
    if (!cell::is(scratch, T_integer)) return in_point2d(a, b, rx, ry, op);
    make_at(*a, nx, ny);
    return a;
}

Cell* subtract_from(Cell* a, Cell* b) {
    // The negated pair plus the number; -2147483648 has no negation in 32 bits, so such a
    // pair is subtracted from as a point.
    if (x(*a) == INT32_MIN || y(*a) == INT32_MIN) {
        as_point2d(*a);
        point2d::make_at(*a, 0.0f - point2d::x(*a), 0.0f - point2d::y(*a));
        return point2d::math(a, b, integer::add);
    }
    make_at(*a, -x(*a), -y(*a));
    return pair::math(a, b, integer::add);
}

// ---- actions ------------------------------------------------------------------------------------

namespace {

// make and to (one routine).
Cell* to(Cell*, Cell* spec, uint32_t) {
    Cell r;
    switch (cell::type(*spec)) {
    case T_integer: r = make(integer::get(*spec), integer::get(*spec)); break;
    case T_float_: {
        int32_t v = component(cell::get_double(*spec));
        r = make(v, v);
        break;
    }
    case T_block: {
        memory::Buffer* buf = memory::buffer(spec->w2);
        int64_t count = int64_t(buf->used() / sizeof(Cell)) - int64_t(spec->w1);
        if (count < 2) error::fire(err::syntax_malconstruct, *spec);
        Cell items[2];
        std::memcpy(items, cells::of(buf) + spec->w1, sizeof items);
        for (const Cell& c : items)
            if (!cell::is(c, T_integer) && !cell::is(c, T_float_)) error::fire(err::syntax_malconstruct, *spec);
        r = make(get_int(items[0]), get_int(items[1]));
        break;
    }
    case T_point2d: {
        float px = point2d::x(*spec), py = point2d::y(*spec);
        if (!std::isfinite(px) || !std::isfinite(py)) error::fire(err::script_invalid_arg, *spec);
        r = make(component(px), component(py));
        break;
    }
    case T_string:
        r = scalar::load_one(*spec);
        if (!cell::is(r, T_pair)) bad_to(*spec);
        r = make(x(r), y(r));
        break;
    case T_pair: r = make(x(*spec), y(*spec)); break;
    default: bad_to(*spec);
    }
    return stack::push(r);
}

Cell* random(Cell* value, const RandomArgs& how) {
    bool seed = how.seed, secure = how.secure;
    if (seed) {
        random::seed(x(*value) ^ y(*value));
        return &unset::make_at(*value);
    }
    value->w2 = static_cast<uint32_t>(random::integer(secure, x(*value)));
    value->w3 = static_cast<uint32_t>(random::integer(secure, y(*value)));
    return value;
}

int32_t form(Cell* value, Cell* out, Cell*, int32_t part) {
    char text[24];
    uint32_t n = integer::form_signed(x(*value), text);
    text[n++] = 'x';
    integer::form_signed(y(*value), text + n);
    return string::emit(*out, text, part);
}

int32_t mold(Cell* value, Cell* out, const MoldArgs& how, int32_t part) {
    return form(value, out, how.arg, part);
}

Cell* eval_path(Cell* parent, const PathStep& step) {
    Cell element = *step.element;
    Cell path = step.path ? *step.path : element;
    int32_t index;
    if (cell::is(element, T_integer)) {
        index = integer::get(element);
        if (index != 1 && index != 2) error::fire(err::script_invalid_path, path, element);
    } else if (scalar::selector_word_q(element)) {
        index = check_selector(element, path);
    } else {
        error::fire(err::script_invalid_path, path, element);
    }
    if (!step.value) return stack::push(integer::make(index == 1 ? x(*parent) : y(*parent)));
    if (!cell::is(*step.value, T_integer)) error::fire(err::script_invalid_type, datatype_of(cell::type(*step.value)));
    (index == 1 ? parent->w2 : parent->w3) = step.value->w2;
    return step.value;
}

int32_t compare(Cell* a, Cell* b, int32_t op) {
    if (cell::is(*b, T_point2d)) {
        Cell as_point = *a;
        as_point2d(as_point);
        return point2d::compare(&as_point, b, op);
    }
    if (!cell::is(*b, T_pair)) return actions::not_comparable;
    int32_t d = actions::sign_of(int64_t(x(*a)) - int64_t(x(*b)));
    return d ? d : actions::sign_of(int64_t(y(*a)) - int64_t(y(*b)));
}

Cell* absolute(Cell* value) {
    make_at(*value, integer::abs(x(*value)), integer::abs(y(*value)));
    return value;
}

// Two's complement: -2147483648 stays itself.
Cell* negate(Cell* value) {
    value->w2 = 0u - value->w2;
    value->w3 = 0u - value->w3;
    return value;
}

Cell* round(Cell* n, Cell* scale, const RoundArgs& how) {
    if (scale && cell::is(*scale, T_money))
        error::fire(err::script_not_related, scalar::calling_word(), datatype_of(T_money));
    auto round_integer = actions::lookup<actions::slot::round>(T_integer);
    int32_t result[2];
    for (int i = 0; i < 2; ++i) {
        Cell c = integer::make(i == 0 ? x(*n) : y(*n));
        Cell s;
        Cell* sp = scale;
        if (scale && cell::is(*scale, T_pair)) {
            s = integer::make(i == 0 ? x(*scale) : y(*scale));
            sp = &s;
        }
        round_integer(&c, sp, how);
        if (cell::is(c, T_integer)) {
            result[i] = integer::get(c);
        } else if (!numeric::to_int32(cell::get_double(c), result[i])) {
            error::fire(err::math_overflow);
        }
    }
    make_at(*n, result[0], result[1]);
    return n;
}

Cell* pick(Cell* value, int32_t index, Cell* boxed) {
    if (boxed && scalar::selector_word_q(*boxed)) index = check_selector(*boxed, *value);
    else if (index != 1 && index != 2) error::fire(err::script_out_of_range, boxed ? *boxed : integer::make(index));
    *value = integer::make(index == 1 ? x(*value) : y(*value));
    return value;
}

Cell* reverse(Cell* value, Cell*, Cell*) {
    std::swap(value->w2, value->w3);
    return value;
}

Cell* add_a(Cell* a, Cell* b) { return pair::math(a, b, integer::add); }
Cell* subtract_a(Cell* a, Cell* b) { return pair::math(a, b, integer::subtract); }
Cell* multiply_a(Cell* a, Cell* b) { return pair::math(a, b, integer::multiply); }
Cell* divide_a(Cell* a, Cell* b) { return pair::math(a, b, integer::divide); }
Cell* remainder_a(Cell* a, Cell* b) { return pair::math(a, b, integer::remainder); }
Cell* and_a(Cell* a, Cell* b) { return pair::math(a, b, integer::and_); }
Cell* or_a(Cell* a, Cell* b) { return pair::math(a, b, integer::or_); }
Cell* xor_a(Cell* a, Cell* b) { return pair::math(a, b, integer::xor_); }

}  // namespace

void init() {
    datatype::register_type({.id = T_pair, .name = "pair!", .rest = datatype::Rest::empty, .mark = nullptr,
                             .same = datatype::same::last_two, .hash = datatype::hashing::last_two,
                             .actions = {.make = to, .random = random, .to = to, .form = form, .mold = mold,
                                         .eval_path = eval_path, .compare = compare, .absolute = absolute,
                                         .add = add_a, .divide = divide_a, .multiply = multiply_a, .negate = negate,
                                         .remainder = remainder_a, .round = round, .subtract = subtract_a,
                                         .and_t = and_a, .or_t = or_a, .xor_t = xor_a, .pick = pick,
                                         .reverse = reverse}});
}

}  // namespace kov::pair
