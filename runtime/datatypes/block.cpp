#include "runtime/datatypes/block.h"

#include <cstddef>
#include <cstring>
#include <optional>

#include "runtime/cells.h"
#include "runtime/interpreter/compiled/code_cache.h"
#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/vector.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/families.h"
#include "runtime/hashtable.h"
#include "runtime/heap.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/interp.h"
#include "runtime/interpreter/stack.h"
#include "runtime/lexer/lexer.h"
#include "runtime/series_buffer.h"
#include "runtime/words.h"

namespace kov::block {

using memory::Buffer;
using memory::buffer;
using series::Change;

namespace {

inline int64_t count_of(Node n) { return buffer(n)->used() >> 4; }
// The index clipped to 0 .. the cell count (nothing written back).
inline int64_t clipped(const Cell& b) {
    int64_t i = static_cast<int32_t>(b.w1);
    int64_t n = count_of(b.w2);
    return i < 0 ? 0 : (i > n ? n : i);
}
inline int64_t rest_of(const Cell& b) { return count_of(b.w2) - clipped(b); }

[[noreturn]] void not_done() { error::fire(err::internal_not_done); }
[[noreturn]] void no_memory() { error::fire(err::internal_no_memory); }
[[noreturn]] void bad_refine(const char* word, const Cell& arg) {
    error::fire(err::script_invalid_refine_arg, series::word_arg(word), arg);
}

// Makes sure the block's buffer holds `needed` used bytes; grows to `grow_to` bytes when not.
void ensure_room(Node node, uint64_t needed, uint64_t grow_to) {
    if (needed > memory::max_buffer_size) no_memory();
    Buffer* b = buffer(node);
    if (uint64_t(b->head) + needed <= b->size) return;
    if (grow_to > memory::max_buffer_size) grow_to = memory::max_buffer_size;
    if (grow_to < needed) grow_to = needed;
    memory::expand_series(node, grow_to);
}

// The mold and form actions of a cell's datatype; a type without one is the dispatcher's error.
int32_t mold_value(Cell& value, Cell& out, const MoldArgs& how, int32_t part) {
    auto fn = actions::lookup<actions::slot::mold>(cell::type(value));
    if (!fn) actions::fire_expect_arg(value, 0);
    return fn(&value, &out, MoldArgs{.all = how.all, .flat = how.flat, .arg = how.arg, .indent = how.indent}, part);
}

int32_t form_value(Cell& value, Cell& out, Cell* arg, int32_t part) {
    auto fn = actions::lookup<actions::slot::form>(cell::type(value));
    if (!fn) actions::fire_expect_arg(value, 0);
    return fn(&value, &out, arg, part);
}

// Replaces the cell at index i of the block by a copy of itself made by its datatype's copy
// action (deep as asked), keeping the cell's new-line flag. A type without copy stays shared.
void copy_cell_in_place(Node node, int64_t i, bool deep, Cell* types) {
    Cell* c = stack::push(cells::of(node)[i]);
    auto fn = actions::lookup<actions::slot::copy>(cell::type(*c));
    if (fn) {
        uint32_t flags = c->header & cell::new_line;
        fn(c, c, nullptr, deep, types);
        c->header = (c->header & ~cell::new_line) | flags;
        if (i < count_of(node)) cells::of(node)[i] = *c;
    }
    stack::pop(1);
}

}  // namespace

// ---- cursor routines ----------------------------------------------------------------------------

int32_t rs_length_q(const Cell& b) {
    return static_cast<int32_t>(count_of(b.w2) - static_cast<int32_t>(b.w1));
}

Cell* rs_head(Cell& b) {
    int64_t n = count_of(b.w2);
    if (static_cast<int32_t>(b.w1) > n) b.w1 = static_cast<uint32_t>(n);
    return cells::of(b.w2) + clipped(b);
}

Cell* rs_tail(const Cell& b) { return reinterpret_cast<Cell*>(buffer(b.w2)->tail_ptr()); }
bool rs_tail_q(const Cell& b) { return static_cast<int32_t>(b.w1) == count_of(b.w2); }
Cell* rs_abs_at(const Cell& b, uint32_t n) { return cells::of(b.w2) + n; }

void rs_clear(const Cell& b) { set_tail(b, static_cast<uint32_t>(clipped(b))); }

void set_tail(const Cell& b, uint32_t n) {
    Buffer* buf = buffer(b.w2);
    if (n < count_of(b.w2)) buf->tail = buf->head + n * 16;
}

// ---- constructors -------------------------------------------------------------------------------

Cell& make_at(Cell& c, int32_t n) {
    c = Cell{T_unset, 0, 0, 0};
    Node node = memory::alloc_cells(n < 1 ? 1 : uint64_t(n));
    c = cell_of(node);
    return c;
}

namespace {
Cell scratch_cell{T_none, 0, 0, 0};
}  // namespace

Cell* make_in(Cell* parent, int32_t n) {
    uint64_t count = n < 1 ? 1 : uint64_t(n);
    Node node = memory::alloc_fixed_series(count, 16, 0);
    collector::RootNode keep(node);
    Cell* c = parent ? series::append_cell(parent->w2) : &scratch_cell;
    *c = cell_of(node);
    return c;
}
Cell* push(const Cell& b) { return stack::push(b); }
Cell* push_new(int32_t n) { return &make_at(*stack::reserve(), n); }

// ---- appending and inserting --------------------------------------------------------------------

Cell* rs_append(const Cell& b, const Cell& value) {
    Cell copy = value;  // the value may live in the buffer the append moves
    Cell* c = series::append_cell(b.w2);
    *c = copy;
    return c;
}

Cell& insert_value(Cell& b, const Cell& value, bool advance, bool at_head) {
    Cell copy = value;
    Node node = b.w2;
    uint64_t used = buffer(node)->used();
    ensure_room(node, used + 16, (used + 16) * 2);
    Buffer* buf = buffer(node);
    int64_t n = count_of(node);
    int64_t at = at_head ? 0 : clipped(b);
    Cell* base = cells::of(buf);
    if (at < n) std::memmove(base + at + 1, base + at, uint64_t(n - at) * 16);
    buf->tail += 16;
    base[at] = copy;
    index_insert(b, static_cast<uint32_t>(at), 1, static_cast<uint32_t>(n - at));
    if (advance) b.w1 = static_cast<uint32_t>(at + 1);
    return b;
}

// ---- searching ----------------------------------------------------------------------------------

namespace {
bool same_word(const Cell& a, const Cell& b, bool case_) {
    if (case_) return a.w2 == b.w2;
    return symbol::resolve(a.w2) == symbol::resolve(b.w2);
}
}  // namespace

const Cell* find_word(const Cell& b, const Cell& word, bool case_) {
    int64_t n = count_of(b.w2);
    Cell* base = cells::of(b.w2);
    for (int64_t i = clipped(b); i < n; ++i) {
        uint32_t t = cell::type(base[i]);
        if (t < T_word || t > T_get_word) continue;
        if (same_word(base[i], word, case_)) return i + 1 < n ? base + i + 1 : nullptr;
    }
    return nullptr;
}

// ---- copying ------------------------------------------------------------------------------------

Cell* clone(const Cell& b, bool deep, bool any_block) {
    Node from = b.w2;
    int64_t start = clipped(b);
    int64_t n = count_of(from) - start;
    Cell* r = stack::reserve();
    Node node = memory::alloc_cells(n < 1 ? 1 : uint64_t(n));
    *r = cell_of(node);
    Buffer* nb = buffer(node);
    std::memcpy(nb->head_ptr(), cells::of(from) + start, uint64_t(n) * 16);
    nb->tail = nb->head + static_cast<uint32_t>(n * 16);
    if (deep) {
        // A block met again inside itself would be cloned for ever.
        if (cycles::find_q(from)) {
            cycles::reset();
            error::fire(err::internal_no_cycle);
        }
        cycles::Guard guard(from);
        for (int64_t i = 0; i < n; ++i) {
            Cell nested = cells::of(node)[i];
            uint32_t t = cell::type(nested);
            // hash! is not cloned: it stays shared, as do maps and the other series.
            bool wanted = t == T_block || (any_block && (t == T_paren || in(t, ANY_PATH)));
            if (!wanted) continue;
            Cell* copy = clone(nested, true, any_block);
            Cell& slot = cells::of(node)[i];
            slot.w1 = copy->w1;
            slot.w2 = copy->w2;
            stack::pop(1);
        }
    }
    r->header = cell::type(b);
    return r;
}

void copy_nested(Node node, uint32_t first, uint32_t end, uint32_t step, bool deep, const Cell& types) {
    if (step < 1) step = 1;
    Cell wanted_types = types;
    for (int64_t i = first; i < end && i < count_of(node); i += step) {
        uint32_t t = cell::type(cells::of(node)[i]);
        bool wanted = cell::is(wanted_types, T_typeset) ? typeset::contains(wanted_types, t) : wanted_types.w1 == t;
        if (!wanted) continue;
        if (!(in(t, SERIES) || t == T_map || t == T_bitset || t == T_object || t == T_error)) continue;
        copy_cell_in_place(node, i, deep, deep ? &wanted_types : nullptr);
    }
}

// ---- molding and comparing ----------------------------------------------------------------------

int32_t mold_each(const Cell& b, Cell& out, const MoldArgs& how, int32_t part) {
    int32_t indent = how.indent;
    Node node = b.w2;
    cycles::Guard guard(node);
    int64_t first = clipped(b);
    bool opened = false;
    for (int64_t i = first; i < count_of(node); ++i) {
        if (how.arg && part < 1) return part;
        Cell value = cells::of(node)[i];
        if (!how.flat && (value.header & cell::new_line)) {
            if (i == first && !how.only) {
                opened = true;
                ++indent;
            }
            if (!(i == first && how.only)) part = string::emit(out, "\n", part);
            part = mold::indent(out, indent, part);
        } else if (i != first) {
            part = string::emit(out, " ", part);
        }
        part = mold_value(value, out, how.at_depth(indent), part);
    }
    if (opened) {
        --indent;
        part = string::emit(out, "\n", part);
        part = mold::indent(out, indent, part);
    }
    return part;
}

int32_t compare_each(const Cell& a, const Cell& b, int32_t op) {
    if (op == actions::same) return a.w2 == b.w2 && a.w1 == b.w1 ? 0 : -1;
    if (a.w2 == b.w2 && a.w1 == b.w1) return 0;
    if (cycles::find_q(a.w2)) return cycles::find_q(b.w2) ? 0 : -1;
    int64_t size1 = rest_of(a);
    int64_t size2 = rest_of(b);
    if (size1 != size2 && (actions::equality_code(op) || op == actions::parse_strict || op == actions::parse_loose))
        return 1;
    if (size1 == 0) return size2 == 0 ? 0 : -1;
    cycles::Guard g1(a.w2);
    cycles::Guard g2(b.w2);
    int64_t i1 = clipped(a), i2 = clipped(b);
    int64_t n = size1 < size2 ? size1 : size2;
    for (int64_t k = 0; k < n; ++k) {
        // The cells are read afresh at every step; comparing allocates nothing.
        if (i1 + k >= count_of(a.w2) || i2 + k >= count_of(b.w2)) break;
        Cell x = cells::of(a.w2)[i1 + k];
        Cell y = cells::of(b.w2)[i2 + k];
        uint32_t tx = cell::type(x), ty = cell::type(y);
        bool comparable = tx == ty || (in(tx, ALL_WORD) && in(ty, ALL_WORD)) || (in(tx, NUMBER) && in(ty, NUMBER));
        if (!comparable) return tx < ty ? -1 : 1;
        int32_t r = actions::compare_direct(x, y, op);
        if (r != 0) return r;
    }
    return size1 < size2 ? -1 : (size1 > size2 ? 1 : 0);
}

// ---- hash! index upkeep -------------------------------------------------------------------------
// Each is called once the cells stand where they belong (and the tail is set): a rebuild
// reads the cells.

namespace {
inline bool indexed(const Cell& b) { return cell::is(b, T_hash) && b.w3 != 0; }
}  // namespace

void index_enter(const Cell& b, uint32_t i) {
    if (indexed(b)) hashtable::enter(b.w3, i);
}

void index_remove(const Cell& b, uint32_t i) {
    if (indexed(b)) hashtable::remove_cell(b.w3, i);
}

void index_remove_range(const Cell& b, uint32_t index, uint32_t count) {
    if (indexed(b)) hashtable::remove_range(b.w3, index, count);
}

void index_shift(const Cell& b, int32_t shift, uint32_t first, uint32_t count) {
    if (indexed(b) && hashtable::refresh(b.w3, shift, first, count, true) != 0) index_rebuild(b);
}

void index_insert(const Cell& b, uint32_t at, uint32_t added, uint32_t moved) {
    if (!indexed(b)) return;
    if (moved && hashtable::refresh(b.w3, static_cast<int32_t>(added), at, moved, true) != 0) {
        index_rebuild(b);
        return;
    }
    for (uint32_t k = 0; k < added; ++k) hashtable::enter(b.w3, at + k);
}

void index_move(const Cell& b, uint32_t from, uint32_t to, uint32_t count) {
    if (indexed(b)) hashtable::move_range(b.w3, from, to, count);
}

void index_rebuild(const Cell& b) {
    if (indexed(b)) hashtable::rebuild(b.w3, static_cast<uint64_t>(count_of(b.w2)));
}

void index_make(Cell& b) {
    b.w3 = 0;
    Node table = hashtable::make(static_cast<uint64_t>(count_of(b.w2)), b.w2, hashtable::hash_index, 0);
    b.w3 = table;
}

// ---- actions: making and text -------------------------------------------------------------------

// An object's or a map's body: its keys as set-words, each followed by its value.
Cell* body_of(const Cell& v) {
    if (cell::is(v, T_map)) return map::body(v);
    Cell* r = stack::push(v);
    auto reflect = actions::lookup<actions::slot::reflect>(T_object);
    return reflect(r, words::symbols::body);
}

Cell* make(Cell* proto, Cell* spec, uint32_t type) {
    uint32_t st = cell::type(*spec);
    Cell* r;
    if (st == T_integer || st == T_float_) {
        int32_t n = value::to_int_arg(*spec);
        r = push_new(n < 1 ? 1 : n);
    } else if (in(st, ANY_BLOCK)) {
        r = clone(*spec, false, false);
    } else if (st == T_object || st == T_map) {
        r = body_of(*spec);
    } else if (st == T_vector) {
        r = vector::to_block(*spec);
    } else {
        error::fire(err::script_bad_make_arg, datatype::make(type), *spec);
    }
    (void)proto;
    cell::set_type(*r, type);
    return r;
}

Cell* to(Cell* proto, Cell* spec, uint32_t type) {
    uint32_t st = cell::type(*spec);
    Cell* r;
    if (in(st, ANY_BLOCK)) {
        r = clone(*spec, false, false);
    } else if (st == T_object || st == T_map) {
        r = body_of(*spec);
    } else if (st == T_vector) {
        r = vector::to_block(*spec);
    } else if (st == T_string) {
        r = stack::reserve();
        lexer::load(*r, *spec, -1, lexer::Options{}, nullptr);
    } else if (st == T_typeset) {
        r = push_new(8);
        Cell set = *spec;
        for (uint32_t id = 1; id < actions::max_types; ++id) {
            if (!typeset::contains(set, id) || !datatype::types[id].name_symbol) continue;
            Cell name;
            word::make_at(datatype::types[id].name_symbol, name);
            rs_append(*r, name);
        }
    } else {
        r = push_new(1);
        rs_append(*r, *spec);
    }
    (void)proto;
    cell::set_type(*r, type);
    return r;
}

int32_t form(Cell* b, Cell* out, Cell* arg, int32_t part) {
    if (cycles::detect_q(*b, *out, part, false)) return part;
    Node node = b->w2;
    cycles::Guard guard(node);
    for (int64_t i = clipped(*b); i < count_of(node); ++i) {
        if (arg && part < 1) break;
        Cell value = cells::of(node)[i];
        part = form_value(value, *out, arg, part);
        if (i + 1 < count_of(node)) {
            Buffer* ob = buffer(out->w2);
            int32_t last = ob->used() ? string::get_char(ob->tail_ptr() - ob->unit(), ob->unit()) : 0;
            if (last != '\n' && last != '\r' && last != '\t') part = string::emit(*out, " ", part);
        }
    }
    return part;
}

int32_t mold(Cell* b, Cell* out, const MoldArgs& how, int32_t part) {
    if (cycles::detect_q(*b, *out, part, true)) return part;
    if (!how.only) part = string::emit(*out, "[", part);
    part = mold_each(*b, *out, how, part);
    if (!how.only) part = string::emit(*out, "]", part);
    return part;
}

int32_t compare(Cell* a, Cell* b, int32_t op) {
    uint32_t ta = cell::type(*a), tb = cell::type(*b);
    if (ta != tb) {
        bool paths = (ta == T_path && tb == T_lit_path) || (ta == T_lit_path && tb == T_path);
        if (!(paths && (op == actions::parse_strict || op == actions::parse_loose))) return actions::not_comparable;
    }
    return compare_each(*a, *b, op);
}

// ---- actions: search ----------------------------------------------------------------------------

namespace {

// What a find looks for and how it compares.
struct Target {
    enum Kind { by_type, by_typeset, run, single } kind;
    Cell value;
    int32_t op;
    int64_t count;  // cells of a run; 1 otherwise
};

Target target_of(const Cell& value, const FindArgs& f) {
    uint32_t t = cell::type(value);
    int32_t op = f.same ? actions::same : (f.case_ ? actions::strict_equal : actions::find_equal);
    if (!f.only && t == T_datatype) return {Target::by_type, value, op, 1};
    if (!f.only && t == T_typeset) return {Target::by_typeset, value, op, 1};
    if (!f.only && in(t, ANY_BLOCK)) return {Target::run, value, op, rest_of(value)};
    return {Target::single, value, op, 1};
}

bool matches_at(Node node, int64_t p, int64_t end, const Target& t) {
    if (p < 0 || p + t.count > end) return false;
    switch (t.kind) {
    case Target::by_type: return cell::type(cells::of(node)[p]) == t.value.w1;
    case Target::by_typeset: return typeset::contains(t.value, cell::type(cells::of(node)[p]));
    case Target::single: return actions::compare_direct(cells::of(node)[p], t.value, t.op) == 0;
    case Target::run: {
        int64_t from = clipped(t.value);
        for (int64_t k = 0; k < t.count; ++k) {
            if (from + k >= count_of(t.value.w2)) return false;
            if (actions::compare_direct(cells::of(node)[p + k], cells::of(t.value.w2)[from + k], t.op) != 0) return false;
        }
        return true;
    }
    }
    return false;
}

// The search behind find and select: the index of the match (-1 when none) and the target.
int64_t search(Cell* series, Cell* value, const FindArgs& f, Target& target) {
    Node node = series->w2;
    int64_t n = count_of(node);
    int64_t index = static_cast<int32_t>(series->w1);
    if (index < 0) index = 0;
    if (n == 0 || (index >= n && !f.reverse)) return -1;
    if (index > n) index = n;
    int64_t step = 1;
    if (f.skip) {
        if (!cell::is(*f.skip, T_integer)) bad_refine("skip", *f.skip);
        step = integer::get(*f.skip);
        if (step < 1) error::fire(err::script_out_of_range, *f.skip);
    }
    bool has_limit = false;
    int64_t limit = n - 1;
    if (f.part) {
        if (cell::is(*f.part, T_integer)) {
            int64_t k = integer::get(*f.part);
            if (k < 1) return -1;
            limit = index + k - 1;
        } else if (cell::type(*f.part) == cell::type(*series) && f.part->w2 == node) {
            limit = static_cast<int32_t>(f.part->w1);
        } else {
            bad_refine("part", *f.part);
        }
        if (limit >= n) limit = n - 1;
        has_limit = true;
    }
    target = target_of(*value, f);
    int64_t end = has_limit ? limit + 1 : n;
    uint32_t vt = cell::type(*value);
    if (indexed(*series) && !f.reverse && !f.last && !f.match && target.kind == Target::single &&
        (!in(vt, ANY_BLOCK) || (f.same && f.only)) && (vt != T_object || f.same)) {
        // A hash! answers forward searches for one value from its table.
        int32_t p = hashtable::search(series->w3, *value, static_cast<int32_t>(index), static_cast<int32_t>(step),
                                      target.op, false, false);
        return p >= 0 && p < end ? p : -1;
    }
    if (!f.reverse && !f.last) {
        for (int64_t p = index; p < end; p += step) {
            if (matches_at(node, p, end, target)) return p;
            if (f.match) break;
        }
        return -1;
    }
    int64_t start;
    if (has_limit) start = limit;
    else start = f.last ? n - target.count : index - target.count;
    if (start < 0) return -1;
    for (int64_t p = start; p >= 0; p -= step) {
        if (matches_at(node, p, end, target)) return p;
        if (f.match) break;
    }
    return -1;
}

}  // namespace

Cell* find(Cell* series, Cell* value, const FindArgs& f) {
    Target target{};
    int64_t p = search(series, value, f, target);
    if (p < 0) return none::push();
    Cell* r = stack::push(*series);
    if (f.tail) {
        if (target.kind == Target::run) p += target.count;
        else p += (f.reverse || f.last) ? 1 : (f.skip ? integer::get(*f.skip) : 1);
        if (p > count_of(series->w2)) p = count_of(series->w2);
    }
    r->w1 = static_cast<uint32_t>(p);
    return r;
}

Cell* select(Cell* series, Cell* value, const FindArgs& f) {
    FindArgs g = f;
    g.tail = g.match = false;
    Target target{};
    int64_t p = search(series, value, g, target);
    if (p < 0) return none::push();
    // Every any-block value searched as a run selects the cell after the whole run.
    p += target.kind == Target::run ? target.count : 1;
    if (p >= count_of(series->w2)) return none::push();
    return stack::push(cells::of(series->w2)[p]);
}

Cell* put(Cell* series, Cell* key, Cell* value, bool case_) {
    FindArgs f{};
    f.case_ = case_;
    f.only = true;  // the key is one value, as it is appended
    stack::Mark mark;
    Target target{};
    int64_t p = search(series, key, f, target);
    int64_t n = count_of(series->w2);
    bool owned = series::report(*series, Change::put, *value, static_cast<int32_t>(p < 0 ? n : p + 1), 1);
    n = count_of(series->w2);
    if (p >= n) p = -1;  // the owner took the key away: it is added again
    if (p < 0) {
        rs_append(*series, *key);
        index_enter(*series, static_cast<uint32_t>(count_of(series->w2) - 1));
        rs_append(*series, *value);
        index_enter(*series, static_cast<uint32_t>(count_of(series->w2) - 1));
    } else if (p + 1 < n) {
        if (actions::compare_direct(cells::of(series->w2)[p + 1], *value, actions::find_equal) != 0) {
            index_remove(*series, static_cast<uint32_t>(p + 1));
            cells::of(series->w2)[p + 1] = *value;
            index_enter(*series, static_cast<uint32_t>(p + 1));
        }
    } else {
        rs_append(*series, *value);
        index_enter(*series, static_cast<uint32_t>(count_of(series->w2) - 1));
    }
    if (owned) series::report(*series, Change::put_ed, *value, static_cast<int32_t>(p < 0 ? n : p + 1), 1);
    return value;
}

Cell* eval_path(Cell* parent, const PathStep& step) {
    Cell* element = step.element;
    bool integer_element = cell::is(*element, T_integer);
    if (!step.value) {
        if (integer_element) {
            // A block read by index, the commonest step (a/:i/:j): the cell is copied here,
            // exactly as pick copies it, without its dispatch on the datatype.
            if (in(cell::type(*parent), ANY_BLOCK)) {
                int32_t n = integer::get(*element);
                int64_t p = int64_t(series::index_of(*parent)) + (n > 0 ? int64_t(n) - 1 : int64_t(n));
                if (n == 0 || p < 0 || p >= count_of(parent->w2)) return &none::make_at(*parent);
                *parent = cells::of(parent->w2)[p];
                return parent;
            }
            return series::pick(parent, integer::get(*element), element);
        }
        if (cell::is(*element, T_word) && !cell::is(*parent, T_hash)) {
            const Cell* found = find_word(*parent, *element, step.case_);
            *parent = found ? *found : none::value;
            return parent;
        }
        FindArgs f{};
        f.only = true;
        f.case_ = step.case_;
        stack::Mark mark;
        *parent = *select(parent, element, f);
        return parent;
    }
    if (integer_element) {
        series::poke(parent, integer::get(*element), step.value, element);
        return step.value;
    }
    FindArgs f{};
    f.case_ = step.case_;
    Cell found;
    {
        stack::Mark mark;
        found = *find(parent, element, f);
    }
    if (cell::is(found, T_none)) error::fire(err::script_bad_path_set, step.path ? *step.path : none::value, *element);
    Cell* at = stack::push(found);
    series::poke(at, 2, step.value, element);
    stack::pop(1);
    return step.value;
}

// ---- actions: changing --------------------------------------------------------------------------

namespace {

// The cells a value adds: its own cells from its index when spread, else itself.
int64_t source_count(const Cell& value, bool spread) { return spread ? rest_of(value) : 1; }

// Where the cells to add are read from: the value's series, a snapshot of it when it is the
// series being changed (so that adding a block to itself adds what it held before), or the
// value itself.
struct Source {
    Node node = 0;       // 0: the single value `one`
    int64_t index = 0;
    Cell one{T_unset, 0, 0, 0};
    Node snapshot = 0;
};

void take_source(Source& src, const Cell& value, bool spread, int64_t count, Node target) {
    if (!spread) {
        src.one = value;
        return;
    }
    src.node = value.w2;
    src.index = clipped(value);
    if (src.node == target) {
        src.snapshot = series::copy_part(src.node, static_cast<uint32_t>(src.index), static_cast<uint32_t>(count));
        src.node = src.snapshot;
        src.index = 0;
    }
}

// Copies count cells of the source to cell `at` of the block, then repeats the run `dup` times.
void place(Node node, int64_t at, const Source& src, int64_t count, int64_t dup) {
    Cell* base = cells::of(node);
    if (src.node) std::memmove(base + at, cells::of(src.node) + src.index, uint64_t(count) * 16);
    else base[at] = src.one;
    if (dup > 1) memory::fill_pattern(reinterpret_cast<uint8_t*>(base + at), static_cast<uint32_t>(count * 16),
                                      static_cast<uint32_t>(dup));
}

}  // namespace

Cell* append(Cell* s, Cell* value, int32_t part, bool only, int32_t dup, bool append_flag) {
    bool spread = !only && in(cell::type(*value), ANY_BLOCK);
    // The common shape, one value at the tail of a block nobody owns and without a compiled
    // form, is stored in place: no source, no report. It grows as the general path below would.
    if (append_flag && !spread && part < 0 && dup == 1 && !(buffer(s->w2)->flags & (memory::owned | memory::has_form))) {
        Node node = s->w2;
        Cell one = *value;
        uint64_t needed = uint64_t(buffer(node)->used()) + 16;
        ensure_room(node, needed, needed * 2);
        Buffer* b = buffer(node);
        *reinterpret_cast<Cell*>(b->tail_ptr()) = one;
        b->tail += 16;
        index_enter(*s, static_cast<uint32_t>((b->used() >> 4) - 1));
        cell::store(*s, s->header, 0, s->w2, s->w3);  // whole: the caller copies it next
        return s;
    }
    int64_t count = source_count(*value, spread);
    if (count == 0) return s;
    int64_t take = part < 0 || part > count ? count : part;
    int64_t cells_added = take * (dup < 0 ? 0 : dup);
    if (cells_added == 0) return s;
    if (cells_added > INT32_MAX) no_memory();
    series::clip_index(*s, false);
    int64_t n = count_of(s->w2);
    int64_t index = clipped(*s);
    bool appending = append_flag || index == n;
    bool owned = appending ? series::report(*s, Change::append, *value, static_cast<int32_t>(n), static_cast<int32_t>(cells_added))
                           : series::report(*s, Change::insert, *value, static_cast<int32_t>(index), static_cast<int32_t>(cells_added));

    // The owner may have changed either series: everything is measured again.
    count = source_count(*value, spread);
    take = part < 0 || part > count ? count : part;
    cells_added = take * dup;
    if (cells_added == 0) return s;
    series::clip_index(*s, false);
    n = count_of(s->w2);
    index = clipped(*s);
    appending = append_flag || index == n;

    Source src;
    collector::RootNode keep(src.snapshot);
    take_source(src, *value, spread, take, s->w2);
    uint64_t used = uint64_t(n) * 16;
    uint64_t needed = used + uint64_t(cells_added) * 16;
    ensure_room(s->w2, needed, dup < 5 ? needed * 2 : needed);

    Buffer* b = buffer(s->w2);
    int64_t at = appending ? n : index;
    if (!appending) std::memmove(cells::of(b) + at + cells_added, cells::of(b) + at, uint64_t(n - at) * 16);
    place(s->w2, at, src, take, dup);
    b->tail += static_cast<uint32_t>(cells_added * 16);
    index_insert(*s, static_cast<uint32_t>(at), static_cast<uint32_t>(cells_added), static_cast<uint32_t>(n - at));
    if (owned) {
        if (appending) series::report(*s, Change::appended, *value, static_cast<int32_t>(at), static_cast<int32_t>(cells_added));
        else series::report(*s, Change::inserted, *value, static_cast<int32_t>(at), static_cast<int32_t>(cells_added));
    }
    if (appending && append_flag) {
        cell::store(*s, s->header, 0, s->w2, s->w3);  // whole: the caller copies it next
    } else {
        int64_t after = at + cells_added;
        int64_t now = count_of(s->w2);
        s->w1 = static_cast<uint32_t>(after > now ? now : after);
    }
    return s;
}

Cell* change(Cell* s, Cell* value, int32_t part, bool only, int32_t dup) {
    bool spread = !only && in(cell::type(*value), ANY_BLOCK);
    series::clip_index(*s, false);
    int64_t index = clipped(*s);
    int64_t remaining = count_of(s->w2) - index;
    int64_t count = source_count(*value, spread);
    int64_t added = count * (dup < 0 ? 0 : dup);
    int64_t replaced = part >= 0 ? (part < remaining ? part : remaining) : (added < remaining ? added : remaining);
    bool owned = series::report(*s, Change::change, *value, static_cast<int32_t>(index), static_cast<int32_t>(replaced));

    series::clip_index(*s, false);
    index = clipped(*s);
    int64_t n = count_of(s->w2);
    remaining = n - index;
    count = source_count(*value, spread);
    added = count * (dup < 0 ? 0 : dup);
    replaced = part >= 0 ? (part < remaining ? part : remaining) : (added < remaining ? added : remaining);
    int64_t new_length = n + added - replaced;
    if (added > INT32_MAX || uint64_t(new_length) * 16 > memory::max_buffer_size) no_memory();

    Source src;
    collector::RootNode keep(src.snapshot);
    if (count > 0) take_source(src, *value, spread, count, s->w2);
    ensure_room(s->w2, uint64_t(new_length) * 16, uint64_t(new_length) * 16);
    Buffer* b = buffer(s->w2);
    if (added != replaced) {
        std::memmove(cells::of(b) + index + added, cells::of(b) + index + replaced, uint64_t(n - index - replaced) * 16);
    }
    if (count > 0 && added > 0) place(s->w2, index, src, count, dup);
    b->tail = b->head + static_cast<uint32_t>(new_length * 16);
    index_rebuild(*s);
    if (owned) series::report(*s, Change::changed, *value, static_cast<int32_t>(index), static_cast<int32_t>(added));
    int64_t after = index + added;
    s->w1 = static_cast<uint32_t>(after > new_length ? new_length : after);
    return s;
}

Cell* take(Cell* s, Cell* part, bool deep, bool last) {
    bool owned = false;
    Cell* r = series::take_units(s, part, last, owned);
    if (!cell::is(*r, T_none)) {
        if (!part) {
            // The single cell leaves the shared scratch buffer at once.
            Buffer* sb = buffer(r->w2);
            *r = sb->used() >= 16 ? cells::of(sb)[0] : none::value;
            if (deep && in(cell::type(*r), SERIES)) {
                auto fn = actions::lookup<actions::slot::copy>(cell::type(*r));
                if (fn) fn(r, r, nullptr, true, nullptr);
            }
        } else if (deep) {
            for (int64_t i = 0; i < count_of(r->w2); ++i)
                if (in(cell::type(cells::of(r->w2)[i]), SERIES)) copy_cell_in_place(r->w2, i, true, nullptr);
        }
    }
    series::finish_take(s, owned);
    return r;
}

Cell* swap(Cell* s1, Cell* s2) {
    if (!in(cell::type(*s2), ANY_BLOCK)) error::fire(err::script_invalid_arg, *s2);
    if (series::rs_tail_q(*s1) || series::rs_tail_q(*s2)) return s1;
    int32_t i1 = static_cast<int32_t>(s1->w1), i2 = static_cast<int32_t>(s2->w1);
    bool owned1 = series::report(*s1, Change::swap, *s2, i1, 1);
    bool owned2 = series::report(*s2, Change::swap, *s1, i2, 1);
    if (series::rs_tail_q(*s1) || series::rs_tail_q(*s2)) return s1;
    i1 = static_cast<int32_t>(clipped(*s1));
    i2 = static_cast<int32_t>(clipped(*s2));
    index_remove(*s1, static_cast<uint32_t>(i1));
    index_remove(*s2, static_cast<uint32_t>(i2));
    Cell tmp = cells::of(s1->w2)[i1];
    cells::of(s1->w2)[i1] = cells::of(s2->w2)[i2];
    cells::of(s2->w2)[i2] = tmp;
    index_enter(*s1, static_cast<uint32_t>(i1));
    index_enter(*s2, static_cast<uint32_t>(i2));
    if (owned1) series::report(*s1, Change::swaped, *s2, i1, 1);
    if (owned2) series::report(*s2, Change::swaped, *s1, i2, 1);
    return s1;
}

Cell* trim(Cell* s, const TrimArgs&) {
    int64_t index = clipped(*s);
    bool owned = series::report(*s, Change::trim, none::value, static_cast<int32_t>(index), 0);
    index = clipped(*s);
    Buffer* b = buffer(s->w2);
    int64_t n = count_of(s->w2);
    Cell* base = cells::of(b);
    int64_t kept = index;
    for (int64_t i = index; i < n; ++i)
        if (!cell::is(base[i], T_none)) base[kept++] = base[i];
    b->tail = b->head + static_cast<uint32_t>(kept * 16);
    if (kept != n) index_rebuild(*s);
    if (owned) series::report(*s, Change::trimmed, none::value, static_cast<int32_t>(index), 0);
    return s;
}

Cell* copy(Cell* s, Cell* result, Cell* part, bool deep, Cell* types) {
    Node source = s->w2;
    series::copy(s, result, part, deep, types);
    if (!deep && !types) return result;
    if (cell::is(*result, T_hash)) cell::set_type(*result, T_block);
    if (deep && cycles::find_q(source)) {
        cycles::reset();
        error::fire(err::internal_no_cycle);
    }
    // The source stays on the cycle stack while its nested values are copied.
    struct Push {
        bool on;
        explicit Push(bool on_, Node n) : on(on_) { if (on) cycles::push(n); }
        ~Push() { if (on) cycles::pop(); }
    } push(deep, source);
    Node node = result->w2;
    if (types) {
        copy_nested(node, 0, static_cast<uint32_t>(count_of(node)), 1, deep, *types);
        return result;
    }
    for (int64_t i = 0; i < count_of(node); ++i)
        if (in(cell::type(cells::of(node)[i]), SERIES)) copy_cell_in_place(node, i, true, nullptr);
    return result;
}

// ---- sorting ------------------------------------------------------------------------------------

namespace {

// The record copies of the sorts in progress (sorts nest when a comparator sorts): their cells
// are marked at every collection, since the block may have let go of them meanwhile.
struct SortCopy {
    Cell* cells;
    std::size_t count;
    SortCopy* outer;
};
SortCopy* sorts_in_progress = nullptr;

void mark_sort_copies() {
    for (SortCopy* c = sorts_in_progress; c; c = c->outer) collector::mark_cells(c->cells, c->cells + c->count);
}

}  // namespace

int32_t compare_records(const void* a, const void* b, uintptr_t flags, uintptr_t op) {
    auto x = static_cast<const Cell*>(a);
    auto y = static_cast<const Cell*>(b);
    if (flags & sort_reverse) std::swap(x, y);
    uintptr_t n = 1;
    if (flags & sort_whole) n = flags >> 2;
    else {
        x += flags >> 2;
        y += flags >> 2;
    }
    for (uintptr_t k = 0; k < n; ++k) {
        // Two integers answer as integer!'s comparison does, under every sorting code.
        if (cell::is(x[k], T_integer) && cell::is(y[k], T_integer)) {
            int32_t r = actions::sign_of(int64_t(static_cast<int32_t>(x[k].w2)) - int64_t(static_cast<int32_t>(y[k].w2)));
            if (r != 0) return r;
            continue;
        }
        int32_t r = actions::compare_direct(x[k], y[k], static_cast<int32_t>(op));
        if (r == actions::not_comparable) r = static_cast<int32_t>(cell::type(x[k])) - static_cast<int32_t>(cell::type(y[k]));
        if (r != 0) return r;
    }
    return 0;
}

namespace {

// A comparator function and how records are handed to it.
struct FunctionSort {
    Cell fn;
    uint32_t size;  // cells per record, handed over as a block when whole
    bool whole;
};

int32_t compare_by_function(const void* a, const void* b, uintptr_t flags, uintptr_t option) {
    if (stack::exiting()) return 0;  // a break or return out of the comparator: finish quickly
    const FunctionSort& fs = *reinterpret_cast<const FunctionSort*>(option);
    auto x = static_cast<const Cell*>(a);
    auto y = static_cast<const Cell*>(b);
    if (flags & sort_reverse) std::swap(x, y);
    stack::Mark mark;
    Cell args[2];
    const Cell* records[2] = {x, y};
    for (int k = 0; k < 2; ++k) {
        if (fs.whole) {
            // The records lie in the sort's own copy, which never moves.
            Cell* r = push_new(fs.size);
            for (uint32_t i = 0; i < fs.size; ++i) rs_append(*r, records[k][i]);
            args[k] = *r;
        } else {
            args[k] = records[k][flags >> 2];
        }
    }
    return actions::comparator_answer(interp::apply_function(fs.fn, args, 2, &words::loaded::compare_callback_tag));
}

}  // namespace

// One-cell records that are integers alike in every word but the value can only come out one
// way, stable or not, whatever the order of equal values: the values are sorted alone and the
// cells written back in place (nothing here runs Kov code or allocates a series). Gives false,
// changing nothing, when the cells are not such integers.
bool sort_alike_integers(Node node, int64_t index, std::size_t n, bool descending) {
    const Cell* c = cells::of(node) + index;
    const Cell first = c[0];
    if (!cell::is(first, T_integer)) return false;
    for (std::size_t i = 1; i < n; ++i)
        if (c[i].header != first.header || c[i].w1 != first.w1 || c[i].w3 != first.w3) return false;
    struct Keys {
        int32_t* data;
        ~Keys() { heap::free(data); }
    } keys{static_cast<int32_t*>(heap::allocate(n * sizeof(int32_t)))};
    c = cells::of(node) + index;
    for (std::size_t i = 0; i < n; ++i) keys.data[i] = static_cast<int32_t>(c[i].w2);
    sort::sort_int32_values(keys.data, n);
    Cell* out = cells::of(node) + index;
    for (std::size_t i = 0; i < n; ++i)
        cell::store(out[i], first.header, first.w1, static_cast<uint32_t>(keys.data[descending ? n - 1 - i : i]), first.w3);
    return true;
}

void sort_records(const Cell& b, uint32_t records, uint32_t size, bool stable, uintptr_t flags, uintptr_t option,
                  sort::Compare compare) {
    if (records < 2 || size < 1) return;
    static bool rooted = false;
    if (!rooted) {
        collector::push_root(mark_sort_copies);
        rooted = true;
    }
    std::size_t n = std::size_t(records) * size;
    Node node = b.w2;
    int64_t index = clipped(b);
    if (index + int64_t(n) > count_of(node)) return;
    if (size == 1 && compare == compare_records && sort_alike_integers(node, index, n, flags & sort_reverse)) return;
    // The copy lives on the tracked heap: it never moves while the comparator runs.
    SortCopy copy{static_cast<Cell*>(heap::allocate(n * sizeof(Cell))), n, sorts_in_progress};
    std::memcpy(copy.cells, cells::of(node) + index, n * sizeof(Cell));
    sorts_in_progress = &copy;
    // Written back however the sort ends, as far as the block still reaches.
    struct WriteBack {
        SortCopy& copy;
        Node node;
        int64_t index;
        ~WriteBack() {
            int64_t room = count_of(node) - index;
            if (room > 0) {
                std::size_t k = std::size_t(room) < copy.count ? std::size_t(room) : copy.count;
                std::memcpy(cells::of(node) + index, copy.cells, k * sizeof(Cell));
            }
            sorts_in_progress = copy.outer;
            heap::free(copy.cells);
        }
    } write_back{copy, node, index};
    // Records whose compared cell is an integer everywhere are ordered by that integer alone
    // (see compare_records), which the quicksort can read in place of calling the comparison.
    if (!stable && compare == compare_records && (!(flags & sort_whole) || flags >> 2 == 1)) {
        std::size_t key = flags & sort_whole ? 0 : flags >> 2;
        bool integers = key < size;
        for (std::size_t r = 0; integers && r < records; ++r) integers = cell::is(copy.cells[r * size + key], T_integer);
        if (integers) {
            sort::quicksort_int32(copy.cells, records, std::size_t(size) * 16, key * 16 + offsetof(Cell, w2),
                                  flags & sort_reverse);
            return;
        }
    }
    if (stable) sort::merge_sort(copy.cells, records, std::size_t(size) * 16, flags, option, compare);
    else sort::quicksort(copy.cells, records, std::size_t(size) * 16, flags, option, compare);
}

Cell* sort(Cell* s, const SortArgs& a) {
    int64_t n = rest_of(*s);
    if (n <= 0) return s;
    int64_t count = n;
    if (a.part) {
        int64_t k = series::part_count(*s, *a.part);
        if (k < 0) {
            int64_t index = clipped(*s);
            int64_t back = -k > index ? index : -k;
            s->w1 = static_cast<uint32_t>(index - back);
            count = back;
        } else if (k < count) {
            count = k;
        }
    }
    series::SortRefinements r = series::sort_refinements(a, count);
    int64_t size = r.size;
    int32_t op = a.case_ ? actions::sort_order_case : actions::sort_order;
    uintptr_t flags = a.reverse ? sort_reverse : 0;
    std::optional<FunctionSort> function_sort;
    if (r.compare_fn) {
        function_sort.emplace(FunctionSort{*r.compare_fn, static_cast<uint32_t>(size), a.all});
    } else if (a.compare) {
        flags |= uintptr_t(r.offset) << 2;
    } else if (a.all) {
        flags |= sort_whole | (uintptr_t(size) << 2);
    }
    bool owned = series::report(*s, Change::sort, none::value, static_cast<int32_t>(clipped(*s)), 0);
    // Only whole records that still exist are sorted.
    int64_t available = rest_of(*s);
    if (count > available) count = available;
    if (function_sort) {
        collector::Root keep_fn(function_sort->fn);
        sort_records(*s, static_cast<uint32_t>(count / size), static_cast<uint32_t>(size), a.stable, flags,
                     reinterpret_cast<uintptr_t>(&*function_sort), compare_by_function);
    } else {
        sort_records(*s, static_cast<uint32_t>(count / size), static_cast<uint32_t>(size), a.stable, flags,
                     static_cast<uintptr_t>(op), compare_records);
    }
    index_rebuild(*s);
    if (owned) series::report(*s, Change::sorted, none::value, static_cast<int32_t>(clipped(*s)), 0);
    return s;
}

// ---- set operations -----------------------------------------------------------------------------

namespace {

// Whether a record whose first cell equals the value starts in the block between from and
// the tail, stepping by whole records, by a scan as find /only does: nested blocks, whose
// hashes are their identities, are found this way.
bool scan_holds(Node node, int64_t from, int64_t step, const Cell& value) {
    for (int64_t i = from; i < count_of(node); i += step)
        if (actions::compare_direct(value, cells::of(node)[i], actions::find_equal) == 0) return true;
    return false;
}

// A set looked up through a hash table of its cells: its own when it is a hash!, else one made
// for the operation (kept alive by the guard).
struct Lookup {
    Node block = 0;
    int64_t start = 0;
    Node table = 0;
    bool holds(const Cell& value, int64_t step, bool case_) const {
        if (in(cell::type(value), ANY_BLOCK)) return scan_holds(block, start, step, value);
        int32_t op = case_ ? actions::strict_equal : actions::equal;
        return hashtable::search(table, value, static_cast<int32_t>(start), static_cast<int32_t>(step), op, false,
                                 false) >= 0;
    }
};

void lookup_of(Lookup& l, const Cell& set) {
    l.block = set.w2;
    l.start = clipped(set);
    l.table = indexed(set) ? set.w3
                           : hashtable::make(static_cast<uint64_t>(count_of(set.w2)), set.w2, hashtable::hash_index, 0);
}

// One pass over a set: each record kept (found in `other` or not, as asked; every record when
// there is no other set) and not yet in the result is appended whole, as far as it exists.
void set_pass(Cell& result, const Lookup& found, const Cell& set, const Lookup* other, bool keep_found, int64_t size,
              bool case_) {
    Node node = set.w2;
    for (int64_t i = clipped(set); i < count_of(node); i += size) {
        Cell first = cells::of(node)[i];
        if (other && other->holds(first, size, case_) != keep_found) continue;
        if (found.holds(first, size, case_)) continue;
        int64_t k = count_of(node) - i < size ? count_of(node) - i : size;
        uint64_t used = buffer(result.w2)->used();
        ensure_room(result.w2, used + uint64_t(k) * 16, (used + uint64_t(k) * 16) * 2);
        Buffer* rb = buffer(result.w2);
        std::memcpy(rb->tail_ptr(), cells::of(node) + i, uint64_t(k) * 16);
        rb->tail += static_cast<uint32_t>(k * 16);
        hashtable::enter(found.table, static_cast<uint32_t>(used / 16));
    }
}

}  // namespace

Cell* do_set_op(Cell* set1, Cell* set2, bool case_, Cell* skip, int32_t op) {
    int64_t size = 1;
    if (skip) {
        if (!cell::is(*skip, T_integer)) bad_refine("skip", *skip);
        size = integer::get(*skip);
        if (size < 1) bad_refine("skip", *skip);
    }
    if (op < op_unique || op > op_difference) not_done();
    series::clip_index(*set1, false);
    bool two = op != op_unique;
    if (two) series::clip_index(*set2, false);
    int64_t room = rest_of(*set1) + (op == op_union ? rest_of(*set2) : 0);
    Cell* result = push_new(room < 1 ? 1 : static_cast<int32_t>(room > INT32_MAX ? INT32_MAX : room));
    // The result's table indexes the first cell of each record appended.
    Lookup found;
    found.block = result->w2;
    found.table = hashtable::make(static_cast<uint64_t>(room), result->w2, hashtable::hash_index, 0);
    hashtable::Root keep_found(found.table);
    // Each table is guarded as soon as it exists: making the next one may collect.
    Lookup in1, in2;
    std::optional<hashtable::Root> keep1, keep2;
    if (op == op_intersect || op == op_exclude || op == op_difference) {
        lookup_of(in2, *set2);
        keep2.emplace(in2.table);
    }
    if (op == op_difference) {
        lookup_of(in1, *set1);
        keep1.emplace(in1.table);
    }
    switch (op) {
    case op_unique: set_pass(*result, found, *set1, nullptr, false, size, case_); break;
    case op_union:
        set_pass(*result, found, *set1, nullptr, false, size, case_);
        set_pass(*result, found, *set2, nullptr, false, size, case_);
        break;
    case op_intersect: set_pass(*result, found, *set1, &in2, true, size, case_); break;
    case op_exclude: set_pass(*result, found, *set1, &in2, false, size, case_); break;
    default:
        set_pass(*result, found, *set1, &in2, false, size, case_);
        set_pass(*result, found, *set2, &in1, false, size, case_);
        break;
    }
    if (cell::is(*set1, T_hash) || (two && cell::is(*set2, T_hash))) {
        // A hash! indexes every cell, not only the first of each record.
        if (size > 1) hashtable::rebuild(found.table, static_cast<uint64_t>(count_of(result->w2)));
        cell::set_type(*result, T_hash);
        result->w3 = found.table;
    }
    return result;
}

// ---- registration -------------------------------------------------------------------------------

void init() {
    using datatype::inherit;
    datatype::register_type(
        {.id = T_block, .name = "block!", .rest = datatype::Rest::empty,
         .mark = collector::mark_block_value, .hash = datatype::hashing::first_two,
         .actions = {.make = make, .random = inherit, .reflect = inherit, .to = to, .form = form, .mold = mold,
                     .eval_path = eval_path, .compare = compare, .append = append, .at = inherit, .back = inherit,
                     .change = change, .clear = inherit, .copy = copy, .find = find, .head = inherit,
                     .head_q = inherit, .index_q = inherit, .insert = append, .length_q = inherit, .move = inherit,
                     .next = inherit, .pick = inherit, .poke = inherit, .put = put, .remove = inherit,
                     .reverse = inherit, .select = select, .sort = sort, .skip = inherit, .swap = swap,
                     .tail = inherit, .tail_q = inherit, .take = take, .trim = trim, .modify = inherit}});
}

}  // namespace kov::block
