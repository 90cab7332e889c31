#include "runtime/datatypes/symbol.h"

#include <cstring>

#include "runtime/cells.h"
#include "runtime/collector.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/error.h"
#include "runtime/hashtable.h"
#include "runtime/heap.h"
#include "runtime/interpreter/actions.h"
#include "runtime/root.h"
#include "runtime/unicode.h"

namespace kov::symbol {

using memory::Buffer;
using memory::buffer;

namespace {
Node symbol_series = 0;
Node symbol_table = 0;

void mark_table() { hashtable::mark(symbol_table); }

[[noreturn]] void unknown(uint32_t id) {
    error::fire(err::script_invalid_arg, Cell{T_integer, 0, id, 0});
}
}  // namespace

// ---- the table ----------------------------------------------------------------------------------

void init_table() {
    if (symbol_table) return;
    symbol_series = memory::alloc_cells(initial_capacity);
    collector::RootNode keep(symbol_series);
    root::append(Cell{T_block, 0, symbol_series, 0});
    symbol_table = hashtable::make(initial_capacity, symbol_series, hashtable::symbols, 1);
    collector::push_root(mark_table);
}

Node table() { return symbol_table; }
Node series() { return symbol_series; }
uint32_t count() { return symbol_series ? buffer(symbol_series)->used() / sizeof(Cell) : 0; }

// ---- interning ----------------------------------------------------------------------------------

uint32_t make(const char* text) {
    return search(reinterpret_cast<const uint8_t*>(text), static_cast<uint32_t>(std::strlen(text)));
}

uint32_t search(const uint8_t* bytes, uint32_t length) {
    return hashtable::find_symbol(symbol_table, bytes, length, hashtable::make_mode);
}

uint32_t make_alt(const char* text) {
    return hashtable::find_symbol(symbol_table, reinterpret_cast<const uint8_t*>(text),
                                  static_cast<uint32_t>(std::strlen(text)), hashtable::any_case);
}

uint32_t find(const uint8_t* bytes, uint32_t length) {
    return hashtable::find_symbol(symbol_table, bytes, length, hashtable::find_exact);
}

uint32_t find_string(const Cell& s, int32_t limit) {
    // The UTF-8 text is built on the tracked heap, which no collection moves.
    Buffer* b = buffer(s.w2);
    uint32_t unit = b->unit();
    uint32_t shift = unicode::unit_shift(unit);
    uint64_t total = b->used() >> shift;
    uint64_t index = s.w1 < total ? s.w1 : total;
    uint64_t n = total - index;
    if (limit >= 0 && uint64_t(limit) < n) n = uint64_t(limit);
    const uint8_t* start = b->head_ptr() + (index << shift);
    int64_t size = unicode::utf8_size(start, start + (n << shift), unit);
    if (size > int64_t(0xFFFFFFF0u)) error::fire(err::internal_no_memory);
    auto text = static_cast<uint8_t*>(heap::allocate(static_cast<std::size_t>(size) + 1));
    int64_t written = unicode::write_utf8(s, text, n == total - index ? -1 : static_cast<int64_t>(n), false);
    uint32_t id;
    try {
        id = search(text, static_cast<uint32_t>(written));
    } catch (...) {
        heap::free(text);
        throw;
    }
    heap::free(text);
    return id;
}

// ---- records ------------------------------------------------------------------------------------

Cell* record(uint32_t id) {
    if (id == 0 || id > count()) return nullptr;
    return cells::of(symbol_series) + (id - 1);
}

uint32_t resolve(uint32_t id) {
    const Cell* r = record(id);
    if (!r) return id;
    int32_t alias = alias_of(*r);
    return alias > 0 ? static_cast<uint32_t>(alias) : id;
}

int32_t get_alias_id(uint32_t id) {
    const Cell* r = record(id);
    return r ? alias_of(*r) : -1;
}

Spelling spelling(uint32_t id) {
    const Cell* r = record(id);
    if (!r) return {reinterpret_cast<const uint8_t*>(""), 0};
    Buffer* b = buffer(r->w3);
    return {b->head_ptr(), b->used()};
}

Cell get(uint32_t id) {
    Cell* r = record(id);
    if (!r) unknown(id);
    if (!r->w2) {
        Node bytes = r->w3;
        Buffer* b = buffer(bytes);
        Node text = unicode::load_utf8_new(unicode::ByteSource::in_series(bytes, b->head), b->used());
        record(id)->w2 = text;
    }
    return *record(id);
}

Cell c_string(const Cell& symbol_cell) {
    Cell s = symbol_cell;
    if (s.w2 && memory::valid_node(s.w2)) return string::cell_of(s.w2);
    Buffer* b = buffer(s.w3);
    uint32_t id = find(b->head_ptr(), b->used());
    if (id) return string::cell_of(get(id).w2);
    // A record that is not in the table: its text, uncached.
    b = buffer(s.w3);
    return string::cell_of(unicode::load_utf8_new(unicode::ByteSource::in_series(s.w3, b->head), b->used()));
}

// ---- actions ------------------------------------------------------------------------------------

int32_t compare(Cell* a, Cell* b, int32_t op) {
    if (!cell::is(*b, T_symbol)) return actions::not_comparable;
    Cell x = *a, y = *b;
    Cell sx = c_string(x);
    collector::Root keep(sx);
    Cell sy = c_string(y);
    return string::compare_values(sx, sy, op, false);
}

void mark(const Cell& r) {
    collector::mark_series(r.w2);
    collector::mark_series(r.w3);
}

namespace {
// The spelling, case folded as the comparison folds it.
uint32_t hash_symbol(const Cell& s, bool) {
    memory::Buffer* b = memory::buffer(s.w3);
    return hashtable::murmur3_lower(b->head_ptr(), b->used());
}
}  // namespace

void init() {
    datatype::register_type({.id = T_symbol, .name = "symbol!", .rest = datatype::Rest::empty,
                             .mark = mark, .hash = hash_symbol, .actions = {.compare = compare}});
}

}  // namespace kov::symbol
