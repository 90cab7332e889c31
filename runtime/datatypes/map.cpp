#include "runtime/datatypes/map.h"

#include <cstring>

#include "runtime/cells.h"
#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/error.h"
#include "runtime/families.h"
#include "runtime/hashtable.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/stack.h"
#include "runtime/series_buffer.h"
#include "runtime/words.h"

namespace kov::map {

using memory::Buffer;
using memory::buffer;

namespace {

// A removed entry: its value cell has a zero header word.
inline bool removed(const Cell& value) { return value.header == 0; }

[[noreturn]] void not_done() { error::fire(err::internal_not_done); }

// The map's table. A map the lexer made from "#[...]" may still lack it: it is built over the
// pair block at first use, as making the map would have.
Node table_of(Cell& m) {
    if (!m.w3) make_at(m, m.w2, cells::count(m.w2));
    return m.w3;
}

// The key cell index of the entry whose key compares true under the code, or -1. Keys of a
// type that is never stored are simply not found.
int32_t lookup(Cell& m, const Cell& key, int32_t op) {
    Node table = table_of(m);
    // Every code used here matches integers by their value: the table is probed directly.
    if (cell::is(key, T_integer)) return hashtable::map_find_integer(table, integer::get(key));
    return hashtable::search(table, key, 0, 1, op, false, false);
}

// The live value of the entry at key index `at`, or null.
const Cell* live_value(const Cell& m, int32_t at) {
    if (at < 0 || uint32_t(at) + 1 >= cells::count(m.w2)) return nullptr;
    const Cell* v = cells::of(m.w2) + at + 1;
    return removed(*v) ? nullptr : v;
}

// A key given back to the user: a set-word key reads as a word!.
Cell as_word(Cell key) {
    if (cell::is(key, T_set_word)) key.header = T_word;
    return key;
}

// Appends the key with an unset value to the pair block; gives the new pair's index.
[[gnu::always_inline]] inline uint32_t append_pair(const Cell& m, const Cell& key) {
    uint32_t index = cells::count(m.w2);
    auto pair = reinterpret_cast<Cell*>(series::reserve(m.w2, 2 * sizeof(Cell)));
    pair[0] = key;
    pair[1] = Cell{T_unset, 0, 0, 0};
    return index;
}

// An entry found again after its removal counts once more.
[[gnu::always_inline]] inline void revive(const Cell& m, int32_t at) {
    if (removed(cells::of(m.w2)[at + 1])) ++hashtable::record(m.w3)->size;
}

// Enters the pair just appended at index into the hash table. When a strictly equal key was
// there after all, the new pair goes again and the entry found is given instead.
int32_t enter_appended(const Cell& m, uint32_t index) {
    int32_t at = hashtable::enter(m.w3, index);
    if (at != int32_t(index)) {
        buffer(m.w2)->tail -= 2 * sizeof(Cell);
        revive(m, at);
    }
    return at;
}

// Stores the value under the key: in the entry found under the lookup code (revived when it
// was removed), or in a new entry at the tail of the pair block whose key is normalised.
void store(Cell& m, const Cell& key_in, const Cell& value_in, int32_t op, const Cell* path) {
    Cell key = key_in;
    Cell value = value_in;
    collector::Root keep_key(key);
    collector::Root keep_value(value);
    Node table = table_of(m);
    int32_t at;
    bool integer_key = cell::is(key, T_integer);
    if (integer_key || in(cell::type(key), ANY_STRING) || cell::is(key, T_binary)) {
        // An integer or text key is probed once: the probe that finds no entry also gives the
        // bucket of the new one (every code used here matches integers by their value, as
        // insertion does; a text key's copy, which the new pair keeps, hashes and probes alike).
        uint32_t slot = 0;
        at = integer_key ? hashtable::map_find_integer(table, integer::get(key), slot)
                         : hashtable::map_find_text(table, key, op, slot);
        if (at < 0) {
            if (!integer_key) normalise_key(key, path);  // an integer is its own key
            uint32_t index = append_pair(m, key);
            at = hashtable::map_enter_at(m.w3, slot, index) ? int32_t(index) : enter_appended(m, index);
        } else {
            revive(m, at);
        }
    } else {
        at = hashtable::search(table, key, 0, 1, op, false, false);
        if (at < 0) {
            normalise_key(key, path);
            at = enter_appended(m, append_pair(m, key));
        } else {
            revive(m, at);
        }
    }
    cells::of(m.w2)[at + 1] = value;
}

// forall moves a map's position one cell at a time, so it may stand on a value cell. Walks
// over the entries start at the next whole pair, never taking a value (or a removal mark) for
// a key.
uint32_t first_pair(uint32_t index) {
    return index + (index & 1);
}

// Whether a live entry follows the pair at i. The live count alone cannot tell once the
// position is past the first pairs.
bool live_after(Node node, uint32_t i) {
    for (uint32_t j = i + 2; j + 1 < cells::count(node); j += 2) {
        if (!removed(cells::of(node)[j + 1])) return true;
    }
    return false;
}

// The mold and form actions of a cell's datatype; a type without mold is the dispatcher's error.
int32_t mold_value(Cell& value, Cell& out, const MoldArgs& how, int32_t part) {
    auto fn = actions::lookup<actions::slot::mold>(cell::type(value));
    if (!fn) actions::fire_expect_arg(value, 0);
    return fn(&value, &out, MoldArgs{.all = how.all, .flat = how.flat, .arg = how.arg, .indent = how.indent}, part);
}

// The entries as text. Nested keys and values are molded whole (with their own delimiters)
// whatever /only says: /only leaves out the map's own brackets, not theirs.
int32_t mold_entries(const Cell& m, Cell& out, const MoldArgs& how, int32_t part, bool indentation, bool molding) {
    uint32_t n = size(m);
    if (n == 0) return part;
    const char* separator = "\n";
    if (how.flat) {
        separator = " ";
        indentation = false;
    } else if (molding && !how.only) {
        part = string::emit(out, "\n", part);
    } else if (molding) {
        indentation = false;
    }
    Node node = m.w2;
    cycles::Guard guard(node);
    uint32_t seen = 0;
    for (uint32_t i = first_pair(m.w1); i + 1 < cells::count(node) && seen < n; i += 2) {
        if (removed(cells::of(node)[i + 1])) continue;
        ++seen;
        if (indentation) part = mold::indent(out, how.indent, part);
        Cell key = cells::of(node)[i];
        part = mold_value(key, out, how, part);
        part = string::emit(out, " ", part);
        Cell value = cells::of(node)[i + 1];
        part = mold_value(value, out, how, part);
        if (indentation || (seen < n && live_after(node, i))) part = string::emit(out, separator, part);
        if (how.arg && part <= 0) break;
    }
    return part;
}

// Equality of the entries (0 equal, non-zero different) under code 2 (strict) or the others
// (equal keys, values compared with code 0).
int32_t compare_entries(Cell& a, Cell& b, int32_t op) {
    if (a.w2 == b.w2 && a.w1 == b.w1) return 0;
    if (op == actions::same) return -1;
    if (cycles::find_q(a.w2)) return cycles::find_q(b.w2) ? 0 : -1;
    table_of(a);
    Node tb = table_of(b);
    uint32_t n = size(a);
    if (n != size(b)) return 1;
    if (n == 0) return 0;
    cycles::Guard ga(a.w2);
    cycles::Guard gb(b.w2);
    int32_t r = 0;
    uint32_t seen = 0;
    for (uint32_t i = first_pair(a.w1); i + 1 < cells::count(a.w2) && seen < n; i += 2) {
        Cell v1 = cells::of(a.w2)[i + 1];
        if (removed(v1)) continue;
        ++seen;
        Cell key = cells::of(a.w2)[i];
        if (op == actions::strict_equal) {
            const Cell* v2 = live_value(b, hashtable::search(tb, key, 0, 1, actions::strict_equal, false, false));
            r = v2 ? actions::compare_direct(v1, Cell(*v2), actions::strict_equal) : 1;
        } else {
            r = 1;
            hashtable::Probe probe;
            for (int32_t at; (at = hashtable::find_next(tb, key, probe)) >= 0;) {
                const Cell* v2 = live_value(b, at);
                if (v2 && actions::compare_direct(v1, Cell(*v2), actions::equal) == 0) {
                    r = 0;
                    break;
                }
            }
        }
        if (r != 0) break;
    }
    return r;
}

// A new value-stack block of the live entries' keys (as words) or values.
Cell* collect(const Cell& m, bool keys) {
    uint32_t n = size(m);
    Cell* r = block::push_new(static_cast<int32_t>(n < 1 ? 1 : n));
    Node node = m.w2;
    uint32_t seen = 0;
    for (uint32_t i = 0; i + 1 < cells::count(node) && seen < n; i += 2) {
        if (removed(cells::of(node)[i + 1])) continue;
        ++seen;
        Cell c = keys ? as_word(cells::of(node)[i]) : cells::of(node)[i + 1];
        block::rs_append(*r, c);
    }
    return r;
}

}  // namespace

// ---- constructors -------------------------------------------------------------------------------

Cell& make_at(Cell& c, Node block, uint32_t hint) {
    uint32_t flags = block ? (c.header & cell::new_line) : 0;
    uint32_t head = block ? c.w1 : 0;
    if (!block) {
        c = Cell{T_unset, 0, 0, 0};
        block = memory::alloc_cells(hint < 2 ? 2 : hint);
    }
    // A block while the keys are normalised and the table is built: the collector sees the pairs.
    c = Cell{T_block | flags, head, block, 0};
    for (uint32_t i = 0; i + 1 < cells::count(block); i += 2) {
        Cell key = cells::of(block)[i];
        normalise_key(key, nullptr);
        cells::of(block)[i] = key;
    }
    uint32_t keys = hint / 2;
    Node table = hashtable::make(keys < 1 ? 1 : keys, block, hashtable::map, 0);
    c.w3 = table;
    cell::set_type(c, T_map);
    return c;
}

Cell* push(const Cell& m) { return stack::push(m); }

// ---- internal routines --------------------------------------------------------------------------

uint32_t size(const Cell& m) {
    if (m.w3) return hashtable::record(m.w3)->size;
    // A map not yet indexed: its pairs as they stand.
    uint32_t n = 0;
    for (uint32_t i = 0; i + 1 < cells::count(m.w2); i += 2)
        if (!removed(cells::of(m.w2)[i + 1])) ++n;
    return n;
}

void normalise_key(Cell& key, const Cell* path) {
    uint32_t t = cell::type(key);
    if (in(t, ANY_WORD)) {
        key.header = T_set_word;
    } else if (in(t, ANY_STRING) || t == T_binary) {
        // A copy of its own, so that later changes to the caller's series do not reach the key.
        stack::Mark mark;
        Cell* k = stack::push(key);
        series::copy(k, k, nullptr, false, nullptr);
        key = *k;
    } else if (!key_type_q(t)) {
        error::fire(err::script_invalid_path, path ? *path : none::value, datatype::make(t));
    }
}

Cell* extend(Cell* m, const Cell& spec, bool case_) {
    table_of(*m);
    int32_t op = case_ ? actions::strict_equal : actions::equal;
    Node from = spec.w2;
    uint32_t first = 0;
    if (!cell::is(spec, T_map)) {
        int64_t index = static_cast<int32_t>(spec.w1);
        if (index < 0) index = 0;
        int64_t n = int64_t(cells::count(from)) - index;
        if (n < 0) n = 0;
        if (n % 2) error::fire(err::script_invalid_arg, spec);
        first = static_cast<uint32_t>(index);
        // Room for every pair at once.
        uint64_t needed = uint64_t(buffer(m->w2)->used()) + uint64_t(n) * sizeof(Cell);
        if (needed > memory::max_buffer_size) error::fire(err::internal_no_memory);
        if (buffer(m->w2)->head + needed > buffer(m->w2)->size) memory::expand_series(m->w2, needed);
    }
    bool from_map = cell::is(spec, T_map);
    for (uint32_t i = first; i + 1 < cells::count(from); i += 2) {
        Cell value = cells::of(from)[i + 1];
        if (from_map && removed(value)) continue;
        Cell key = cells::of(from)[i];
        store(*m, key, value, op, nullptr);
    }
    return m;
}

bool copy_entries(const Cell& words, Cell& cursor, uint32_t n) {
    Node list = words.w2;
    auto word_at = [&](uint32_t k) { return cells::of(list)[words.w1 + k]; };
    if (uint64_t(words.w1) + n > cells::count(list)) n = words.w1 < cells::count(list) ? cells::count(list) - words.w1 : 0;
    for (uint32_t k = 0; k < n; ++k) {
        Cell w = word_at(k);
        if (!in(cell::type(w), ANY_WORD)) error::fire(err::script_invalid_arg, w);
    }
    uint32_t set = 0;
    cursor.w1 = first_pair(cursor.w1);
    uint32_t i = cursor.w1;
    while (set < n && i < cells::count(cursor.w2)) {
        if ((i & 1) == 0 && (i + 1 >= cells::count(cursor.w2) || removed(cells::of(cursor.w2)[i + 1]))) {
            i += 2;
            cursor.w1 += 2;
            continue;
        }
        Cell value = as_word(cells::of(cursor.w2)[i]);
        Cell w = word_at(set);
        context::set(w, value);
        ++set;
        ++i;
    }
    bool any = set > 0;
    for (; set < n; ++set) {
        Cell w = word_at(set);
        context::set(w, none::value);
    }
    return any;
}

Cell* body(const Cell& m) {
    uint32_t n = size(m);
    uint64_t room = uint64_t(n) * 2;
    Cell* r = block::push_new(static_cast<int32_t>(room < 1 ? 1 : (room > INT32_MAX ? INT32_MAX : room)));
    Node node = m.w2;
    uint32_t seen = 0;
    for (uint32_t i = 0; i + 1 < cells::count(node) && seen < n; i += 2) {
        if (removed(cells::of(node)[i + 1])) continue;
        ++seen;
        Cell key = cells::of(node)[i];
        key.header |= cell::new_line;
        block::rs_append(*r, key);
        Cell value = cells::of(node)[i + 1];
        block::rs_append(*r, value);
    }
    return r;
}

// ---- actions ------------------------------------------------------------------------------------

namespace {

Cell* copy(Cell* m, Cell* result, Cell* part, bool deep, Cell* types);

Cell* make_from(Cell* spec, bool to) {
    Cell map_type = datatype::make(T_map);
    switch (cell::type(*spec)) {
    case T_integer:
    case T_float_: {
        if (to) error::fire(err::script_bad_to_arg, map_type, *spec);
        int64_t n = value::to_int_arg(*spec);
        if (n < 0) error::fire(err::script_out_of_range, *spec);
        uint64_t hint = uint64_t(n) * 2;
        if (hint == 0) hint = 2;
        if (hint * sizeof(Cell) > memory::max_buffer_size) error::fire(err::internal_no_memory);
        return &make_at(*stack::reserve(), 0, static_cast<uint32_t>(hint));
    }
    case T_block:
    case T_paren:
    case T_hash: {
        int32_t n = block::rs_length_q(*spec);
        if (n < 0) n = 0;
        if (n % 2) error::fire(err::script_invalid_arg, *spec);
        Cell* c = block::clone(*spec, false, false);
        for (uint32_t i = 0; i < cells::count(c->w2); ++i) cell::clear_new_line(cells::of(c->w2)[i]);
        return &make_at(*c, c->w2, static_cast<uint32_t>(n < 2 ? 2 : n));
    }
    case T_map:
        return copy(spec, stack::reserve(), nullptr, false, nullptr);
    default:
        error::fire(err::script_bad_to_arg, map_type, *spec);
    }
}

Cell* make(Cell*, Cell* spec, uint32_t) { return make_from(spec, false); }
Cell* to(Cell*, Cell* spec, uint32_t) { return make_from(spec, true); }

Cell* reflect(Cell* m, uint32_t field) {
    table_of(*m);
    uint32_t f = symbol::resolve(field);
    Cell* r;
    if (f == symbol::resolve(words::symbols::words)) r = collect(*m, true);
    else if (f == symbol::resolve(words::symbols::values)) r = collect(*m, false);
    else if (f == symbol::resolve(words::symbols::body)) r = body(*m);
    else not_done();
    *m = *r;
    return m;
}

int32_t form(Cell* m, Cell* out, Cell* arg, int32_t part) {
    if (cycles::detect_q(*m, *out, part, false)) return part;
    table_of(*m);
    return mold_entries(*m, *out, MoldArgs{.arg = arg}, part, false, false);
}

int32_t mold(Cell* m, Cell* out, const MoldArgs& how, int32_t part) {
    if (cycles::detect_q(*m, *out, part, true)) return part;
    table_of(*m);
    if (!how.only) part = string::emit(*out, "#[", part);
    bool any = size(*m) > 0;
    part = mold_entries(*m, *out, how.at_depth(how.indent + 1), part, true, true);
    if (how.only) return part;
    // The closing bracket lines up with the map's own line, except on a single line.
    if (any && how.indent > 0 && !how.flat) part = mold::indent(*out, how.indent, part);
    return string::emit(*out, "]", part);
}

Cell* eval_path(Cell* parent, const PathStep& step) {
    int32_t op = step.case_ ? actions::strict_equal : actions::equal;
    if (step.value) {
        store(*parent, *step.element, *step.value, op, step.path);
        return step.value;
    }
    const Cell* v = live_value(*parent, lookup(*parent, *step.element, op));
    *parent = v ? *v : none::value;
    return parent;
}

int32_t compare(Cell* a, Cell* b, int32_t op) {
    if (!cell::is(*b, T_map)) return actions::not_comparable;
    switch (op) {
    case actions::sort_order:
    case actions::sort_order_case:
        return actions::sign_of(int64_t(a->w2) - int64_t(b->w2));
    case actions::equal: case actions::not_equal: case actions::strict_equal: case actions::same:
    case actions::find_equal:
        return compare_entries(*a, *b, op);
    default:
        return actions::not_comparable;
    }
}

Cell* clear(Cell* m) {
    hashtable::clear(table_of(*m));
    return m;
}

Cell* copy(Cell* m, Cell* result, Cell*, bool deep, Cell* types) {
    Node table = table_of(*m);
    bool guarded = deep && types;
    if (guarded && cycles::find_q(m->w2)) {
        cycles::reset();
        error::fire(err::internal_no_cycle);
    }
    struct Entry {
        bool on;
        Entry(bool on_, Node n) : on(on_) { if (on) cycles::push(n); }
        ~Entry() { if (on) cycles::pop(); }
    } entry(guarded, m->w2);
    Cell* pairs = block::clone(block::cell_of(m->w2), deep && !types, false);
    Node copied = hashtable::copy(table, pairs->w2);
    *result = Cell{T_map, 0, pairs->w2, copied};
    if (types) block::copy_nested(pairs->w2, 1, cells::count(pairs->w2), 2, deep, *types);
    return result;
}

Cell* find(Cell* m, Cell* value, const FindArgs& f) {
    int32_t op = f.same ? actions::same : (f.case_ ? actions::strict_equal : actions::equal);
    int32_t at = lookup(*m, *value, op);
    if (!live_value(*m, at)) return &none::make_at(*m);
    *m = as_word(cells::of(m->w2)[at]);
    return m;
}

Cell* select(Cell* m, Cell* value, const FindArgs& f) {
    int32_t op = f.same ? actions::same : (f.case_ ? actions::strict_equal : actions::equal);
    const Cell* v = live_value(*m, lookup(*m, *value, op));
    *m = v ? *v : none::value;
    return m;
}

Cell* length_q(Cell* m) {
    table_of(*m);
    integer::make_at(*m, static_cast<int32_t>(size(*m)));
    return m;
}

Cell* put(Cell* m, Cell* key, Cell* value, bool case_) {
    store(*m, *key, *value, case_ ? actions::strict_equal : actions::equal, nullptr);
    return value;
}

Cell* remove(Cell* m, Cell*, Cell* key) {
    if (!key) error::fire(err::script_missing_arg);
    int32_t at = lookup(*m, *key, actions::strict_equal);
    if (live_value(*m, at)) hashtable::remove_cell(m->w3, static_cast<uint32_t>(at));
    return m;
}

// The pair block and the table: the keys and values are marked through the block.
void mark(const Cell& c) {
    collector::mark_block(c.w2);
    if (c.w3) hashtable::mark(c.w3);
}

}  // namespace

// ---- registration -------------------------------------------------------------------------------

void init() {
    datatype::register_type({.id = T_map, .name = "map!", .rest = datatype::Rest::empty, .mark = mark,
                             .hash = datatype::hashing::second,
                             .actions = {.make = make, .reflect = reflect, .to = to, .form = form, .mold = mold,
                                         .eval_path = eval_path, .compare = compare, .clear = clear, .copy = copy,
                                         .find = find, .length_q = length_q, .put = put, .remove = remove,
                                         .select = select}});
}

}  // namespace kov::map
