// Comparison and math natives: the seven comparisons, same?, not, type?, max and min, the
// sign tests, shift, to-hex, the degree-based trigonometry and the logarithms.
//
// The comparisons only choose a comparison code; the ordering itself is each datatype's
// compare action. max and min work element by element on the compound scalars (pair!,
// point2D!, point3D!, tuple!), changing the compound argument cell in place, and fall back
// to the compare action for everything else.
//
// Every result goes into the argument-base cell. Nothing here allocates except type?/word
// (which may add the name word to the global context) and to-hex (which interns the digits),
// and neither keeps a buffer address across it.
#include <cmath>
#include <cstring>

#include "runtime/datatypes/context.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/issue.h"
#include "runtime/datatypes/money.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/point.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/error.h"
#include "runtime/families.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/natives.h"
#include "runtime/interpreter/stack.h"
#include "runtime/numeric.h"
#include "runtime/runtime.h"

#include "refinements.h"

namespace kov::natives {

namespace {

constexpr double epsilon = 2.220446049250313e-16;
constexpr double pi = 3.141592653589793;
constexpr double ln_2 = 0.6931471805599453;
constexpr double e_constant = 2.718281828459045;

inline Cell datatype_cell(uint32_t t) { return Cell{T_datatype, t, 0, 0}; }

// ---- comparisons ------------------------------------------------------------------------------------

void compare_with(Args& args, int32_t code) {
    logic::make_at(*args.cell(0), actions::compare(*args.cell(0), *args.cell(1), code));
}

void equal_q(Args& args) { compare_with(args, actions::equal); }
void not_equal_q(Args& args) { compare_with(args, actions::not_equal); }
void strict_equal_q(Args& args) { compare_with(args, actions::strict_equal); }
void lesser_q(Args& args) { compare_with(args, actions::lesser); }
void greater_q(Args& args) { compare_with(args, actions::greater); }
void lesser_or_equal_q(Args& args) { compare_with(args, actions::lesser_or_equal); }
void greater_or_equal_q(Args& args) { compare_with(args, actions::greater_or_equal); }

void same_q(Args& args) { logic::make_at(*args.cell(0), datatype::same_q(*args.cell(0), *args.cell(1))); }

void not_(Args& args) {
    const Cell& v = *args.cell(0);
    logic::make_at(*args.cell(0), cell::is(v, T_none) || (cell::is(v, T_logic) && logic::get(v) == 0));
}

void type_q(Args& args) {
    uint32_t t = cell::type(*args.cell(0));
    if (args.given(refine::type_q::word)) {
        uint32_t name = t < actions::max_types ? datatype::types[t].name_symbol : 0;
        if (!name) error::fire(err::internal_not_done);
        *args.cell(0) = context::get_or_add_global(name);
    } else {
        datatype::make_at(*args.cell(0), t);
    }
}

// ---- max and min ------------------------------------------------------------------------------------

inline bool nan_number_q(const Cell& c) {
    return (cell::is(c, T_float_) || cell::is(c, T_percent)) && float_::nan_q(cell::get_double(c));
}
inline bool compound_type_q(uint32_t t) { return t == T_pair || t == T_point2d || t == T_point3d || t == T_tuple; }

// The kept one of a coordinate and the other value; a NaN never replaces the coordinate.
template <class T>
inline T pick(T coordinate, T other, bool max) {
    return max ? (other > coordinate ? other : coordinate) : (other < coordinate ? other : coordinate);
}

bool point_with(Cell& p, const Cell& other, bool max) {
    bool three = cell::is(p, T_point3d);
    float x = point3d::x(p), y = point3d::y(p), z = point3d::z(p);
    float ox, oy, oz;
    switch (cell::type(other)) {
    case T_integer:
        ox = oy = oz = static_cast<float>(integer::get(other));
        break;
    case T_float_:
        ox = oy = oz = static_cast<float>(cell::get_double(other));
        break;
    case T_point2d:
    case T_point3d:
        if (cell::type(other) != cell::type(p)) return false;
        ox = point3d::x(other), oy = point3d::y(other), oz = point3d::z(other);
        break;
    default:
        return false;
    }
    if (three) point3d::make_at(p, pick(x, ox, max), pick(y, oy, max), pick(z, oz, max));
    else point2d::make_at(p, pick(x, ox, max), pick(y, oy, max));
    return true;
}

bool pair_with(Cell& p, const Cell& other, bool max) {
    int32_t ox, oy;
    switch (cell::type(other)) {
    case T_integer:
        ox = oy = integer::get(other);
        break;
    case T_float_: {
        double d = cell::get_double(other);
        if (!(d == std::trunc(d))) {
            // A fractional (or NaN) number turns the pair into a point.
            point2d::make_at(p, static_cast<float>(pair::x(p)), static_cast<float>(pair::y(p)));
            return point_with(p, other, max);
        }
        int32_t n;
        if (!numeric::to_int32(d, n)) error::fire(err::script_type_limit, datatype_cell(T_integer));
        ox = oy = n;
        break;
    }
    case T_pair:
        ox = pair::x(other), oy = pair::y(other);
        break;
    default:
        return false;
    }
    pair::make_at(p, pick(pair::x(p), ox, max), pick(pair::y(p), oy, max));
    return true;
}

inline uint8_t clamp_byte(int64_t v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

bool tuple_with(Cell& t, const Cell& other, bool max) {
    uint32_t length = tuple::length(t);
    uint8_t bytes[tuple::max_length] = {};
    uint32_t ot = cell::type(other);
    if (ot == T_tuple) {
        uint32_t n = tuple::length(other);
        if (n > length) length = n;
        for (uint32_t i = 0; i < length; ++i) {
            uint8_t a = i < tuple::length(t) ? tuple::byte_at(t, i) : 0;
            uint8_t b = i < n ? tuple::byte_at(other, i) : 0;
            bytes[i] = pick(a, b, max);
        }
    } else if (ot == T_integer) {
        for (uint32_t i = 0; i < length; ++i)
            bytes[i] = clamp_byte(pick<int64_t>(tuple::byte_at(t, i), integer::get(other), max));
    } else if (ot == T_float_ || ot == T_percent) {
        double d = cell::get_double(other);
        for (uint32_t i = 0; i < length; ++i)
            bytes[i] = clamp_byte(numeric::clamp_to_int32(pick<double>(tuple::byte_at(t, i), d, max)));
    } else {
        return false;
    }
    tuple::make_at(t, bytes, length);
    return true;
}

void max_min(Args& args, bool max) {
    Cell* a = args.cell(0);
    Cell* b = args.cell(1);
    uint32_t ta = cell::type(*a), tb = cell::type(*b);
    if (nan_number_q(*a) && in(tb, NUMBER)) return;
    if (nan_number_q(*b) && in(ta, NUMBER)) {
        *a = *b;
        return;
    }
    if ((ta == T_integer || ta == T_float_) && compound_type_q(tb)) {
        std::swap(*a, *b);
        ta = tb;
    }
    bool done = false;
    switch (ta) {
    case T_pair: done = pair_with(*a, *b, max); break;
    case T_point2d: case T_point3d: done = point_with(*a, *b, max); break;
    case T_tuple: done = tuple_with(*a, *b, max); break;
    default: break;
    }
    if (done) return;
    bool lesser = actions::compare(*a, *b, actions::lesser);
    if (max ? lesser : !lesser) *a = *b;
}

void max(Args& args) { max_min(args, true); }
void min(Args& args) { max_min(args, false); }

// ---- sign tests -------------------------------------------------------------------------------------

inline int32_t double_sign(double d) { return d < 0.0 ? -1 : (d > 0.0 ? 1 : 0); }

int32_t number_sign(const Cell& v) {
    switch (cell::type(v)) {
    case T_integer: return integer::sign(integer::get(v));
    case T_float_: case T_percent: case T_time: return double_sign(cell::get_double(v));
    case T_money: return money::sign_of(v);
    default: fire_expect_arg(v, "number");
    }
}

void negative_q(Args& args) { logic::make_at(*args.cell(0), number_sign(*args.cell(0)) < 0); }
void positive_q(Args& args) { logic::make_at(*args.cell(0), number_sign(*args.cell(0)) > 0); }
void sign_q(Args& args) { integer::make_at(*args.cell(0), number_sign(*args.cell(0))); }

bool zero_value_q(const Cell& v) {
    switch (cell::type(v)) {
    case T_money: return money::zero_q(v);
    case T_char_: case T_integer: return integer::get(v) == 0;
    case T_float_: case T_percent: case T_time: return cell::get_double(v) == 0.0;
    case T_pair: return pair::x(v) == 0 && pair::y(v) == 0;
    case T_point2d: return point2d::x(v) == 0.0f && point2d::y(v) == 0.0f;
    case T_point3d: return point3d::x(v) == 0.0f && point3d::y(v) == 0.0f && point3d::z(v) == 0.0f;
    case T_tuple:
        for (uint32_t i = 0; i < tuple::length(v); ++i)
            if (tuple::byte_at(v, i)) return false;
        return true;
    default: fire_expect_arg(v, "value");
    }
}

void zero_q(Args& args) { logic::make_at(*args.cell(0), zero_value_q(*args.cell(0))); }

void nan_q(Args& args) {
    const Cell& v = *args.cell(0);
    bool nan = (cell::is(v, T_float_) || cell::is(v, T_percent)) && float_::nan_q(cell::get_double(v));
    logic::make_at(*args.cell(0), nan);
}

// ---- bits -------------------------------------------------------------------------------------------

void shift(Args& args) {
    int32_t data = args.integer(0);
    int32_t bits = args.integer(1);
    uint32_t n = bits < 0 ? 0 : static_cast<uint32_t>(bits);
    int32_t r;
    if (args.given(refine::shift::left)) r = static_cast<int32_t>(numeric::shift_left(static_cast<uint32_t>(data), n));
    else if (args.given(refine::shift::logical)) r = static_cast<int32_t>(numeric::shift_right(static_cast<uint32_t>(data), n));
    else r = numeric::shift_right_signed(data, n);
    integer::make_at(*args.cell(0), r);
}

void to_hex(Args& args) {
    char digits[9];
    string::to_hex(args.integer(0), false, digits);
    uint32_t keep = 8;
    if (args.given(refine::to_hex::size)) {
        const Cell& size = *args.option(refine::to_hex::size);
        int32_t length = integer::get(size);
        if (length <= 0) error::fire(err::script_invalid_arg, size);
        if (length < 8) keep = static_cast<uint32_t>(length);
    }
    uint32_t symbol = symbol::search(reinterpret_cast<const uint8_t*>(digits + 8 - keep), keep);
    issue::make_at(*args.cell(0), symbol);
}

// ---- trigonometry and logarithms --------------------------------------------------------------------

// The number of an integer!, float! or percent! cell (a percent as its stored fraction).
double number_of(const Cell& c) {
    return cell::is(c, T_integer) ? static_cast<double>(integer::get(c)) : cell::get_double(c);
}

void set_float(Args& args, double d) { float_::make_at(*args.cell(0), d); }

// The trigonometric natives share their one refinement, /radians.
static_assert(refine::cosine::radians == refine::sine::radians && refine::tangent::radians == refine::sine::radians &&
              refine::arcsine::radians == refine::sine::radians && refine::arccosine::radians == refine::sine::radians &&
              refine::arctangent::radians == refine::sine::radians);

// The angle argument in radians; in degrees it is reduced for the function's kind first.
double angle_argument(Args& args, int kind) {
    double a = number_of(*args.cell(0));
    return args.given(refine::sine::radians) ? a : math::normalize_degrees(a, kind);
}

void sine(Args& args) {
    double r = std::sin(angle_argument(args, 2));
    set_float(args, std::fabs(r) < epsilon ? 0.0 : r);
}

void cosine(Args& args) {
    double r = std::cos(angle_argument(args, 1));
    set_float(args, std::fabs(r) < epsilon ? 0.0 : r);
}

void tangent(Args& args) {
    double a = angle_argument(args, 0);
    if (a == pi / 2.0) set_float(args, HUGE_VAL);
    else if (a == pi / -2.0) set_float(args, -HUGE_VAL);
    else set_float(args, std::tan(a));
}

void arc_function(Args& args, int kind) {
    double x = number_of(*args.cell(0));
    double r = kind == 0 ? std::atan(x) : kind == 1 ? std::acos(x) : std::asin(x);
    set_float(args, args.given(refine::sine::radians) ? r : r * 180.0 / pi);
}

void arcsine(Args& args) { arc_function(args, 2); }
void arccosine(Args& args) { arc_function(args, 1); }
void arctangent(Args& args) { arc_function(args, 0); }

void arctangent2(Args& args) {
    double r = std::atan2(number_of(*args.cell(0)), number_of(*args.cell(1)));
    set_float(args, args.given(refine::arctangent2::radians) ? r : r * (180.0 / pi));
}

void log_2(Args& args) { set_float(args, std::log(number_of(*args.cell(0))) / ln_2); }
void log_10(Args& args) { set_float(args, std::log10(number_of(*args.cell(0)))); }
void log_e(Args& args) { set_float(args, std::log(number_of(*args.cell(0)))); }
void exp(Args& args) { set_float(args, std::pow(e_constant, number_of(*args.cell(0)))); }
void square_root(Args& args) { set_float(args, std::sqrt(number_of(*args.cell(0)))); }

}  // namespace

void init_math() {
#define NATIVES_math(index, entry) register_entry(index, entry);
#include "runtime/interpreter/natives_register.h"
}

}  // namespace kov::natives
