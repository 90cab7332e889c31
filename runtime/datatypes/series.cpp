#include "runtime/datatypes/series.h"

#include <cstring>
#include <vector>

#include "runtime/interpreter/compiled/code_cache.h"
#include "runtime/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/datatypes/vector.h"
#include "runtime/error.h"
#include "runtime/hashtable.h"
#include "runtime/interpreter/random.h"
#include "runtime/families.h"
#include "runtime/heap.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/stack.h"
#include "runtime/owner.h"
#include "runtime/series_buffer.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/words.h"

namespace kov::series {

using memory::Buffer;
using memory::buffer;
using memory::Node;

namespace {

// A series' buffer and its position, read afresh: valid until the next allocation or report.
struct Span {
    Buffer* b;
    uint32_t unit;
    uint32_t shift;
    int64_t length;  // units from the buffer's first unit
    int64_t index;   // the cell's index clipped to 0 .. length
    uint8_t* at(int64_t i) const { return b->head_ptr() + (uint64_t(i) << shift); }
};

Span span(const Cell& s) {
    Buffer* b = buffer(s.w2);
    uint32_t unit = b->unit() ? b->unit() : 1;
    uint32_t sh = unit_shift(unit);
    int64_t length = b->used() >> sh;
    int64_t index = index_of(s);
    if (index < 0) index = 0;
    if (index > length) index = length;
    return {b, unit, sh, length, index};
}


[[noreturn]] void not_done() { error::fire(err::internal_not_done); }

[[noreturn]] void bad_refine(const char* word, const Cell& arg) {
    error::fire(err::script_invalid_refine_arg, word_arg(word), arg);
}

bool same_series(const Cell& a, const Cell& b) { return cell::type(a) == cell::type(b) && a.w2 == b.w2; }

// The scratch buffer of `take` without /part: 16 bytes outside the series frames, made once.
Node take_scratch = 0;

Node scratch_for(uint32_t unit) {
    if (!take_scratch) take_scratch = memory::alloc_fixed_series(16, 1, 0);
    Buffer* b = buffer(take_scratch);
    b->flags = (b->flags & ~memory::unit_mask) | unit;
    b->head = b->tail = 0;
    return take_scratch;
}

// The code point of a text unit.
uint32_t unit_at(const Span& v, int64_t i) {
    const uint8_t* at = v.at(i);
    switch (v.unit) {
    case 1: return *at;
    case 2: { uint16_t u; std::memcpy(&u, at, 2); return u; }
    default: { uint32_t u; std::memcpy(&u, at, 4); return u; }
    }
}

// Exchanges two units of up to 16 bytes through a scratch area on the machine stack.
void swap_units(uint8_t* a, uint8_t* b, uint32_t unit) {
    uint8_t tmp[16];
    std::memcpy(tmp, a, unit);
    std::memcpy(a, b, unit);
    std::memcpy(b, tmp, unit);
}

}  // namespace

// ---- cursor routines ----------------------------------------------------------------------------

bool rs_tail_q(const Cell& s) {
    Buffer* b = buffer(s.w2);
    return (int64_t(index_of(s)) << unit_shift(b->unit())) >= int64_t(b->used());
}

int32_t rs_length_q(const Cell& s) { return static_cast<int32_t>(span(s).length); }

bool rs_skip(Cell& s, int32_t n) {
    Span v = span(s);
    int64_t to = int64_t(index_of(s)) + n;
    if (to <= v.length) set_index(s, to);
    return to >= v.length;
}

int32_t move_head(const Cell& s, const Cell& offset, bool at) {
    if (!cell::is(offset, T_integer)) error::fire(err::script_invalid_arg, offset);
    int64_t n = integer::get(offset);
    int64_t to = int64_t(index_of(s)) + ((at && n >= 1) ? n - 1 : n);
    int64_t length = span(s).length;
    if (to < 0) to = 0;
    if (to > length) to = length;
    return static_cast<int32_t>(to);
}

int32_t clip_index(Cell& s, bool absolute) {
    Span v = span(s);
    int64_t index = absolute ? 0 : index_of(s);
    if (index < 0) index = 0;
    if (index > v.length) {
        set_index(s, v.length);
        return 0;
    }
    return static_cast<int32_t>(v.length - index);
}

int32_t part_count(const Cell& s, const Cell& part) {
    if (cell::is(part, T_integer)) return integer::get(part);
    if (same_series(part, s)) {
        int64_t d = int64_t(index_of(part)) - index_of(s);
        if (d > INT32_MAX) d = INT32_MAX;
        if (d < INT32_MIN) d = INT32_MIN;
        return static_cast<int32_t>(d);
    }
    bad_refine("part", part);
}

// ---- change reports -----------------------------------------------------------------------------

const Cell& change_word(Change c) {
    using namespace words;
    static const Cell* const words_of[] = {
        &loaded::random, &loaded::randomized, &loaded::clear, &loaded::cleared, &loaded::poke, &loaded::poked,
        &globals::remove, &loaded::removed, &loaded::reverse, &loaded::reversed, &loaded::take, &loaded::taken,
        &loaded::move, &loaded::moved, &globals::insert, &loaded::inserted, &loaded::append, &loaded::appended,
        &loaded::change, &loaded::changed, &loaded::swap, &loaded::swaped, &loaded::trim, &loaded::trimmed,
        &loaded::sort, &loaded::sorted, &loaded::put, &loaded::put_ed,
    };
    return *words_of[static_cast<uint32_t>(c)];
}

bool report(const Cell& s, Change word, const Cell& value, int32_t index, int32_t part) {
    // A block's compiled form stands for its cells as they are: it goes before they change.
    code_cache::changed(s.w2);
    // Only owned series have anyone to tell; the flag spares the table lookup for the rest.
    if (!(buffer(s.w2)->flags & memory::owned)) return false;
    return owner::check(s, change_word(word), &value, index, part);
}

Cell word_arg(const char* spelling) { return word::load(spelling); }

SortRefinements sort_refinements(const SortArgs& a, int64_t count) {
    SortRefinements r;
    if (a.skip) {
        if (!cell::is(*a.skip, T_integer)) bad_refine("skip", *a.skip);
        r.size = integer::get(*a.skip);
        if (r.size < 1 || r.size > count || count % r.size != 0) bad_refine("skip", *a.skip);
    } else if (a.all) {
        error::fire(err::script_bad_refines);
    }
    if (a.compare) {
        if (cell::is(*a.compare, T_integer)) {
            if (!a.skip || a.all) error::fire(err::script_bad_refines);
            int32_t offset = integer::get(*a.compare);
            if (offset < 1 || offset > r.size) error::fire(err::script_out_of_range, *a.compare);
            r.offset = offset - 1;
        } else if (cell::is(*a.compare, T_function)) {
            r.compare_fn = a.compare;
        } else {
            bad_refine("compare", *a.compare);
        }
    }
    return r;
}

namespace {
bool is_owned_field(uint32_t symbol) { return symbol::resolve(symbol) == symbol::resolve(words::symbols::owned); }
}  // namespace

// ---- navigation ---------------------------------------------------------------------------------

Cell* at(Cell* s, Cell* offset) {
    set_index(*s, move_head(*s, *offset, true));
    return s;
}

Cell* skip(Cell* s, Cell* offset) {
    set_index(*s, move_head(*s, *offset, false));
    return s;
}

Cell* back(Cell* s) {
    if (index_of(*s) > 0) set_index(*s, index_of(*s) - 1);
    return s;
}

Cell* next(Cell* s) {
    rs_skip(*s, 1);
    return s;
}

Cell* head(Cell* s) {
    s->w1 = 0;
    return s;
}

Cell* tail(Cell* s) {
    set_index(*s, span(*s).length);
    return s;
}

Cell* head_q(Cell* s) { return &logic::make_at(*s, index_of(*s) == 0); }
Cell* tail_q(Cell* s) { return &logic::make_at(*s, rs_tail_q(*s)); }

Cell* index_q(Cell* s) {
    int32_t i = index_of(*s);
    *s = integer::make(i == INT32_MAX ? i : i + 1);
    return s;
}

Cell* length_q(Cell* s) {
    int32_t n = clip_index(*s, false);
    *s = integer::make(n);
    return s;
}

// ---- positional access --------------------------------------------------------------------------

namespace {
// The position of the n-th unit from the index (n > 0), or before it (n < 0); -1 when it lies
// outside the series.
int64_t position_of(const Cell& s, int32_t n, int64_t length) {
    if (n == 0) return -1;
    int64_t p = int64_t(index_of(s)) + (n > 0 ? int64_t(n) - 1 : int64_t(n));
    return p < 0 || p >= length ? -1 : p;
}
}  // namespace

Cell* pick(Cell* s, int32_t n, Cell*) {
    uint32_t t = cell::type(*s);
    Buffer* b = buffer(s->w2);
    uint32_t unit = b->unit() ? b->unit() : 1;
    uint32_t shift = unit_shift(unit);
    int64_t p = position_of(*s, n, b->used() >> shift);
    if (p < 0) return &none::make_at(*s);
    uint8_t* at = b->head_ptr() + (uint64_t(p) << shift);
    // string! is tested first: a string read by index is the hottest caller.
    if (t != T_string) {
        if (in(t, ANY_BLOCK) || t == T_map) {
            *s = *reinterpret_cast<const Cell*>(at);
            return s;
        }
        if (t == T_vector) return vector::box_into(s, at);
        if (t == T_binary) {
            *s = integer::make(*at);
            return s;
        }
    }
    // A text: the character is read here at the buffer's unit, without a call per character,
    // and written whole, as the caller copies it next.
    uint32_t cp;
    switch (unit) {
    case 1: cp = *at; break;
    case 2: { uint16_t u; std::memcpy(&u, at, 2); cp = u; break; }
    default: std::memcpy(&cp, at, 4); break;
    }
    cell::store(*s, T_char_, 0, cp, 0);
    return s;
}

Cell* poke(Cell* s, int32_t n, Cell* data, Cell*) {
    uint32_t t = cell::type(*s);
    int64_t p = position_of(*s, n, span(*s).length);
    if (p < 0) error::fire(err::script_out_of_range, integer::make(n));
    if (t == T_vector && cell::type(*data) != s->w3) error::fire(err::script_invalid_arg, *data);
    if (in(t, ANY_STRING) && !cell::is(*data, T_char_)) error::fire(err::script_invalid_arg, *data);
    if (t == T_binary && !cell::is(*data, T_integer) && !cell::is(*data, T_char_))
        error::fire(err::script_invalid_arg, *data);
    bool owned = report(*s, Change::poke, *data, static_cast<int32_t>(p), 1);
    // The owner may have shortened the series: the position must still exist.
    Span v = span(*s);
    if (p >= v.length) error::fire(err::script_out_of_range, integer::make(n));
    if (in(t, ANY_BLOCK)) {
        block::index_remove(*s, static_cast<uint32_t>(p));
        *reinterpret_cast<Cell*>(v.at(p)) = *data;
        block::index_enter(*s, static_cast<uint32_t>(p));
    } else if (t == T_binary) {
        *v.at(p) = static_cast<uint8_t>(data->w2);
    } else if (t == T_vector) {
        vector::set_element(v.at(p), *data, v.unit, s->w3);
    } else {
        string::set_char_at(s->w2, static_cast<uint32_t>(p), static_cast<int32_t>(data->w2));
    }
    if (owned) report(*s, Change::poked, *data, static_cast<int32_t>(p), 1);
    return data;
}

Cell* index_step(Cell* parent, const PathStep& step) {
    Cell* element = step.element;
    if (cell::is(*element, T_integer)) {
        if (!step.value) return pick(parent, integer::get(*element), element);
        poke(parent, integer::get(*element), step.value, element);
        return step.value;
    }
    if (cell::is(*element, T_word))
        error::fire(err::script_invalid_path, step.path ? *step.path : none::value, *element);
    return nullptr;
}

// ---- deletion -----------------------------------------------------------------------------------

Cell* clear(Cell* s) {
    Span v = span(*s);
    if (v.length - v.index <= 0) return s;
    int32_t index = static_cast<int32_t>(v.index);
    report(*s, Change::clear, none::value, index, static_cast<int32_t>(v.length - index));
    v = span(*s);
    if (index < v.length) {
        block::index_remove_range(*s, static_cast<uint32_t>(index), static_cast<uint32_t>(v.length - index));
        v.b->tail = v.b->head + static_cast<uint32_t>(uint64_t(index) << v.shift);
    }
    report(*s, Change::cleared, none::value, index, 0);
    return s;
}

namespace {
// Removes count units at the index: the rest moves down, the tail drops (the count is cut to
// what lies before the tail). Keeps a hash! index in step.
void remove_units(const Cell& s, int64_t index, int64_t count) {
    Span v = span(s);
    if (index >= v.length || count <= 0) return;
    if (count > v.length - index) count = v.length - index;
    uint64_t after = uint64_t(v.length - index - count) << v.shift;
    std::memmove(v.at(index), v.at(index + count), after);
    v.b->tail -= static_cast<uint32_t>(uint64_t(count) << v.shift);
    block::index_shift(s, -static_cast<int32_t>(count), static_cast<uint32_t>(index + count),
                       static_cast<uint32_t>(v.length - index - count));
}
}  // namespace

Cell* remove(Cell* s, Cell* part, Cell* key) {
    int64_t count = 1;
    if (part) {
        count = part_count(*s, *part);
        if (count < 1) return s;
    }
    if (key) {
        FindArgs f{};
        f.case_ = true;
        auto find = actions::lookup<actions::slot::find>(cell::type(*s));
        if (!find) actions::fire_expect_arg(*s, 0);
        stack::Mark mark;
        Cell* found = find(s, key, f);
        *s = *found;
        if (cell::is(*s, T_none)) return s;
        ++count;
    }
    int64_t index = index_of(*s);
    if (index < 0 || index >= span(*s).length) return s;
    report(*s, Change::remove, none::value, static_cast<int32_t>(index), static_cast<int32_t>(count));
    remove_units(*s, index, count);
    report(*s, Change::removed, none::value, static_cast<int32_t>(index), 0);
    return s;
}

Cell* take(Cell* s, Cell* part, bool, bool last) {
    bool owned = false;
    Cell* r = take_units(s, part, last, owned);
    // A single unit leaves the shared scratch buffer at once, as its value.
    if (!part && !cell::is(*r, T_none)) {
        Span v = span(*r);
        uint32_t t = cell::type(*r);
        if (v.length < 1) *r = none::value;
        else if (in(t, ANY_BLOCK)) *r = *reinterpret_cast<const Cell*>(v.at(0));
        else if (t == T_vector) *r = vector::element_value(v.at(0), v.unit, r->w3);
        else if (t == T_binary) *r = integer::make(*v.at(0));
        else *r = Cell{T_char_, 0, static_cast<uint32_t>(string::get_char(v.at(0), v.unit)), 0};
    }
    finish_take(s, owned);
    return r;
}

Cell* take_units(Cell* s, Cell* part, bool last, bool& owned) {
    owned = false;
    int64_t available = clip_index(*s, false);
    if (available < 1) return none::push();
    int64_t index = index_of(*s);
    int64_t n = 1;
    if (part) {
        if (cell::is(*part, T_integer)) {
            n = integer::get(*part);
        } else if (same_series(*part, *s)) {
            int64_t d = int64_t(index_of(*part)) - index;
            n = d < 0 ? 0 : (last ? available - d : d);
        } else {
            bad_refine("part", *part);
        }
    }
    // A count of 0 or below takes the units just before the position.
    bool backwards = n <= 0;
    int64_t count = n < 0 ? (last ? 1 : -n) : n;
    int64_t limit = n < 0 ? index : available;
    if (count > limit) count = limit;
    if (count == 0) count = 1;

    owned = report(*s, Change::take, none::value, static_cast<int32_t>(index), static_cast<int32_t>(count));
    available = clip_index(*s, false);
    index = index_of(*s);
    if (!backwards && count > available) count = available;

    uint32_t type = cell::type(*s);
    if (!part && count < 1) return none::push();
    uint32_t unit = span(*s).unit;
    Cell* result = stack::reserve();
    Node node;
    if (part) {
        node = memory::alloc_series(count > 0 ? uint64_t(count) : 1, unit, 0);
        Buffer* nb = buffer(node);
        uint32_t keep = memory::owned | memory::has_form | memory::big | memory::fixed | memory::marked | memory::middle |
                        memory::in_use | memory::allocated | memory::unit_mask;
        nb->flags = (buffer(s->w2)->flags & ~keep) | (nb->flags & keep);
    } else {
        node = scratch_for(unit);
    }
    *result = Cell{type, 0, node, type == T_vector ? s->w3 : 0};

    Span v = span(*s);
    int64_t from;
    if (!backwards) {
        from = last ? v.length - count : index;
    } else {
        if (last || index < count) return result;  // not enough before the position: empty
        from = index - count;
    }
    if (count < 1) return result;
    Buffer* rb = buffer(node);
    uint64_t bytes = uint64_t(count) << v.shift;
    std::memcpy(rb->head_ptr(), v.at(from), bytes);
    rb->tail = rb->head + static_cast<uint32_t>(bytes);
    if (last) {
        block::index_remove_range(*s, static_cast<uint32_t>(from), static_cast<uint32_t>(count));
        v.b->tail -= static_cast<uint32_t>(bytes);
    } else {
        remove_units(*s, from, count);
    }
    if (type == T_hash && part) block::index_make(*result);
    return result;
}

void finish_take(Cell* s, bool owned) {
    if (owned) report(*s, Change::taken, none::value, index_of(*s), 0);
}

// ---- copying ------------------------------------------------------------------------------------

Cell* copy(Cell* s, Cell* result, Cell* part, bool, Cell*) {
    Span v = span(*s);
    int64_t index = index_of(*s) < 0 ? 0 : index_of(*s);
    int64_t start = index;
    int64_t count = v.length - index;
    if (count < 0) count = 0;
    if (part) {
        if (cell::is(*part, T_integer)) {
            count = integer::get(*part);
        } else if (cell::is(*part, T_pair)) {
            int64_t x = static_cast<int32_t>(part->w2);
            int64_t y = static_cast<int32_t>(part->w3);
            start = x < 0 ? index + x : index + x - 1;
            if (start < 0) start = 0;
            count = y < x ? 0 : y - x;
        } else if (same_series(*part, *s)) {
            count = int64_t(index_of(*part)) - index;
        } else {
            bad_refine("part", *part);
        }
    }
    if (count < 0) {
        count = -count;
        start -= count;
        if (start < 0) {
            start = 0;
            count = index;
        }
    }
    if (start > v.length) {
        start = v.length;
        count = 0;
    }
    if (count > v.length - start) count = v.length - start;

    uint32_t header = s->header & (0xFFu | cell::new_line);
    uint32_t extra = cell::is(*s, T_vector) ? s->w3 : 0;
    Node source = s->w2;
    if (result != s) *result = Cell{T_unset, 0, 0, 0};
    // The source cell stays reachable (it is an argument) while the copy is allocated.
    Node node = series::copy_part(source, static_cast<uint32_t>(start), static_cast<uint32_t>(count));
    *result = Cell{header, 0, node, extra};
    return result;
}

// ---- reordering ---------------------------------------------------------------------------------

Cell* reverse(Cell* s, Cell* part, Cell* skip_arg) {
    if (rs_tail_q(*s)) return s;
    Span v = span(*s);
    int64_t index = v.index;
    int64_t count = v.length - index;
    bool part_ends = false;
    if (part) {
        int64_t n = part_count(*s, *part);
        if (n < 1) return s;
        if (n < count) {
            count = n;
            part_ends = true;
        }
    }
    int64_t size = 1;
    if (skip_arg) {
        if (!cell::is(*skip_arg, T_integer)) bad_refine("skip", *skip_arg);
        size = integer::get(*skip_arg);
        if (size == count) return s;
        if (size < 1) error::fire(err::script_out_of_range, *skip_arg);
        if (count < size || count % size != 0) bad_refine("skip", *skip_arg);
    }
    bool owned = report(*s, Change::reverse, none::value, static_cast<int32_t>(index), static_cast<int32_t>(count));
    v = span(*s);
    index = index_of(*s) < 0 ? 0 : index_of(*s);
    if (index >= v.length) return s;
    int64_t end = part_ends && index + count < v.length ? index + count : v.length;
    // Only whole records are reversed, however the owner changed the length.
    int64_t records = (end - index) / size;
    uint64_t record_bytes = uint64_t(size) << v.shift;
    if (size == 1) {
        for (int64_t i = index, j = index + records - 1; i < j; ++i, --j) swap_units(v.at(i), v.at(j), v.unit);
    } else if (records > 1) {
        auto* tmp = static_cast<uint8_t*>(heap::allocate(record_bytes));
        for (int64_t i = 0, j = records - 1; i < j; ++i, --j) {
            uint8_t* a = v.at(index + i * size);
            uint8_t* b = v.at(index + j * size);
            std::memcpy(tmp, a, record_bytes);
            std::memcpy(a, b, record_bytes);
            std::memcpy(b, tmp, record_bytes);
        }
        heap::free(tmp);
    }
    if (cell::is(*s, T_hash)) block::index_rebuild(*s);
    if (owned) report(*s, Change::reversed, none::value, static_cast<int32_t>(index), static_cast<int32_t>(count));
    return s;
}

Cell* move(Cell* origin, Cell* target, Cell* part) {
    uint32_t ot = cell::type(*origin);
    uint32_t tt = cell::type(*target);
    if (!in(tt, SERIES)) actions::fire_expect_arg(*target, 1);
    // Pixels have a fixed count and are no text: nothing moves into or out of an image.
    if (ot == T_image || tt == T_image) error::fire(err::script_move_bad, datatype::make(ot), datatype::make(tt));
    if (rs_tail_q(*origin)) return target;
    int64_t count = 1;
    if (part) {
        if (!cell::is(*part, T_integer)) bad_refine("part", *part);
        count = integer::get(*part);
        if (count < 1) return target;
    }
    Span o = span(*origin);
    if (count > o.length - o.index) count = o.length - o.index;

    if (origin->w2 == target->w2) {
        int64_t from = o.index;
        int64_t to = index_of(*target) < 0 ? 0 : index_of(*target);
        if (to == from) return target;
        int64_t length = o.length;
        if (to > length) to = length;
        bool at_tail = to == length;
        // A target inside the moved range, or too near the tail to hold it, moves nothing.
        if (to > from && to < from + count) return origin;
        if (from < to && !at_tail && length - to < count) return origin;
        report(*target, Change::move, *origin, static_cast<int32_t>(from), static_cast<int32_t>(count));
        o = span(*origin);
        length = o.length;
        if (from >= length) return target;
        if (count > length - from) count = length - from;
        if (to > length) to = length;
        at_tail = to == length;
        if ((to > from && to < from + count) || (from < to && !at_tail && length - to < count)) return origin;
        uint64_t bytes = uint64_t(count) << o.shift;
        auto* saved = static_cast<uint8_t*>(heap::allocate(bytes ? bytes : 1));
        std::memcpy(saved, o.at(from), bytes);
        int64_t dest;
        if (from < to) {
            // The units between move down; the moved ones end at the target's index (at the
            // tail when the target is the tail).
            int64_t stop = at_tail ? to : to + 1;
            std::memmove(o.at(from), o.at(from + count), uint64_t(stop - from - count) << o.shift);
            dest = stop - count;
        } else {
            std::memmove(o.at(to + count), o.at(to), uint64_t(from - to) << o.shift);
            dest = to;
        }
        std::memcpy(o.at(dest), saved, bytes);
        heap::free(saved);
        block::index_move(*origin, static_cast<uint32_t>(from), static_cast<uint32_t>(dest), static_cast<uint32_t>(count));
        report(*target, Change::moved, *origin, index_of(*target) - static_cast<int32_t>(count),
               static_cast<int32_t>(count));
        return target;
    }

    bool o_cells = in(ot, ANY_BLOCK), t_cells = in(tt, ANY_BLOCK);
    // Elements of one vector mean numbers of its element type: copied anywhere else, their
    // bytes would be read as something else.
    if ((ot == T_vector || tt == T_vector) && (ot != tt || origin->w3 != target->w3))
        error::fire(err::script_move_bad, datatype::make(ot), datatype::make(tt));
    if (o_cells != t_cells) error::fire(err::script_move_bad, datatype::make(ot), datatype::make(tt));
    report(*target, Change::move, *origin, index_of(*target), static_cast<int32_t>(count));
    o = span(*origin);
    Span t = span(*target);
    if (o.index >= o.length) return target;
    if (count > o.length - o.index) count = o.length - o.index;
    if (o.unit != t.unit) {
        if (ot == T_binary || ot == T_vector || tt == T_binary || tt == T_vector || ot == T_image || tt == T_image)
            error::fire(err::script_move_bad, datatype::make(ot), datatype::make(tt));
        string::move_chars(*origin, static_cast<uint32_t>(uint64_t(count) << o.shift), *target);
        return target;
    }
    uint64_t bytes = uint64_t(count) << o.shift;
    uint64_t need = uint64_t(t.b->used()) + bytes;
    if (need > memory::max_buffer_size) error::fire(err::internal_no_memory);
    if (uint64_t(t.b->head) + need > t.b->size)
        memory::expand_series(target->w2, need * 2 > memory::max_buffer_size ? need : need * 2);
    o = span(*origin);
    t = span(*target);
    int64_t at = t.index;
    std::memmove(t.at(at + count), t.at(at), uint64_t(t.length - at) << t.shift);
    std::memcpy(t.at(at), o.at(o.index), bytes);
    t.b->tail += static_cast<uint32_t>(bytes);
    block::index_insert(*target, static_cast<uint32_t>(at), static_cast<uint32_t>(count),
                        static_cast<uint32_t>(t.length - at));
    remove_units(*origin, o.index, count);
    report(*target, Change::moved, *origin, index_of(*target), static_cast<int32_t>(count));
    return target;
}

namespace {
// The hash of the units from the position. A text is hashed at the narrowest unit that holds
// its characters: a buffer stays wide after its wide characters are gone, and equal texts must
// seed alike.
uint32_t seed_hash(const Cell& s) {
    Span v = span(s);
    uint64_t count = uint64_t(v.length - v.index);
    uint32_t t = cell::type(s);
    if (v.unit == 1 || in(t, ANY_BLOCK) || t == T_binary || t == T_vector)
        return hashtable::murmur3(v.at(v.index), count << v.shift);
    uint32_t widest = 0;
    for (uint64_t i = 0; i < count; ++i) widest |= unit_at(v, v.index + int64_t(i));
    uint32_t unit = widest < 0x100 ? 1 : widest < 0x10000 ? 2 : 4;
    if (unit == v.unit) return hashtable::murmur3(v.at(v.index), count << v.shift);
    std::vector<uint8_t> narrow(count * unit);
    for (uint64_t i = 0; i < count; ++i) {
        uint32_t cp = unit_at(v, v.index + int64_t(i));
        if (unit == 1) narrow[i] = static_cast<uint8_t>(cp);
        else {
            uint16_t u = static_cast<uint16_t>(cp);
            std::memcpy(&narrow[i * 2], &u, 2);
        }
    }
    return hashtable::murmur3(narrow.data(), narrow.size());
}
}  // namespace

// /seed hashes the units from the position; /only picks one of them; otherwise they are
// shuffled in place, each position in turn swapped with one drawn from those not yet placed.
Cell* random(Cell* s, const RandomArgs& how) {
    bool seed = how.seed, secure = how.secure, only = how.only;
    Span v = span(*s);
    int64_t count = v.length - v.index;
    if (seed) {
        random::seed(static_cast<int32_t>(seed_hash(*s)));
        return &unset::make_at(*s);
    }
    if (only) {
        if (count <= 0) return &none::make_at(*s);
        return pick(s, random::integer(secure, static_cast<int32_t>(count)), nullptr);
    }
    if (count <= 0) return s;
    bool owned = report(*s, Change::random, none::value, static_cast<int32_t>(v.index), static_cast<int32_t>(count));
    // The owner may have changed the series: only what is there now is shuffled.
    v = span(*s);
    count = v.length - v.index;
    for (int64_t r = count, p = v.index; r >= 1; --r, ++p) {
        int32_t k = random::integer(secure, static_cast<int32_t>(r));
        if (k > 1) swap_units(v.at(p), v.at(p + k - 1), v.unit);
    }
    if (owned) report(*s, Change::randomized, none::value, static_cast<int32_t>(v.index), static_cast<int32_t>(count));
    return s;
}

Cell* reflect(Cell* s, uint32_t field) {
    if (!is_owned_field(field)) not_done();
    Cell* found = owner::find(s->w2);
    *s = found ? *found : none::value;
    return s;
}

Cell* modify(Cell* s, Cell* field, Cell* value, bool) {
    if (!in(cell::type(*field), ALL_WORD) || !is_owned_field(field->w2)) return value;
    if (cell::is(*value, T_none)) {
        owner::unset(*s);
    } else if (cell::is(*value, T_block) && block::rs_length_q(*value) >= 2) {
        Cell owner_cell = *block::rs_abs_at(*value, static_cast<uint32_t>(value->w1));
        Cell field_word = *block::rs_abs_at(*value, static_cast<uint32_t>(value->w1) + 1);
        collector::Root keep_owner(owner_cell);
        collector::Root keep_word(field_word);
        owner::set_all(*s, owner_cell, field_word);
    }
    return value;
}

// ---- registration -------------------------------------------------------------------------------

void init() {
    datatype::register_type(
        {.id = T_series, .name = "series!", .rest = datatype::Rest::empty,
         .mark = nullptr, .same = datatype::same::first_two,
         .actions = {.random = random, .reflect = reflect, .at = at, .back = back, .clear = clear, .copy = copy,
                     .head = head, .head_q = head_q, .index_q = index_q, .length_q = length_q, .move = move,
                     .next = next, .pick = pick, .poke = poke, .remove = remove, .reverse = reverse, .skip = skip,
                     .tail = tail, .tail_q = tail_q, .take = take, .modify = modify}});
}

}  // namespace kov::series
