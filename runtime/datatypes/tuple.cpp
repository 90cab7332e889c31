#include "runtime/datatypes/tuple.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "runtime/cells.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/scalar.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/families.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/random.h"
#include "runtime/interpreter/stack.h"
#include "runtime/numeric.h"
#include "runtime/runtime.h"
#include "runtime/series_buffer.h"
#include "runtime/words.h"

namespace kov::tuple {

// ---- constructors -------------------------------------------------------------------------------

Cell& make_at(Cell& c, const uint8_t* bytes, uint32_t count) {
    uint8_t payload[12] = {};
    if (count > max_length) count = max_length;
    std::memcpy(payload, bytes, count);
    c.header = cell::retyped(c.header, T_tuple) | (count << length_shift);
    std::memcpy(&c.w1, payload, 4);
    std::memcpy(&c.w2, payload + 4, 4);
    std::memcpy(&c.w3, payload + 8, 4);
    return c;
}

Cell make(uint32_t count, uint32_t w1, uint32_t w2, uint32_t w3) {
    return Cell{T_tuple | ((count & 0xF) << length_shift), w1, w2, w3};
}

Cell* make_in(memory::Node block, const uint8_t* bytes, uint32_t count) {
    return &make_at(*series::append_cell(block), bytes, count);
}

Cell* push(uint32_t count, uint32_t w1, uint32_t w2, uint32_t w3) { return stack::push(make(count, w1, w2, w3)); }

namespace {

// A whole new tuple cell (no header flags) of count bytes (at most 12), zero bytes added up
// to 3.
Cell fresh(const uint8_t* bytes, uint32_t count) {
    uint8_t payload[12] = {};
    count = std::min(count, max_length);
    std::memcpy(payload, bytes, count);
    Cell c{T_tuple, 0, 0, 0};
    return make_at(c, payload, std::max(count, min_length));
}

}  // namespace

Cell* push_from_ints(uint32_t n, const int32_t* values) {
    uint8_t bytes[12] = {};
    n = std::min(n, max_length);
    for (uint32_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(values[i]);
    return stack::push(fresh(bytes, n));
}

Cell& make_rgba(Cell& c, int32_t r, int32_t g, int32_t b, int32_t a) {
    uint8_t bytes[4] = {static_cast<uint8_t>(r), static_cast<uint8_t>(g), static_cast<uint8_t>(b),
                        static_cast<uint8_t>(a)};
    return c = fresh(bytes, a == -1 ? 3 : 4);
}

// ---- internal routines --------------------------------------------------------------------------

namespace {

using scalar::datatype_of;

[[noreturn]] void bad_to(const Cell& spec) { error::fire(err::script_bad_to_arg, datatype_of(T_tuple), spec); }

uint8_t clamp_byte(int64_t v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

// A hexadecimal digit's value, or -1. Only ASCII digits count: a character above 127 is
// never a digit, whatever its low bits.
int32_t hex_digit(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

Cell& from_binary(const Cell& binary, Cell& out) {
    memory::Buffer* b = memory::buffer(binary.w2);
    uint32_t used = b->used();
    uint32_t index = std::min(binary.w1, used);
    uint32_t count = std::min(used - index, max_length);
    return out = fresh(b->head_ptr() + index, count);
}

Cell& from_hex(const Cell& issue, Cell& out) {
    symbol::Spelling sp = symbol::spelling(word::symbol_of(issue));
    uint32_t n = sp.length;
    if (n != 3 && n != 6 && n != 8) error::fire(err::script_invalid_data, issue);
    int32_t digits[8];
    for (uint32_t i = 0; i < n; ++i) {
        digits[i] = hex_digit(sp.bytes[i]);
        if (digits[i] < 0) error::fire(err::script_invalid_data, issue);
    }
    uint8_t bytes[4] = {};
    if (n == 3) {
        for (uint32_t i = 0; i < 3; ++i) bytes[i] = static_cast<uint8_t>(digits[i] * 17);
    } else {
        for (uint32_t i = 0; i < n / 2; ++i) bytes[i] = static_cast<uint8_t>(digits[2 * i] * 16 + digits[2 * i + 1]);
    }
    return out = fresh(bytes, n == 8 ? 4 : 3);
}

bool all_zero_q(const Cell& c) {
    for (uint32_t i = 0; i < length(c); ++i)
        if (byte_at(c, i)) return false;
    return true;
}

void set_byte(Cell& c, int32_t index, const Cell& value, const Cell& index_cell) {
    uint32_t len = length(c);
    if (index < 1 || uint32_t(index) > len) error::fire(err::script_out_of_range, index_cell);
    uint8_t bytes[12];
    bytes_of(c, bytes);
    if (cell::is(value, T_none)) {
        for (uint32_t i = uint32_t(index) - 1; i < max_length; ++i) bytes[i] = 0;
        len = std::max(uint32_t(index) - 1, min_length);
    } else {
        bytes[index - 1] = clamp_byte(integer::get(value));
    }
    make_at(c, bytes, len);
}

Cell* math(Cell* a, Cell* b, int32_t op) {
    if (!cell::is(*a, T_tuple)) {
        // A number on the left: only the operations whose operands commute may swap.
        if (op == integer::subtract || op == integer::divide || op == integer::remainder) {
            Cell w = op == integer::subtract ? words::loaded::subtract
                   : op == integer::divide   ? words::loaded::divide
                                             : word::load("remainder");
            error::fire(err::script_not_related, w, datatype_of(cell::type(*a)));
        }
        std::swap(*a, *b);
    }
    uint8_t left[12], right[12] = {}, out[12] = {};
    bytes_of(*a, left);
    uint32_t len = length(*a);
    uint32_t result_len = len;
    int64_t v = 0;
    switch (cell::type(*b)) {
    case T_tuple:
        bytes_of(*b, right);
        result_len = std::max(len, length(*b));
        break;
    case T_integer:
        v = integer::get(*b);
        break;
    case T_float_:
    case T_percent: {
        // Float mode: each byte op the value, truncated and clamped (NaN gives 0).
        double f = cell::get_double(*b);
        for (uint32_t i = 0; i < len; ++i) {
            double r = float_::do_math(left[i], f, op);
            out[i] = r != r ? 0 : clamp_byte(numeric::clamp_to_int32(r));
        }
        make_at(*a, out, len);
        return a;
    }
    default:
        error::fire(err::script_invalid_type, datatype_of(cell::type(*b)));
    }
    bool tuple_right = cell::is(*b, T_tuple);
    for (uint32_t i = 0; i < result_len; ++i) {
        int64_t l = i < len ? left[i] : 0;
        int64_t r = tuple_right ? right[i] : v;  // bytes past the right length are 0
        int64_t res;
        // In 64 bits nothing overflows; the clamp below gives what 32-bit overflow would.
        switch (op) {
        case integer::add: res = l + r; break;
        case integer::subtract: res = l - r; break;
        case integer::multiply: res = l * r; break;
        case integer::divide:
            if (r == 0) error::fire(err::math_zero_divide);
            res = l / r;
            break;
        case integer::remainder:
            if (r == 0) error::fire(err::math_zero_divide);
            res = l % r;
            break;
        case integer::or_: res = static_cast<int32_t>(l) | static_cast<int32_t>(r); break;
        case integer::and_: res = static_cast<int32_t>(l) & static_cast<int32_t>(r); break;
        case integer::xor_: res = static_cast<int32_t>(l) ^ static_cast<int32_t>(r); break;
        default: runtime::no_switch_matched();
        }
        out[i] = clamp_byte(res);
    }
    make_at(*a, out, result_len);
    return a;
}

// ---- actions ------------------------------------------------------------------------------------

namespace {

// make and to (one routine).
Cell* to(Cell*, Cell* spec, uint32_t) {
    Cell r;
    uint32_t t = cell::type(*spec);
    if (in(t, ANY_LIST)) {
        memory::Buffer* buf = memory::buffer(spec->w2);
        int64_t count = int64_t(buf->used() / sizeof(Cell)) - int64_t(spec->w1);
        if (count < 0) count = 0;
        if (count > int64_t(max_length)) bad_to(*spec);
        const Cell* items = cells::of(buf) + spec->w1;
        uint8_t bytes[12] = {};
        for (int64_t i = 0; i < count; ++i) {
            const Cell& c = items[i];
            int64_t v;
            if (cell::is(c, T_integer)) v = integer::get(c);
            else if (cell::is(c, T_char_)) v = c.w2;
            else if (cell::is(c, T_float_)) v = numeric::clamp_to_int32(cell::get_double(c));
            else bad_to(*spec);
            if (cell::is(c, T_float_) && !std::isfinite(cell::get_double(c))) bad_to(*spec);
            if (v < 0 || v > 255) bad_to(*spec);
            bytes[i] = static_cast<uint8_t>(v);
        }
        r = fresh(bytes, static_cast<uint32_t>(count));
    } else if (t == T_binary) {
        from_binary(*spec, r);
    } else if (t == T_issue) {
        from_hex(*spec, r);
    } else if (in(t, ANY_STRING)) {
        Cell v = scalar::load_one(*spec);
        if (!cell::is(v, T_tuple)) bad_to(*spec);
        uint8_t bytes[12];
        bytes_of(v, bytes);
        r = fresh(bytes, length(v));
    } else if (t == T_tuple) {
        uint8_t bytes[12];
        bytes_of(*spec, bytes);
        r = fresh(bytes, length(*spec));
    } else {
        bad_to(*spec);
    }
    return stack::push(r);
}

// Each byte b becomes one of 0..b.
Cell* random(Cell* value, const RandomArgs& how) {
    bool seed = how.seed, secure = how.secure;
    if (seed) {
        random::seed(static_cast<int32_t>(value->w1 ^ value->w2 ^ value->w3));
        return &unset::make_at(*value);
    }
    uint8_t bytes[max_length];
    bytes_of(*value, bytes);
    for (uint32_t i = 0; i < length(*value); ++i)
        bytes[i] = static_cast<uint8_t>(random::integer(secure, bytes[i] + 1) - 1);
    return &make_at(*value, bytes, length(*value));
}

int32_t form(Cell* value, Cell* out, Cell*, int32_t part) {
    char text[12 * 4 + 1];
    uint32_t n = 0;
    for (uint32_t i = 0; i < length(*value); ++i) {
        if (i) text[n++] = '.';
        n += integer::form_signed(byte_at(*value, i), text + n);
    }
    text[n] = '\0';
    return string::emit(*out, text, part);
}

int32_t mold(Cell* value, Cell* out, const MoldArgs& how, int32_t part) {
    return form(value, out, how.arg, part);
}

Cell* pick(Cell* value, int32_t index, Cell*) {
    if (index < 1 || uint32_t(index) > length(*value)) error::fire(err::script_out_of_range, integer::make(index));
    *value = integer::make(byte_at(*value, uint32_t(index) - 1));
    return value;
}

Cell* eval_path(Cell* parent, const PathStep& step) {
    Cell element = *step.element;
    if (!cell::is(element, T_integer)) error::fire(err::script_invalid_type, datatype_of(cell::type(element)));
    int32_t index = integer::get(element);
    if (!step.value) {
        Cell copy = *parent;
        return stack::push(*pick(&copy, index, nullptr));
    }
    const Cell& v = *step.value;
    if (!cell::is(v, T_integer) && !cell::is(v, T_none)) error::fire(err::script_invalid_type, datatype_of(cell::type(v)));
    set_byte(*parent, index, v, element);
    return step.value;
}

// Byte by byte up to the longer length, a missing byte counting as 0.
int32_t compare(Cell* a, Cell* b, int32_t) {
    if (!cell::is(*b, T_tuple)) return actions::not_comparable;
    uint32_t n = std::max(length(*a), length(*b));
    for (uint32_t i = 0; i < n; ++i) {
        uint32_t x = i < length(*a) ? byte_at(*a, i) : 0;
        uint32_t y = i < length(*b) ? byte_at(*b, i) : 0;
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

Cell* complement(Cell* value) {
    uint8_t bytes[12];
    bytes_of(*value, bytes);
    for (uint32_t i = 0; i < length(*value); ++i) bytes[i] = static_cast<uint8_t>(255 - bytes[i]);
    make_at(*value, bytes, length(*value));
    return value;
}

Cell* length_q(Cell* value) {
    *value = integer::make(static_cast<int32_t>(length(*value)));
    return value;
}

// /part limits the bytes reversed; /skip reverses records of that many bytes, which must
// divide the length and the bytes reversed.
Cell* reverse(Cell* value, Cell* part, Cell* skip) {
    uint32_t len = length(*value);
    uint32_t span = len;
    if (part) {
        if (!cell::is(*part, T_integer)) error::fire(err::script_invalid_refine_arg, words::refinements::part, *part);
        int32_t p = integer::get(*part);
        if (p < 0) error::fire(err::script_out_of_range, *part);
        span = std::min(span, uint32_t(p));
    }
    uint32_t k = 1;
    if (skip) {
        if (!cell::is(*skip, T_integer)) error::fire(err::script_invalid_refine_arg, words::refinements::skip, *skip);
        int32_t s = integer::get(*skip);
        if (s == int32_t(len)) return value;
        if (s <= 0) error::fire(err::script_out_of_range, *skip);
        if (uint32_t(s) > len || len % uint32_t(s) != 0)
            error::fire(err::script_invalid_refine_arg, words::refinements::skip, *skip);
        k = uint32_t(s);
    }
    // A /part span must hold whole records too.
    if (span % k != 0) error::fire(err::script_invalid_refine_arg, words::refinements::skip, *skip);
    uint8_t bytes[12];
    bytes_of(*value, bytes);
    // Records from both ends towards the middle.
    if (span) {
        for (uint32_t front = 0, back = span - k; front < back; front += k, back -= k)
            std::swap_ranges(bytes + front, bytes + front + k, bytes + back);
    }
    make_at(*value, bytes, len);
    return value;
}

Cell* add_a(Cell* a, Cell* b) { return tuple::math(a, b, integer::add); }
Cell* subtract_a(Cell* a, Cell* b) { return tuple::math(a, b, integer::subtract); }
Cell* multiply_a(Cell* a, Cell* b) { return tuple::math(a, b, integer::multiply); }
Cell* divide_a(Cell* a, Cell* b) { return tuple::math(a, b, integer::divide); }
Cell* remainder_a(Cell* a, Cell* b) { return tuple::math(a, b, integer::remainder); }
Cell* and_a(Cell* a, Cell* b) { return tuple::math(a, b, integer::and_); }
Cell* or_a(Cell* a, Cell* b) { return tuple::math(a, b, integer::or_); }
Cell* xor_a(Cell* a, Cell* b) { return tuple::math(a, b, integer::xor_); }

// Identity: the same length and the same bytes.
bool same_q(const Cell& a, const Cell& b) {
    uint32_t n = length(a);
    if (n != length(b)) return false;
    for (uint32_t i = 0; i < n; ++i)
        if (byte_at(a, i) != byte_at(b, i)) return false;
    return true;
}

}  // namespace

void init() {
    datatype::register_type({.id = T_tuple, .name = "tuple!", .rest = datatype::Rest::empty,
                             .mark = nullptr, .same = same_q,
                             .actions = {.make = to, .random = random, .to = to, .form = form, .mold = mold,
                                         .eval_path = eval_path, .compare = compare, .add = add_a,
                                         .divide = divide_a, .multiply = multiply_a, .remainder = remainder_a,
                                         .subtract = subtract_a, .and_t = and_a, .complement = complement,
                                         .or_t = or_a, .xor_t = xor_a, .length_q = length_q, .pick = pick,
                                         .reverse = reverse}});
}

}  // namespace kov::tuple
