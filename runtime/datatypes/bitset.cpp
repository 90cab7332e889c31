#include "runtime/cells.h"
#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/datatypes/bitset.h"

#include <cmath>
#include <cstring>

#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/error.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/stack.h"
#include "runtime/runtime.h"
#include "runtime/words.h"

namespace kov::bitset {

using memory::Buffer;
using memory::buffer;
using series::Change;

namespace {

inline bool flagged(Node bits) { return (buffer(bits)->flags & memory::bitset_complement) != 0; }
inline uint8_t fill_of(Node bits) { return flagged(bits) ? 0xFF : 0x00; }
inline uint8_t mask_of(int64_t n) { return static_cast<uint8_t>(0x80u >> (n & 7)); }

// The bytes from the head cover at least `bytes` bytes: the tail moves forward over bytes of
// the flag's fill, the buffer growing (at least doubling) when it is too small.
void cover(Node bits, uint64_t bytes) {
    Buffer* b = buffer(bits);
    if (b->used() >= bytes) return;
    if (uint64_t(b->head) + bytes > b->size) {
        uint64_t size = uint64_t(b->size) * 2;
        if (size < bytes) size = bytes;
        if (size > memory::max_buffer_size) size = bytes;
        b = memory::expand_series(bits, size);
    }
    std::memset(b->tail_ptr(), fill_of(bits), bytes - b->used());
    b->tail = b->head + static_cast<uint32_t>(bytes);
}

// The bit index a char!, integer! or float! spec value stands for (a float truncated toward
// zero). Outside the range a set can hold: -1 for a negative or unrepresentable value, else
// max_index + 1 (the caller decides what that means).
int64_t index_value(const Cell& v) {
    switch (cell::type(v)) {
    case T_char_: return int64_t(v.w2);
    case T_integer: return int64_t(static_cast<int32_t>(v.w2));
    default: {
        double d = std::trunc(cell::get_double(v));
        if (std::isnan(d) || d < 0) return -1;
        if (d > double(max_index)) return max_index + 1;
        return static_cast<int64_t>(d);
    }
    }
}

// One index under an operation (the value only serves the errors).
int64_t process_index(Node bits, const Cell& v, Op op) {
    int64_t n = index_value(v);
    if (op == test) {
        if (out_of_range_q(bits, n)) return flagged(bits) ? 1 : 0;
        return (buffer(bits)->head_ptr()[n >> 3] & mask_of(n)) ? 1 : 0;
    }
    if (n < 0) error::fire(err::script_out_of_range, v);
    if (op == measure) {
        if (n > max_index) error::fire(err::script_out_of_range, v);
        return n;
    }
    if (op == set) {
        if (flagged(bits) && out_of_range_q(bits, n)) return 1;  // already a member
        if (n > max_index) error::fire(err::script_out_of_range, v);
        grow(bits, n)[n >> 3] |= mask_of(n);
        return n;
    }
    if (!flagged(bits) && out_of_range_q(bits, n)) return 0;  // already absent
    if (n > max_index) error::fire(err::script_out_of_range, v);
    grow(bits, n)[n >> 3] &= static_cast<uint8_t>(~mask_of(n));
    return n;
}

// The characters of a string from its index, each as one index; measure answers the highest
// code point, test 0 at the first character that is not a member.
int64_t process_string(const Cell& s, Node bits, Op op) {
    int64_t highest = 0;
    int32_t n = string::rs_length_q(s);
    int64_t start = static_cast<int32_t>(s.w1) < 0 ? 0 : static_cast<int32_t>(s.w1);
    for (int32_t k = 0; k < n; ++k) {
        // Fetched again at every step: setting a bit may grow the bitset (never the string).
        Buffer* sb = buffer(s.w2);
        uint32_t unit = sb->unit();
        if (uint64_t(start + k) * unit >= sb->used()) break;
        Cell c{T_char_, 0, static_cast<uint32_t>(string::get_char(sb->head_ptr() + (start + k) * unit, unit)), 0};
        int64_t r = process_index(bits, c, op);
        if (op == test && r == 0) return 0;
        if (op == measure && r > highest) highest = r;
    }
    if (op == test) return 1;
    return op == measure ? highest : 1;
}

bool is_minus(const Cell& c) { return cell::is(c, T_word) && c.w2 == words::symbols::minus; }

// The values of a block from its index; "a - b" after a char! or integer! is a range.
int64_t process_block(const Cell& blk, Node bits, Op op, Kind kind) {
    int64_t highest = 0;
    Node node = blk.w2;
    auto count = [&] { return int64_t(buffer(node)->used() / sizeof(Cell)); };
    int64_t i = static_cast<int32_t>(blk.w1) < 0 ? 0 : static_cast<int32_t>(blk.w1);
    for (; i < count(); ++i) {
        Cell v = cells::at(node, i);
        uint32_t t = cell::type(v);
        if ((t == T_char_ || t == T_integer) && i + 1 < count() && is_minus(cells::at(node, i + 1))) {
            if (i + 2 >= count()) error::fire(err::script_past_end);
            Cell end = cells::at(node, i + 2);
            if (cell::type(end) != t) error::fire(err::script_invalid_arg, end);
            int64_t low = index_value(v), high = index_value(end);
            if (high < low) error::fire(err::script_past_end);
            i += 2;
            if (op == test) {
                if (low < 0) return flagged(bits) ? 1 : 0;
                if (process_range(bits, low, high, test) == 0) return 0;
                continue;
            }
            if (low < 0) error::fire(err::script_out_of_range, v);
            if (high > max_index) error::fire(err::script_out_of_range, end);
            if (op == measure) {
                if (high > highest) highest = high;
                continue;
            }
            process_range(bits, low, high, op);
            continue;
        }
        int64_t r = process_spec(v, bits, op, true, kind);
        if (op == test && r == 0) return 0;
        if (op == measure && r > highest) highest = r;
    }
    if (op == test) return 1;
    return op == measure ? highest : 1;
}

[[noreturn]] void unsupported(const Cell& v, Kind kind) {
    if (kind == for_make) error::fire(err::script_bad_make_arg, datatype::make(T_bitset), v);
    if (kind == for_to) error::fire(err::script_bad_to_arg, datatype::make(T_bitset), v);
    error::fire(err::script_invalid_arg, v);
}

// A new buffer holding a copy of the bitset's bytes and flags (ownership not included).
Node copy_bits(Node bits) {
    Node n = memory::copy_series(bits);
    buffer(n)->flags &= ~memory::owned;
    return n;
}

// Whether the value poked into a bitset clears the bits it names.
bool clears(const Cell& v) {
    switch (cell::type(v)) {
    case T_none: return true;
    case T_logic: return v.w1 == 0;
    case T_integer: return v.w2 == 0;
    case T_float_: return cell::get_double(v) == 0.0;
    default: return false;
    }
}

// A change under the ownership notification: before and after.
template <class F>
void changing(Cell* b, Change before, Change after, const Cell& value, F&& change) {
    bool owned = series::report(*b, before, value, 0, 0);
    change();
    if (owned) series::report(*b, after, value, 0, 0);
}

}  // namespace

// ---- constructors -------------------------------------------------------------------------------

Cell& make_at(Cell& c, uint64_t bytes, bool complemented) {
    c = Cell{T_unset, 0, 0, 0};
    if (bytes > memory::max_buffer_size) error::fire(err::internal_no_memory);
    Node n = memory::alloc_bytes_filled(bytes, complemented ? 0xFF : 0x00);
    Buffer* b = buffer(n);
    b->tail = b->head + static_cast<uint32_t>(bytes);
    if (complemented) b->flags |= memory::bitset_complement;
    c = cell_of(n);
    return c;
}

Cell* push(uint64_t bytes, bool complemented) { return &make_at(*stack::reserve(), bytes, complemented); }

// ---- internal routines --------------------------------------------------------------------------

uint8_t* grow(Node bits, int64_t n) {
    cover(bits, uint64_t(n >> 3) + 1);
    return buffer(bits)->head_ptr();
}

bool out_of_range_q(Node bits, int64_t n) { return n < 0 || uint64_t(n >> 3) >= buffer(bits)->used(); }

void invert(Node bits) {
    Buffer* b = buffer(bits);
    for (uint8_t* p = b->head_ptr(); p < b->tail_ptr(); ++p) *p = static_cast<uint8_t>(~*p);
}

int64_t process_range(Node bits, int64_t low, int64_t high, Op op) {
    switch (op) {
    case set:
        if (flagged(bits) && out_of_range_q(bits, high)) return 1;
        grow(bits, high);
        break;
    case test:
        if (out_of_range_q(bits, high)) return flagged(bits) ? 1 : 0;
        break;
    case clear:
        if (!flagged(bits) && out_of_range_q(bits, high)) return 0;
        grow(bits, high);
        break;
    default:
        return high;
    }
    uint8_t* p = buffer(bits)->head_ptr();
    for (int64_t n = low; n <= high; ++n) {
        uint8_t m = mask_of(n);
        if (op == set) p[n >> 3] |= m;
        else if (op == clear) p[n >> 3] &= static_cast<uint8_t>(~m);
        else if (!(p[n >> 3] & m)) return 0;
    }
    return 1;
}

int64_t process_spec(const Cell& spec_in, Node bits, Op op, bool nested, Kind kind) {
    Cell spec = spec_in;  // the value may lie in a buffer that growing the bitset moves
    int64_t r;
    switch (cell::type(spec)) {
    case T_char_: case T_integer: case T_float_: r = process_index(bits, spec, op); break;
    case T_string: r = process_string(spec, bits, op); break;
    case T_block: r = process_block(spec, bits, op, kind); break;
    case T_binary: error::fire(err::internal_not_done);
    default: unsupported(spec, kind);
    }
    if (!nested && (op == measure || op == set)) {
        r = (r + 8) >> 3;
        if (r < 1) r = 1;
        if (op == set) cover(bits, uint64_t(r));
    }
    return r;
}

Cell* make_from(const Cell& spec_in, Kind kind) {
    Cell* result = stack::reserve();
    // The spec stays reachable through the caller's argument while this works on a copy.
    Cell spec = spec_in;
    bool negated = false;
    if (cell::is(spec, T_block)) {
        int64_t i = static_cast<int32_t>(spec.w1);
        int64_t n = buffer(spec.w2)->used() / sizeof(Cell);
        const Cell* cells = cells::of(spec.w2);
        if (i >= 0 && i < n && cell::is(cells[i], T_word) &&
            symbol::resolve(cells[i].w2) == symbol::resolve(words::symbols::not_)) {
            negated = true;
            spec.w1 = static_cast<uint32_t>(i + 1);
            if (i + 1 < n && cell::is(cells[i + 1], T_binary)) spec = cells[i + 1];
        }
    }
    switch (cell::type(spec)) {
    case T_bitset: {
        Node n = copy_bits(spec.w2);
        *result = cell_of(n);
        return result;
    }
    case T_integer:
    case T_float_: {
        if (kind == for_to) error::fire(err::script_bad_to_arg, datatype::make(T_bitset), spec);
        int64_t bits = value::to_int_arg(spec);
        if (bits < 0) error::fire(err::script_out_of_range, spec);
        if (bits & 7) bits = (bits + 8) & ~int64_t(7);
        if (bits > max_index + 1) error::fire(err::script_out_of_range, spec);
        make_at(*result, uint64_t(bits >> 3), false);
        return result;
    }
    case T_binary: {
        int64_t index = static_cast<int32_t>(spec.w1) < 0 ? 0 : static_cast<int32_t>(spec.w1);
        int64_t used = buffer(spec.w2)->used();
        uint64_t count = index < used ? uint64_t(used - index) : 0;
        make_at(*result, count, negated);
        Buffer* from = buffer(spec.w2);
        uint8_t* to = buffer(result->w2)->head_ptr();
        for (uint64_t k = 0; k < count; ++k) {
            uint8_t byte = from->head_ptr()[index + int64_t(k)];
            to[k] = negated ? static_cast<uint8_t>(~byte) : byte;
        }
        return result;
    }
    default: {
        int64_t bytes = process_spec(spec, 0, measure, false, kind);
        make_at(*result, uint64_t(bytes), negated);
        process_spec(spec, result->w2, negated ? clear : set, false, kind);
        return result;
    }
    }
}

Cell* do_bitwise(Cell* a, Cell* b, int32_t op) {
    if (op == 8) return a;
    if (!cell::is(*b, T_bitset)) error::fire(err::script_invalid_type, datatype::make(cell::type(*b)));
    Node n1 = a->w2, n2 = b->w2;
    uint64_t s1 = buffer(n1)->used(), s2 = buffer(n2)->used();
    bool f1 = flagged(n1), f2 = flagged(n2);
    uint8_t fill1 = f1 ? 0xFF : 0, fill2 = f2 ? 0xFF : 0;
    bool flag;
    switch (op) {
    case 5: case 9: flag = f1 || f2; break;
    case 6: case 10: flag = f1 && f2; break;
    case 7: case 12: flag = f1 != f2; break;
    case 11: flag = f1 && !f2; break;
    default: runtime::no_switch_matched();
    }
    uint64_t m = s1 < s2 ? s1 : s2;
    uint64_t size = s1 < s2 ? s2 : s1;
    // `and` keeps only the common bytes when the bits past the shorter operand are all absent
    // from it, so every dropped result byte is the result's own fill.
    bool shorter_plain = s1 < s2 ? !f1 : !f2;
    if (op == 6 && shorter_plain) size = m;
    Cell r{T_unset, 0, 0, 0};
    collector::Root keep(r);
    make_at(r, size, false);
    const uint8_t* x = buffer(n1)->head_ptr();
    const uint8_t* y = buffer(n2)->head_ptr();
    uint8_t* out = buffer(r.w2)->head_ptr();
    for (uint64_t i = 0; i < size; ++i) {
        uint8_t p = i < s1 ? x[i] : fill1;
        uint8_t q = i < s2 ? y[i] : fill2;
        uint8_t v;
        switch (op) {
        case 5: case 9: v = p | q; break;
        case 6: case 10: v = p & q; break;
        case 7: case 12: v = p ^ q; break;
        default: v = static_cast<uint8_t>(p & ~q); break;
        }
        out[i] = v;
    }
    if (flag) buffer(r.w2)->flags |= memory::bitset_complement;
    *a = r;
    return a;
}

int32_t form_bytes(const Cell& value, Cell& out, Cell* arg, int32_t part) {
    Node bits = value.w2;
    bool complemented = flagged(bits);
    part = string::emit(out, "make bitset! ", part);
    if (complemented) part = string::emit(out, "[not ", part);
    part = string::emit(out, "#{", part);
    // Written in runs: the limit is checked after every byte.
    char run[129];
    uint32_t used = 0;
    for (uint64_t i = 0; i < buffer(bits)->used(); ++i) {
        uint8_t byte = buffer(bits)->head_ptr()[i];
        if (complemented) byte = static_cast<uint8_t>(~byte);
        string::byte_to_hex(byte, run + used);
        used += 2;
        part -= 2;
        bool stop = arg && part < 0;
        if (used == 128 || stop) {
            string::concatenate_literal_part(out, run, used);
            used = 0;
        }
        if (stop) break;
    }
    if (used) string::concatenate_literal_part(out, run, used);
    if (arg && part <= 0) return part;
    part = string::emit(out, "}", part);
    if (complemented) part = string::emit(out, "]", part);
    return part;
}

// ---- actions ------------------------------------------------------------------------------------

namespace {

Cell* make(Cell*, Cell* spec, uint32_t) { return make_from(*spec, for_make); }
Cell* to(Cell*, Cell* spec, uint32_t) { return make_from(*spec, for_to); }

Cell* reflect(Cell* b, uint32_t field) { return series::reflect(b, field); }

int32_t form(Cell* b, Cell* out, Cell* arg, int32_t part) { return form_bytes(*b, *out, arg, part); }
int32_t mold(Cell* b, Cell* out, const MoldArgs& how, int32_t part) {
    return form_bytes(*b, *out, how.arg, part);
}

// Membership of a spec value, as pick answers it.
bool member_q(const Cell& b, const Cell& spec) { return process_spec(spec, b.w2, test, true, for_other) != 0; }

Cell* pick(Cell* b, int32_t index, Cell* boxed) {
    Cell spec = boxed ? *boxed : integer::make(index);
    logic::make_at(*b, member_q(*b, spec));
    return b;
}

Cell* poke(Cell* b, int32_t index, Cell* data, Cell* boxed) {
    Cell spec = boxed ? *boxed : integer::make(index);
    Cell value = *data;
    collector::Root keep_spec(spec);
    collector::Root keep_value(value);
    changing(b, Change::poke, Change::poked, value,
             [&] { process_spec(spec, b->w2, clears(value) ? clear : set, true, for_other); });
    return data;
}

Cell* eval_path(Cell* parent, const PathStep& step) {
    Cell element = *step.element;
    if (!cell::is(element, T_integer) && !cell::is(element, T_char_))
        error::fire(err::script_invalid_type, datatype::make(cell::type(element)));
    if (step.value) {
        poke(parent, 0, step.value, &element);
        return step.value;
    }
    return pick(parent, 0, &element);
}

int32_t compare(Cell* a, Cell* b, int32_t op) {
    if (!cell::is(*b, T_bitset)) return actions::not_comparable;
    if (op == actions::same) return a->w2 == b->w2 ? 0 : 1;
    Buffer* x = buffer(a->w2);
    Buffer* y = buffer(b->w2);
    uint32_t s1 = x->used(), s2 = y->used();
    if (s1 != s2) return s1 < s2 ? -1 : 1;
    if (s1 == 0) return 0;
    bool f1 = (x->flags & memory::bitset_complement) != 0, f2 = (y->flags & memory::bitset_complement) != 0;
    if (f1 != f2) return f1 ? 1 : -1;
    uint32_t i = s1 - 1;
    while (i > 0 && x->head_ptr()[i] == y->head_ptr()[i]) --i;
    return actions::sign_of(int64_t(x->head_ptr()[i]) - int64_t(y->head_ptr()[i]));
}

Cell* complement(Cell* b) {
    Node n = copy_bits(b->w2);
    buffer(n)->flags ^= memory::bitset_complement;
    invert(n);
    *b = cell_of(n);
    return b;
}

Cell* and_t(Cell* a, Cell* b) { return do_bitwise(a, b, 6); }
Cell* or_t(Cell* a, Cell* b) { return do_bitwise(a, b, 5); }
Cell* xor_t(Cell* a, Cell* b) { return do_bitwise(a, b, 7); }

Cell* append(Cell* b, Cell* value, int32_t, bool, int32_t, bool append_flag) {
    Cell spec = *value;
    collector::Root keep(spec);
    changing(b, append_flag ? Change::append : Change::insert, append_flag ? Change::appended : Change::inserted,
             spec, [&] { process_spec(spec, b->w2, set, false, for_other); });
    return b;
}

// An empty set of the same length: the complement flag goes too.
Cell* clear_(Cell* b) {
    changing(b, Change::clear, Change::cleared, none::value, [&] {
        Buffer* buf = buffer(b->w2);
        std::memset(buf->head_ptr(), 0, buf->used());
        buf->flags &= ~memory::bitset_complement;
    });
    return b;
}

Cell* copy(Cell* b, Cell* result, Cell*, bool, Cell*) {
    Node n = copy_bits(b->w2);
    *result = cell_of(n);
    return result;
}

Cell* find(Cell* b, Cell* value, const FindArgs&) {
    if (member_q(*b, *value)) logic::make_at(*b, true);
    else none::make_at(*b);
    return b;
}

Cell* length_q(Cell* b) {
    integer::make_at(*b, static_cast<int32_t>(length_of(*b)));
    return b;
}

// The bits named by /part leave the set, complemented or not.
Cell* remove(Cell* b, Cell* part, Cell*) {
    if (!part) error::fire(err::script_missing_arg);
    Cell spec = *part;
    collector::Root keep(spec);
    changing(b, Change::remove, Change::removed, spec, [&] { process_spec(spec, b->w2, clear, false, for_other); });
    return b;
}

Cell* modify(Cell* b, Cell* field, Cell* value, bool case_) { return series::modify(b, field, value, case_); }

}  // namespace

// ---- registration -------------------------------------------------------------------------------

void init() {
    datatype::register_type(
        {.id = T_bitset, .name = "bitset!", .rest = datatype::Rest::empty,
         .mark = collector::mark_series_value, .same = datatype::same::second,
         .actions = {.make = make, .reflect = reflect, .to = to, .form = form, .mold = mold, .eval_path = eval_path,
                     .compare = compare, .negate = complement, .and_t = and_t, .complement = complement,
                     .or_t = or_t, .xor_t = xor_t, .append = append, .clear = clear_, .copy = copy, .find = find,
                     .insert = append, .length_q = length_q, .pick = pick, .poke = poke, .remove = remove,
                     .modify = modify}});
}

}  // namespace kov::bitset
