#include "runtime/datatypes/context.h"

#include "runtime/cells.h"
#include "runtime/interpreter/compiled/code_cache.h"
#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/families.h"
#include "runtime/hashtable.h"
#include "runtime/interpreter/stack.h"
#include "runtime/root.h"
#include "runtime/series_buffer.h"
#include "runtime/words.h"

namespace kov::context {

using memory::Buffer;
using memory::buffer;

bool boot_flag = false;
void (*fire_on_change)(const Cell&, const Cell&, const Cell&, const Cell&) = nullptr;

Node global_node = 0;
Node global_values = 0;
memory::Buffer* global_buffer = nullptr;
Running running;

namespace {

void mark_global() { collector::mark_block(global_node); }


// The context a word is bound to; 0 when unbound (or bound to something that is no context).
Node context_of(const Cell& word) { return is_context(word.w1) ? word.w1 : 0; }

}  // namespace

// ---- cell helpers -------------------------------------------------------------------------------

bool is_context(Node ctx) {
    if (!ctx || !memory::valid_node(ctx)) return false;
    Buffer* b = buffer(ctx);
    return b->unit() == sizeof(Cell) && b->used() >= 2 * sizeof(Cell) && cell::is(*cells::of(ctx), T_context);
}

Cell* record(Node ctx) { return cells::of(ctx); }
Cell* self_cell(Node ctx) { return cells::of(ctx) + 1; }
Node words_table(Node ctx) { return record(ctx)->w1; }
Node word_list(Node ctx) { return hashtable::record(words_table(ctx))->keys; }
uint32_t word_count(Node ctx) { return cells::count(word_list(ctx)); }

Cell* value_cell(Node ctx, uint32_t index) {
    const Cell* rec = record(ctx);
    if (!rec->w2) return nullptr;
    if (on_stack(*rec)) {
        if (index >= word_count(ctx)) return nullptr;
        Cell* at = stack::values.begin + (uint64_t(rec->w2) - 1) + index;
        return at < stack::values.end ? at : nullptr;
    }
    if (index >= cells::count(rec->w2)) return nullptr;
    return cells::of(rec->w2) + index;
}

// ---- making -------------------------------------------------------------------------------------

Node create(uint32_t n, bool stack, bool self, Node copy_from, uint32_t kind) {
    if (n == 0) n = 1;
    Node node = memory::alloc_cells(2);
    Buffer* b = buffer(node);
    cells::of(node)[0] = cells::of(node)[1] = Cell{T_unset, 0, 0, 0};
    b->tail = b->head + 2 * sizeof(Cell);
    collector::RootNode keep(node);

    Node table;
    uint32_t copied = 0;
    if (copy_from) {
        Node keys = memory::copy_series(word_list(copy_from));
        copied = cells::count(keys);
        for (uint32_t i = 0; i < copied; ++i) cells::of(keys)[i].w1 = node;
        table = hashtable::copy(words_table(copy_from), keys);
    } else {
        table = hashtable::make(n, 0, hashtable::symbols, 0);
    }
    uint32_t header = T_context | (kind << kind_shift) | (stack ? stack_flag : 0) | (self ? self_flag : 0);
    *record(node) = Cell{header, table, 0, 0};
    if (!stack) {
        // The global values in a fixed buffer, whose address the interpreter keeps.
        uint64_t count = n > copied ? n : copied;
        Node values = kind == global_kind ? memory::alloc_fixed_series(count, sizeof(Cell), 0)
                                          : memory::alloc_cells_unset(count);
        if (kind == global_kind) {
            Buffer* vb = buffer(values);
            Cell* cells = reinterpret_cast<Cell*>(vb->data());
            for (uint32_t i = 0; i < vb->size / sizeof(Cell); ++i) cells[i] = Cell{T_unset, 0, 0, 0};
        }
        buffer(values)->tail = buffer(values)->head + copied * sizeof(Cell);
        record(node)->w2 = values;
    }
    return node;
}

Node add_spec_words(const Cell& spec_in, bool stack, bool self, uint32_t kind) {
    Cell spec = spec_in;
    collector::RootNode keep_spec(spec.w2);
    uint32_t total = cells::count(spec.w2);
    uint32_t from = spec.w1 < total ? spec.w1 : total;
    Node node = create(total - from, stack, self, 0, kind);
    collector::RootNode keep(node);
    for (uint32_t i = from; i < cells::count(spec.w2); ++i) {
        Cell c = cells::of(spec.w2)[i];
        uint32_t t = cell::type(c);
        if (t != T_word && t != T_get_word && t != T_lit_word && t != T_refinement) continue;
        int32_t index;
        find_word_from(node, c.w2, true, index);
    }
    if (!stack) {
        Node values = record(node)->w2;
        buffer(values)->tail = buffer(values)->head + word_count(node) * sizeof(Cell);
    }
    return node;
}

Node clone(Cell& value, uint32_t kind) {
    Node old = value.w1;
    Cell rec = *record(old);
    Node node = create(word_count(old), on_stack(rec), binds_self(rec), old, kind);
    value.w1 = node;
    return node;
}

// ---- the global context -------------------------------------------------------------------------

void init_global() {
    if (global_node) return;
    global_node = create(global_capacity, false, false, 0, global_kind);
    global_values = record(global_node)->w2;
    global_buffer = buffer(global_values);
    memory::fixed_moved = [](Buffer* old_buffer, Buffer* new_buffer) {
        if (old_buffer == global_buffer) global_buffer = new_buffer;
    };
    collector::push_root(mark_global);
}

Node global() { return global_node; }

// ---- finding and adding words -------------------------------------------------------------------

// Object field look-ups by name (paths like obj/field) repeat the same few (context, symbol)
// pairs: a small direct-mapped memo answers them without hashing. An entry is only a hint: it
// is used when the word list still holds that symbol, with that index, at the remembered
// position, which is exactly what the table would answer (a context other than the global one
// never holds two case variants), so stale entries and reused nodes do no harm.
namespace {
struct FindMemo {
    Node ctx;
    uint32_t symbol;
    int32_t position;
    int32_t index;
};
FindMemo find_memo[256];
}  // namespace

int32_t find_word(Node ctx, uint32_t sym, bool case_insensitive) {
    if (!case_insensitive || ctx == global_node)
        return hashtable::put_symbol(words_table(ctx), sym, case_insensitive, 0, nullptr);
    FindMemo& m = find_memo[(ctx * 0x9E3779B1u ^ sym) >> 24];
    if (m.ctx == ctx && m.symbol == sym) {
        Node list = word_list(ctx);
        if (static_cast<uint32_t>(m.position) < cells::count(list)) {
            const Cell& entry = cells::of(list)[m.position];
            if (entry.w2 == sym && static_cast<int32_t>(entry.w3) == m.index) return m.index;
        }
    }
    int32_t position = -1;
    int32_t index = hashtable::put_symbol(words_table(ctx), sym, true, 0, nullptr, &position);
    if (index >= 0 && position >= 0) m = FindMemo{ctx, sym, position, index};
    return index;
}

int32_t find_word_from(Node ctx, uint32_t sym, bool case_insensitive, int32_t& result) {
    return hashtable::put_symbol(words_table(ctx), sym, case_insensitive, ctx, &result);
}

int32_t add_word(Node ctx, const Cell& word) {
    uint32_t sym = word.w2;
    int32_t index;
    if (find_word_from(ctx, sym, true, index) < 0 && !on_stack(*record(ctx))) series::append_cell(record(ctx)->w2);
    return index;
}

Cell* add_symbol_once(Node ctx, const Cell& word, const Cell& value_in) {
    Cell value = value_in;
    collector::Root keep(value);
    if (find_word(ctx, word.w2, true) >= 0) return nullptr;
    int32_t index = add_word(ctx, word);
    Cell* slot = value_cell(ctx, static_cast<uint32_t>(index));
    if (slot) *slot = value;
    return slot;
}

Cell* put_value(Node ctx, const Cell& word, const Cell& value_in) {
    Cell value = value_in;
    collector::Root keep(value);
    int32_t index = find_word(ctx, word.w2, true);
    if (index < 0) index = add_word(ctx, word);
    Cell* slot = value_cell(ctx, static_cast<uint32_t>(index));
    if (slot) *slot = value;
    return slot;
}

bool add_set_words(Node ctx, const Cell& block_in) {
    Cell block = block_in;
    collector::RootNode keep(block.w2);
    uint32_t before = word_count(ctx);
    for (uint32_t i = block.w1; i < cells::count(block.w2); ++i) {
        Cell c = cells::of(block.w2)[i];
        if (cell::is(c, T_set_word)) add_word(ctx, c);
    }
    return word_count(ctx) > before;
}

Cell* get_any(uint32_t sym, Node ctx) {
    if (!is_context(ctx) || on_stack(*record(ctx))) ctx = global_node;
    int32_t index = find_word(ctx, sym, true);
    return index < 0 ? nullptr : value_cell(ctx, static_cast<uint32_t>(index));
}

Cell add_global(uint32_t sym, bool case_insensitive, bool rename) {
    Node g = global_node;
    int32_t position;
    int32_t found = hashtable::put_symbol(words_table(g), sym, case_insensitive, 0, nullptr, &position);
    if (found >= 0) {
        Cell entry = cells::of(word_list(g))[position];
        if (case_insensitive && rename && entry.w2 != sym) entry.w2 = sym;  // the variant asked for
        return entry;
    }
    // A new entry shares the slot of a case variant already present, whichever of the two
    // spellings was interned first.
    int32_t shared = case_insensitive ? -1 : find_word(g, sym, true);
    int32_t index;
    hashtable::put_symbol(words_table(g), sym, case_insensitive, g, &index, &position);
    series::append_cell(record(g)->w2);
    Cell* entry = cells::of(word_list(g)) + position;
    if (shared >= 0) entry->w3 = static_cast<uint32_t>(shared);
    return *entry;
}

Cell get_or_add_global(uint32_t sym) {
    Cell word = add_global(sym, false, true);
    if (boot_flag) root::append(word);
    return word;
}

// ---- getting and setting ------------------------------------------------------------------------

Cell* set_in(Cell& word, const Cell& value_in, Node ctx, bool notify) {
    Cell value = value_in;  // may lie in a buffer that an allocation below moves
    collector::Root keep(value);
    if (!is_context(ctx)) error::fire(err::script_not_defined, word);
    if (static_cast<int32_t>(word.w3) < 0) {
        int32_t index = find_word(ctx, word.w2, false);
        if (index < 0) index = add_word(ctx, word);
        word.w3 = static_cast<uint32_t>(index);
    }
    Cell* rec = record(ctx);
    if (!rec->w2) error::fire(err::script_not_defined, word);
    uint32_t index = word.w3;
    Cell* slot = value_cell(ctx, index);
    if (!slot) error::fire(err::script_not_defined, word);
    if (on_stack(*rec) || kind_of(*rec) != object_kind) {
        *slot = value;
        return slot;
    }
    if (Cell* entry = slot_at(ctx, index)) entry->header |= cell::field_changed;
    Cell self = *self_cell(ctx);
    if (!notify || self.w3 == 0 || !fire_on_change) {
        *slot = value;
        return slot;
    }
    // The hook sees the slot already holding the new value; the old one waits on the stack.
    stack::Mark mark;
    Cell* old = stack::push(*slot);
    *slot = value;
    Cell* self_copy = stack::push(self);
    Cell* word_copy = stack::push(word);
    Cell* new_copy = stack::push(value);
    fire_on_change(*self_copy, *word_copy, *old, *new_copy);
    return value_cell(ctx, index);
}

Cell* bound_slot_other(const Cell& word) {
    Node ctx = word.w1;
    if (static_cast<int32_t>(word.w3) < 0) return nullptr;
    if (ctx == global_node) return nullptr;  // an index past the global values
    if (!ctx || !memory::valid_node(ctx)) return nullptr;
    Buffer* b = buffer(ctx);
    if (b->unit() != sizeof(Cell) || b->used() < 2 * sizeof(Cell)) return nullptr;
    const Cell& rec = *cells::of(b);
    if (!cell::is(rec, T_context) || !rec.w2) return nullptr;
    uint32_t index = word.w3;
    if (on_stack(rec)) {
        // The context cell's w3 remembers a word count already checked: word lists only grow,
        // so an index below it needs no look at the list.
        if (index >= rec.w3) {
            uint32_t count = cells::count(hashtable::record(rec.w1)->keys);
            if (index >= count) return nullptr;
            const_cast<Cell&>(rec).w3 = count;
        }
        Cell* at = stack::values.begin + (uint64_t(rec.w2) - 1) + index;
        return at < stack::values.end ? at : nullptr;
    }
    Buffer* values = buffer(rec.w2);
    if (index >= values->used() / sizeof(Cell)) return nullptr;
    return cells::of(values) + index;
}

Cell* set_other(Cell& word, const Cell& value) {
    // Words of functions take the value as it is; object fields are marked changed and may
    // have a hook to call, which set_in does.
    if (Cell* slot = bound_slot_other(word)) {
        const Cell& rec = *record(word.w1);
        if (on_stack(rec) || kind_of(rec) != object_kind) {
            *slot = value;
            return slot;
        }
    }
    Node ctx = context_of(word);
    if (!ctx) error::fire(err::script_not_defined, word);
    return set_in(word, value, ctx, true);
}

Cell* get_in(const Cell& word, Node ctx) {
    if (static_cast<int32_t>(word.w3) < 0) {
        Node own = context_of(word);
        if (own && words::symbols::self_ && word.w2 == words::symbols::self_) return self_cell(own);
        error::fire(err::script_no_value, word);
    }
    if (!is_context(ctx)) error::fire(err::script_no_value, word);
    if (!record(ctx)->w2) error::fire(err::script_not_in_context, word);
    Cell* slot = value_cell(ctx, word.w3);
    if (!slot) error::fire(err::script_not_in_context, word);
    return slot;
}

Cell* get_other(const Cell& word) {
    if (Cell* slot = bound_slot_other(word)) return slot;
    Node ctx = context_of(word);
    if (!ctx) error::fire(err::script_no_value, word);
    return get_in(word, ctx);
}

// ---- binding ------------------------------------------------------------------------------------

int32_t bind_word(Node ctx, Cell& word) {
    int32_t index = find_word(ctx, word.w2, true);
    if (index >= 0) {
        word.w1 = ctx;
        word.w3 = static_cast<uint32_t>(index);
    }
    return index;
}

namespace {
// What one binding pass found for each symbol: a large body names the same few words again
// and again. An entry counts only in the pass that wrote it (its generation); within a pass
// the context cannot change, since binding allocates nothing and runs no Kov code.
struct BindMemo {
    uint64_t generation;
    uint32_t symbol;
    int32_t index;
};
BindMemo bind_memo[256];
uint64_t bind_generation = 0;

// Most words of a body are not the context's own (they are the global words a function or
// an object uses): a filter of the context's canonical symbols, made at a pass's first
// question, answers for them without probing the word table. The global context's pass does
// without (its table holds nearly every word), as does a context too large for the filter
// to say no often.
constexpr uint32_t filter_bits = 1024;
constexpr uint32_t filter_max_words = 256;
struct BindFilter {
    uint64_t generation;
    uint64_t bits[filter_bits / 64];
};
BindFilter bind_filter;

inline uint32_t filter_slot(uint32_t sym) { return (symbol::resolve(sym) * 0x9E3779B1u) >> 22; }

// False when the context certainly has no word of the symbol, in any letter case.
bool may_hold(Node ctx, uint32_t sym, uint64_t generation) {
    BindFilter& f = bind_filter;
    if (f.generation != generation) {
        f.generation = generation;
        for (uint64_t& w : f.bits) w = 0;
        Node list = word_list(ctx);
        const Cell* words = cells::of(list);
        for (uint32_t i = 0, n = cells::count(list); i < n; ++i) {
            uint32_t slot = filter_slot(words[i].w2);
            f.bits[slot >> 6] |= uint64_t(1) << (slot & 63);
        }
    }
    uint32_t slot = filter_slot(sym);
    return (f.bits[slot >> 6] >> (slot & 63)) & 1;
}

// Gives false, having stopped before changing it, at a block that is a function's pending
// body (function.h): its words must keep their binding until the function's copy is made.
bool bind_cells(const Cell& block, Node ctx, bool self, bool filtered, uint64_t generation) {
    Node series = block.w2;
    if (!memory::valid_node(series)) return true;
    uint32_t flags = buffer(series)->flags;
    if ((flags & memory::unit_mask) != sizeof(Cell)) return true;
    if (flags & memory::pending_body) [[unlikely]] return false;
    if (cycles::find_q(series)) return true;
    cycles::Guard guard(series);
    code_cache::changed(series);  // a compiled form holds the words' old binding
    uint32_t self_sym = words::symbols::self_;
    // Nothing in a pass moves a buffer: the cells are read where they lie.
    Cell* cells = cells::of(series);
    uint32_t count = cells::count(series);
    for (uint32_t i = block.w1; i < count; ++i) {
        Cell& c = cells[i];
        uint32_t t = cell::type(c);
        if (in(t, ALL_WORD) && t != T_issue) {
            if (self && t == T_word && self_sym && c.w2 == self_sym) {
                c.w1 = ctx;
                c.w3 = static_cast<uint32_t>(-1);
                continue;
            }
            BindMemo& m = bind_memo[(c.w2 * 0x9E3779B1u) >> 24];
            if (m.generation != generation || m.symbol != c.w2) {
                bool absent = filtered && !may_hold(ctx, c.w2, generation);
                m = BindMemo{generation, c.w2, absent ? -1 : find_word(ctx, c.w2, true)};
            }
            if (m.index >= 0) {
                c.w1 = ctx;
                c.w3 = static_cast<uint32_t>(m.index);
            }
        } else if (in(t, ANY_BLOCK)) {
            Cell inner = c;
            if (!bind_cells(inner, ctx, self, filtered, generation)) return false;
        }
    }
    return true;
}
}  // namespace

void bind(const Cell& block_in, Node ctx, bool self) {
    // Nothing here allocates: the cells are bound where they lie.
    bool filtered = ctx != global_node && word_count(ctx) <= filter_max_words;
    if (bind_cells(block_in, ctx, self, filtered, ++bind_generation)) [[likely]] return;
    // Every pending body is made first (that allocates); binding again what was already bound
    // gives the same words.
    Cell block = block_in;
    collector::Root keep(block);
    collector::RootNode keep_ctx(ctx);
    function::take_all();
    bind_cells(block, ctx, self, filtered, ++bind_generation);
}

// ---- stack contexts -----------------------------------------------------------------------------

void enter_frame(Node ctx, const Cell* first) {
    record(ctx)->w2 = static_cast<uint32_t>(first - stack::values.begin) + 1;
}

void leave_frame(Node ctx) { record(ctx)->w2 = 0; }

// ---- access used by errors, fields and ownership ------------------------------------------------

Cell* slot_at(Node ctx, uint32_t index) {
    Node list = word_list(ctx);
    return index < cells::count(list) ? cells::of(list) + index : nullptr;
}

memory::Buffer* values(Node ctx) { return buffer(word_list(ctx)); }
uint32_t field_count(Node ctx) { return word_count(ctx); }

// ---- registration -------------------------------------------------------------------------------

void mark(const Cell& c) {
    hashtable::mark(c.w1);
    if (!on_stack(c) && memory::valid_node(c.w2) && buffer(c.w2)->unit() == sizeof(Cell)) collector::mark_block(c.w2);
}

void init() {
    datatype::register_type({.id = T_context, .name = "context!", .rest = datatype::Rest::empty,
                             .mark = mark, .actions = {}});
}

}  // namespace kov::context
