#include "runtime/datatypes/float.h"

#include <bit>
#include <cfloat>
#include <cmath>
#include <limits>
#include <utility>

#include "runtime/cells.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/vector.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/datatypes/scalar.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/families.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/random.h"
#include "runtime/interpreter/stack.h"
#include "runtime/lexer/lexer.h"
#include "runtime/lexer/tokenizer.h"
#include "runtime/numeric.h"
#include "runtime/runtime.h"
#include "runtime/series_buffer.h"
#include "runtime/words.h"

namespace kov::float_ {

// ---- constructors -------------------------------------------------------------------------------

Cell* make_in(memory::Node block, double d) { return &make_at(*series::append_cell(block), d); }
Cell* push(double d) { return &make_at(*stack::reserve(), d); }
Cell* box(double d) { return &make_at(*stack::arguments(), d); }

// ---- internal routines --------------------------------------------------------------------------

namespace {

constexpr double quiet_nan = std::numeric_limits<double>::quiet_NaN();
constexpr double epsilon = std::numeric_limits<double>::epsilon();  // 2.220446049250313e-16

// Stands for the word of the running action until call frames can name it.

[[noreturn]] void bad_to(uint32_t target, const Cell& spec) {
    error::fire(err::script_bad_to_arg, datatype::make(target), spec);
}
[[noreturn]] void invalid_type(uint32_t t) { error::fire(err::script_invalid_type, datatype::make(t)); }

uint64_t bits_of(double d) { return std::bit_cast<uint64_t>(d); }

// Sign-magnitude patterns mapped onto one unsigned scale in numeric order, so that adjacent
// doubles are adjacent integers (+0 and -0 meet in the middle).
uint64_t ordered_bits(double d) {
    constexpr uint64_t sign = uint64_t{1} << 63;
    uint64_t b = bits_of(d);
    return (b & sign) ? 0 - b : b | sign;
}

// The number a comparison or an operation reads from a value of one of the numeric types.
double number_of(const Cell& c) {
    switch (cell::type(c)) {
    case T_integer:
    case T_char_: return static_cast<int32_t>(c.w2);
    default: return get_value(c);
    }
}

// Rounds y to a whole number by the refinements, tested in the order down, floor, ceiling,
// then the half rules even, half-down, half-ceiling; without any, half away from zero.
double round_whole(double y, const RoundArgs& how) {
    double a = std::fabs(y);
    auto signed_ = [y](double v) { return y < 0 ? -v : v; };
    if (how.down) return signed_(std::floor(a));
    if (how.floor) return std::floor(y);
    if (how.ceiling) return std::ceil(y);
    double half = std::floor(a) + 0.5;
    if (a > half) return signed_(std::ceil(a));
    if (a < half) return signed_(std::floor(a));
    if (how.even) return signed_(std::fmod(a, 2.0) >= 1.0 ? std::ceil(a) : std::floor(a));
    if (how.half_down) return signed_(std::floor(a));
    if (how.half_ceiling) return std::ceil(y);
    return signed_(std::ceil(a));
}

}  // namespace

bool nan_q(double d) {
    uint64_t b = bits_of(d);
    return (b & 0x7FF0000000000000u) == 0x7FF0000000000000u && (b & 0x000FFFFFFFFFFFFFu) != 0;
}

bool special_q(double d) { return !std::isfinite(d); }

double abs(double d) { return std::bit_cast<double>(bits_of(d) & 0x7FFFFFFFFFFFFFFFu); }

bool equal_nan_safe_q(float a, float b) {
    if (a != a || b != b) return false;
    if (a == b) return true;
    uint32_t ba = std::bit_cast<uint32_t>(a);
    uint32_t bb = std::bit_cast<uint32_t>(b);
    if (std::fabs(a) >= FLT_MAX || std::fabs(b) >= FLT_MAX) {
        if ((ba ^ bb) & 0x80000000u) return false;
        int64_t d = int64_t(ba & 0x7FFFFFFFu) - int64_t(bb & 0x7FFFFFFFu);
        return (d < 0 ? -d : d) < 0x100000;
    }
    int64_t d = int64_t(static_cast<int32_t>(ba)) - int64_t(static_cast<int32_t>(bb));
    return (d < 0 ? -d : d) <= 10;
}

bool nearly_equal_q(double a, double b) {
    if (a != a || b != b) return false;
    if (a == b || std::fabs(a - b) < epsilon) return true;
    uint64_t x = ordered_bits(a);
    uint64_t y = ordered_bits(b);
    return (x > y ? x - y : y - x) <= 10;
}

double do_math(double a, double b, int32_t op) {
    switch (op) {
    case integer::add: return a + b;
    case integer::subtract: return a - b;
    case integer::multiply: return a * b;
    case integer::divide: return a / b;
    case integer::remainder:
        if (b * 0.0 == 0.0) return std::fmod(a, b);  // b finite (fmod by 0 is NaN)
        if (b != b) return quiet_nan;
        return std::isfinite(a) ? a : quiet_nan;
    default: error::fire(err::script_cannot_use, scalar::calling_word(), datatype::make(T_float_));
    }
}

Cell* math(Cell* a, Cell* b, int32_t op) {
    uint32_t left = cell::type(*a);
    uint32_t right = cell::type(*b);
    switch (right) {
    case T_tuple:
        return tuple::math(a, b, op);
    case T_money:
        if (left == T_time) break;  // refused below
        return money::math(a, b, op);
    case T_vector:
        if (left == T_time) break;  // refused below
        return vector::math_scalar_left(a, b, op);  // the vector changes in place
    case T_pair:
    case T_point2d:
    case T_point3d:
        if (left == T_time) break;  // refused below
        // The other type owns the operation: the operands are swapped, which only the
        // operations that commute allow.
        if (op == integer::subtract || op == integer::divide || op == integer::remainder) {
            Cell w = op == integer::subtract ? words::loaded::subtract
                   : op == integer::divide   ? words::loaded::divide
                                             : word::load("remainder");
            error::fire(err::script_not_related, w, datatype::make(right));
        }
        std::swap(*a, *b);
        if (right == T_pair) return pair::math(a, b, op);
        return right == T_point2d ? point2d::math(a, b, op) : point3d::math(a, b, op);
    default: break;
    }
    bool accepted = right == T_integer || right == T_float_ || right == T_percent || right == T_time ||
                    (right == T_char_ && left != T_time && left != T_percent);
    if (!accepted) invalid_type(right);

    double r = do_math(number_of(*a), number_of(*b), op);
    uint32_t type;
    if ((left == T_time) != (right == T_time)) type = T_time;
    else if (left == T_percent) type = T_percent;
    else if (left == T_integer) type = T_float_;
    else type = left;
    // Both operands are numbers, which carry no private header flags: the type byte alone
    // changes (a full retype costs a read-modify-write of the header on every float sum).
    cell::set_type(*a, type);
    cell::set_double(*a, r);
    return a;
}

// ---- actions ------------------------------------------------------------------------------------

int32_t compare(Cell* value, Cell* other, int32_t op) {
    uint32_t t = cell::type(*other);
    if ((op == actions::strict_equal || op == actions::same || op == actions::find_equal) &&
        t != cell::type(*value))
        return 1;
    switch (t) {
    case T_integer:
    case T_float_:
    case T_percent:
    case T_time: break;
    case T_money: {
        if (cell::is(*value, T_time)) return actions::not_comparable;
        // money! owns the comparison: asked the other way round, an order is reversed.
        Cell f = make(get_value(*value));
        int32_t r = money::compare(other, &f, op);
        return actions::equality_code(op) || r == actions::not_comparable ? r : -r;
    }
    default: return actions::not_comparable;
    }
    double a = get_value(*value);
    double b = number_of(*other);
    switch (op) {
    case actions::equal:
    case actions::not_equal: return nearly_equal_q(a, b) ? 0 : 1;
    case actions::strict_equal: return a == b ? 0 : 1;
    case actions::same: return bits_of(a) == bits_of(b) ? 0 : 1;
    default: break;
    }
    if (a != a || b != b) {
        switch (op) {
        // Every ordering test with a NaN comes out false.
        case actions::lesser:
        case actions::lesser_or_equal: return 1;
        case actions::greater:
        case actions::greater_or_equal: return -1;
        // Sorting needs one consistent order: NaN after every number, NaNs together.
        case actions::sort_order:
        case actions::sort_order_case: return (a != a) - (b != b);
        // A NaN matches nothing, itself included.
        default: return 1;
        }
    }
    return a < b ? -1 : (a > b ? 1 : 0);
}

Cell* round(Cell* n, Cell* scale, const RoundArgs& how) {
    if (scale && cell::is(*scale, T_money))
        error::fire(err::script_not_related, scalar::calling_word(), datatype::make(T_money));
    bool percent = cell::is(*n, T_percent);
    double x = get_value(*n);
    double s = percent ? 0.01 : 1.0;
    if (scale) {
        switch (cell::type(*scale)) {
        case T_integer:
        case T_float_:
        case T_percent:
        case T_time: break;
        default: actions::fire_expect_arg(*scale, 1);
        }
        s = std::fabs(number_of(*scale));
        // A number scale counts in percent units on a percent!; a percent! scale is a
        // fraction already.
        if (percent && !cell::is(*scale, T_percent)) s /= 100.0;
    }
    // A scale of 0 leaves the value as it is, as integer! does; so does a value too large to
    // have digits at that scale, whatever its sign.
    if (s == 0.0) return n;
    double result = x;
    if (!(std::fabs(x) * 0x1p-53 > s)) {
        int exponent = 0;
        double mantissa = std::frexp(s, &exponent);
        if (exponent < -1021) {
            // 1 / s would overflow: work with the scale's mantissa on x scaled up alike.
            double r = round_whole(std::ldexp(x, -exponent) * (1.0 / mantissa), how);
            result = std::ldexp(r / (1.0 / mantissa), exponent);
        } else if (s >= 1.0) {
            double r = round_whole(x / s, how);
            result = r * s;
            // A finite value never rounds to an infinity.
            if (std::fabs(result) == DBL_MAX || (std::isinf(result) && std::isfinite(x)))
                error::fire(err::math_overflow);
        } else {
            double inverse = 1.0 / s;
            double r = round_whole(x * inverse, how);
            result = r / inverse;
        }
    }
    if (scale && cell::is(*scale, T_integer)) {
        int32_t v;
        if (!numeric::to_int32(result, v)) error::fire(err::script_type_limit, datatype::make(T_integer));
        integer::make_at(*n, v);
        return n;
    }
    cell::retype(*n, scale ? cell::type(*scale) : cell::type(*n));
    cell::set_double(*n, result);
    return n;
}

namespace {

// make and to (one routine): the target type is float! or percent!.
Cell* to(Cell*, Cell* spec, uint32_t type) {
    uint32_t target = type == T_percent ? T_percent : T_float_;
    Cell* r = stack::reserve();
    cell::retype(*r, target);
    double d = 0;
    // Every any-string! takes the string! branch.
    switch (in(cell::type(*spec), ANY_STRING) ? uint32_t(T_string) : cell::type(*spec)) {
    case T_integer:
    case T_char_:
    case T_float_:
    case T_percent:
    case T_time: d = number_of(*spec); break;
    case T_block:
    case T_paren:
    case T_hash: {
        // [mantissa exponent]: mantissa times 10 to the exponent truncated toward zero.
        memory::Buffer* b = memory::buffer(spec->w2);
        int64_t count = int64_t(b->used() / sizeof(Cell)) - int64_t(spec->w1);
        if (count != 2) bad_to(target, *spec);
        const Cell* items = cells::of(b) + spec->w1;
        for (int i = 0; i < 2; ++i)
            if (!cell::is(items[i], T_integer) && !cell::is(items[i], T_float_)) bad_to(T_float_, *spec);
        double mantissa = number_of(items[0]);
        double exponent = std::trunc(number_of(items[1]));
        // Dividing by an exact power of ten keeps [15 -1] at exactly 1.5.
        double scale = std::pow(10.0, std::fabs(exponent));
        if (mantissa == 0) d = mantissa;
        else d = exponent < 0 ? mantissa / scale : mantissa * scale;
        break;
    }
    case T_binary: {
        // Up to 8 bytes from the index, big-endian: the bit pattern of the double.
        memory::Buffer* b = memory::buffer(spec->w2);
        uint32_t used = b->used();
        uint64_t pattern = 0;
        for (uint64_t i = spec->w1; i < used && i < uint64_t(spec->w1) + 8; ++i) pattern = pattern << 8 | b->head_ptr()[i];
        d = std::bit_cast<double>(pattern);
        break;
    }
    case T_string: {
        if (target == T_float_) {
            // The lexer's float scanner reads the characters from the index to the tail.
            Cell text = *spec;
            int32_t count = string::rs_length_q(text);
            if (count <= 0) bad_to(target, *spec);
            int32_t fault = 0;
            d = tokenizer::scan_float(string::rs_head(text), count, memory::buffer(text.w2)->unit(), &fault);
            if (fault != 0) bad_to(target, *spec);
            break;
        }
        // percent!: one value loaded from the text; a number gives its value (so 50 is 5000%).
        Cell* loaded = stack::reserve();
        lexer::Options options;
        options.one_value = true;
        lexer::load(*loaded, *spec, -1, options, nullptr);
        if (cell::is(*loaded, T_integer)) d = integer::get(*loaded);
        else if (cell::is(*loaded, T_float_) || cell::is(*loaded, T_percent)) d = cell::get_double(*loaded);
        else bad_to(target, *spec);
        break;
    }
    case T_money: d = money::to_float(*spec); break;
    default: bad_to(target, *spec);
    }
    cell::set_double(*r, d);
    return r;
}

// Also percent!'s and time!'s: the value's type is kept.
Cell* random(Cell* value, const RandomArgs& how) {
    bool seed = how.seed, secure = how.secure;
    if (seed) {
        random::seed(static_cast<int32_t>(value->w2 ^ value->w3));
        return &unset::make_at(*value);
    }
    cell::set_double(*value, random::scaled_float(secure, cell::get_double(*value)));
    return value;
}

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t part) {
    FloatText text;
    format(get_value(*value), Kind::float64, text);
    return string::emit(*buffer, text.text, part);
}

int32_t mold(Cell* value, Cell* buffer, const MoldArgs&, int32_t part) {
    FloatText text;
    form_mold(get_value(*value), 0, true, text);
    return string::emit(*buffer, text.text, part);
}

Cell* absolute(Cell* value) {
    cell::set_double(*value, abs(get_value(*value)));
    return value;
}

Cell* negate(Cell* value) {
    cell::set_double(*value, 0.0 - get_value(*value));
    return value;
}

// Bit 0 of the value truncated toward zero, computed on the double so that no magnitude
// overflows; a NaN or an infinity has no such bit.
bool odd_bit(const Cell& value) {
    double x = get_value(value);
    if (!std::isfinite(x)) error::fire(err::script_invalid_arg, value);
    return std::fmod(std::trunc(x), 2.0) != 0.0;
}

bool even_q(Cell* value) { return !odd_bit(*value); }
bool odd_q(Cell* value) { return odd_bit(*value); }

Cell* power(Cell* base, Cell* exponent) {
    uint32_t t = cell::type(*exponent);
    if (t != T_integer && t != T_float_) actions::fire_expect_arg(*exponent, 1);
    cell::set_double(*base, std::pow(get_value(*base), number_of(*exponent)));
    return base;
}

Cell* add_a(Cell* a, Cell* b) { return float_::math(a, b, integer::add); }
Cell* subtract_a(Cell* a, Cell* b) { return float_::math(a, b, integer::subtract); }
Cell* multiply_a(Cell* a, Cell* b) { return float_::math(a, b, integer::multiply); }
Cell* divide_a(Cell* a, Cell* b) { return float_::math(a, b, integer::divide); }
Cell* remainder_a(Cell* a, Cell* b) { return float_::math(a, b, integer::remainder); }

}  // namespace

void init() {
    datatype::register_type({.id = T_float_, .name = "float!", .rest = datatype::Rest::empty,
                             .mark = nullptr, .same = datatype::same::last_two, .hash = datatype::hashing::real,
                             .actions = {.make = to, .random = random, .to = to, .form = form, .mold = mold,
                                         .compare = compare, .absolute = absolute, .add = add_a,
                                         .divide = divide_a, .multiply = multiply_a, .negate = negate,
                                         .power = power, .remainder = remainder_a, .round = round,
                                         .subtract = subtract_a, .even_q = even_q, .odd_q = odd_q}});
}

}  // namespace kov::float_
