#include "runtime/datatypes/string.h"

#include <cstring>
#include <utility>

#include "runtime/collector.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/error.h"
#include "runtime/families.h"
#include "runtime/float_text.h"
#include "runtime/heap.h"
#include "runtime/interpreter/stack.h"
#include "runtime/runtime.h"
#include "runtime/series_buffer.h"
#include "runtime/unicode.h"

namespace kov::string {

using memory::buffer;

// ---- cells and constructors ---------------------------------------------------------------------

Cell& make_at(Cell& c, uint32_t n, uint32_t unit) {
    c = Cell{T_unset, 0, 0, 0};
    Node node = memory::alloc_series(n, unit, 0);
    c = cell_of(node);
    return c;
}

Cell* make_in(Node block, uint32_t n, uint32_t unit) {
    Node node = memory::alloc_series(n, unit, 0);
    collector::RootNode keep(node);
    Cell* c = series::append_cell(block);
    *c = cell_of(node);
    return c;
}

Cell* push(uint32_t n, uint32_t unit) {
    Cell* c = stack::reserve();
    make_at(*c, n, unit);
    return c;
}

Cell* push(const Cell& s) { return stack::push(s); }

Cell* load(const uint8_t* bytes, uint64_t count, Cell* target, int32_t encoding) {
    if (!target) target = stack::reserve();
    *target = Cell{T_unset, 0, 0, 0};
    Node node;
    if (encoding == 0) {
        node = unicode::load_utf8_new(unicode::ByteSource(bytes), static_cast<int64_t>(count));
    } else if (encoding == -1) {
        node = unicode::load_utf16le(unicode::ByteSource(bytes), static_cast<int64_t>(count / 2), nullptr, false);
    } else {
        // An unsupported encoding is the caller's error, never the end of the process.
        error::fire(err::script_invalid_arg, Cell{T_integer, 0, static_cast<uint32_t>(encoding), 0});
    }
    *target = cell_of(node);
    return target;
}

Cell* load_in(Node block, const uint8_t* bytes, uint64_t count, int32_t encoding) {
    Cell tmp{T_none, 0, 0, 0};
    collector::Root keep(tmp);
    load(bytes, count, &tmp, encoding);
    Cell* c = series::append_cell(block);
    *c = tmp;
    return c;
}

Cell* load_at(const uint8_t* bytes, uint64_t count, int32_t encoding) { return load(bytes, count, nullptr, encoding); }

Cell* load_utf8_strict(unicode::ByteSource bytes, uint64_t count) {
    Cell* c = push(static_cast<uint32_t>(count ? count : 1), 1);
    int64_t left = 0;
    unicode::load_utf8_into(bytes, static_cast<int64_t>(count), *c, &left);
    if (left > 0) {
        uint64_t from = count - static_cast<uint64_t>(left);
        Node b = memory::alloc_bytes(static_cast<uint64_t>(left));
        Buffer* bb = buffer(b);
        std::memcpy(bb->data(), bytes.at(from), static_cast<std::size_t>(left));  // fetched after the allocation
        bb->tail = static_cast<uint32_t>(left);
        error::fire(err::access_invalid_utf8, Cell{T_binary, 0, b, 0});
    }
    return c;
}

// ---- cursor routines ----------------------------------------------------------------------------

namespace {

// The buffer and the clipped index of a cell, read without writing anything back.
struct View {
    Buffer* b;
    uint32_t unit;
    uint32_t shift;
    int32_t index;   // clipped to [0, length]
    int32_t length;  // characters from the buffer head
};

View view(const Cell& s) {
    Buffer* b = buffer(s.w2);
    uint32_t unit = b->unit();
    uint32_t sh = shift_of(unit);
    int32_t length = static_cast<int32_t>(b->used() >> sh);
    int32_t index = static_cast<int32_t>(s.w1);
    if (index < 0) index = 0;
    if (index > length) index = length;
    return {b, unit, sh, index, length};
}

// Case-insensitive comparisons compare upper-cased characters.
int32_t fold(int32_t cp) { return static_cast<int32_t>(unicode::case_map(static_cast<uint32_t>(cp), true)); }

}  // namespace

int32_t rs_length_q(const Cell& s) {
    View v = view(s);
    return v.length - v.index;
}

int32_t rs_full_length_q(const Cell& s) { return view(s).length; }

uint8_t* rs_head(Cell& s) {
    View v = view(s);
    if (static_cast<int32_t>(s.w1) > v.length) s.w1 = static_cast<uint32_t>(v.length);
    return v.b->head_ptr() + (uint64_t(v.index) << v.shift);
}

uint8_t* rs_tail(const Cell& s) { return buffer(s.w2)->tail_ptr(); }

bool rs_tail_q(const Cell& s) {
    Buffer* b = buffer(s.w2);
    int64_t index = static_cast<int32_t>(s.w1);
    return (index << shift_of(b->unit())) >= int64_t(b->used());
}

int32_t rs_abs_char(const Cell& s, int32_t index) {
    Buffer* b = buffer(s.w2);
    return get_char(b->head_ptr() + (uint64_t(index) << shift_of(b->unit())), b->unit());
}

int32_t rs_find_char(const Cell& s, int32_t cp) {
    View v = view(s);
    const uint8_t* p = v.b->head_ptr();
    for (int32_t i = v.index; i < v.length; ++i)
        if (get_char(p + (uint64_t(i) << v.shift), v.unit) == cp) return i - v.index;
    return -1;
}

bool starts_with_literal_q(const Cell& s, const char* literal) {
    View v = view(s);
    std::size_t n = std::strlen(literal);
    if (uint64_t(v.length - v.index) < n) return false;
    const uint8_t* p = v.b->head_ptr() + (uint64_t(v.index) << v.shift);
    for (std::size_t i = 0; i < n; ++i) {
        int32_t c = get_char(p + (i << v.shift), v.unit);
        if (c > 255 || c != static_cast<uint8_t>(literal[i])) return false;
    }
    return true;
}

// ---- character access ---------------------------------------------------------------------------

int32_t get_char(const uint8_t* p, uint32_t unit) { return static_cast<int32_t>(unicode::char_at(p, unit)); }

void put_char(uint8_t* p, uint32_t unit, int32_t cp) { unicode::put_char(p, unit, static_cast<uint32_t>(cp)); }

Buffer* widen_to(Node node, uint32_t unit, uint32_t wanted) {
    if (unit == 1 && wanted == 2) return unicode::widen_1_to_2(node);
    if (unit == 1 && wanted == 4) return unicode::widen_1_to_4(node);
    if (unit == 2 && wanted == 4) return unicode::widen_2_to_4(node);
    return buffer(node);
}

namespace {
// The unit a code point needs in a buffer of the given unit, by the storing thresholds
// (append widens a Latin-1 buffer from 128, storing at a position from 256).
uint32_t unit_for(uint32_t unit, int32_t cp, int32_t latin1_limit) {
    uint32_t c = static_cast<uint32_t>(cp);
    if (c > 0xFFFF) return 4;
    if (unit == 1 && c >= static_cast<uint32_t>(latin1_limit)) return 2;
    return unit;
}
}  // namespace

Buffer* append_char(Node node, int32_t cp) {
    Buffer* b = buffer(node);
    uint32_t unit = b->unit();
    uint32_t want = unit_for(unit, cp, 128);
    if (want > unit) {
        widen_to(node, unit, want);
        unit = want;
    }
    uint8_t* at = series::reserve(node, unit);
    put_char(at, unit, cp);
    return buffer(node);
}

namespace {

// The buffer, widened first when the character needs wider units than it has; gives its unit.
Buffer* widened_for(Node node, int32_t cp, uint32_t& unit) {
    Buffer* b = buffer(node);
    unit = b->unit();
    uint32_t want = unit_for(unit, cp, 256);
    if (want > unit) {
        b = widen_to(node, unit, want);
        unit = want;
    }
    return b;
}

}  // namespace

Buffer* set_char_at(Node node, uint32_t index, int32_t cp) {
    uint32_t unit;
    Buffer* b = widened_for(node, cp, unit);
    put_char(b->head_ptr() + (uint64_t(index) << shift_of(unit)), unit, cp);
    return b;
}

Buffer* write_char_at(Node node, uint32_t index, int32_t cp) {
    uint32_t unit;
    Buffer* b = widened_for(node, cp, unit);
    uint32_t sh = shift_of(unit);
    uint64_t end = (uint64_t(index) + 1) << sh;
    if (uint64_t(b->head) + end > b->size) {
        // Grow until the index fits, however far past the tail it lies.
        uint64_t need = uint64_t(b->head) + end;
        b = memory::expand_series(node, need * 2);
    }
    uint32_t used = b->used();
    if (end > used) {
        // Characters between the old tail and the index are filled with spaces, never left
        // as whatever bytes the buffer held.
        for (uint64_t i = used >> sh; i < index; ++i) put_char(b->head_ptr() + (i << sh), unit, ' ');
        b->tail = b->head + static_cast<uint32_t>(end);
    }
    put_char(b->head_ptr() + (uint64_t(index) << sh), unit, cp);
    return b;
}

Buffer* insert_char(Node node, uint32_t index, int32_t cp) {
    uint32_t unit;
    Buffer* b = widened_for(node, cp, unit);
    uint32_t sh = shift_of(unit);
    uint32_t count = b->used() >> sh;
    if (index > count) index = count;
    series::reserve(node, unit);  // the tail advances by one unit
    b = buffer(node);
    uint8_t* at = b->head_ptr() + (uint64_t(index) << sh);
    std::memmove(at + unit, at, (uint64_t(count) - index) << sh);
    put_char(at, unit, cp);
    return b;
}

void remove_chars(const Cell& s, uint32_t index, uint32_t count) {
    Buffer* b = buffer(s.w2);
    uint32_t sh = shift_of(b->unit());
    uint64_t length = b->used() >> sh;
    if (index >= length || count == 0) return;
    if (uint64_t(index) + count >= length) {
        b->tail = b->head + (index << sh);
        return;
    }
    uint8_t* at = b->head_ptr() + (uint64_t(index) << sh);
    uint64_t moved = (length - index - count) << sh;
    std::memmove(at, at + (uint64_t(count) << sh), moved);
    b->tail -= count << sh;
}

void remove_char(const Cell& s, uint32_t index) { remove_chars(s, index, 1); }

void truncate_at(Node node, uint32_t count) {
    Buffer* b = buffer(node);
    uint64_t bytes = uint64_t(count) << shift_of(b->unit());
    if (bytes < b->used()) b->tail = b->head + static_cast<uint32_t>(bytes);
}

void move_chars(Cell& source, uint32_t bytes, Cell& target) {
    Buffer* sb = buffer(source.w2);
    uint32_t sh = shift_of(sb->unit());
    uint32_t n = bytes >> sh;
    int32_t from = view(source).index;
    int32_t to = view(target).index;
    for (uint32_t k = 0; k < n; ++k) {
        sb = buffer(source.w2);
        int32_t c = get_char(sb->head_ptr() + ((uint64_t(from) + k) << shift_of(sb->unit())), sb->unit());
        insert_char(target.w2, static_cast<uint32_t>(to) + k, c);
    }
    remove_chars(source, static_cast<uint32_t>(from), n);
}

// ---- text building ------------------------------------------------------------------------------

namespace {
// The cell that holds a value's text: a string as it is, a symbol its cached text (which may
// have to be made, so the result is a copy).
Cell text_of(const Cell& c) {
    if (cell::is(c, T_symbol)) return symbol::c_string(c);
    return c;
}
}  // namespace

Buffer* concatenate(Cell& target, const Cell& source_in, int32_t part, int32_t offset, bool keep_unit, Mode mode) {
    const Cell source = text_of(source_in);
    Node tnode = target.w2;
    Node snode = source.w2;
    uint32_t tunit = buffer(tnode)->unit();
    uint32_t sunit = buffer(snode)->unit();
    if (tunit < sunit) {
        widen_to(tnode, tunit, sunit);
        tunit = sunit;
    } else if (tunit > sunit && !keep_unit) {
        widen_to(snode, sunit, tunit);
        sunit = tunit;
    }
    int32_t count = rs_length_q(source);
    if (part >= 0 && part < count) count = part;
    uint64_t added = uint64_t(count) << shift_of(tunit);
    if (count <= 0 || added == 0) return buffer(tnode);

    uint32_t tsh = shift_of(tunit);
    int64_t cursor = view(target).index;
    Buffer* tb = buffer(tnode);
    if (uint64_t(tb->size) < uint64_t(tb->tail) + added) tb = memory::expand_series(tnode, (uint64_t(tb->used()) + added) * 2);
    Buffer* sb = buffer(snode);  // may be the target's grown buffer
    int64_t sindex = view(source).index;

    uint64_t pos = uint64_t(cursor + offset) << tsh;  // byte position for insert and overwrite
    if (mode != append_mode && pos > tb->used()) pos = tb->used();
    if (mode == insert_mode) {
        uint8_t* at = tb->head_ptr() + pos;
        std::memmove(at + added, at, tb->used() - pos);
        if (snode == tnode && (uint64_t(sindex) << tsh) >= pos) sindex += count;  // the source moved up
    }
    uint64_t dest = mode == append_mode ? tb->used() : pos;

    if (tunit != sunit) {
        // Converted one by one (the target stays wider than the source).
        uint32_t ssh = shift_of(sunit);
        uint64_t written_end = dest;
        for (int32_t k = 0; k < count; ++k) {
            sb = buffer(snode);
            int32_t c = get_char(sb->head_ptr() + ((uint64_t(sindex) + k) << ssh), sunit);
            tb = buffer(tnode);
            put_char(tb->head_ptr() + dest + (uint64_t(k) << tsh), tunit, c);
            written_end = dest + (uint64_t(k + 1) << tsh);
        }
        tb = buffer(tnode);
        if (mode == insert_mode) tb->tail += static_cast<uint32_t>(added);
        else if (tb->head + written_end > tb->tail) tb->tail = tb->head + static_cast<uint32_t>(written_end);
        return tb;
    }
    // Inserting a string into itself reads the moved text, as a copy would.
    uint8_t* from = sb->head_ptr() + (uint64_t(sindex) << tsh);
    uint8_t* to = tb->head_ptr() + dest;
    if (snode == tnode) std::memmove(to, from, added);
    else std::memcpy(to, from, added);
    if (mode == insert_mode) {
        tb->tail += static_cast<uint32_t>(added);
    } else if (tb->head + dest + added > tb->tail) {
        tb->tail = tb->head + static_cast<uint32_t>(dest + added);
    }
    return tb;
}

Buffer* concatenate_part(Cell& target, const Cell& source, int32_t part, int32_t offset, bool keep_unit, Mode mode) {
    return concatenate(target, source, part, offset, keep_unit, mode);
}

void concatenate_literal_part(Cell& s, const char* bytes, uint32_t count) {
    Node node = s.w2;
    Buffer* b = buffer(node);
    if (b->unit() == 1) {
        // The common case: plain ASCII into a Latin-1 buffer, copied at once.
        bool ascii = true;
        for (uint32_t i = 0; i < count && ascii; ++i) ascii = static_cast<uint8_t>(bytes[i]) < 128;
        if (ascii) {
            std::memcpy(series::reserve(node, count), bytes, count);
            return;
        }
    }
    for (uint32_t i = 0; i < count; ++i) append_char(node, static_cast<uint8_t>(bytes[i]));
}

void concatenate_literal(Cell& s, const char* literal) {
    concatenate_literal_part(s, literal, static_cast<uint32_t>(std::strlen(literal)));
}

int32_t emit(Cell& out, const char* text, int32_t part) {
    uint32_t n = static_cast<uint32_t>(std::strlen(text));
    concatenate_literal_part(out, text, n);
    return part - static_cast<int32_t>(n);
}

void byte_to_hex(uint8_t byte, char* out) {
    static const char digits[] = "0123456789ABCDEF";
    out[0] = digits[byte >> 4];
    out[1] = digits[byte & 15];
}

const char* to_hex(int32_t value, bool shorten, char* out) {
    static const char digits[] = "0123456789ABCDEF";
    uint32_t v = static_cast<uint32_t>(value);
    uint32_t fill = value < 0 ? 0xFFFFFFFFu : 0;
    for (int i = 7; i >= 0; --i) out[i] = digits[(v >> ((7 - i) * 4)) & 15];
    out[8] = '\0';
    if (!shorten) return out;
    // Drop the leading places that only repeat the sign fill.
    int used = 0;
    for (uint32_t rest = v; rest != fill && used < 8; ++used) rest = value < 0 ? (rest >> 4) | 0xF0000000u : rest >> 4;
    if (used == 0) return value < 0 ? out + 6 : "00";
    return out + (8 - used);
}

double to_float(const char* text, uint32_t length, int32_t* left) {
    std::size_t rest = 0;
    double d = dtoa::parse(text, text + length, 0, rest);
    if (left) *left = static_cast<int32_t>(rest);
    return d;
}

// ---- comparison ---------------------------------------------------------------------------------

int32_t compare_values(const Cell& a_in, const Cell& b_in, int32_t op, bool match) {
    if (op == 9) return a_in.w2 == b_in.w2 && a_in.w1 == b_in.w1 ? 0 : -1;
    if (a_in.w2 == b_in.w2 && a_in.w1 == b_in.w1 && (op == 0 || op == 1 || op == 2 || op == 12)) return 0;
    const Cell a = text_of(a_in);
    collector::Root keep_a(a);
    const Cell b = text_of(b_in);
    View va = view(a);
    View vb = view(b);
    int32_t len1 = va.length - va.index;
    int32_t len2 = vb.length - vb.index;
    if (cell::type(b) == partial_type && static_cast<int32_t>(b.w3) >= 0 && static_cast<int32_t>(b.w3) < len2)
        len2 = static_cast<int32_t>(b.w3);
    int32_t n;
    if (match) {
        if (len2 == 0) return op == 12 ? 1 : 0;
        if (len2 > len1) return 1;
        n = len2;
    } else {
        if (len1 != len2) {
            if (op == 0 || op == 1 || op == 2 || op == 12) return 1;
            if (len2 == 0) return 1;
        }
        if (len1 == 0 && len2 == 0) return 0;
        if (len1 == 0) return -1;
        n = len1 < len2 ? len1 : len2;
    }
    bool folding = op != 2 && op != 8;
    const uint8_t* p1 = va.b->head_ptr() + (uint64_t(va.index) << va.shift);
    const uint8_t* p2 = vb.b->head_ptr() + (uint64_t(vb.index) << vb.shift);
    if (va.unit == 1 && vb.unit == 1) {
        // Two one-byte texts, the commonest: folded by table.
        const uint32_t* fold = folding ? unicode::latin1_upper() : nullptr;
        for (int32_t i = 0; i < n; ++i) {
            uint32_t c1 = p1[i], c2 = p2[i];
            if (c1 != c2 && fold) {
                c1 = fold[c1];
                c2 = fold[c2];
            }
            if (c1 != c2) return c1 < c2 ? -1 : 1;
        }
        if (match) return 0;
        return len1 < len2 ? -1 : (len1 > len2 ? 1 : 0);
    }
    for (int32_t i = 0; i < n; ++i) {
        int32_t c1 = get_char(p1 + (uint64_t(i) << va.shift), va.unit);
        int32_t c2 = get_char(p2 + (uint64_t(i) << vb.shift), vb.unit);
        if (folding) {
            c1 = fold(c1);
            c2 = fold(c2);
        }
        if (c1 != c2) return c1 < c2 ? -1 : 1;
    }
    if (match) return 0;
    return len1 < len2 ? -1 : (len1 > len2 ? 1 : 0);
}

bool tag_delimited_q(const Cell& s, const Cell& tag) {
    View v = view(s);
    int64_t close = int64_t(v.index) + rs_length_q(tag) + 1;
    // Both positions must lie before the tail.
    if (v.index >= v.length || close >= v.length) return false;
    const uint8_t* p = v.b->head_ptr();
    return get_char(p + (uint64_t(v.index) << v.shift), v.unit) == '<' &&
           get_char(p + (uint64_t(close) << v.shift), v.unit) == '>';
}

// ---- bitsets and whitespace ---------------------------------------------------------------------

bool bitset_has_q(Node bits, int32_t cp) {
    if (cp < 0) return false;
    Buffer* b = buffer(bits);
    uint64_t byte = static_cast<uint64_t>(cp) >> 3;
    if (byte >= b->used()) return (b->flags & memory::bitset_complement) != 0;
    return (b->head_ptr()[byte] & (0x80u >> (cp & 7))) != 0;
}

bool whitespace_q(int32_t cp) {
    if (cp >= 1 && cp <= 32) return true;
    if (cp < 0x85) return false;
    return cp == 0x85 || cp == 0xA0 || cp == 0x1680 || cp == 0x180E || (cp >= 0x2000 && cp <= 0x200A) ||
           cp == 0x2028 || cp == 0x2029 || cp == 0x202F || cp == 0x205F || cp == 0x3000;
}

// ---- molding ------------------------------------------------------------------------------------

void mold_char(Cell& out, int32_t cp, bool all) {
    char text[16] = {'^', 0, 0};
    // A surrogate is escaped too: written as UTF-8 it would be text the lexer refuses.
    if (cp == 30 || (cp >= 128 && cp <= 159) || (cp > 127 && all) || (cp >= 0xD800 && cp <= 0xDFFF)) {
        char hex[9];
        const char* digits = to_hex(cp, true, hex);
        text[1] = '(';
        int n = 2;
        while (*digits) text[n++] = *digits++;
        text[n++] = ')';
        text[n] = '\0';
    } else if (cp >= 0 && cp < 32) {
        // 0 to 31 as the caret and the character 64 places up ("^@", "^A" ... "^_"), except
        // the tab and the line feed.
        text[1] = cp == 9 ? '-' : cp == 10 ? '/' : static_cast<char>('@' + cp);
    } else if (cp == '"' || cp == '^') {
        text[1] = static_cast<char>(cp);
    } else if (cp == 127) {
        text[1] = '~';
    } else {
        append_char(out.w2, cp);
        return;
    }
    concatenate_literal(out, text);
}

}  // namespace kov::string
