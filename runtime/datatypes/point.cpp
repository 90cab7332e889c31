#include "runtime/datatypes/point.h"

#include <cmath>
#include <cstring>
#include <utility>

#include "runtime/cells.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/datatypes/scalar.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/float_text.h"
#include "runtime/hashtable.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/random.h"
#include "runtime/interpreter/stack.h"
#include "runtime/series_buffer.h"
#include "runtime/words.h"

// The two point types share every routine; the templates below take the number of
// coordinates N (2 or 3) and are instantiated once for each type.
namespace kov::points {

namespace {

using point2d::narrow;
using scalar::datatype_of;

template <int N>
constexpr uint32_t type_id = N == 2 ? T_point2d : T_point3d;

struct Coords {
    float v[3] = {0, 0, 0};
};

inline float coord(const Cell& c, int i) { return std::bit_cast<float>(i == 0 ? c.w1 : i == 1 ? c.w2 : c.w3); }

template <int N>
Coords coords_of(const Cell& c) {
    Coords r;
    for (int i = 0; i < N; ++i) r.v[i] = coord(c, i);
    return r;
}

// The cell becomes the point of the coordinates, its header flags kept.
template <int N>
Cell& put(Cell& c, const Coords& p) {
    if constexpr (N == 2) return point2d::make_at(c, p.v[0], p.v[1]);
    else return point3d::make_at(c, p.v[0], p.v[1], p.v[2]);
}

template <int N>
Cell fresh(const Coords& p) {
    Cell c{type_id<N>, 0, 0, 0};
    return put<N>(c, p);
}

// 1 for x, 2 for y, 3 for z (point3D! only), letter case ignored. Another word raises
// script/cannot-use against a point of the type (pick), or script/invalid-path in the path.
template <int N>
int32_t check_selector(const Cell& word, const Cell& point_or_path) {
    if (scalar::word_is(word, words::symbols::x)) return 1;
    if (scalar::word_is(word, words::symbols::y)) return 2;
    if (N == 3 && scalar::word_is(word, words::symbols::z)) return 3;
    if (cell::is(point_or_path, type_id<N>)) error::fire(err::script_cannot_use, word, point_or_path);
    error::fire(err::script_invalid_path, point_or_path, word);
}

// ---- arithmetic ---------------------------------------------------------------------------------

template <int N>
Cell* math(Cell* a, Cell* b, int32_t op) {
    double right[3] = {0, 0, 0};
    uint32_t t = cell::type(*b);
    if (t == type_id<N>) {
        for (int i = 0; i < N; ++i) right[i] = coord(*b, i);
    } else if (N == 2 && t == T_pair) {
        right[0] = pair::x(*b);
        right[1] = pair::y(*b);
    } else if (t == T_integer) {
        for (int i = 0; i < N; ++i) right[i] = integer::get(*b);
    } else if (t == T_float_ || t == T_percent) {
        // The operand is a 32-bit float like the coordinates; a zero divisor follows
        // floating-point division.
        float f = narrow(cell::get_double(*b));
        for (int i = 0; i < N; ++i) right[i] = f;
    } else {
        error::fire(err::script_invalid_type, datatype_of(t));
    }
    Coords left = coords_of<N>(*a);
    Coords r;
    for (int i = 0; i < N; ++i) r.v[i] = narrow(float_::do_math(left.v[i], right[i], op));
    put<N>(*a, r);
    return a;
}

// ---- actions ------------------------------------------------------------------------------------

[[noreturn]] void bad_to(uint32_t type, const Cell& spec) {
    error::fire(err::script_bad_to_arg, datatype_of(type), spec);
}

template <int N>
Cell* to(Cell*, Cell* spec, uint32_t) {
    Coords p;
    switch (cell::type(*spec)) {
    case T_integer:
        for (int i = 0; i < N; ++i) p.v[i] = static_cast<float>(integer::get(*spec));
        break;
    case T_float_:
        for (int i = 0; i < N; ++i) p.v[i] = narrow(cell::get_double(*spec));
        break;
    case T_block: {
        memory::Buffer* buf = memory::buffer(spec->w2);
        int64_t count = int64_t(buf->used() / sizeof(Cell)) - int64_t(spec->w1);
        if (count < N) error::fire(err::syntax_malconstruct, *spec);
        Cell items[N];
        std::memcpy(items, cells::of(buf) + spec->w1, sizeof items);
        for (int i = 0; i < N; ++i) {
            if (!cell::is(items[i], T_integer) && !cell::is(items[i], T_float_))
                error::fire(err::syntax_malconstruct, *spec);
            p.v[i] = point2d::get_float(items[i]);
        }
        break;
    }
    case T_pair:
        p.v[0] = static_cast<float>(pair::x(*spec));
        p.v[1] = static_cast<float>(pair::y(*spec));
        break;
    case T_point2d:
        if (N == 2) return stack::push(fresh<N>(coords_of<2>(*spec)));
        p = coords_of<2>(*spec);  // z stays 0
        break;
    case T_point3d:
        if (N == 2) bad_to(type_id<N>, *spec);
        p = coords_of<3>(*spec);
        break;
    case T_string: {
        Cell v = scalar::load_one(*spec);
        if (!cell::is(v, type_id<N>)) bad_to(type_id<N>, *spec);
        p = coords_of<N>(v);
        break;
    }
    default: bad_to(type_id<N>, *spec);
    }
    return stack::push(fresh<N>(p));
}

// Each coordinate c that is not 0 becomes a float from 0 to c, as float! draws it.
template <int N>
Cell* random(Cell* value, const RandomArgs& how) {
    bool seed = how.seed, secure = how.secure;
    if (seed) {
        uint32_t words[3] = {value->w1, value->w2, value->w3};
        random::seed(static_cast<int32_t>(hashtable::murmur3(words, N * 4)));
        return &unset::make_at(*value);
    }
    Coords p = coords_of<N>(*value);
    for (int i = 0; i < N; ++i)
        if (p.v[i] != 0.0f) p.v[i] = point2d::narrow(random::scaled_float(secure, p.v[i]));
    return &put<N>(*value, p);
}

template <int N>
int32_t form(Cell* value, Cell* out, Cell*, int32_t part) {
    part = string::emit(*out, "(", part);
    for (int i = 0; i < N; ++i) {
        if (i) part = string::emit(*out, ", ", part);
        FloatText text;
        float_::format(coord(*value, i), float_::Kind::point, text);
        part = string::emit(*out, text.text, part);
    }
    return string::emit(*out, ")", part);
}

template <int N>
int32_t mold(Cell* value, Cell* out, const MoldArgs& how, int32_t part) {
    return form<N>(value, out, how.arg, part);
}

template <int N>
Cell* eval_path(Cell* parent, const PathStep& step) {
    Cell element = *step.element;
    Cell path = step.path ? *step.path : element;
    int32_t index;
    if (cell::is(element, T_integer)) {
        index = integer::get(element);
        if (index < 1 || index > N) error::fire(err::script_invalid_path, path, element);
    } else if (scalar::selector_word_q(element)) {
        index = check_selector<N>(element, path);
    } else {
        error::fire(err::script_invalid_path, path, element);
    }
    if (!step.value) return stack::push(float_::make(coord(*parent, index - 1)));
    Cell* v = step.value;
    if (!cell::is(*v, T_integer) && !cell::is(*v, T_float_))
        error::fire(err::script_invalid_type, datatype_of(cell::type(*v)));
    v->header = cell::type(*v);
    Coords p = coords_of<N>(*parent);
    p.v[index - 1] = point2d::get_float(*v);
    put<N>(*parent, p);
    return step.value;
}

template <int N>
int32_t compare(Cell* a, Cell* b, int32_t op) {
    Coords l = coords_of<N>(*a);
    Coords r;
    if (cell::is(*b, type_id<N>)) {
        r = coords_of<N>(*b);
    } else if (N == 2 && cell::is(*b, T_pair)) {
        r.v[0] = static_cast<float>(pair::x(*b));
        r.v[1] = static_cast<float>(pair::y(*b));
    } else {
        return actions::not_comparable;
    }
    switch (op) {
    case actions::same:
        for (int i = 0; i < N; ++i)
            if (std::bit_cast<uint32_t>(l.v[i]) != std::bit_cast<uint32_t>(r.v[i])) return 1;
        return 0;
    case actions::equal:
    case actions::not_equal:
    case actions::strict_equal:
    case actions::parse_strict:
    case actions::parse_loose:
    case actions::find_equal:
        // Plain float equality: a NaN equals nothing.
        for (int i = 0; i < N; ++i)
            if (!(l.v[i] == r.v[i])) return 1;
        return 0;
    default: {
        // The orderings: by the first non-zero coordinate difference (a NaN difference
        // orders as equal).
        float d = 0;
        for (int i = 0; i < N && d == 0; ++i) d = l.v[i] - r.v[i];
        return d < 0 ? -1 : (d > 0 ? 1 : 0);
    }
    }
}

template <int N>
Cell* absolute(Cell* value) {
    Coords p = coords_of<N>(*value);
    for (int i = 0; i < N; ++i) p.v[i] = std::fabs(p.v[i]);
    put<N>(*value, p);
    return value;
}

// 0 minus each coordinate, so that 0 stays +0.
template <int N>
Cell* negate(Cell* value) {
    Coords p = coords_of<N>(*value);
    for (int i = 0; i < N; ++i) p.v[i] = 0.0f - p.v[i];
    put<N>(*value, p);
    return value;
}

// Each coordinate rounded as a float! with the same refinements. A point scale rounds each
// coordinate to the scale's matching coordinate (a point2D! scale rounds z of a point3D! with
// 0.0, which leaves it as it is); a pair! scale does so for a point2D! only.
template <int N>
Cell* round(Cell* n, Cell* scale, const RoundArgs& how) {
    if (scale && cell::is(*scale, T_money))
        error::fire(err::script_not_related, scalar::calling_word(), datatype_of(T_money));
    Coords p = coords_of<N>(*n);
    uint32_t st = scale ? cell::type(*scale) : 0;
    for (int i = 0; i < N; ++i) {
        Cell c = float_::make(p.v[i]);
        Cell s;
        Cell* sp = scale;
        if (st == T_point2d || st == T_point3d) {
            s = float_::make(st == T_point2d && i == 2 ? 0.0f : coord(*scale, i));
            sp = &s;
        } else if (N == 2 && st == T_pair) {
            s = integer::make(i == 0 ? pair::x(*scale) : pair::y(*scale));
            sp = &s;
        }
        float_::round(&c, sp, how);
        p.v[i] = cell::is(c, T_integer) ? static_cast<float>(integer::get(c)) : narrow(cell::get_double(c));
    }
    put<N>(*n, p);
    return n;
}

template <int N>
Cell* pick(Cell* value, int32_t index, Cell* boxed) {
    if (boxed && scalar::selector_word_q(*boxed)) index = check_selector<N>(*boxed, *value);
    else if (index < 1 || index > N) error::fire(err::script_out_of_range, boxed ? *boxed : integer::make(index));
    *value = float_::make(coord(*value, index - 1));
    return value;
}

// The first and the last coordinate swapped.
template <int N>
Cell* reverse(Cell* value, Cell*, Cell*) {
    Coords p = coords_of<N>(*value);
    std::swap(p.v[0], p.v[N - 1]);
    put<N>(*value, p);
    return value;
}

template <int N> Cell* add_a(Cell* a, Cell* b) { return math<N>(a, b, integer::add); }
template <int N> Cell* subtract_a(Cell* a, Cell* b) { return math<N>(a, b, integer::subtract); }
template <int N> Cell* multiply_a(Cell* a, Cell* b) { return math<N>(a, b, integer::multiply); }
template <int N> Cell* divide_a(Cell* a, Cell* b) { return math<N>(a, b, integer::divide); }
template <int N> Cell* remainder_a(Cell* a, Cell* b) { return math<N>(a, b, integer::remainder); }

template <int N>
void register_point(const char* name) {
    datatype::register_type({.id = type_id<N>, .name = name, .rest = datatype::Rest::empty,
                             .mark = nullptr,
                             // The same coordinates: words 1-2, or 1-3.
                             .same = N == 2 ? datatype::same::first_two : datatype::same::payload,
                             .actions = {.make = to<N>, .random = random<N>, .to = to<N>, .form = form<N>,
                                         .mold = mold<N>, .eval_path = eval_path<N>, .compare = compare<N>,
                                         .absolute = absolute<N>, .add = add_a<N>, .divide = divide_a<N>,
                                         .multiply = multiply_a<N>, .negate = negate<N>,
                                         .remainder = remainder_a<N>, .round = round<N>,
                                         .subtract = subtract_a<N>, .pick = pick<N>, .reverse = reverse<N>}});
}

}  // namespace

}  // namespace kov::points

namespace kov::point2d {

// ---- constructors -------------------------------------------------------------------------------

Cell* make_in(memory::Node block, float x, float y) { return &make_at(*series::append_cell(block), x, y); }
Cell* push(float x, float y) { return &make_at(*stack::reserve(), x, y); }

// ---- internal routines --------------------------------------------------------------------------

float get_float(const Cell& c) {
    if (cell::is(c, T_integer)) return static_cast<float>(integer::get(c));
    return narrow(cell::get_double(c));
}

Cell* math(Cell* a, Cell* b, int32_t op) { return points::math<2>(a, b, op); }
int32_t compare(Cell* a, Cell* b, int32_t op) { return points::compare<2>(a, b, op); }

void init() { points::register_point<2>("point2D!"); }

}  // namespace kov::point2d

namespace kov::point3d {

// ---- constructors -------------------------------------------------------------------------------

Cell* make_in(memory::Node block, float x, float y, float z) { return &make_at(*series::append_cell(block), x, y, z); }
Cell* push(float x, float y, float z) { return &make_at(*stack::reserve(), x, y, z); }

// ---- internal routines --------------------------------------------------------------------------

Cell* math(Cell* a, Cell* b, int32_t op) { return points::math<3>(a, b, op); }

void init() { points::register_point<3>("point3D!"); }

}  // namespace kov::point3d
