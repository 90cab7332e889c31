#include "runtime/owner.h"

#include <vector>

#include "runtime/cells.h"
#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/families.h"
#include "runtime/hashtable.h"
#include "runtime/interpreter/stack.h"
#include "runtime/unicode.h"
#include "runtime/words.h"

namespace kov::owner {

using memory::Buffer;
using memory::buffer;
using memory::Node;

void (*on_deep_change)(const Cell&, const Cell&, const Cell&, const Cell&, const Cell&, int32_t, int32_t) = nullptr;

namespace {
Node owner_table = 0;

void mark_table() { hashtable::mark(owner_table); }
void sweep_table() { hashtable::sweep_owners(owner_table); }

void case_changed(const Cell& series, bool upper, uint32_t index, uint32_t count) {
    const Cell& action = upper ? words::loaded::uppercase : words::loaded::lowercase;
    check(series, action, nullptr, static_cast<int32_t>(index), static_cast<int32_t>(count));
}


bool owned_q(Node n) { return memory::valid_node(n) && (buffer(n)->flags & memory::owned); }

// The context of an object cell, or 0.
Node object_context(const Cell& v) {
    return cell::is(v, T_object) && context::is_context(object::context_of(v)) ? object::context_of(v) : 0;
}

void add_entry(const Cell& value, const Cell& owner, const Cell& word) {
    Cell series = value;
    // The conversion cache of a string belongs to the cell it was made for, not to the entry.
    if (in(cell::type(series), ANY_STRING)) string::set_cache(series, 0);
    Node n = cell::word<2>(series);
    buffer(n)->flags |= memory::owned;
    Cell* values = hashtable::put_int_key(owner_table, n);
    values[0] = series;
    values[1] = owner;
    values[2] = word;
}

void drop_entry(Node n) {
    buffer(n)->flags &= ~memory::owned;
    if (Cell* values = hashtable::get_int_key(owner_table, n)) {
        for (uint32_t k = 0; k < values_per_entry; ++k) values[k] = Cell{T_unset, 0, 0, 0};
        hashtable::remove_int_key(owner_table, n);
    }
}

}  // namespace

void init() {
    if (owner_table) return;
    owner_table = hashtable::make(initial_entries, 0, hashtable::ownership, values_per_entry);
    collector::push_root(mark_table);
    collector::add_weak_sweep(sweep_table);
    unicode::on_case_changed = case_changed;
}

Node table() { return owner_table; }

namespace {

// Calls on_series(value, word) for the series (or bitset) value and for every series held in
// it: in the cells of a block, in the fields of an object, a block or an object that holds
// itself walked once. The word stays the owner's field word however deep the series lies: the
// owner is told which of its own fields changed, not a field of an object nested in it. An
// object walked with none for word (an object made owner of its own series) gives each field
// its own word. on_series may allocate.
template <class OnSeries>
void walk_held(const Cell& value_in, const Cell& word_in, OnSeries& on_series) {
    // Copies: the arguments may lie in buffers that an allocation moves.
    Cell value = value_in, word = word_in;
    collector::Root keep_value(value), keep_word(word);
    uint32_t t = cell::type(value);
    if (in(t, SERIES) || t == T_bitset) {
        // The node is read unchecked and tested here before use: the walk takes bitsets, which
        // no series accessor takes, and a series cell may name no buffer (an image without
        // pixels holds node 0). Every node handed on below has passed this test.
        Node n = cell::word<2>(value);
        if (!memory::valid_node(n)) return;
        on_series(value, word);
        if (!in(t, ANY_BLOCK) || buffer(n)->unit() != sizeof(Cell) || cycles::find_q(n)) return;
        cycles::Guard guard(n);
        for (uint32_t i = series::position_of(value); i < cells::count(n); ++i) {
            Cell c = cells::of(n)[i];
            walk_held(c, word, on_series);
        }
        return;
    }
    Node ctx = object_context(value);
    if (!ctx) return;
    Cell* rec = context::record(ctx);
    Node values = context::values_of(*rec);
    if ((rec->header & cell::owns_series) || context::on_stack(*rec) || !values || cycles::find_q(values)) return;
    cycles::Guard guard(values);
    for (uint32_t i = 0; i < context::word_count(ctx); ++i) {
        Cell* slot = context::value_cell(ctx, i);
        if (!slot) break;
        Cell field = *slot;
        if (cell::is(field, T_object) && object::context_of(field) == ctx) continue;  // the object itself
        if (cell::is(word, T_none)) walk_held(field, *context::slot_at(ctx, i), on_series);
        else walk_held(field, word, on_series);
    }
}

}  // namespace

void set(const Cell& value, const Cell& owner_in, const Cell& word) {
    Cell owner = owner_in;
    collector::Root keep_owner(owner);
    auto take = [&](const Cell& series, const Cell& series_word) {
        // The flag alone is not trusted: a copy of an owned series carries it without an entry.
        Node n = cell::word<2>(series);
        if (!(buffer(n)->flags & memory::owned) || !hashtable::get_int_key(owner_table, n))
            add_entry(series, owner, series_word);
    };
    walk_held(value, word, take);
}

void set_all(const Cell& value, const Cell& owner_in, const Cell& word) {
    Cell owner = owner_in;
    set(value, owner, word);
    if (Node ctx = object_context(owner)) context::record(ctx)->header |= cell::owns_series;
}

void unset(const Cell& value) {
    auto release = [](const Cell& series, const Cell&) { drop_entry(cell::word<2>(series)); };
    walk_held(value, none::value, release);
}

void unset_range(const Cell& block, uint32_t index, uint32_t count) {
    Node n = cell::word<2>(block);  // tested below
    if (!memory::valid_node(n) || buffer(n)->unit() != sizeof(Cell)) return;
    for (uint64_t i = index; i < uint64_t(index) + count && i < cells::count(n); ++i) unset(cells::of(n)[i]);
}

Cell* find(Node series) {
    if (!owned_q(series)) return nullptr;
    Cell* values = hashtable::get_int_key(owner_table, series);
    return values ? values + 1 : nullptr;
}

bool check(const Cell& series_in, const Cell& action_in, const Cell* new_value, int32_t index, int32_t part) {
    // Any series or a bitset; find tests the node before use.
    Node key = cell::is(series_in, T_object) ? object::context_of(series_in) : cell::word<2>(series_in);
    Cell* values = find(key);
    if (!values || object::hooks_of(values[0]) == 0 || !on_deep_change) return false;
    // Everything the hook gets sits on the value stack: it may run Kov code.
    stack::Mark mark;
    Cell* owner = stack::push(values[0]);
    Cell* word = stack::push(values[1]);
    Cell* series = stack::push(series_in);
    Cell* action = stack::push(action_in);
    Cell* value = stack::push(new_value ? *new_value : none::value);
    on_deep_change(*owner, *word, *series, *action, *value, index, part);
    return true;
}

}  // namespace kov::owner

namespace kov::slotpool {

using memory::Buffer;
using memory::buffer;
using memory::Node;

namespace {
Node pool = 0;
int32_t free_head = -1;
std::vector<bool> in_use;

void mark_pool() { collector::mark_block(pool); }
}  // namespace

uint32_t capacity() { return pool ? buffer(pool)->size / sizeof(Cell) : 0; }

void init() {
    if (pool) return;
    pool = memory::alloc_cells(initial_capacity);
    collector::push_root(mark_pool);
    link(0);
}

void link(uint32_t first) {
    Buffer* b = buffer(pool);
    uint32_t cap = b->size / sizeof(Cell);
    auto cells = cells::of(b);
    for (uint32_t i = first; i < cap; ++i)
        cells[i] = Cell{T_integer, 0, i + 1 < cap ? i + 1 : static_cast<uint32_t>(-1), 0};
    free_head = first < cap ? static_cast<int32_t>(first) : -1;
    b->tail = b->head + cap * sizeof(Cell);
    in_use.resize(cap, false);
}

uint32_t add(const Cell& value_in) {
    Cell value = value_in;
    if (free_head < 0) {
        collector::Root keep(value);
        uint32_t old = capacity();
        memory::expand_series(pool, uint64_t(old) * 2 * sizeof(Cell));
        link(old);
    }
    uint32_t slot = static_cast<uint32_t>(free_head);
    Cell* c = cells::of(pool) + slot;
    free_head = static_cast<int32_t>(cell::word<2>(*c));  // a free slot's link
    *c = value;
    in_use[slot] = true;
    return slot + 1;
}

void remove(uint32_t index) {
    if (index == 0 || index > capacity() || !in_use[index - 1]) return;
    Cell* c = cells::of(pool) + (index - 1);
    *c = Cell{T_integer, 0, static_cast<uint32_t>(free_head), 0};
    free_head = static_cast<int32_t>(index - 1);
    in_use[index - 1] = false;
}

Cell* at(uint32_t index) {
    if (index == 0 || index > capacity()) return nullptr;
    return cells::of(pool) + (index - 1);
}

}  // namespace kov::slotpool
