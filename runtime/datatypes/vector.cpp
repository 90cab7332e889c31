#include "runtime/datatypes/vector.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/error.h"
#include "runtime/float_text.h"
#include "runtime/hashtable.h"
#include "runtime/heap.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/interp.h"
#include "runtime/interpreter/stack.h"
#include "runtime/numeric.h"
#include "runtime/runtime.h"
#include "runtime/series_buffer.h"
#include "runtime/sort.h"
#include "runtime/words.h"

namespace kov::vector {

using memory::Buffer;
using memory::buffer;
using memory::Node;
using series::Change;

namespace {

[[noreturn]] void no_memory() { error::fire(err::internal_no_memory); }
[[noreturn]] void not_done() { error::fire(err::internal_not_done); }

bool element_type_q(uint32_t t) { return t == T_char_ || t == T_integer || t == T_float_ || t == T_percent; }

// The index clipped to 0 .. the element count (not written back).
uint32_t position(const Cell& c) {
    Buffer* b = buffer(c.w2);
    uint32_t count = b->used() / (b->unit() ? b->unit() : 1);
    int32_t i = static_cast<int32_t>(c.w1);
    if (i < 0) return 0;
    return static_cast<uint32_t>(i) < count ? static_cast<uint32_t>(i) : count;
}

uint32_t count_of(const Cell& c) {
    Buffer* b = buffer(c.w2);
    return b->used() / (b->unit() ? b->unit() : 1);
}

// The buffer grown, when short, so that `need` bytes fit: to twice its capacity when that
// suffices, else to exactly the need.
void ensure_room(Node node, uint64_t need) {
    Buffer* b = buffer(node);
    if (uint64_t(b->head) + need <= b->size) return;
    uint64_t doubled = uint64_t(b->size) * 2;
    uint64_t size = doubled >= need && doubled <= memory::max_buffer_size ? doubled : need;
    memory::expand_series(node, size);
}

// elements × width must fit a buffer; checked before anything is allocated or changed.
void check_bytes(uint64_t elements, uint32_t width) {
    if (elements > memory::max_buffer_size / width) no_memory();
}

// The integer arithmetic of two elements: add, subtract and multiply wrap around modulo
// 2^32; division truncates; a zero divisor raises math/zero-divide and the smallest integer
// divided by -1 math/overflow, as integer! does.
int32_t int_math(int32_t a, int32_t b, int32_t op) {
    uint32_t ua = static_cast<uint32_t>(a), ub = static_cast<uint32_t>(b);
    switch (op) {
    case integer::add: return static_cast<int32_t>(ua + ub);
    case integer::subtract: return static_cast<int32_t>(ua - ub);
    case integer::multiply: return static_cast<int32_t>(ua * ub);
    case integer::divide:
    case integer::remainder:
        if (b == 0) error::fire(err::math_zero_divide);
        if (b == -1 && a == INT32_MIN) error::fire(err::math_overflow);
        return op == integer::divide ? a / b : a % b;
    case integer::or_: return a | b;
    case integer::and_: return a & b;
    case integer::xor_: return a ^ b;
    default: runtime::no_switch_matched();
    }
}

void store_integer(uint8_t* at, int64_t v, uint32_t width) {
    uint32_t low = static_cast<uint32_t>(v);
    switch (width) {
    case 1: *at = static_cast<uint8_t>(low); break;
    case 2: { uint16_t h = static_cast<uint16_t>(low); std::memcpy(at, &h, 2); break; }
    default: std::memcpy(at, &low, 4); break;
    }
}

void store_float(uint8_t* at, double d, uint32_t width) {
    if (width == 4) {
        float f = static_cast<float>(d);
        std::memcpy(at, &f, 4);
    } else {
        std::memcpy(at, &d, 8);
    }
}

// The values a changing action stores, checked and copied out of any series first: the
// source may be the vector itself, and storing must not start before every value is known
// to fit.
struct Items {
    std::vector<Cell> cells;
};

// A block's values from its position (at most `limit` when limit > 0), each of the element
// type, else script/invalid-arg with the value.
void gather_block(Items& out, const Cell& block, uint32_t type, int64_t limit) {
    int64_t n = block::rs_length_q(block);
    if (n <= 0) return;
    if (limit > 0 && limit < n) n = limit;
    uint32_t start = static_cast<uint32_t>(static_cast<int32_t>(block.w1) < 0 ? 0 : block.w1);
    out.cells.reserve(static_cast<std::size_t>(n));
    for (int64_t i = 0; i < n; ++i) {
        Cell v = *block::rs_abs_at(block, start + static_cast<uint32_t>(i));
        if (cell::type(v) != type) error::fire(err::script_invalid_arg, v);
        out.cells.push_back(v);
    }
}

// A vector's elements from its position, as values. Another width is converted element by
// element; another element type is refused.
void gather_vector(Items& out, const Cell& source, uint32_t type, int64_t limit) {
    if (element_type(source) != type) error::fire(err::script_invalid_arg, source);
    uint32_t from = position(source), n = count_of(source) - from;
    if (limit > 0 && uint64_t(limit) < n) n = static_cast<uint32_t>(limit);
    uint32_t w = width(source);
    out.cells.reserve(n);
    for (uint32_t i = 0; i < n; ++i) {
        const uint8_t* at = element_at(source, from + i);
        if (float_type(type)) out.cells.push_back(cell::with_double(type, element_to_float(at, w)));
        else out.cells.push_back(Cell{type, 0, static_cast<uint32_t>(element_to_integer(at, w, type)), 0});
    }
}

void check_item(const Cell& v, uint32_t type) {
    if (cell::type(v) != type) error::fire(err::script_invalid_arg, v);
}

}  // namespace

// ---- cell helpers -------------------------------------------------------------------------------

uint32_t width(const Cell& c) {
    uint32_t u = buffer(c.w2)->unit();
    return u ? u : 1;
}

uint32_t length(const Cell& c) { return count_of(c) - position(c); }

// ---- elements -----------------------------------------------------------------------------------

int64_t element_to_integer(const uint8_t* at, uint32_t w, uint32_t type) {
    bool is_char = type == T_char_;
    switch (w) {
    case 1: return is_char ? int64_t(*at) : int64_t(static_cast<int8_t>(*at));
    case 2: {
        uint16_t h;
        std::memcpy(&h, at, 2);
        return is_char ? int64_t(h) : int64_t(static_cast<int16_t>(h));
    }
    default: {
        uint32_t v;
        std::memcpy(&v, at, 4);
        return is_char ? int64_t(v) : int64_t(static_cast<int32_t>(v));
    }
    }
}

double element_to_float(const uint8_t* at, uint32_t w) {
    if (w == 4) {
        float f;
        std::memcpy(&f, at, 4);
        return f;
    }
    double d;
    std::memcpy(&d, at, 8);
    return d;
}

Cell element_value(const uint8_t* at, uint32_t w, uint32_t type) {
    if (float_type(type)) return cell::with_double(type, element_to_float(at, w));
    int64_t v = element_to_integer(at, w, type);
    if (type == T_char_) {
        // Wrapping arithmetic can leave a 32-bit char element past the last code point.
        if (v > char_::max_code_point) error::fire(err::math_overflow);
        return char_::make(static_cast<int32_t>(v));
    }
    return integer::make(static_cast<int32_t>(v));
}

Cell* box_into(Cell* s, const uint8_t* at) {
    *s = element_value(at, width(*s), element_type(*s));
    return s;
}

void set_element(uint8_t* at, const Cell& value, uint32_t w, uint32_t type) {
    uint32_t vt = cell::type(value);
    double d;
    int64_t i;
    switch (vt) {
    case T_integer: case T_char_:
        i = static_cast<int32_t>(value.w2);
        d = double(i);
        break;
    case T_float_: case T_percent:
        d = cell::get_double(value);
        i = numeric::clamp_to_int32(d);
        break;
    default: error::fire(err::script_invalid_type, datatype::make(vt));
    }
    if (float_type(type)) store_float(at, d, w);
    else store_integer(at, i, w);
}

// ---- constructors -------------------------------------------------------------------------------

Cell& make_at(Cell& c, uint64_t count, uint32_t type, uint32_t w) {
    if (count < 1) count = 1;
    check_bytes(count, w);
    c = Cell{T_unset, 0, 0, 0};
    Node node = memory::alloc_series(count, w, 0);
    c = cell_of(node, type);
    return c;
}

Cell* make_in(Node block, uint64_t count, uint32_t type, uint32_t w) {
    check_bytes(count < 1 ? 1 : count, w);
    Node node = memory::alloc_series(count < 1 ? 1 : count, w, 0);
    collector::RootNode keep(node);
    Cell* c = series::append_cell(block);
    *c = cell_of(node, type);
    return c;
}

Cell* push(uint64_t count, uint32_t type, uint32_t w) { return &make_at(*stack::reserve(), count, type, w); }

// ---- internal routines --------------------------------------------------------------------------

namespace {

// Appends n zero elements.
void append_zeros(Cell& v, uint64_t n) {
    if (n == 0) return;
    uint32_t w = width(v);
    uint64_t used = buffer(v.w2)->used();
    check_bytes(used / w + n, w);
    ensure_room(v.w2, used + n * w);
    Buffer* b = buffer(v.w2);
    std::memset(b->head_ptr() + used, 0, n * w);
    b->tail += static_cast<uint32_t>(n * w);
}

}  // namespace

void append_value(Cell& v, const Cell& value) {
    uint32_t type = element_type(v);
    check_item(value, type);
    uint32_t w = width(v);
    Cell item = value;  // the value may live in a buffer that growing moves
    uint64_t used = buffer(v.w2)->used();
    check_bytes(used / w + 1, w);
    ensure_room(v.w2, used + w);
    Buffer* b = buffer(v.w2);
    set_element(b->head_ptr() + used, item, w, type);
    b->tail += w;
}

void append_block(Cell& v, const Cell& block) {
    Items items;
    gather_block(items, block, element_type(v), -1);
    for (const Cell& c : items.cells) append_value(v, c);
}

Cell* to_block(const Cell& v) {
    uint32_t n = length(v);
    Cell* r = block::push_new(static_cast<int32_t>(n < 1 ? 1 : n));
    Cell source = v;
    collector::Root keep(source);
    uint32_t from = position(source), w = width(source), type = element_type(source);
    for (uint32_t i = 0; i < n && from + i < count_of(source); ++i) {
        Cell e = element_value(element_at(source, from + i), w, type);
        block::rs_append(*r, e);
    }
    return r;
}

Cell* scalar_math(int32_t op, Cell* v, const Cell& scalar) {
    uint32_t type = element_type(*v);
    uint32_t st = cell::type(scalar);
    uint32_t w = width(*v);
    uint32_t from = position(*v), to = count_of(*v);
    if (!float_type(type)) {
        int32_t k;
        if (st == T_integer || st == T_char_) {
            k = static_cast<int32_t>(scalar.w2);
        } else if (st == T_float_ || st == T_percent) {
            if (!numeric::to_int32(cell::get_double(scalar), k)) error::fire(err::math_overflow);
        } else {
            not_done();
        }
        if ((k == 0 && (op == integer::add || op == integer::subtract)) ||
            (k == 1 && (op == integer::multiply || op == integer::divide)))
            return v;
        // Division by zero is refused before the first element changes.
        if (k == 0 && (op == integer::divide || op == integer::remainder)) error::fire(err::math_zero_divide);
        for (uint32_t i = from; i < to; ++i) {
            uint8_t* at = element_at(*v, i);
            int32_t e = static_cast<int32_t>(element_to_integer(at, w, type));
            store_integer(at, int_math(e, k, op), w);
        }
        return v;
    }
    double s;
    if (st == T_integer || st == T_char_) s = double(static_cast<int32_t>(scalar.w2));
    else if (st == T_float_ || st == T_percent) s = cell::get_double(scalar);
    else not_done();
    if ((s == 0.0 && (op == integer::add || op == integer::subtract)) ||
        (s == 1.0 && (op == integer::multiply || op == integer::divide)))
        return v;
    for (uint32_t i = from; i < to; ++i) {
        uint8_t* at = element_at(*v, i);
        store_float(at, float_::do_math(element_to_float(at, w), s, op), w);
    }
    return v;
}

Cell* math_scalar_left(Cell* a, Cell* b, int32_t op) {
    *a = *scalar_math(op, b, *a);
    return a;
}

Cell* math(Cell* a, Cell* b, int32_t op) {
    if (!cell::is(*b, T_vector)) return scalar_math(op, a, *b);
    uint32_t type = element_type(*a);
    if (element_type(*b) != type) error::fire(err::script_not_same_type);
    // and~, or~ and xor~ of floats are refused as float! refuses them, before allocating.
    if (float_type(type) && op > integer::remainder) float_::do_math(0, 0, op);
    uint32_t wa = width(*a), wb = width(*b);
    uint32_t w = wa > wb ? wa : wb;
    uint32_t n = std::min(length(*a), length(*b));
    // Both operands are arguments on the value stack: they stay reachable while this
    // allocates.
    Node node = memory::alloc_series(n < 1 ? 1 : n, w, 0);
    uint32_t fa = position(*a), fb = position(*b);
    uint8_t* out = buffer(node)->head_ptr();
    for (uint32_t i = 0; i < n; ++i) {
        const uint8_t* x = element_at(*a, fa + i);
        const uint8_t* y = element_at(*b, fb + i);
        if (float_type(type)) {
            store_float(out + uint64_t(i) * w, float_::do_math(element_to_float(x, wa), element_to_float(y, wb), op), w);
        } else {
            int32_t r = int_math(static_cast<int32_t>(element_to_integer(x, wa, type)),
                                 static_cast<int32_t>(element_to_integer(y, wb, type)), op);
            store_integer(out + uint64_t(i) * w, r, w);
        }
    }
    Buffer* rb = buffer(node);
    rb->tail = rb->head + n * w;
    *a = cell_of(node, type);
    return a;
}

// ---- actions ------------------------------------------------------------------------------------

namespace {

Cell vector_datatype() { return datatype::make(T_vector); }
[[noreturn]] void bad_make(const Cell& spec) { error::fire(err::script_bad_make_arg, vector_datatype(), spec); }
[[noreturn]] void bad_field(const Cell& spec) { error::fire(err::script_invalid_spec_field, spec); }

// The element type a word names (integer!, char!, float!, percent!, in any letter case), or 0.
uint32_t named_type(const Cell& word) {
    uint32_t alias = symbol::resolve(word.w2);
    for (uint32_t t : {T_integer, T_char_, T_float_, T_percent}) {
        uint32_t sym = datatype::types[t].name_symbol;
        if (sym && symbol::resolve(sym) == alias) return t;
    }
    return 0;
}

// make vector! 3, make vector! [1 2 3], make vector! [integer! 16 5 [1 2]], ...
Cell* make(Cell*, Cell* spec, uint32_t) {
    uint32_t st = cell::type(*spec);
    if (st == T_integer || st == T_float_) {
        int32_t n = value::to_int_arg(*spec);
        if (n < 0) error::fire(err::script_out_of_range, *spec);
        Cell* r = push(uint64_t(n), T_integer, 4);
        append_zeros(*r, uint64_t(n));
        return r;
    }
    if (st != T_block) not_done();
    Cell blk = *spec;
    int64_t avail = block::rs_length_q(blk);
    if (avail <= 0) return push(1, T_integer, 4);
    uint32_t start = static_cast<uint32_t>(static_cast<int32_t>(blk.w1) < 0 ? 0 : blk.w1);
    auto item = [&](int64_t k) { return *block::rs_abs_at(blk, start + static_cast<uint32_t>(k)); };

    uint32_t type;
    uint32_t w = 0;
    int64_t count = -1;
    Cell init = none::value;  // the block of initial values, or none
    Cell first = item(0);
    if (cell::is(first, T_word)) {
        if (avail < 2) bad_make(*spec);
        type = named_type(first);
        if (!type) bad_make(*spec);
        Cell bits = item(1);
        int64_t k = 2;
        if (cell::is(bits, T_integer)) {
            int32_t n = integer::get(bits);
            if (type == T_percent) w = 8;
            else if (type == T_float_ && (n == 32 || n == 64)) w = static_cast<uint32_t>(n / 8);
            else if ((type == T_integer || type == T_char_) && (n == 8 || n == 16 || n == 32)) w = static_cast<uint32_t>(n / 8);
            else bad_make(*spec);
        } else if (type == T_percent) {
            w = 8;
            k = 1;
        } else {
            bad_field(*spec);
        }
        // A spec that ends after the width makes an empty vector of that type and width.
        if (k < avail) {
            Cell next = item(k);
            if (cell::is(next, T_integer)) {
                count = integer::get(next);
                if (count < 0) error::fire(err::script_out_of_range, next);
                if (k + 1 < avail) {
                    init = item(k + 1);
                    if (!cell::is(init, T_block)) bad_field(*spec);
                }
            } else if (cell::is(next, T_block)) {
                init = next;
            } else {
                bad_field(*spec);
            }
        }
    } else {
        type = cell::type(first);
        if (!element_type_q(type)) error::fire(err::script_invalid_type, datatype::make(type));
        w = default_width(type);
        init = blk;
    }

    Items items;
    if (cell::is(init, T_block)) gather_block(items, init, type, -1);
    uint64_t size = items.cells.size();
    if (count > int64_t(size)) size = uint64_t(count);
    check_bytes(size, w);
    Cell* r = push(size, type, w);
    for (const Cell& c : items.cells) append_value(*r, c);
    if (count > int64_t(items.cells.size())) append_zeros(*r, uint64_t(count) - items.cells.size());
    return r;
}

// The text of one element into a C++ string.
void element_text(const uint8_t* at, uint32_t w, uint32_t type, std::string& out) {
    char text[16];
    if (type == T_integer) {
        uint32_t n = integer::form_signed(static_cast<int32_t>(element_to_integer(at, w, type)), text);
        out.append(text, n);
        return;
    }
    FloatText ft;
    double d = element_to_float(at, w);
    if (type == T_percent) out += float_::format(d * 100.0, w == 8 ? float_::Kind::percent64 : float_::Kind::percent32, ft);
    else out += float_::format(d, w == 8 ? float_::Kind::float64 : float_::Kind::float32, ft);
}

// The elements from the position, separated by single spaces. With `limited`, the text
// stops before an element once the budget has fallen below 1. Gives the budget left.
int32_t form_body(const Cell& v, Cell& out, bool molded, bool all, bool limited, int32_t budget) {
    Cell source = v;
    collector::Root keep(source);
    uint32_t from = position(source), type = element_type(source), w = width(source);
    std::string text;
    auto spend = [&](int64_t n) { budget = int64_t(budget) - n > INT32_MIN ? static_cast<int32_t>(budget - n) : INT32_MIN; };
    for (uint32_t i = from; i < count_of(source); ++i) {
        if (limited && budget < 1) break;
        if (i > from) {
            string::concatenate_literal_part(out, " ", 1);
            spend(1);
        }
        const uint8_t* at = element_at(source, i);
        if (type == T_char_) {
            int64_t cp = element_to_integer(at, w, type);
            if (molded) string::concatenate_literal_part(out, "#\"", 2);
            if (cp > char_::max_code_point) {
                // Only wrapping arithmetic makes one: it is shown, never stored as text.
                char hex[9];
                text = "^(";
                text += string::to_hex(static_cast<int32_t>(cp), true, hex);
                text += ')';
                string::concatenate_literal_part(out, text.data(), static_cast<uint32_t>(text.size()));
            } else {
                string::mold_char(out, static_cast<int32_t>(cp), all);
            }
            if (molded) string::concatenate_literal_part(out, "\"", 1);
            spend(molded ? 4 : 1);
            continue;
        }
        text.clear();
        element_text(at, w, type, text);
        string::concatenate_literal_part(out, text.data(), static_cast<uint32_t>(text.size()));
        spend(static_cast<int64_t>(text.size()));
    }
    return budget;
}

int32_t form(Cell* v, Cell* out, Cell* arg, int32_t part) { return form_body(*v, *out, false, false, arg != nullptr, part); }

const char* type_word(uint32_t type) {
    switch (type) {
    case T_char_: return "char!";
    case T_float_: return "float!";
    case T_percent: return "percent!";
    default: return "integer!";
    }
}

int32_t mold(Cell* v, Cell* out, const MoldArgs& how, int32_t part) {
    bool limited = how.arg != nullptr;
    if (!how.only) part = string::emit(*out, "make vector! [", part);
    uint32_t type = element_type(*v), w = width(*v);
    // The short form only when the type alone gives the width back, which the reader of an
    // empty block cannot tell.
    bool short_form = count_of(*v) > 0 && w == default_width(type);
    if (short_form) {
        part = form_body(*v, *out, true, how.all, limited, part);
        if (!how.only) part = string::emit(*out, "]", part);
        return part;
    }
    char head[32];
    std::snprintf(head, sizeof head, "%s %u [", type_word(type), w * 8);
    part = string::emit(*out, head, part);
    part = form_body(*v, *out, true, how.all, limited, part);
    return how.only ? part : string::emit(*out, "]]", part);
}

int32_t compare(Cell* a, Cell* b, int32_t op) {
    if (!cell::is(*b, T_vector)) return actions::not_comparable;
    uint32_t type = element_type(*a);
    bool eq_code = op == actions::equal || op == actions::not_equal || op == actions::strict_equal ||
                   op == actions::find_equal;
    // Vectors of two element types are simply unequal: the hash tables and the searches of
    // blocks ask every key they meet. Only an order between them is refused.
    if (element_type(*b) != type) {
        if (eq_code || op == actions::same) return op == actions::same ? -1 : 1;
        error::fire(err::script_not_same_type);
    }
    if (a->w2 == b->w2 && position(*a) == position(*b)) {
        if (eq_code || op == actions::same) return 0;
    }
    if (op == actions::same) return -1;
    uint32_t la = length(*a), lb = length(*b);
    if (la != lb && eq_code) return 1;
    uint32_t n = std::min(la, lb);
    uint32_t fa = position(*a), fb = position(*b), wa = width(*a), wb = width(*b);
    for (uint32_t i = 0; i < n; ++i) {
        const uint8_t* x = element_at(*a, fa + i);
        const uint8_t* y = element_at(*b, fb + i);
        if (float_type(type)) {
            double p = element_to_float(x, wa), q = element_to_float(y, wb);
            if (p != q) return p < q ? -1 : 1;
        } else {
            int64_t p = element_to_integer(x, wa, type), q = element_to_integer(y, wb, type);
            if (p != q) return p < q ? -1 : 1;
        }
    }
    return la < lb ? -1 : (la > lb ? 1 : 0);
}

Cell* add(Cell* a, Cell* b) { return vector::math(a, b, integer::add); }
Cell* subtract(Cell* a, Cell* b) { return vector::math(a, b, integer::subtract); }
Cell* multiply(Cell* a, Cell* b) { return vector::math(a, b, integer::multiply); }
Cell* divide(Cell* a, Cell* b) { return vector::math(a, b, integer::divide); }
Cell* remainder(Cell* a, Cell* b) { return vector::math(a, b, integer::remainder); }
Cell* and_t(Cell* a, Cell* b) { return vector::math(a, b, integer::and_); }
Cell* or_t(Cell* a, Cell* b) { return vector::math(a, b, integer::or_); }
Cell* xor_t(Cell* a, Cell* b) { return vector::math(a, b, integer::xor_); }

// The /part count an owner is told about: -1 (no /part) is reported as 1.
inline int32_t reported_part(int32_t part) { return part < 0 ? 1 : part; }

// The values a value stands for: a block's values from its position (a path's too, for
// change), a vector's elements (for change), or the value itself.
void gather(Items& items, const Cell& value, uint32_t type, int64_t limit, bool changing) {
    uint32_t vt = cell::type(value);
    bool listed = vt == T_block || vt == T_paren || vt == T_hash ||
                  (changing && (vt == T_path || vt == T_lit_path || vt == T_set_path || vt == T_get_path));
    if (listed) gather_block(items, value, type, limit);
    else if (changing && vt == T_vector) gather_vector(items, value, type, limit);
    else {
        check_item(value, type);
        items.cells.push_back(value);
    }
}

// Writes the items, dup times over, from element `at` on (the room is there).
void write_items(const Cell& v, uint64_t at, const Items& items, int32_t dup) {
    uint32_t w = width(v), type = element_type(v);
    uint64_t k = at;
    for (int32_t d = 0; d < dup; ++d)
        for (const Cell& c : items.cells) set_element(element_at(v, k++), c, w, type);
}

Cell* append(Cell* s, Cell* value, int32_t part, bool, int32_t dup, bool append_flag) {
    if (dup < 1) return s;
    uint32_t type = element_type(*s);
    Items items;
    gather(items, *value, type, part, false);
    if (items.cells.empty()) return s;
    uint64_t total = uint64_t(items.cells.size()) * uint64_t(dup);
    uint32_t index = position(*s);
    uint32_t before = count_of(*s);
    bool appending = append_flag || index == before;
    check_bytes(uint64_t(before) + total, width(*s));
    bool owned = series::report(*s, appending ? Change::append : Change::insert, *value,
                                static_cast<int32_t>(appending ? before : index), reported_part(part));
    // The owner may have changed the series: everything is measured again.
    s->w1 = index = position(*s);
    uint32_t w = width(*s);
    uint64_t used = count_of(*s);
    appending = append_flag || index == used;
    check_bytes(used + total, w);
    ensure_room(s->w2, (used + total) * w);
    uint64_t at = appending ? used : index;
    Buffer* b = buffer(s->w2);
    uint8_t* p = b->head_ptr();
    std::memmove(p + (at + total) * w, p + at * w, (used - at) * w);
    b->tail += static_cast<uint32_t>(total * w);
    write_items(*s, at, items, dup);
    if (owned)
        series::report(*s, appending ? Change::appended : Change::inserted, *value, static_cast<int32_t>(at),
                       reported_part(part));
    if (!append_flag) {
        uint64_t after = at + total, now = count_of(*s);
        s->w1 = static_cast<uint32_t>(after < now ? after : now);
    }
    return s;
}

Cell* change(Cell* s, Cell* value, int32_t part, bool, int32_t dup) {
    if (dup < 1) return s;
    uint32_t type = element_type(*s);
    Items items;
    gather(items, *value, type, -1, true);
    uint64_t inserted = uint64_t(items.cells.size()) * uint64_t(dup);
    uint32_t index = position(*s);
    auto removed_of = [&](uint64_t available) {
        if (part >= 0) return uint64_t(part) < available ? uint64_t(part) : available;
        return inserted < available ? inserted : available;
    };
    uint64_t removed = removed_of(count_of(*s) - index);
    check_bytes(count_of(*s) - removed + inserted, width(*s));
    bool owned = series::report(*s, Change::change, *value, static_cast<int32_t>(index), static_cast<int32_t>(removed));
    s->w1 = index = position(*s);
    uint32_t w = width(*s);
    uint64_t used = count_of(*s);
    removed = removed_of(used - index);
    uint64_t now = used - removed + inserted;
    check_bytes(now, w);
    ensure_room(s->w2, std::max(now, used) * w);
    Buffer* b = buffer(s->w2);
    uint8_t* p = b->head_ptr();
    std::memmove(p + (index + inserted) * w, p + (index + removed) * w, (used - index - removed) * w);
    b->tail = b->head + static_cast<uint32_t>(now * w);
    write_items(*s, index, items, dup);
    if (owned) series::report(*s, Change::changed, *value, static_cast<int32_t>(index), static_cast<int32_t>(inserted));
    uint64_t after = index + inserted;
    s->w1 = static_cast<uint32_t>(after < now ? after : now);
    return s;
}

// ---- searching ----------------------------------------------------------------------------------

// Whether the element equals the value: numbers by value (a char! or integer! pattern is
// its code), anything else never.
bool element_equal(const uint8_t* at, uint32_t w, uint32_t type, const Cell& value) {
    uint32_t vt = cell::type(value);
    if (vt == T_integer || vt == T_char_) {
        int64_t x = static_cast<int32_t>(value.w2);
        if (vt == T_char_) x = value.w2;
        return float_type(type) ? element_to_float(at, w) == double(x) : element_to_integer(at, w, type) == x;
    }
    if (vt == T_float_ || vt == T_percent) {
        double d = cell::get_double(value);
        return float_type(type) ? element_to_float(at, w) == d : double(element_to_integer(at, w, type)) == d;
    }
    return false;
}

// The first matching position at or after `from` (or at or before it, backwards) within
// [lo, hi); -1 when none. A vector pattern matches a run of its elements.
int64_t locate(const Cell& v, const Cell& pattern, const FindArgs& f, bool& pattern_run, uint32_t& run_length) {
    uint32_t w = width(v), type = element_type(v);
    int64_t count = count_of(v);
    int64_t index = position(v);
    if (count == 0 || (index >= count && !f.reverse)) return -1;
    int64_t step = 1;
    if (f.skip) {
        if (!cell::is(*f.skip, T_integer)) error::fire(err::script_invalid_refine_arg, series::word_arg("skip"), *f.skip);
        step = integer::get(*f.skip);
        if (step < 1) error::fire(err::script_out_of_range, *f.skip);
    }
    int64_t part = -1;
    if (f.part) {
        part = series::part_count(v, *f.part);
        if (part < 1) return -1;
    }
    if (f.reverse && f.match) return -1;
    if (f.any || f.with) not_done();

    pattern_run = cell::is(pattern, T_vector);
    std::vector<Cell> run;
    if (pattern_run) {
        Items items;
        gather_vector(items, pattern, type, -1);
        run = std::move(items.cells);
    }
    run_length = pattern_run ? static_cast<uint32_t>(run.size()) : 1;
    auto matches = [&](int64_t at) {
        if (at < 0 || at + run_length > count) return false;
        if (!pattern_run) return element_equal(element_at(v, uint64_t(at)), w, type, pattern);
        for (uint32_t k = 0; k < run_length; ++k)
            if (!element_equal(element_at(v, uint64_t(at + k)), w, type, run[k])) return false;
        return true;
    };
    if (pattern_run && run_length == 0) return -1;
    int64_t lo, hi;  // the range searched: [lo, hi)
    if (f.reverse) {
        hi = index;
        lo = part > 0 ? std::max<int64_t>(0, index - part) : 0;
    } else {
        lo = index;
        hi = part > 0 ? std::min<int64_t>(count, index + part) : count;
    }
    if (f.match) return matches(lo) && lo + run_length <= hi ? lo : -1;
    if (f.reverse || f.last) {
        for (int64_t at = hi - run_length; at >= lo; at -= step)
            if (matches(at)) return at;
        return -1;
    }
    for (int64_t at = lo; at + run_length <= hi; at += step)
        if (matches(at)) return at;
    return -1;
}

Cell* find(Cell* s, Cell* value, const FindArgs& f) {
    bool run = false;
    uint32_t n = 1;
    int64_t at = locate(*s, *value, f, run, n);
    if (at < 0) return none::push();
    Cell* r = stack::push(*s);
    series::set_index(*r, f.tail ? at + n : at);
    return r;
}

Cell* select(Cell* s, Cell* value, const FindArgs& f) {
    FindArgs g = f;
    g.tail = g.match = false;
    bool run = false;
    uint32_t n = 1;
    int64_t at = locate(*s, *value, g, run, n);
    if (at < 0 || at + n >= count_of(*s)) return none::push();
    return stack::push(element_value(element_at(*s, uint64_t(at + n)), width(*s), element_type(*s)));
}

Cell* eval_path(Cell* parent, const PathStep& step) {
    if (Cell* done = series::index_step(parent, step)) return done;
    Cell* element = step.element;
    FindArgs f{};
    bool run = false;
    uint32_t n = 1;
    int64_t at = locate(*parent, *element, f, run, n);
    if (!step.value) {
        if (at < 0 || at + n >= count_of(*parent)) *parent = none::value;
        else *parent = element_value(element_at(*parent, uint64_t(at + n)), width(*parent), element_type(*parent));
        return parent;
    }
    if (at < 0) error::fire(err::script_bad_path_set, step.path ? *step.path : none::value, *element);
    Cell* after = stack::push(*parent);
    series::set_index(*after, at + n);
    series::poke(after, 1, step.value, element);
    stack::pop(1);
    return step.value;
}

// ---- sorting ------------------------------------------------------------------------------------

struct SortSpec {
    uint32_t width;
    uint32_t type;
    int64_t size;    // elements per record
    int64_t offset;  // the element compared, or the first of the whole record
    bool whole;
    bool reverse;
    Cell* fn;        // a comparator function, or null
};

// The comparator function on two records: their first elements as values, or with /all two
// new vectors of the whole records. The records lie in a copy that never moves.
int32_t call_comparator(const SortSpec& sp, const uint8_t* x, const uint8_t* y) {
    if (stack::exiting()) return 0;  // a break or return out of the comparator: finish quickly
    if (sp.reverse) std::swap(x, y);
    stack::Mark mark;
    Cell args[2];
    const uint8_t* records[2] = {x, y};
    for (int k = 0; k < 2; ++k) {
        if (sp.whole) {
            Cell* r = push(uint64_t(sp.size), sp.type, sp.width);
            Buffer* rb = buffer(r->w2);
            std::memcpy(rb->head_ptr(), records[k], uint64_t(sp.size) * sp.width);
            rb->tail = rb->head + static_cast<uint32_t>(uint64_t(sp.size) * sp.width);
            args[k] = *r;
        } else {
            args[k] = element_value(records[k], sp.width, sp.type);
        }
    }
    return actions::comparator_answer(interp::apply_function(*sp.fn, args, 2, &words::loaded::compare_callback_tag));
}

// The records sorted with a comparator function lie in a copy on the tracked heap, which
// never moves while Kov code runs; the copy is written back however the sort ends, as far
// as the vector still reaches at the same width.
struct SortCopy {
    uint8_t* data;
    uint64_t bytes;
    uint32_t width;
    Node node;
    uint64_t index;
    ~SortCopy() {
        Buffer* b = buffer(node);
        if (b->unit() == width) {
            uint64_t used = b->used(), from = index * width;
            uint64_t n = from < used ? std::min(bytes, used - from) : 0;
            if (n) std::memcpy(b->head_ptr() + from, data, n);
        }
        heap::free(data);
    }
};

int32_t sort_compare(const void* a, const void* b, uintptr_t option, uintptr_t) {
    const SortSpec& sp = *reinterpret_cast<const SortSpec*>(option);
    auto x = static_cast<const uint8_t*>(a);
    auto y = static_cast<const uint8_t*>(b);
    if (sp.fn) return call_comparator(sp, x, y);
    int64_t first = sp.whole ? 0 : sp.offset;
    int64_t last = sp.whole ? sp.size : sp.offset + 1;
    for (int64_t k = first; k < last; ++k) {
        const uint8_t* p = x + uint64_t(k) * sp.width;
        const uint8_t* q = y + uint64_t(k) * sp.width;
        int32_t c = 0;
        if (float_type(sp.type)) {
            double m = element_to_float(p, sp.width), n = element_to_float(q, sp.width);
            c = m < n ? -1 : (m > n ? 1 : 0);
        } else {
            int64_t m = element_to_integer(p, sp.width, sp.type), n = element_to_integer(q, sp.width, sp.type);
            c = m < n ? -1 : (m > n ? 1 : 0);
        }
        if (c) return sp.reverse ? -c : c;
    }
    return 0;
}

Cell* sort(Cell* s, const SortArgs& a) {
    s->w1 = position(*s);
    int64_t index = s->w1;
    int64_t count = int64_t(count_of(*s)) - index;
    if (a.part) {
        int64_t k = series::part_count(*s, *a.part);
        if (k < 0) {
            if (-k > index) return s;
            index += k;
            s->w1 = static_cast<uint32_t>(index);
            count = -k;
        } else if (k < count) {
            count = k;
        }
    }
    series::SortRefinements r = series::sort_refinements(a, count);
    int64_t size = r.size;
    SortSpec spec{width(*s), element_type(*s), size, r.offset, a.all, a.reverse, r.compare_fn};
    if (count / size < 2) return s;
    bool owned = series::report(*s, Change::sort, none::value, static_cast<int32_t>(index), static_cast<int32_t>(count));
    // Only whole records that still exist are sorted, at the width the vector has now.
    index = position(*s);
    int64_t records = std::min<int64_t>(count, int64_t(count_of(*s)) - index) / size;
    if (records >= 2) {
        spec.width = width(*s);
        std::size_t record_bytes = std::size_t(size) * spec.width;
        auto option = reinterpret_cast<uintptr_t>(&spec);
        if (!spec.fn) {
            // No Kov code runs while the elements are compared: they are sorted where they lie.
            uint8_t* base = element_at(*s, uint64_t(index));
            if (a.stable) sort::merge_sort(base, std::size_t(records), record_bytes, option, 0, sort_compare);
            else sort::quicksort(base, std::size_t(records), record_bytes, option, 0, sort_compare);
        } else {
            uint64_t bytes = uint64_t(records) * record_bytes;
            SortCopy copy{static_cast<uint8_t*>(heap::allocate(bytes)), bytes, spec.width, s->w2, uint64_t(index)};
            std::memcpy(copy.data, element_at(*s, uint64_t(index)), bytes);
            if (a.stable) sort::merge_sort(copy.data, std::size_t(records), record_bytes, option, 0, sort_compare);
            else sort::quicksort(copy.data, std::size_t(records), record_bytes, option, 0, sort_compare);
        }
    }
    if (stack::exiting()) return s;
    if (owned) series::report(*s, Change::sorted, none::value, static_cast<int32_t>(index), static_cast<int32_t>(count));
    return s;
}

// The hash of the elements from the position, by value: vectors that compare equal (of
// other widths too) hash alike; -0.0 hashes as 0.0.
uint32_t hash_elements(const Cell& v, bool) {
    uint32_t h = 0x9E3779B9u;
    uint32_t w = width(v), type = element_type(v);
    for (uint32_t i = position(v), n = count_of(v); i < n; ++i) {
        const uint8_t* at = element_at(v, i);
        uint64_t bits;
        if (float_type(type)) {
            double d = element_to_float(at, w);
            bits = std::bit_cast<uint64_t>(d == 0.0 ? 0.0 : d);
        } else {
            bits = static_cast<uint64_t>(element_to_integer(at, w, type));
        }
        h = hashtable::mix32(h ^ static_cast<uint32_t>(bits) ^ static_cast<uint32_t>(bits >> 32) * 31u);
    }
    return h;
}

}  // namespace

// ---- registration -------------------------------------------------------------------------------

void init() {
    using datatype::inherit;
    datatype::register_type(
        {.id = T_vector, .name = "vector!", .rest = datatype::Rest::empty,
         .mark = collector::mark_series_value, .hash = hash_elements,
         .actions = {.make = make, .random = inherit, .reflect = inherit, .form = form, .mold = mold,
                     .eval_path = eval_path, .compare = compare, .add = add, .divide = divide,
                     .multiply = multiply, .remainder = remainder, .subtract = subtract, .and_t = and_t,
                     .or_t = or_t, .xor_t = xor_t, .append = append, .at = inherit, .back = inherit,
                     .change = change, .clear = inherit, .copy = inherit, .find = find, .head = inherit,
                     .head_q = inherit, .index_q = inherit, .insert = append, .length_q = inherit,
                     .move = inherit, .next = inherit, .pick = inherit, .poke = inherit, .remove = inherit,
                     .reverse = inherit, .select = select, .sort = sort, .skip = inherit, .tail = inherit,
                     .tail_q = inherit, .take = inherit, .modify = inherit}});
}

}  // namespace kov::vector
