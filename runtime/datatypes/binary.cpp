#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/image.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/cells.h"
#include "runtime/codecs/base_codecs.h"
#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/error.h"
#include "runtime/families.h"
#include "runtime/hashtable.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/stack.h"
#include "runtime/series_buffer.h"
#include "runtime/unicode.h"

namespace kov::binary {

using memory::Buffer;
using memory::buffer;
using memory::Node;
using series::Change;

namespace {

[[noreturn]] void no_memory() { error::fire(err::internal_no_memory); }
[[noreturn]] void not_done() { error::fire(err::internal_not_done); }
[[noreturn]] void bad_to(const Cell& value) { error::fire(err::script_bad_to_arg, datatype::make(T_binary), value); }

// The index clipped to 0 .. used (not written back).
uint32_t position(const Cell& c) {
    int32_t i = static_cast<int32_t>(c.w1);
    uint32_t used = buffer(c.w2)->used();
    if (i < 0) return 0;
    return static_cast<uint32_t>(i) < used ? static_cast<uint32_t>(i) : used;
}

// Clips the index to the tail, written back; gives it.
uint32_t clip(Cell& c) {
    uint32_t p = position(c);
    c.w1 = p;
    return p;
}

// The characters of a text value from its position; valid until the next allocation.
struct Chars {
    const uint8_t* p;
    uint32_t unit;
    uint32_t shift;
    int64_t count;
};

Chars chars_of(const Cell& s) {
    Buffer* b = buffer(s.w2);
    uint32_t unit = b->unit() ? b->unit() : 1;
    uint32_t shift = string::shift_of(unit);
    int64_t length = b->used() >> shift;
    int64_t index = static_cast<int32_t>(s.w1);
    if (index < 0) index = 0;
    if (index > length) index = length;
    return {b->head_ptr() + (uint64_t(index) << shift), unit, shift, length - index};
}

uint64_t utf8_size_of(const Cell& s) {
    Chars c = chars_of(s);
    return static_cast<uint64_t>(unicode::utf8_size(c.p, c.p + (uint64_t(c.count) << c.shift), c.unit));
}

// The UTF-8 bytes of a text value from its position, in C++ memory.
std::vector<uint8_t> utf8_bytes_of(const Cell& s) {
    Chars c = chars_of(s);
    std::vector<uint8_t> out;
    out.reserve(static_cast<std::size_t>(c.count));
    for (int64_t i = 0; i < c.count; ++i) {
        uint8_t b[4];
        int32_t n = unicode::encode_utf8(unicode::char_at(c.p + (uint64_t(i) << c.shift), c.unit), b);
        out.insert(out.end(), b, b + n);
    }
    return out;
}

inline uint64_t cut(uint64_t n, int64_t limit) { return limit > 0 && uint64_t(limit) < n ? uint64_t(limit) : n; }

// Where converted bytes go: counted only, or written to a target whose address is fetched
// afresh at every write (forming between two writes may move it).
struct Sink {
    const Target* target;
    uint64_t written = 0;

    uint64_t room() const { return target->room > written ? target->room - written : 0; }
    uint8_t* at() const { return buffer(target->node)->head_ptr() + target->offset + written; }
    void put(const uint8_t* bytes, uint64_t n) {
        if (target) {
            uint64_t k = n < room() ? n : room();
            if (k) std::memmove(at(), bytes, k);
        }
        written += n;
    }
};

// The first n UTF-8 bytes of a text value's characters (the last character may be cut).
void put_text(Sink& out, const Cell& s, uint64_t n) {
    if (!out.target) {
        out.written += n;
        return;
    }
    Chars c = chars_of(s);
    uint8_t* d = out.at();
    uint64_t room = n < out.room() ? n : out.room();
    uint64_t w = 0;
    for (int64_t i = 0; i < c.count && w < room; ++i) {
        uint32_t cp = unicode::char_at(c.p + (uint64_t(i) << c.shift), c.unit);
        w += static_cast<uint64_t>(unicode::encode_utf8_to(cp, d + w, static_cast<int64_t>(room - w)));
    }
    out.written += n;
}

uint64_t convert(Sink& out, const Cell& value, int64_t limit, bool only, Mode mode);

uint64_t convert_text(Sink& out, const Cell& s, int64_t limit) {
    uint64_t n = cut(utf8_size_of(s), limit);
    put_text(out, s, n);
    return n;
}

// Forms the value into a new string on the value stack (dropped by the caller's mark).
Cell* form_new(const Cell& value) {
    auto fn = actions::lookup<actions::slot::form>(cell::type(value));
    if (!fn) actions::fire_expect_arg(value, 0);
    Cell* v = stack::push(value);
    Cell* s = string::push(16, 1);
    fn(v, s, nullptr, 0x7FFFFFFF);
    return s;
}

uint64_t convert_block(Sink& out, const Cell& block, int64_t limit, bool only, Mode mode) {
    Node node = block.w2;
    // A block holding itself has no end: converting it is refused.
    if (cycles::find_q(node)) error::fire(err::internal_too_deep);
    cycles::Guard guard(node);
    auto cells_now = [node] { return static_cast<int64_t>(buffer(node)->used() / sizeof(Cell)); };
    int64_t start = static_cast<int32_t>(block.w1);
    if (start < 0) start = 0;
    int64_t count = cells_now() - start;
    if (count <= 0) return 0;
    uint64_t total = 0;
    if (!only) {
        int64_t take = limit < 0 || limit > count ? count : limit;
        for (int64_t i = 0; i < take && start + i < cells_now(); ++i) {
            Cell item = cells::of(node)[start + i];
            total += convert(out, item, -1, false, mode);
        }
        return total;
    }
    // With /only the limit is a budget of bytes that the values use up in turn; without
    // /part it is unlimited.
    int64_t budget = limit;
    for (int64_t i = 0; i < count && start + i < cells_now(); ++i) {
        if (budget == 0) break;
        Cell item = cells::of(node)[start + i];
        uint64_t n = convert(out, item, budget, true, mode);
        total += n;
        if (budget > 0) budget = uint64_t(budget) > n ? budget - static_cast<int64_t>(n) : 0;
    }
    return total;
}

// The bytes of a value: a char! its UTF-8 encoding; an integer! one byte (-128..255, stored
// as its low 8 bits; the limit does not apply); a binary! its bytes and a tuple! its bytes; a
// text its characters as UTF-8 (a cut may fall inside a character); a block the bytes of its
// values in turn. The limit (positive) cuts all but integers; for a block it counts values,
// or, with /only, bytes shared by its values.
uint64_t convert(Sink& out, const Cell& value, int64_t limit, bool only, Mode mode) {
    uint32_t t = cell::type(value);
    switch (t) {
    case T_char_: {
        uint32_t cp = value.w2;
        unicode::utf8_length(cp);  // raises for a code point past U+10FFFF
        uint8_t b[4];
        uint64_t n = cut(static_cast<uint64_t>(unicode::encode_utf8(cp, b)), limit);
        out.put(b, n);
        return n;
    }
    case T_integer: {
        // Checked when measuring too, so a value out of range fails before anything changes.
        int32_t i = integer::get(value);
        if (i > 255 || i < -128) error::fire(err::script_invalid_arg, value);
        uint8_t b = static_cast<uint8_t>(i);
        out.put(&b, 1);
        return 1;
    }
    case T_binary: {
        uint64_t n = cut(length(value), limit);
        out.put(head_pointer(value), n);
        return n;
    }
    case T_tuple: {
        uint8_t b[tuple::max_length];
        uint32_t len = tuple::length(value);
        for (uint32_t i = 0; i < len; ++i) b[i] = tuple::byte_at(value, i);
        uint64_t n = cut(len, limit);
        out.put(b, n);
        return n;
    }
    case T_block:
    case T_paren:
    case T_hash:
        return convert_block(out, value, limit, only, mode);
    default:
        break;
    }
    if (in(t, ANY_STRING)) return convert_text(out, value, limit);
    if (mode != change_mode) bad_to(value);
    stack::Mark mark;
    Cell* s = form_new(value);
    return convert_text(out, *s, limit);
}

// The series grown, when short, so that `need` bytes fit from its head: to twice its
// capacity when that suffices, else to exactly the need.
void ensure_room(Node node, uint64_t need) {
    Buffer* b = buffer(node);
    if (uint64_t(b->head) + need <= b->size) return;
    uint64_t doubled = uint64_t(b->size) * 2;
    uint64_t size = doubled >= need && doubled <= memory::max_buffer_size ? doubled : need;
    memory::expand_series(node, size);
}

void check_size(uint64_t used, uint64_t added) {
    if (added > memory::max_buffer_size || used + added > memory::max_buffer_size) no_memory();
}

// Brings the `count` bytes written at the old tail `used` to `at` by one rotation.
void rotate_into_place(Node node, uint64_t at, uint64_t used, uint64_t count) {
    uint8_t* p = buffer(node)->head_ptr();
    std::rotate(p + at, p + used, p + used + count);
}

Cell* append(Cell* s, Cell* value, int32_t part, bool only, int32_t dup, bool append_flag);

}  // namespace

// ---- cell helpers -------------------------------------------------------------------------------

uint32_t length(const Cell& c) {
    memory::Buffer* b = memory::buffer(c.w2);
    return b->used() - position(c);
}

uint8_t* head_pointer(const Cell& c) { return memory::buffer(c.w2)->head_ptr() + position(c); }

uint8_t byte_at(const Cell& c, uint32_t offset) { return memory::buffer(c.w2)->head_ptr()[offset]; }

// ---- constructors -------------------------------------------------------------------------------

Cell& make_at(Cell& c, uint64_t capacity) {
    memory::Node node = memory::alloc_bytes(capacity);
    c.header = cell::retyped(c.header, T_binary);
    c.w1 = 0;
    c.w2 = node;
    c.w3 = 0;
    return c;
}

Cell* make_in(memory::Node block, uint64_t capacity) {
    memory::Node node = memory::alloc_bytes(capacity);
    collector::RootNode keep(node);
    Cell* c = series::append_cell(block);
    *c = cell_of(node);
    return c;
}

Cell* push(uint64_t capacity) { return &make_at(*stack::reserve(), capacity); }

Cell* load_in(const uint8_t* bytes, uint64_t count, memory::Node block) {
    memory::Node node = memory::alloc_bytes(count);
    collector::RootNode keep(node);
    memory::Buffer* b = memory::buffer(node);
    if (count) std::memcpy(b->head_ptr(), bytes, count);
    b->tail = b->head + static_cast<uint32_t>(count);
    Cell* c = block ? series::append_cell(block) : stack::reserve();
    *c = cell_of(node);
    return c;
}

Cell* load(const uint8_t* bytes, uint64_t count) { return load_in(bytes, count, 0); }

// ---- byte-buffer routines -----------------------------------------------------------------------

uint8_t* append_bytes(Cell& c, const uint8_t* bytes, uint64_t count) {
    check_size(buffer(c.w2)->used(), count);
    uint8_t* at = series::reserve(c.w2, count);
    if (count) std::memcpy(at, bytes, count);
    return at;
}

void insert_bytes(Cell& c, uint64_t offset, const uint8_t* bytes, uint64_t count) {
    Buffer* b = buffer(c.w2);
    uint64_t used = b->used();
    check_size(used, count);
    uint64_t at = uint64_t(position(c)) + offset;
    if (at > used) at = used;
    if (uint64_t(b->head) + used + count > b->size) {
        uint64_t size = uint64_t(b->size) * 2 + count;
        if (size > memory::max_buffer_size) size = used + count;
        b = memory::expand_series(c.w2, size);
    }
    uint8_t* p = b->head_ptr();
    std::memmove(p + at + count, p + at, used - at);
    if (count) std::memcpy(p + at, bytes, count);
    b->tail += static_cast<uint32_t>(count);
}

void append_int32_be(uint32_t value, Cell& c) {
    uint8_t b[4] = {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                    static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
    append_bytes(c, b, 4);
}

Cell& from_hex_literal(const Cell& issue, Cell& out) {
    Cell saved = issue;  // the error argument, should the cell lie where the decoder writes
    symbol::Spelling sp = symbol::spelling(issue.w2);
    // The decoder copies the text before it allocates, so the spelling may lie in a series.
    Node node = base16::decode(sp.bytes, sp.length, 1);
    if (!node) error::fire(err::script_invalid_data, saved);
    out = cell_of(node);
    return out;
}

void byte_of_value(uint8_t* dest, const Cell& value) {
    if (!cell::is(value, T_integer) && !cell::is(value, T_char_)) error::fire(err::script_invalid_arg, value);
    *dest = static_cast<uint8_t>(value.w2);
}

uint64_t insert_value(const Target* target, const Cell& value, int64_t limit, bool only, Mode mode) {
    Sink out{target};
    return convert(out, value, limit, only, mode);
}

// ---- comparison and matching --------------------------------------------------------------------

int32_t compare_bytes(const Cell& left, const Cell& right, int32_t op, bool prefix) {
    uint32_t rt = cell::type(right);
    bool text = in(rt, ANY_STRING);
    if (rt != T_binary && !text) return actions::not_comparable;
    bool eq_code = op == actions::equal || op == actions::not_equal || op == actions::strict_equal ||
                   op == actions::find_equal;
    if (rt == T_binary && left.w2 == right.w2 && position(left) == position(right)) {
        if (op == actions::same || eq_code) return 0;
    }
    if (op == actions::same) return -1;

    std::vector<uint8_t> right_text;
    if (text) right_text = utf8_bytes_of(right);
    uint64_t len1 = length(left);
    uint64_t len2 = text ? right_text.size() : length(right);
    uint64_t scan;
    if (!prefix) {
        if (len1 == 0 && len2 == 0) return 0;
        if (len1 != len2 && eq_code) return 1;
        scan = len1 < len2 ? len1 : len2;
    } else {
        if (len2 == 0) return op == actions::equal || op == actions::strict_equal || op == actions::find_equal ? 0 : 1;
        // Bytes shorter than the value cannot begin with it.
        if (len1 < len2) return eq_code ? 1 : -1;
        scan = len2;
    }
    const uint8_t* a = head_pointer(left);
    const uint8_t* b = text ? right_text.data() : head_pointer(right);
    for (uint64_t i = 0; i < scan; ++i)
        if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
    if (prefix) return 0;
    return len1 < len2 ? -1 : (len1 > len2 ? 1 : 0);
}

bool equal_or_char_q(const Cell& bin, const Cell& value, int32_t op) {
    uint32_t t = cell::type(value);
    if (t == T_binary || in(t, ANY_STRING)) return compare_bytes(bin, value, op, true) == 0;
    if (t == T_char_) return length(bin) > 0 && *head_pointer(bin) == value.w2;
    return false;
}

bool bit_set_q(const Cell& bin, const Cell& bitset) {
    if (length(bin) == 0) return false;
    uint32_t bit = *head_pointer(bin);
    Buffer* b = buffer(bitset.w2);
    if ((bit >> 3) >= b->used()) return (b->flags & memory::bitset_complement) != 0;
    return (b->head_ptr()[bit >> 3] & (0x80u >> (bit & 7))) != 0;
}

// ---- text form ----------------------------------------------------------------------------------

int32_t form_hex(const Cell& value, Cell& out, bool only, bool flat, bool limited, int32_t budget, int32_t level) {
    static const char digits[] = "0123456789ABCDEF";
    Node node = value.w2;
    uint64_t start = position(value);
    uint64_t count = length(value);
    // Text is gathered in C++ memory and appended a line at a time; the bytes are read by
    // offset, since aptext may move them.
    std::string text;
    auto flush = [&] {
        if (!text.empty()) string::concatenate_literal_part(out, text.data(), static_cast<uint32_t>(text.size()));
        text.clear();
    };
    auto spend = [&](int32_t n) { budget = budget > INT32_MIN + n ? budget - n : INT32_MIN; };
    auto new_line = [&](int32_t indent) {
        text += '\n';
        spend(1);
        for (int32_t i = 0; i < indent; ++i) {
            text += "    ";
            spend(4);
        }
    };
    if (!only) {
        text += "#{";
        spend(2);
    }
    bool long_form = count >= 31 && !flat;
    if (long_form) new_line(level + 1);
    for (uint64_t i = 0; i < count; ++i) {
        uint8_t byte = buffer(node)->head_ptr()[start + i];
        text += digits[byte >> 4];
        text += digits[byte & 15];
        spend(2);
        if (limited && budget < 1) {
            flush();
            return budget;
        }
        if ((i + 1) % 32 == 0 && !flat) {
            new_line(level + 1);
            flush();
            if (limited && budget < 1) return budget;
        }
    }
    if (long_form && count % 32 != 0) new_line(level);
    if (!only) {
        text += '}';
        spend(1);
    }
    flush();
    return budget;
}

// ---- actions ------------------------------------------------------------------------------------

Cell* to(Cell*, Cell* spec, uint32_t) {
    Cell* r = stack::reserve();
    switch (cell::type(*spec)) {
    case T_integer:
        make_at(*r, 4);
        append_int32_be(spec->w2, *r);
        return r;
    case T_float_:
    case T_percent: {
        uint64_t bits = std::bit_cast<uint64_t>(cell::get_double(*spec));
        make_at(*r, 8);
        append_int32_be(static_cast<uint32_t>(bits >> 32), *r);
        append_int32_be(static_cast<uint32_t>(bits), *r);
        return r;
    }
    case T_issue:
        return &from_hex_literal(*spec, *r);
    case T_block:
    case T_paren:
    case T_hash: {
        make_at(*r, 16);
        return append(r, spec, -1, false, 1, true);
    }
    case T_bitset: {
        Node node = memory::alloc_bytes(buffer(spec->w2)->used());
        Buffer* from = buffer(spec->w2);
        Buffer* b = buffer(node);
        std::memcpy(b->head_ptr(), from->head_ptr(), from->used());
        b->tail = b->head + from->used();
        *r = cell_of(node);
        return r;
    }
    case T_binary:
        return series::copy(spec, r, nullptr, false, nullptr);
    case T_image: {
        Cell* bytes = image::to_binary(*spec, image::argb);
        *r = *bytes;
        stack::pop(1);
        return r;
    }
    case T_char_:
    case T_tuple:
        break;
    default:
        if (!in(cell::type(*spec), ANY_STRING)) bad_to(*spec);
        break;
    }
    uint64_t n = insert_value(nullptr, *spec, -1, false, measure_mode);
    check_size(0, n);
    make_at(*r, n);
    Target t{r->w2, 0, n};
    insert_value(&t, *spec, -1, false, write_mode);
    Buffer* b = buffer(r->w2);
    b->tail = b->head + static_cast<uint32_t>(n);
    return r;
}

namespace {

int32_t form(Cell* value, Cell* out, Cell* arg, int32_t part) {
    return form_hex(*value, *out, false, false, arg != nullptr, part, 0);
}

int32_t mold(Cell* value, Cell* out, const MoldArgs& how, int32_t part) {
    return form_hex(*value, *out, how.only, how.flat, how.arg != nullptr, part, how.indent);
}

int32_t compare(Cell* a, Cell* b, int32_t op) {
    if (!cell::is(*b, T_binary)) return actions::not_comparable;
    return compare_bytes(*a, *b, op, false);
}

Cell* and_t(Cell* a, Cell* b) { return bitwise(a, b, integer::and_); }
Cell* or_t(Cell* a, Cell* b) { return bitwise(a, b, integer::or_); }
Cell* xor_t(Cell* a, Cell* b) { return bitwise(a, b, integer::xor_); }

Cell* complement(Cell* s) {
    uint8_t* p = head_pointer(*s);
    for (uint32_t i = 0, n = length(*s); i < n; ++i) p[i] = static_cast<uint8_t>(~p[i]);
    return s;
}

// The /part count an owner is told about: -1 (no /part) is reported as 1.
inline int32_t reported_part(int32_t part) { return part < 0 ? 1 : part; }

Cell* append(Cell* s, Cell* value, int32_t part, bool only, int32_t dup, bool append_flag) {
    if (dup < 1) return s;
    uint32_t index = clip(*s);
    uint32_t before = buffer(s->w2)->used();
    bool appending = append_flag || index == before;
    bool owned = series::report(*s, appending ? Change::append : Change::insert, *value,
                                static_cast<int32_t>(appending ? before : index), reported_part(part));
    // The owner may have changed the series: everything is measured again.
    index = clip(*s);
    uint64_t used = buffer(s->w2)->used();
    appending = append_flag || index == used;
    uint64_t n = insert_value(nullptr, *value, part, only, measure_mode);
    if (n == 0) return s;
    check_size(used, n);
    uint64_t total = n * uint64_t(dup);
    if (total / uint64_t(dup) != n) no_memory();
    check_size(used, total);

    Node node = s->w2;
    ensure_room(node, used + total);
    Target t{node, used, n};
    insert_value(&t, *value, part, only, write_mode);
    Buffer* b = buffer(node);
    if (dup > 1) memory::fill_pattern(b->head_ptr() + used, static_cast<uint32_t>(n), static_cast<uint32_t>(dup));
    b->tail = b->head + static_cast<uint32_t>(used + total);
    uint64_t at = appending ? used : index;
    if (!appending) rotate_into_place(node, at, used, total);
    if (owned)
        series::report(*s, appending ? Change::appended : Change::inserted, *value, static_cast<int32_t>(at),
                       reported_part(part));
    if (append_flag) {
        s->w1 = 0;
    } else {
        uint64_t after = at + total;
        uint64_t now = buffer(node)->used();
        s->w1 = static_cast<uint32_t>(after < now ? after : now);
    }
    return s;
}

Cell* insert(Cell* s, Cell* value, int32_t part, bool only, int32_t dup, bool append_flag) {
    return append(s, value, part, only, dup, append_flag);
}

struct ChangeSize {
    uint64_t n, inserted, removed;
};

ChangeSize measure_change(Cell& s, const Cell& value, int32_t part, int32_t dup) {
    uint64_t available = length(s);
    uint64_t n = insert_value(nullptr, value, -1, false, change_mode);
    check_size(0, n);
    uint64_t inserted = n * uint64_t(dup);
    if (inserted / uint64_t(dup) != n) no_memory();
    uint64_t removed;
    if (part >= 0) removed = uint64_t(part) < available ? uint64_t(part) : available;
    else removed = inserted < available ? inserted : available;
    check_size(buffer(s.w2)->used() - removed, inserted);
    return {n, inserted, removed};
}

Cell* change(Cell* s, Cell* value, int32_t part, bool, int32_t dup) {
    if (dup < 1) return s;
    uint32_t index = clip(*s);
    ChangeSize m = measure_change(*s, *value, part, dup);
    bool owned = series::report(*s, Change::change, *value, static_cast<int32_t>(index), static_cast<int32_t>(m.removed));
    // The owner may have changed the series: everything is measured again.
    index = clip(*s);
    m = measure_change(*s, *value, part, dup);
    Node node = s->w2;
    uint64_t used = buffer(node)->used();
    check_size(used, m.inserted);

    // The new bytes are written past the tail, so that a value sharing the series is read as
    // it stood; then they are rotated into place and the replaced bytes closed up.
    ensure_room(node, used + m.inserted);
    if (m.n > 0) {
        Target t{node, used, m.n};
        insert_value(&t, *value, -1, false, change_mode);
        Buffer* b = buffer(node);
        if (dup > 1) memory::fill_pattern(b->head_ptr() + used, static_cast<uint32_t>(m.n), static_cast<uint32_t>(dup));
    }
    Buffer* b = buffer(node);
    uint8_t* p = b->head_ptr();
    std::rotate(p + index, p + used, p + used + m.inserted);
    uint64_t rest = used - index - m.removed;
    std::memmove(p + index + m.inserted, p + index + m.inserted + m.removed, rest);
    uint64_t now = used + m.inserted - m.removed;
    b->tail = b->head + static_cast<uint32_t>(now);
    if (owned) series::report(*s, Change::changed, *value, static_cast<int32_t>(index), static_cast<int32_t>(m.inserted));
    uint64_t after = index + m.inserted;
    s->w1 = static_cast<uint32_t>(after < now ? after : now);
    return s;
}

// Removes from the position every byte the table marks; gives the new used size.
uint64_t remove_marked(Cell& s, const bool (&marked)[256]) {
    Buffer* b = buffer(s.w2);
    uint8_t* p = b->head_ptr();
    uint64_t used = b->used();
    uint64_t kept = position(s);
    for (uint64_t i = kept; i < used; ++i)
        if (!marked[p[i]]) p[kept++] = p[i];
    return kept;
}

Cell* trim(Cell* s, const TrimArgs& a) {
    bool marked[256] = {};
    bool removing = false;
    if (a.with) {
        removing = true;
        const Cell& w = *a.with;
        uint32_t t = cell::type(w);
        if (t == T_char_ || t == T_integer) {
            if (w.w2 < 256) marked[w.w2] = true;
        } else if (t == T_binary) {
            const uint8_t* p = head_pointer(w);
            for (uint32_t i = 0, n = length(w); i < n; ++i) marked[p[i]] = true;
        } else if (in(t, ANY_STRING)) {
            Chars c = chars_of(w);
            for (int64_t i = 0; i < c.count; ++i) {
                uint32_t cp = unicode::char_at(c.p + (uint64_t(i) << c.shift), c.unit);
                if (cp < 256) marked[cp] = true;
            }
        } else {
            error::fire(err::script_invalid_arg, w);
        }
    } else if (a.all) {
        removing = true;
        marked[0] = true;
    } else if (a.auto_ || a.lines) {
        not_done();
    }
    uint32_t index = clip(*s);
    bool owned = series::report(*s, Change::trim, none::value, static_cast<int32_t>(index), 0);
    index = clip(*s);
    Buffer* b = buffer(s->w2);
    uint64_t used = b->used();
    uint64_t now;
    if (removing) {
        now = remove_marked(*s, marked);
    } else {
        uint8_t* p = b->head_ptr();
        uint64_t first = index, last = used;
        bool head = a.head || !a.tail;
        bool tail = a.tail || !a.head;
        if (head)
            while (first < last && p[first] == 0) ++first;
        if (tail)
            while (last > first && p[last - 1] == 0) --last;
        std::memmove(p + index, p + first, last - first);
        now = index + (last - first);
    }
    b->tail = b->head + static_cast<uint32_t>(now);
    if (owned) series::report(*s, Change::trimmed, none::value, static_cast<int32_t>(index), 0);
    return s;
}

}  // namespace

Cell* bitwise(Cell* a, Cell* b, int32_t op) {
    if (!cell::is(*b, T_binary)) error::fire(err::script_invalid_arg, *b);
    uint32_t len1 = length(*a), len2 = length(*b);
    uint32_t longest = len1 > len2 ? len1 : len2;
    // Both arguments are on the value stack, so they stay reachable while the result is made.
    Node node = memory::alloc_bytes(longest);
    const uint8_t* x = head_pointer(*a);
    const uint8_t* y = head_pointer(*b);
    Buffer* r = buffer(node);
    uint8_t* out = r->head_ptr();
    uint32_t common = len1 < len2 ? len1 : len2;
    for (uint32_t i = 0; i < common; ++i) {
        switch (op) {
        case integer::and_: out[i] = x[i] & y[i]; break;
        case integer::or_: out[i] = x[i] | y[i]; break;
        default: out[i] = x[i] ^ y[i]; break;
        }
    }
    const uint8_t* rest = len1 > len2 ? x : y;
    for (uint32_t i = common; i < longest; ++i) out[i] = op == integer::and_ ? 0 : rest[i];
    r->tail = r->head + longest;
    *a = cell_of(node);
    return a;
}

// ---- registration -------------------------------------------------------------------------------

namespace {
// The bytes from the position, as they are (no case folding: bytes are not text).
uint32_t hash_bytes(const Cell& v, bool) {
    Buffer* b = buffer(v.w2);
    uint32_t index = v.w1 < b->used() ? v.w1 : b->used();
    return hashtable::murmur3(b->head_ptr() + index, b->used() - index);
}
}  // namespace

void init() {
    using datatype::inherit;
    datatype::register_type(
        {.id = T_binary, .name = "binary!", .rest = datatype::Rest::empty,
         .mark = collector::mark_series_value, .hash = hash_bytes,
         .actions = {.make = inherit, .random = inherit, .reflect = inherit, .to = to, .form = form, .mold = mold,
                     .eval_path = inherit, .compare = compare, .and_t = and_t, .complement = complement,
                     .or_t = or_t, .xor_t = xor_t, .append = append, .at = inherit, .back = inherit,
                     .change = change, .clear = inherit, .copy = inherit, .find = inherit, .head = inherit,
                     .head_q = inherit, .index_q = inherit, .insert = insert, .length_q = inherit,
                     .move = inherit, .next = inherit, .pick = inherit, .poke = inherit, .remove = inherit,
                     .reverse = inherit, .select = inherit, .sort = inherit, .skip = inherit, .swap = inherit,
                     .tail = inherit, .tail_q = inherit, .take = inherit, .trim = trim, .modify = inherit}});
}

}  // namespace kov::binary
