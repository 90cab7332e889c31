#include "runtime/datatypes/integer.h"

#include <cmath>
#include <cstring>
#include <utility>

#include "runtime/datatypes/date.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/scalar.h"
#include "runtime/datatypes/vector.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/families.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/random.h"
#include "runtime/interpreter/stack.h"
#include "runtime/lexer/tokenizer.h"
#include "runtime/numeric.h"
#include "runtime/runtime.h"
#include "runtime/series_buffer.h"
#include "runtime/words.h"

namespace kov::integer {

// ---- constructors -------------------------------------------------------------------------------

Cell* make_in(memory::Node block, int32_t v) { return &make_at(*series::append_cell(block), v); }
Cell* push(int32_t v) { return &make_at(*stack::reserve(), v); }
Cell* box(int32_t v) { return &make_at(*stack::arguments(), v); }

// ---- internal routines --------------------------------------------------------------------------

int32_t abs(int32_t n) {
    if (n == INT32_MIN) error::fire(err::math_overflow);
    return n < 0 ? -n : n;
}

uint32_t form_signed(int32_t n, char* out) {
    // Two digits per division: a number made into text is the commonest form (append, join).
    static constexpr char pairs[] =
        "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
        "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
        "8081828384858687888990919293949596979899";
    char digits[12];
    char* d = digits + sizeof digits;
    // Work on the magnitude as unsigned, which also holds -2147483648.
    uint32_t v = n < 0 ? 0u - static_cast<uint32_t>(n) : static_cast<uint32_t>(n);
    while (v >= 100) {
        uint32_t r = v % 100;
        v /= 100;
        d -= 2;
        std::memcpy(d, pairs + 2 * r, 2);
    }
    if (v >= 10) {
        d -= 2;
        std::memcpy(d, pairs + 2 * v, 2);
    } else {
        *--d = static_cast<char>('0' + v);
    }
    uint32_t len = 0;
    if (n < 0) out[len++] = '-';
    uint32_t count = static_cast<uint32_t>(digits + sizeof digits - d);
    std::memcpy(out + len, d, count);
    len += count;
    out[len] = '\0';
    return len;
}

namespace {

void set_float(Cell& c, double d) {
    c.header = T_float_;
    cell::set_double(c, d);
}



[[noreturn]] void type_limit() { error::fire(err::script_type_limit, datatype::make(T_integer)); }
[[noreturn]] void bad_to(const Cell& v) { error::fire(err::script_bad_to_arg, datatype::make(T_integer), v); }

}  // namespace

int32_t do_math(int32_t a, int32_t b, int32_t op, Cell* result) {
    int32_t r = 0;
    bool overflow = false;
    double exact = 0;
    switch (op) {
    case add:
    case subtract:
    case multiply:
        overflow = !fast_math(a, b, op, r);
        exact = op == add ? double(a) + double(b) : op == subtract ? double(a) - double(b) : double(a) * double(b);
        break;
    case divide:
        if (b == 0) error::fire(err::math_zero_divide);
        // -2147483648 / -1 has no 32-bit quotient (and would trap): refused like absolute.
        if (b == -1 && a == INT32_MIN) error::fire(err::math_overflow);
        if (result && a % b != 0) {
            overflow = true;
            exact = double(a) / double(b);
            break;
        }
        r = a / b;
        break;
    case remainder:
        if (fast_math(a, b, op, r)) break;
        if (b == 0) error::fire(err::math_zero_divide);
        if (b == -1 && a == INT32_MIN) error::fire(err::math_overflow);  // as its quotient
        r = 0;  // by -1
        break;
    case or_: r = a | b; break;
    case and_: r = a & b; break;
    case xor_: r = a ^ b; break;
    default: runtime::no_switch_matched();
    }
    if (overflow) {
        if (result) set_float(*result, exact);
        return 0;
    }
    if (result) result->w2 = static_cast<uint32_t>(r);
    return r;
}

Cell* math(Cell* a, Cell* b, int32_t op) {
    switch (cell::type(*b)) {
    case T_integer:
    case T_char_:
        do_math(get(*a), get(*b), op, a);
        return a;
    case T_float_:
    case T_percent:
    case T_time:
        return float_::math(a, b, op);
    case T_pair:
    case T_point2d:
    case T_point3d: {
        // The other type owns the operation: the operands are swapped. Dividing by it, or
        // taking a remainder by it, does not commute and is refused.
        if (op == divide || op == remainder) {
            error::fire(err::script_not_related, op == divide ? words::loaded::divide : word::load("remainder"),
                        datatype::make(T_integer));
        }
        std::swap(*a, *b);
        uint32_t t = cell::type(*a);
        if (op == subtract) {
            // The integer minus the value: the negated value plus the integer.
            if (t == T_pair) return pair::subtract_from(a, b);
            actions::lookup<actions::slot::negate>(t)(a);
            op = add;
        }
        if (t == T_pair) return pair::math(a, b, op);
        return t == T_point2d ? point2d::math(a, b, op) : point3d::math(a, b, op);
    }
    case T_tuple:
        return tuple::math(a, b, op);
    case T_date: {
        // Days added to a date: the date owns the operation. Nothing else commutes.
        if (op != add) {
            Cell w = op == subtract ? words::loaded::subtract
                   : op == multiply ? words::loaded::multiply
                   : op == divide   ? words::loaded::divide
                                    : word::load(op == remainder ? "remainder" : op == or_ ? "or~" : op == and_ ? "and~" : "xor~");
            error::fire(err::script_not_related, w, datatype::make(T_integer));
        }
        std::swap(*a, *b);
        return date::math(a, b, add);
    }
    case T_money:
        return money::math(a, b, op);
    case T_vector:
        return vector::math_scalar_left(a, b, op);  // the vector changes in place
    default:
        error::fire(err::script_invalid_type, datatype::make(cell::type(*b)));
    }
}

// ---- actions ------------------------------------------------------------------------------------

namespace {

Cell* to(Cell*, Cell* spec, uint32_t) {
    Cell* r = stack::reserve();
    switch (in(cell::type(*spec), ANY_STRING) ? uint32_t(T_string) : cell::type(*spec)) {
    case T_integer: *r = make(get(*spec)); break;
    case T_char_: *r = make(static_cast<int32_t>(spec->w2)); break;
    case T_float_:
    case T_percent: {
        int32_t v;
        if (!numeric::to_int32(cell::get_double(*spec), v)) type_limit();
        *r = make(v);
        break;
    }
    case T_time: {
        int32_t v;
        if (!numeric::to_int32(cell::get_double(*spec) + 0.5, v)) type_limit();
        *r = make(v);
        break;
    }
    case T_string: {
        Cell s = *spec;
        int32_t count = string::rs_length_q(s);
        const uint8_t* p = string::rs_head(s);
        int32_t fault;
        int32_t v = tokenizer::scan_integer(p, count, memory::buffer(s.w2)->unit(), &fault);
        if (fault) bad_to(*spec);
        *r = make(v);
        break;
    }
    case T_binary: {
        memory::Buffer* b = memory::buffer(spec->w2);
        uint32_t index = spec->w1;
        uint32_t used = b->used();
        uint32_t v = 0;
        for (uint32_t i = index; i < used && i < index + 4; ++i) v = v << 8 | b->head_ptr()[i];
        *r = make(static_cast<int32_t>(v));
        break;
    }
    case T_issue: {
        // The name read as up to 8 hex digits, a 32-bit pattern (#FFFFFFFF is -1).
        symbol::Spelling sp = symbol::spelling(spec->w2);
        if (sp.length > 8) error::fire(err::script_invalid_data, *spec);
        uint32_t v = 0;
        for (uint32_t i = 0; i < sp.length; ++i) {
            uint8_t c = sp.bytes[i];
            uint32_t d = c >= '0' && c <= '9' ? c - '0'
                       : c >= 'A' && c <= 'F' ? c - 'A' + 10
                       : c >= 'a' && c <= 'f' ? c - 'a' + 10 : 16;
            if (d > 15) error::fire(err::script_invalid_data, *spec);
            v = v << 4 | d;
        }
        *r = make(static_cast<int32_t>(v));
        break;
    }
    case T_date: {
        int64_t seconds = date::to_epoch(*spec);
        if (seconds < INT32_MIN || seconds > INT32_MAX) type_limit();
        *r = make(static_cast<int32_t>(seconds));
        break;
    }
    case T_money:
        *r = make(money::to_integer(*spec));
        break;
    default:
        bad_to(*spec);
    }
    return r;
}

Cell* make_action(Cell* proto, Cell* spec, uint32_t type) {
    if (cell::is(*spec, T_logic)) return push(spec->w1 ? 1 : 0);
    return to(proto, spec, type);
}

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t part) {
    char text[12];
    form_signed(get(*value), text);
    return string::emit(*buffer, text, part);
}

int32_t mold(Cell* value, Cell* buffer, const MoldArgs& how, int32_t part) {
    return form(value, buffer, how.arg, part);
}

int32_t compare(Cell* value, Cell* other, int32_t op) {
    uint32_t t = cell::type(*other);
    if ((op == actions::strict_equal || op == actions::find_equal) && t != T_integer) return 1;
    switch (t) {
    case T_integer:
    case T_char_:
        return actions::sign_of(int64_t(get(*value)) - int64_t(static_cast<int32_t>(other->w2)));
    case T_float_:
    case T_percent:
    case T_time: {
        Cell as_float = float_::make(get(*value));
        return float_::compare(&as_float, other, op);
    }
    case T_money: {
        // money! owns the comparison: asked the other way round, an order is reversed.
        Cell m = money::from_int32(get(*value));
        int32_t r = money::compare(other, &m, op);
        return actions::equality_code(op) || r == actions::not_comparable ? r : -r;
    }
    default:
        return actions::not_comparable;
    }
}

Cell* absolute(Cell* value) {
    value->w2 = static_cast<uint32_t>(abs(get(*value)));
    return value;
}

Cell* negate(Cell* value) {
    if (get(*value) == INT32_MIN) error::fire(err::math_overflow);
    value->w2 = static_cast<uint32_t>(-get(*value));
    return value;
}

Cell* complement(Cell* value) {
    value->w2 = ~value->w2;
    return value;
}

bool even_q(Cell* value) { return (value->w2 & 1) == 0; }
bool odd_q(Cell* value) { return (value->w2 & 1) != 0; }

Cell* add_a(Cell* a, Cell* b) { return math(a, b, add); }
Cell* subtract_a(Cell* a, Cell* b) { return math(a, b, subtract); }
Cell* multiply_a(Cell* a, Cell* b) { return math(a, b, multiply); }
Cell* divide_a(Cell* a, Cell* b) { return math(a, b, divide); }
Cell* remainder_a(Cell* a, Cell* b) { return math(a, b, remainder); }
Cell* and_a(Cell* a, Cell* b) { return math(a, b, and_); }
Cell* or_a(Cell* a, Cell* b) { return math(a, b, or_); }
Cell* xor_a(Cell* a, Cell* b) { return math(a, b, xor_); }

Cell* float_power(Cell* base, double b, double e) {
    set_float(*base, std::pow(b, e));
    return base;
}

Cell* power(Cell* base, Cell* exponent) {
    uint32_t t = cell::type(*exponent);
    if (t != T_integer && t != T_float_) actions::fire_expect_arg(*exponent, 1);
    if (t == T_float_) return float_power(base, get(*base), cell::get_double(*exponent));
    int32_t e = get(*exponent);
    if (e < 0) return float_power(base, get(*base), e);
    // Exponentiation by squaring; any overflow redoes the whole power in floating point.
    int32_t b = get(*base);
    int32_t result = 1;
    for (uint32_t n = static_cast<uint32_t>(e); n; n >>= 1) {
        if ((n & 1) && __builtin_mul_overflow(result, b, &result)) return float_power(base, get(*base), e);
        if ((n >> 1) && __builtin_mul_overflow(b, b, &b)) return float_power(base, get(*base), e);
    }
    base->w2 = static_cast<uint32_t>(result);
    return base;
}

Cell* round(Cell* n, Cell* scale, const RoundArgs& how) {
    if (scale && cell::is(*scale, T_money)) {
        error::fire(err::script_not_related, scalar::calling_word(), datatype::make(T_money));
    }
    int32_t value = get(*n);
    if (value == INT32_MIN) return n;
    int32_t s = 1;
    if (scale) {
        if (!cell::is(*scale, T_integer)) {
            float_::make_at(*n, value);
            return float_::round(n, scale, how);
        }
        s = abs(get(*scale));
    }
    if (s == 0) return n;
    int64_t v = value < 0 ? -int64_t(value) : value;
    int64_t r = v % s;
    int64_t t = v / s;
    if (r == 0) return n;
    int64_t w = v - r;
    int64_t u = v + (s - r);
    bool negative = value < 0;
    auto away = [&]() -> int64_t {
        if (u > INT32_MAX) error::fire(err::math_overflow);
        return u;
    };
    int64_t chosen;  // a magnitude, the value's sign put back below, unless signed already
    bool signed_result = false;
    if (how.down) {
        chosen = w;
    } else if (how.floor) {
        chosen = negative ? -away() : w;
        signed_result = true;
    } else if (how.ceiling) {
        chosen = negative ? -w : away();
        signed_result = true;
    } else if (r < s - r) {
        chosen = w;
    } else if (r > s - r) {
        chosen = away();
    } else if (how.even) {
        chosen = (t & 1) ? away() : w;
    } else if (how.half_down) {
        chosen = w;
    } else if (how.half_ceiling) {
        chosen = negative ? -w : away();
        signed_result = true;
    } else {
        chosen = away();
    }
    if (!signed_result && negative) chosen = -chosen;
    n->w2 = static_cast<uint32_t>(static_cast<int32_t>(chosen));
    return n;
}

// Also char!'s: the value's type is kept, so a character gives a character.
Cell* random(Cell* value, const RandomArgs& how) {
    bool seed = how.seed, secure = how.secure;
    int32_t n = static_cast<int32_t>(value->w2);
    if (seed) {
        random::seed(n);
        return &unset::make_at(*value);
    }
    value->w2 = static_cast<uint32_t>(random::integer(secure, n));
    return value;
}

}  // namespace

void init() {
    datatype::register_type({.id = T_integer, .name = "integer!", .rest = datatype::Rest::empty,
                             .mark = nullptr, .same = datatype::same::second, .hash = datatype::hashing::second,
                             .actions = {.make = make_action, .random = random, .to = to, .form = form, .mold = mold,
                                         .compare = compare, .absolute = absolute, .add = add_a, .divide = divide_a,
                                         .multiply = multiply_a, .negate = negate, .power = power,
                                         .remainder = remainder_a, .round = round, .subtract = subtract_a,
                                         .even_q = even_q, .odd_q = odd_q, .and_t = and_a, .complement = complement,
                                         .or_t = or_a, .xor_t = xor_a}});
}

}  // namespace kov::integer
