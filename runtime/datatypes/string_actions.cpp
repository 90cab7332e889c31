// The string! actions: construction and conversion, form and mold with their escapes, path
// access, comparison, searching, the insertion family, sorting, trimming, swapping and the
// set operations of texts. The any-string types (file!, url!,
// tag!, email!, ref!) inherit them; binary! shares make, find, select, sort, swap, take and
// the path step, whose units are then bytes read as code points 0-255.
//
// Invariants: a text buffer's unit is 1, 2 or 4 and only widens; nothing here writes a code
// point above 255 into a binary! buffer, so its unit stays 1.
//
// Moving memory: forming, molding, converting and every changing action allocate; the
// changing actions report to the series' owner before and after the change, which may run Kov
// code that changes, widens or moves any series (a sort comparator may too). Positions are
// node + index: after each report or allocation the buffer is fetched again and index, count
// and unit are taken anew. A `Text` view is valid only until the next allocation.
#include <algorithm>
#include <cstring>

#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/error.h"
#include "runtime/families.h"
#include "runtime/hashtable.h"
#include "runtime/heap.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/interp.h"
#include "runtime/interpreter/stack.h"
#include "runtime/series_buffer.h"
#include "runtime/sort.h"
#include "runtime/unicode.h"
#include "runtime/words.h"

namespace kov::string {

using memory::buffer;
using series::Change;

namespace {

[[noreturn]] void not_done() { error::fire(err::internal_not_done); }
[[noreturn]] void no_memory() { error::fire(err::internal_no_memory); }
[[noreturn]] void bad_refine(const char* word, const Cell& arg) {
    error::fire(err::script_invalid_refine_arg, series::word_arg(word), arg);
}

// Texts that add, and are searched as, their own characters (a tag! brings its delimiters).
inline bool plain_text(uint32_t t) { return in(t, ANY_STRING) && t != T_tag; }

// A read-only view of a text or binary series.
struct Text {
    const uint8_t* base;  // the buffer head
    uint32_t unit;
    uint32_t shift;
    int64_t length;       // units from the buffer head
    int64_t index;        // the cell's index clipped to 0 .. length
    int32_t at(int64_t i) const { return get_char(base + (uint64_t(i) << shift), unit); }
    int64_t rest() const { return length - index; }
};

Text text(const Cell& s) {
    Buffer* b = buffer(s.w2);
    uint32_t unit = b->unit() ? b->unit() : 1;
    uint32_t sh = series::unit_shift(unit);
    int64_t length = b->used() >> sh;
    int64_t index = static_cast<int32_t>(s.w1);
    if (index < 0) index = 0;
    if (index > length) index = length;
    return {b->head_ptr(), unit, sh, length, index};
}

inline int32_t upper(int32_t cp) { return static_cast<int32_t>(unicode::case_map(static_cast<uint32_t>(cp), true)); }

// A scratch block of the tracked heap, released on scope exit.
template <class T>
struct Scratch {
    T* p;
    // Nothing is allocated for n = 0.
    explicit Scratch(uint64_t n, bool zeroed = false)
        : p(n == 0 ? nullptr
                   : static_cast<T*>(zeroed ? heap::allocate_zeroed(n * sizeof(T)) : heap::allocate(n * sizeof(T)))) {}
    ~Scratch() {
        if (p) heap::free(p);
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
};

// ---- building text ------------------------------------------------------------------------------

// The form action of any value, appended to out.
int32_t form_value(const Cell& value, Cell& out, Cell* arg, int32_t part) {
    Cell* v = stack::push(value);  // the form actions take their value in a cell that stays put
    auto fn = actions::lookup<actions::slot::form>(cell::type(*v));
    if (!fn) actions::fire_expect_arg(*v, 0);
    int32_t r = fn(v, &out, arg, part);
    stack::pop(1);
    return r;
}

// The values of a block from its cursor, formed and joined with nothing between them.
void form_each(const Cell& block, Cell& out) {
    memory::Node node = block.w2;
    cycles::Guard guard(node);
    int64_t start = static_cast<int32_t>(block.w1);
    for (int64_t i = start < 0 ? 0 : start;; ++i) {
        // The block is measured afresh at every value: forming may run into anything.
        if (i >= int64_t(buffer(node)->used() >> 4)) break;
        form_value(*block::rs_abs_at(block, static_cast<uint32_t>(i)), out, nullptr, INT32_MAX);
    }
}

// The text a value adds to a string: a plain text's own characters from its cursor, or a new
// string on the value stack (a char!, a tag! with its delimiters, the values of a block formed
// and joined, anything else formed). /only changes nothing here: a text holds no nested block.
Cell source_text(const Cell& value) {
    uint32_t t = cell::type(value);
    if (plain_text(t)) return value;
    Cell* tmp = push(16, 1);
    if (t == T_char_) {
        append_char(tmp->w2, static_cast<int32_t>(value.w2));
    } else if (t == T_tag) {
        concatenate_literal(*tmp, "<");
        concatenate(*tmp, value, -1, 0, true, append_mode);
        concatenate_literal(*tmp, ">");
    } else if (in(t, ANY_LIST)) {
        form_each(value, *tmp);
    } else {
        form_value(value, *tmp, nullptr, INT32_MAX);
    }
    return *tmp;
}

int64_t available(const Cell& src, int64_t part) {
    int64_t n = text(src).rest();
    return part >= 0 && part < n ? part : n;
}

// When the source is the series being changed, a copy of what it adds (so that a string
// added to itself adds what it held before); gives the source to read.
Cell detach(const Cell& src, const Cell& target, int64_t count, Cell& snapshot) {
    if (src.w2 != target.w2) return src;
    Text t = text(src);
    snapshot = cell_of(series::copy_part(src.w2, static_cast<uint32_t>(t.index), static_cast<uint32_t>(count)));
    return snapshot;
}

// Replaces `replaced` characters at `at` by count characters of the source (from its cursor)
// repeated dup times. The string widens to the source's unit first and grows at most once.
void splice(const Cell& s, int64_t at, int64_t replaced, const Cell& src, int64_t count, int64_t dup) {
    memory::Node node = s.w2;
    uint32_t tunit = buffer(node)->unit();
    uint32_t sunit = buffer(src.w2)->unit();
    int64_t added = count * dup;
    if (added > 0 && sunit > tunit) {
        widen_to(node, tunit, sunit);
        tunit = sunit;
    }
    uint32_t sh = shift_of(tunit);
    int64_t n = buffer(node)->used() >> sh;
    if (at > n) at = n;
    if (replaced > n - at) replaced = n - at;
    uint64_t need = uint64_t(n - replaced + added) << sh;
    if (need > memory::max_buffer_size) no_memory();
    Buffer* b = buffer(node);
    if (uint64_t(b->head) + need > b->size) {
        uint64_t grow = dup < 5 ? need * 2 : need;
        if (grow > memory::max_buffer_size) grow = memory::max_buffer_size;
        b = memory::expand_series(node, grow);
    }
    uint8_t* base = b->head_ptr();
    if (added != replaced)
        std::memmove(base + (uint64_t(at + added) << sh), base + (uint64_t(at + replaced) << sh),
                     uint64_t(n - at - replaced) << sh);
    if (added > 0) {
        Text from = text(src);
        uint8_t* to = base + (uint64_t(at) << sh);
        if (from.unit == tunit) {
            std::memmove(to, from.base + (uint64_t(from.index) << sh), uint64_t(count) << sh);
        } else {
            for (int64_t k = 0; k < count; ++k) put_char(to + (uint64_t(k) << sh), tunit, from.at(from.index + k));
        }
        if (dup > 1) memory::fill_pattern(to, static_cast<uint32_t>(uint64_t(count) << sh), static_cast<uint32_t>(dup));
    }
    b->tail = b->head + static_cast<uint32_t>(need);
}

}  // namespace

// ---- actions: making and text -------------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec, uint32_t type) {
    uint32_t st = cell::type(*spec);
    if (st == T_integer || st == T_float_) {
        int32_t n = value::to_int_arg(*spec);
        if (n < 0) error::fire(err::script_out_of_range, *spec);
        Cell* r = stack::reserve();
        memory::Node node = type == T_binary ? memory::alloc_bytes(uint64_t(n)) : memory::alloc_series(n ? n : 1, 1, 0);
        *r = Cell{type, 0, node, 0};
        return r;
    }
    if (type == T_binary) {
        if (st == T_money) error::fire(err::script_bad_make_arg, datatype::make(T_binary), *spec);
        auto fn = actions::lookup<actions::slot::to>(T_binary);
        if (!fn || fn == to) not_done();  // binary! converts with its own `to`
        return fn(proto, spec, type);
    }
    return to(proto, spec, type);
}

Cell* to(Cell*, Cell* spec, uint32_t type) {
    uint32_t st = cell::type(*spec);
    Cell* r;
    if (st == T_none) {
        error::fire(err::script_bad_to_arg, datatype::make(type), *spec);
    } else if (in(st, ANY_LIST)) {
        r = push(16, 1);
        form_each(*spec, *r);
    } else if (in(st, ANY_STRING)) {
        r = stack::reserve();
        series::copy(spec, r, nullptr, false, nullptr);
    } else if (st == T_refinement) {
        r = push(16, 1);
        Cell* v = stack::push(*spec);
        if (type == T_string) {
            auto fn = actions::lookup<actions::slot::form>(T_refinement);
            if (!fn) actions::fire_expect_arg(*v, 0);
            fn(v, r, nullptr, INT32_MAX);
        } else {
            auto fn = actions::lookup<actions::slot::mold>(T_refinement);
            if (!fn) actions::fire_expect_arg(*v, 0);
            fn(v, r, MoldArgs{}, INT32_MAX);
        }
        stack::pop(1);
    } else if (st == T_binary) {
        Text t = text(*spec);
        uint64_t from = uint64_t(buffer(spec->w2)->head) + uint64_t(t.index);
        r = load_utf8_strict(unicode::ByteSource::in_series(spec->w2, from), uint64_t(t.rest()));
    } else {
        r = push(16, 1);
        form_value(*spec, *r, nullptr, INT32_MAX);
    }
    *r = Cell{type, 0, r->w2, 0};
    return r;
}

int32_t form(Cell* value, Cell* out, Cell* arg, int32_t part) {
    int32_t length = rs_length_q(*value);
    int32_t limit = arg ? (part < 0 ? 0 : part) : -1;
    concatenate_part(*out, *value, limit, 0, true, append_mode);
    return part - length;
}

int32_t mold(Cell* value, Cell* out, const MoldArgs& how, int32_t part) {
    memory::Node node = value->w2;
    Text t = text(*value);
    int64_t from = t.index;
    int64_t end = t.length;
    if (how.arg && part < t.rest()) end = from + (part < 0 ? 0 : part);
    // Braces for a text with a double quote, three line feeds or more, or 50 characters.
    int64_t quotes = 0, feeds = 0, balance = 0;
    for (int64_t i = from; i < end; ++i) {
        int32_t c = t.at(i);
        quotes += c == '"';
        feeds += c == '\n';
        balance += (c == '{') - (c == '}');
    }
    bool braces = feeds >= 3 || quotes > 0 || t.rest() >= 50;
    // A "{" is written bare only when a "}" closes it later; from the first one that nothing
    // closes on, every "{" is escaped. A "{" at i is closed when the running balance after it
    // comes back down to the balance before it, which one backward pass finds for all of them.
    int64_t first_open = end;
    if (braces) {
        int64_t after = balance;  // the balance after character i
        int64_t lowest_later = INT64_MAX;
        for (int64_t i = end - 1; i >= from; --i) {
            int32_t c = t.at(i);
            int64_t before = after - ((c == '{') - (c == '}'));
            if (c == '{' && lowest_later > before) first_open = i;
            lowest_later = std::min(lowest_later, after);
            after = before;
        }
    }
    int64_t start_length = rs_full_length_q(*out);
    concatenate_literal(*out, braces ? "{" : "\"");
    int64_t depth = 0;
    for (int64_t i = from; i < end; ++i) {
        Buffer* b = buffer(node);  // fetched again: every append may move it
        int32_t c = get_char(b->head_ptr() + (uint64_t(i) << t.shift), t.unit);
        if (!braces) {
            mold_char(*out, c, how.all);
        } else if (c == '{') {
            if (i < first_open) {
                append_char(out->w2, c);
                ++depth;
            } else {
                concatenate_literal(*out, "^{");
            }
        } else if (c == '}') {
            if (depth > 0) {
                append_char(out->w2, c);
                --depth;
            } else {
                concatenate_literal(*out, "^}");
            }
        } else if (c == '"') {
            append_char(out->w2, c);
        } else {
            mold_char(*out, c, how.all);
        }
    }
    concatenate_literal(*out, braces ? "}" : "\"");
    return part - static_cast<int32_t>(rs_full_length_q(*out) - start_length);
}

int32_t compare(Cell* value1, Cell* value2, int32_t op) {
    if (cell::type(*value1) != cell::type(*value2) &&
        (!in(cell::type(*value2), ANY_STRING) || (op != actions::equal && op != actions::not_equal)))
        return actions::not_comparable;
    return compare_values(*value1, *value2, op, false);
}

// ---- actions: searching -------------------------------------------------------------------------

namespace {

struct Found {
    int64_t start = -1;
    int64_t end = -1;
};

// The search behind find, select and path steps: where the pattern is found, and where the
// match ends. May push a temporary (the formed pattern): callers hold a stack mark.
Found locate(const Cell& series, const Cell& value, const FindArgs& f) {
    Found none_found;
    if (cell::is(series, T_vector)) not_done();  // vector! elements are not characters
    if (f.any || f.with) not_done();             // no wildcards in text searches
    bool binary_series = cell::is(series, T_binary);
    {
        Text t = text(series);
        if (t.length == 0 || (t.index >= t.length && !f.reverse)) return none_found;
    }
    int64_t step = 1;
    if (f.skip) {
        if (!cell::is(*f.skip, T_integer)) bad_refine("skip", *f.skip);
        step = integer::get(*f.skip);
        if (step < 1) error::fire(err::script_out_of_range, *f.skip);
    }
    int64_t part = -1;
    if (f.part) {
        part = series::part_count(series, *f.part);
        if (part < 1) return none_found;
    }
    if (f.reverse && f.match) return none_found;

    enum Kind { point, run, bits } kind = run;
    uint32_t vt = cell::type(value);
    Cell pattern = value;
    if (vt == T_char_) {
        kind = point;
    } else if (vt == T_bitset) {
        kind = bits;
    } else if (vt == T_binary) {
        if (!binary_series) error::fire(err::script_invalid_arg, value);
    } else if (!plain_text(vt)) {
        Cell* tmp = push(16, 1);
        form_value(value, *tmp, nullptr, INT32_MAX);
        pattern = *tmp;
    }
    bool fold = !f.case_ && !f.same;

    // Nothing below allocates on the series frames: the views stay valid.
    Text t = text(series);
    Text p = kind == run ? text(pattern) : Text{};
    int64_t plen = kind == run ? p.rest() : 1;
    if (plen <= 0) return none_found;
    int32_t cp = static_cast<int32_t>(value.w2);
    int32_t cp_folded = upper(cp);
    int64_t index = t.index;
    int64_t n = t.length;
    int64_t lo = index, hi = n;
    if (f.reverse) {
        lo = part >= 0 ? std::max<int64_t>(0, index - part) : 0;
    } else if (part >= 0 && part < n - index) {
        hi = index + part;
    }

    auto plain_match = [&](int64_t q) -> int64_t {
        switch (kind) {
        case point: {
            if (q >= hi) return -1;
            int32_t c = t.at(q);
            return c == cp || (fold && upper(c) == cp_folded) ? q + 1 : -1;
        }
        case bits: return q < hi && bitset_has_q(value.w2, t.at(q)) ? q + 1 : -1;
        case run:
            if (q + plen > hi) return -1;
            for (int64_t i = 0; i < plen; ++i) {
                int32_t c = t.at(q + i);
                int32_t pc = p.at(p.index + i);
                if (c != pc && !(fold && upper(c) == upper(pc))) return -1;
            }
            return q + plen;
        }
        return -1;
    };

    Found found;
    if (!f.reverse && !f.last) {
        for (int64_t q = lo; q < hi; q += step) {
            int64_t e = plain_match(q);
            if (e >= 0) return {q, e};
            if (f.match) break;
        }
        return found;
    }
    // Backwards: /last from the last record of the range, /reverse from the character before
    // the cursor.
    int64_t first;
    if (f.reverse) {
        first = index - 1;
    } else {
        if (hi <= lo) return found;
        first = lo + (hi - 1 - lo) / step * step;
    }
    for (int64_t q = first; q >= lo; q -= step) {
        int64_t e = plain_match(q);
        if (e >= 0) return {q, e};
        if (f.match) break;
    }
    return found;
}

// The unit after a match as a value: a char!, or the byte as an integer! in a binary!.
Cell unit_value(const Cell& series, int64_t at) {
    Text t = text(series);
    if (at < 0 || at >= t.length) return none::value;
    int32_t c = t.at(at);
    return cell::is(series, T_binary) ? integer::make(c) : Cell{T_char_, 0, static_cast<uint32_t>(c), 0};
}

}  // namespace

Cell* find(Cell* series, Cell* value, const FindArgs& args) {
    Found at;
    {
        stack::Mark mark;
        at = locate(*series, *value, args);
    }
    if (at.start < 0) return none::push();
    Cell* r = stack::push(*series);
    series::set_index(*r, args.tail ? at.end : at.start);
    return r;
}

Cell* select(Cell* series, Cell* value, const FindArgs& args) {
    FindArgs g = args;
    g.tail = g.match = false;
    Found at;
    {
        stack::Mark mark;
        at = locate(*series, *value, g);
    }
    if (at.start < 0) return none::push();
    return stack::push(unit_value(*series, at.end));
}

Cell* eval_path(Cell* parent, const PathStep& step) {
    if (Cell* done = series::index_step(parent, step)) return done;
    Cell* element = step.element;
    FindArgs f{};
    f.case_ = step.case_;
    Found at;
    {
        stack::Mark mark;
        at = locate(*parent, *element, f);
    }
    if (!step.value) {
        *parent = at.start < 0 ? none::value : unit_value(*parent, at.end);
        return parent;
    }
    if (at.start < 0) error::fire(err::script_bad_path_set, step.path ? *step.path : none::value, *element);
    // The character after the match is set: the one a read of the same path gives.
    Cell* after = stack::push(*parent);
    series::set_index(*after, at.end);
    series::poke(after, 1, step.value, element);
    stack::pop(1);
    return step.value;
}

// ---- actions: changing --------------------------------------------------------------------------

Cell* append(Cell* s, Cell* value, int32_t part, bool /*only*/, int32_t dup, bool append_flag) {
    // The common shape, one character at the tail of a text nobody owns, is stored in place:
    // no source text, no report. It widens and grows as the general path below would.
    if (append_flag && cell::is(*value, T_char_) && part < 0 && dup == 1 &&
        !(buffer(s->w2)->flags & memory::owned)) {
        memory::Node node = s->w2;
        int32_t cp = static_cast<int32_t>(value->w2);
        Buffer* b = buffer(node);
        uint32_t unit = b->unit();
        if (unit == 1 && static_cast<uint32_t>(cp) >= 128) {
            b = widen_to(node, unit, static_cast<uint32_t>(cp) > 0xFFFF ? 4 : 2);
            unit = b->unit();
        } else if (unit == 2 && static_cast<uint32_t>(cp) > 0xFFFF) {
            b = widen_to(node, unit, 4);
            unit = 4;
        }
        uint64_t need = uint64_t(b->used()) + unit;
        if (need > memory::max_buffer_size) no_memory();
        if (uint64_t(b->head) + need > b->size) b = memory::expand_series(node, std::min(need * 2, memory::max_buffer_size));
        // One byte, the commonest text, is written here; wider units through put_char.
        if (unit == 1) *b->tail_ptr() = static_cast<uint8_t>(cp);
        else put_char(b->tail_ptr(), unit, cp);
        b->tail += unit;
        cell::store(*s, s->header, 0, s->w2, s->w3);  // whole: the caller copies it next
        return s;
    }
    // An integer at the tail of a text nobody owns, its digits as form gives them, stored in
    // place: no source text made, no report.
    if (append_flag && cell::is(*value, T_integer) && part < 0 && dup == 1 && !(buffer(s->w2)->flags & memory::owned)) {
        char digits[12];
        uint32_t n = integer::form_signed(integer::get(*value), digits);
        memory::Node node = s->w2;
        Buffer* b = buffer(node);
        uint32_t unit = b->unit();
        uint64_t need = uint64_t(b->used()) + uint64_t(n) * unit;
        if (need > memory::max_buffer_size) no_memory();
        if (uint64_t(b->head) + need > b->size) b = memory::expand_series(node, std::min(need * 2, memory::max_buffer_size));
        if (unit == 1) {
            std::memcpy(b->tail_ptr(), digits, n);
        } else {
            for (uint32_t i = 0; i < n; ++i) put_char(b->tail_ptr() + uint64_t(i) * unit, unit, uint8_t(digits[i]));
        }
        b->tail += n * unit;
        cell::store(*s, s->header, 0, s->w2, s->w3);  // whole: the caller copies it next
        return s;
    }
    stack::Mark mark;
    Cell src = source_text(*value);
    collector::Root keep_src(src);
    Cell snapshot = none::value;
    collector::Root keep_snapshot(snapshot);
    int64_t times = dup < 0 ? 0 : dup;

    series::clip_index(*s, false);
    Text t = text(*s);
    int64_t at = append_flag ? t.length : t.index;
    bool appending = at == t.length;
    int64_t added = available(src, part) * times;
    if (added > 0) {
        bool owned = series::report(*s, appending ? Change::append : Change::insert, *value, static_cast<int32_t>(at),
                                    static_cast<int32_t>(std::min<int64_t>(added, INT32_MAX)));
        // The owner may have changed either text: everything is measured again.
        series::clip_index(*s, false);
        t = text(*s);
        at = append_flag ? t.length : t.index;
        appending = at == t.length;
        int64_t count = available(src, part);
        added = count * times;
        if (added > 0) {
            Cell from = detach(src, *s, count, snapshot);
            splice(*s, at, 0, from, count, times);
        }
        if (owned)
            series::report(*s, appending ? Change::appended : Change::inserted, *value, static_cast<int32_t>(at),
                           static_cast<int32_t>(std::min<int64_t>(added, INT32_MAX)));
    }
    if (append_flag) {
        cell::store(*s, s->header, 0, s->w2, s->w3);  // whole: the caller copies it next
    } else {
        int64_t length = text(*s).length;
        series::set_index(*s, std::min(at + added, length));
    }
    return s;
}

Cell* change(Cell* s, Cell* value, int32_t part, bool /*only*/, int32_t dup) {
    stack::Mark mark;
    Cell src = source_text(*value);
    collector::Root keep_src(src);
    Cell snapshot = none::value;
    collector::Root keep_snapshot(snapshot);
    int64_t times = dup < 0 ? 0 : dup;

    auto replaced_of = [&](const Text& t, int64_t added) {
        int64_t remaining = t.rest();
        return part >= 0 ? std::min<int64_t>(part, remaining) : std::min(added, remaining);
    };
    series::clip_index(*s, false);
    Text t = text(*s);
    int64_t added = available(src, -1) * times;
    bool owned = series::report(*s, Change::change, *value, static_cast<int32_t>(t.index),
                                static_cast<int32_t>(replaced_of(t, added)));

    series::clip_index(*s, false);
    t = text(*s);
    int64_t index = t.index;
    int64_t count = available(src, -1);
    added = count * times;
    int64_t replaced = replaced_of(t, added);
    if (added > 0 || replaced > 0) {
        Cell from = added > 0 ? detach(src, *s, count, snapshot) : src;
        splice(*s, index, replaced, from, count, times);
    }
    if (owned)
        series::report(*s, Change::changed, *value, static_cast<int32_t>(index),
                       static_cast<int32_t>(std::min<int64_t>(added, INT32_MAX)));
    series::set_index(*s, std::min(index + added, text(*s).length));
    return s;
}

Cell* take(Cell* s, Cell* part, bool deep, bool last) { return series::take(s, part, deep, last); }

Cell* swap(Cell* s1, Cell* s2) {
    uint32_t t2 = cell::type(*s2);
    if (!in(t2, ANY_STRING) && t2 != T_binary) error::fire(err::script_invalid_arg, *s2);
    if (series::rs_tail_q(*s1) || series::rs_tail_q(*s2)) return s1;
    int32_t i1 = static_cast<int32_t>(text(*s1).index), i2 = static_cast<int32_t>(text(*s2).index);
    // Two positions in one text are one change: its owner hears of it once.
    bool one_series = s1->w2 == s2->w2;
    bool owned1 = series::report(*s1, Change::swap, *s2, i1, 1);
    bool owned2 = !one_series && series::report(*s2, Change::swap, *s1, i2, 1);
    if (series::rs_tail_q(*s1) || series::rs_tail_q(*s2)) return s1;
    Text a = text(*s1), b = text(*s2);
    i1 = static_cast<int32_t>(a.index);
    i2 = static_cast<int32_t>(b.index);
    int32_t c1 = a.at(i1), c2 = b.at(i2);
    // A binary! holds bytes: a wider character cannot go into it.
    if (cell::is(*s1, T_binary) && c2 > 255) error::fire(err::script_invalid_arg, Cell{T_char_, 0, uint32_t(c2), 0});
    if (t2 == T_binary && c1 > 255) error::fire(err::script_invalid_arg, Cell{T_char_, 0, uint32_t(c1), 0});
    set_char_at(s1->w2, static_cast<uint32_t>(i1), c2);
    set_char_at(s2->w2, static_cast<uint32_t>(i2), c1);
    if (owned1) series::report(*s1, Change::swaped, *s2, i1, 1);
    if (owned2) series::report(*s2, Change::swaped, *s1, i2, 1);
    return s1;
}

// ---- actions: trim ------------------------------------------------------------------------------

namespace {

// Space and tab, and the Unicode spaces: what is trimmed at the ends of each line.
bool blank_q(int32_t c) { return c != '\n' && c != '\r' && (c == ' ' || c == '\t' || (c > 32 && whitespace_q(c))); }

// The characters trim/all or trim/with removes, sorted for a binary search.
struct Removal {
    Scratch<int32_t> chars;
    int64_t count;
    Removal(const Cell* with) : chars(with ? size_of(*with) : 4), count(0) {
        if (!with) {
            for (int32_t c : {'\t', '\n', '\r', ' '}) chars.p[count++] = c;
            return;
        }
        uint32_t t = cell::type(*with);
        if (t == T_char_ || t == T_integer) {
            chars.p[count++] = static_cast<int32_t>(with->w2);
            return;
        }
        Text w = text(*with);
        for (int64_t i = w.index; i < w.length; ++i) chars.p[count++] = w.at(i);
        std::sort(chars.p, chars.p + count);
    }
    static uint64_t size_of(const Cell& with) {
        uint32_t t = cell::type(with);
        if (t == T_char_ || t == T_integer) return 1;
        Text w = text(with);
        return w.rest() > 0 ? uint64_t(w.rest()) : 1;
    }
    bool has(int32_t c) const { return std::binary_search(chars.p, chars.p + count, c); }
};

// A cursor that writes the kept characters over the string from its index: writing never
// overtakes reading, so no room is needed.
struct Writer {
    uint8_t* base;
    uint32_t unit, shift;
    int64_t at;
    void put(int32_t c) { put_char(base + (uint64_t(at++) << shift), unit, c); }
};

}  // namespace

Cell* trim(Cell* s, const TrimArgs& a) {
    if (a.auto_) not_done();
    if (a.with) {
        uint32_t t = cell::type(*a.with);
        if (t != T_char_ && t != T_integer && !in(t, ANY_STRING) && t != T_binary)
            error::fire(err::script_invalid_arg, *a.with);
        if ((in(t, ANY_STRING) || t == T_binary) && text(*a.with).rest() <= 0) return s;
    }
    series::clip_index(*s, false);
    bool owned = series::report(*s, Change::trim, none::value, static_cast<int32_t>(text(*s).index), 0);
    series::clip_index(*s, false);
    Buffer* b = buffer(s->w2);
    Text t = text(*s);
    int64_t lo = t.index, hi = t.length;
    Writer out{b->head_ptr(), t.unit, t.shift, lo};

    if (a.all || a.with) {
        Removal removal(a.with);  // the tracked heap only: the view stays valid
        for (int64_t i = lo; i < hi; ++i) {
            int32_t c = t.at(i);
            if (!removal.has(c)) out.put(c);
        }
    } else if (a.lines) {
        bool gap = false;
        for (int64_t i = lo; i < hi; ++i) {
            int32_t c = t.at(i);
            if (whitespace_q(c)) {
                gap = true;
                continue;
            }
            if (gap && out.at > lo) out.put(' ');
            gap = false;
            out.put(c);
        }
    } else {
        bool ends_only = a.head || a.tail;
        int64_t start = lo, end = hi;
        if (!(a.tail && !a.head))
            while (start < end && whitespace_q(t.at(start))) ++start;
        bool dropped_feed = false;
        if (!(a.head && !a.tail)) {
            while (end > start && whitespace_q(t.at(end - 1))) {
                dropped_feed = dropped_feed || t.at(end - 1) == '\n';
                --end;
            }
        }
        if (ends_only) {
            for (int64_t i = start; i < end; ++i) out.put(t.at(i));
        } else {
            // Each line loses its leading and trailing blanks too.
            int64_t i = start;
            while (i < end) {
                int64_t line_end = i;
                while (line_end < end && t.at(line_end) != '\n') ++line_end;
                int64_t from = i, to = line_end;
                while (from < to && blank_q(t.at(from))) ++from;
                while (to > from && blank_q(t.at(to - 1))) --to;
                for (int64_t k = from; k < to; ++k) out.put(t.at(k));
                if (line_end < end) out.put('\n');
                i = line_end + 1;
            }
            if (dropped_feed) out.put('\n');
        }
    }
    b->tail = b->head + static_cast<uint32_t>(uint64_t(out.at) << t.shift);
    if (owned) series::report(*s, Change::trimmed, none::value, static_cast<int32_t>(lo), 0);
    return s;
}

// ---- actions: sort ------------------------------------------------------------------------------

namespace {

struct SortSpec {
    uint32_t unit;
    int64_t size;        // characters per record
    int64_t offset;      // the compared character within a record
    bool whole;          // every character of the record, in order
    bool case_;
    bool reverse;
    bool binary;
    const Cell* fn;      // a comparator function, or null
};

// Case folds to lower case: in a Latin-1 text only A to Z, in wider texts every letter.
int32_t sort_fold(int32_t c, uint32_t unit) {
    if (unit == 1) return c >= 'A' && c <= 'Z' ? c + 32 : c;
    return static_cast<int32_t>(unicode::case_map(static_cast<uint32_t>(c), false));
}

int32_t call_comparator(const SortSpec& sp, const uint8_t* x, const uint8_t* y) {
    if (stack::exiting()) return 0;  // a break or return out of the comparator: finish quickly
    if (sp.reverse) std::swap(x, y);
    stack::Mark mark;
    Cell args[2];
    const uint8_t* records[2] = {x, y};
    for (int k = 0; k < 2; ++k) {
        if (sp.whole) {
            Cell* r = push(static_cast<uint32_t>(sp.size), sp.unit);
            Buffer* rb = buffer(r->w2);
            std::memcpy(rb->head_ptr(), records[k], uint64_t(sp.size) * sp.unit);  // the records never move
            rb->tail = rb->head + static_cast<uint32_t>(uint64_t(sp.size) * sp.unit);
            args[k] = *r;
        } else {
            int32_t c = get_char(records[k], sp.unit);
            args[k] = sp.binary ? integer::make(c) : Cell{T_char_, 0, static_cast<uint32_t>(c), 0};
        }
    }
    return actions::comparator_answer(interp::apply_function(*sp.fn, args, 2, &words::loaded::compare_callback_tag));
}

int32_t sort_compare(const void* a, const void* b, uintptr_t spec, uintptr_t) {
    const SortSpec& sp = *reinterpret_cast<const SortSpec*>(spec);
    auto x = static_cast<const uint8_t*>(a);
    auto y = static_cast<const uint8_t*>(b);
    if (sp.fn) return call_comparator(sp, x, y);
    int64_t first = sp.whole ? 0 : sp.offset;
    int64_t last = sp.whole ? sp.size : sp.offset + 1;
    for (int64_t k = first; k < last; ++k) {
        int32_t c1 = get_char(x + uint64_t(k) * sp.unit, sp.unit);
        int32_t c2 = get_char(y + uint64_t(k) * sp.unit, sp.unit);
        if (!sp.case_) {
            c1 = sort_fold(c1, sp.unit);
            c2 = sort_fold(c2, sp.unit);
        }
        if (c1 != c2) return (c1 < c2) != sp.reverse ? -1 : 1;
    }
    return 0;
}

// The records are sorted in a copy on the tracked heap, which never moves while a comparator
// runs Kov code; the copy is written back however the sort ends, as far as the text still
// reaches.
struct SortCopy {
    uint8_t* data;
    int64_t chars;
    uint32_t unit;
    memory::Node node;
    int64_t index;
    ~SortCopy() {
        Buffer* b = buffer(node);
        uint32_t u = b->unit();
        int64_t room = int64_t(b->used() >> shift_of(u)) - index;
        int64_t n = std::min(room, chars);
        // A comparator that emptied and refilled the text narrower gets nothing back.
        if (n > 0 && u >= unit) {
            uint8_t* to = b->head_ptr() + (uint64_t(index) << shift_of(u));
            if (u == unit) std::memcpy(to, data, uint64_t(n) * unit);
            else for (int64_t k = 0; k < n; ++k) put_char(to + (uint64_t(k) << shift_of(u)), u, get_char(data + uint64_t(k) * unit, unit));
        }
        heap::free(data);
    }
};

}  // namespace

Cell* sort(Cell* s, const SortArgs& a) {
    if (cell::is(*s, T_vector)) not_done();  // vector! elements have comparators of their own
    series::clip_index(*s, false);
    Text t = text(*s);
    int64_t count = t.rest();
    if (a.part) {
        int64_t k = series::part_count(*s, *a.part);
        if (k < 0) {
            if (-k > t.index) return s;  // that many characters do not lie before the cursor
            series::set_index(*s, t.index + k);
            count = -k;
        } else if (k < count) {
            count = k;
        }
    }
    series::SortRefinements r = series::sort_refinements(a, count);
    int64_t size = r.size;
    SortSpec spec{t.unit, size, r.offset, a.all, a.case_, a.reverse, cell::is(*s, T_binary), r.compare_fn};
    if (count / size < 2) return s;
    int32_t at = static_cast<int32_t>(text(*s).index);
    bool owned = series::report(*s, Change::sort, none::value, at, static_cast<int32_t>(count));

    // Only whole records that still exist are sorted, at the unit the text has now.
    series::clip_index(*s, false);
    t = text(*s);
    int64_t records = std::min(count, t.rest()) / size;
    if (records >= 2) {
        spec.unit = t.unit;
        uint64_t bytes = uint64_t(records * size) << t.shift;
        SortCopy copy{static_cast<uint8_t*>(heap::allocate(bytes)), records * size, t.unit, s->w2, t.index};
        std::memcpy(copy.data, t.base + (uint64_t(t.index) << t.shift), bytes);
        std::size_t width = std::size_t(size) << t.shift;
        auto option = reinterpret_cast<uintptr_t>(&spec);
        if (a.stable) sort::merge_sort(copy.data, std::size_t(records), width, option, 0, sort_compare);
        else sort::quicksort(copy.data, std::size_t(records), width, option, 0, sort_compare);
    }
    if (stack::exiting()) return s;
    if (owned) series::report(*s, Change::sorted, none::value, at, static_cast<int32_t>(count));
    return s;
}

// ---- set operations -----------------------------------------------------------------------------

namespace {

// A set of code points, one bit each.
struct CodeSet {
    Scratch<uint8_t> bits;
    explicit CodeSet(int64_t highest) : bits(uint64_t(highest >> 3) + 1, true) {}
    bool has(int32_t c) const { return (bits.p[c >> 3] >> (c & 7)) & 1; }
    void add(int32_t c) { bits.p[c >> 3] |= uint8_t(1u << (c & 7)); }
};

int32_t set_key(int32_t c, bool case_) { return case_ || c < 0 ? c : upper(c); }

int32_t highest_key(const Cell& set, int64_t size, bool case_) {
    Text t = text(set);
    int32_t high = 0;
    for (int64_t i = t.index; i < t.length; i += size) high = std::max(high, set_key(t.at(i), case_));
    return high;
}

void add_record_starts(CodeSet& to, const Cell& set, int64_t size, bool case_) {
    Text t = text(set);
    for (int64_t i = t.index; i < t.length; i += size) to.add(set_key(t.at(i), case_));
}

// One walk over a set: each record whose first character is (keep) or is not (!keep) among
// the other set's record starts, and not yet in the result, is added whole.
void set_pass(Cell& result, CodeSet& seen, const Cell& set, const CodeSet* other, bool keep, int64_t size,
              bool case_) {
    bool bytes = cell::is(result, T_binary);
    for (int64_t i = text(set).index;; i += size) {
        Text t = text(set);  // again at every record: appending moves buffers
        if (i >= t.length) break;
        int32_t key = set_key(t.at(i), case_);
        if (other && other->has(key) != keep) continue;
        if (seen.has(key)) continue;
        seen.add(key);
        int64_t end = std::min(i + size, t.length);
        for (int64_t k = i; k < end; ++k) {
            int32_t c = text(set).at(k);
            if (bytes) *series::reserve(result.w2, 1) = static_cast<uint8_t>(c);
            else append_char(result.w2, c);
        }
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
    bool two = op != op_unique;
    auto texty = [](const Cell* c) { return c && (in(cell::type(*c), ANY_STRING) || cell::is(*c, T_binary)); };
    if (!texty(set1)) error::fire(err::script_invalid_arg, *set1);
    if (two && !texty(set2)) error::fire(err::script_invalid_arg, set2 ? *set2 : none::value);
    series::clip_index(*set1, false);
    if (two) series::clip_index(*set2, false);

    int32_t high = highest_key(*set1, size, case_);
    if (two) high = std::max(high, highest_key(*set2, size, case_));
    CodeSet seen(high), in1(op == op_difference ? high : 0), in2(two ? high : 0);
    if (op == op_difference) add_record_starts(in1, *set1, size, case_);
    if (op == op_intersect || op == op_exclude || op == op_difference) add_record_starts(in2, *set2, size, case_);

    int64_t room = text(*set1).rest() + (op == op_union || op == op_difference ? text(*set2).rest() : 0);
    Cell* result = stack::reserve();
    *result = Cell{cell::type(*set1), 0, memory::alloc_series(uint64_t(std::max<int64_t>(room, 1)), 1, 0), 0};
    switch (op) {
    case op_unique: set_pass(*result, seen, *set1, nullptr, false, size, case_); break;
    case op_union:
        set_pass(*result, seen, *set1, nullptr, false, size, case_);
        set_pass(*result, seen, *set2, nullptr, false, size, case_);
        break;
    case op_intersect: set_pass(*result, seen, *set1, &in2, true, size, case_); break;
    case op_exclude: set_pass(*result, seen, *set1, &in2, false, size, case_); break;
    default:
        set_pass(*result, seen, *set1, &in2, false, size, case_);
        set_pass(*result, seen, *set2, &in1, false, size, case_);
        break;
    }
    return result;
}

// ---- registration -------------------------------------------------------------------------------

void init() {
    using datatype::inherit;
    datatype::register_type(
        {.id = T_string, .name = "string!", .rest = datatype::Rest::empty,
         .mark = collector::mark_string_value, .hash = hashtable::hash_string,
         .actions = {.make = make, .random = inherit, .reflect = inherit, .to = to, .form = form, .mold = mold,
                     .eval_path = eval_path, .compare = compare, .append = append, .at = inherit, .back = inherit,
                     .change = change, .clear = inherit, .copy = inherit, .find = find, .head = inherit,
                     .head_q = inherit, .index_q = inherit, .insert = append, .length_q = inherit, .move = inherit,
                     .next = inherit, .pick = inherit, .poke = inherit, .remove = inherit, .reverse = inherit,
                     .select = select, .sort = sort, .skip = inherit, .swap = swap, .tail = inherit,
                     .tail_q = inherit, .take = take, .trim = trim, .modify = inherit}});
}

}  // namespace kov::string
