#include "runtime/datatypes/event.h"
#include "runtime/interpreter/routines.h"

#include "runtime/cells.h"
#include "runtime/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/scalar.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/families.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/stack.h"
#include "runtime/memory.h"
#include "runtime/series_buffer.h"

namespace kov::event {

namespace {

const char* const type_names[type_count] = {
    "down", "up", "mid-down", "mid-up", "alt-down", "alt-up", "aux-down", "aux-up", "click", "dbl-click",
    "wheel", "over", "key", "key-down", "key-up", "ime", "focus", "unfocus", "enter", "zoom",
    "pan", "rotate", "two-tap", "press-tap", "select", "change", "menu", "close", "move", "resize",
    "moving", "resizing", "time", "drawing", "scroll", "minimize", "maximize", "restore",
};
const char* const field_names[field_count] = {
    "type", "face", "window", "offset", "key", "picked", "flags", "away?", "down?", "mid-down?",
    "alt-down?", "aux-down?", "ctrl?", "shift?", "orientation",
};
// The flag words `make` accepts, with their bits, in the order a `flags` read lists them
// (`command` last: it is accepted but never listed).
constexpr int flag_count = 9;
const char* const flag_names[flag_count] = {"away", "down", "mid-down", "alt-down", "aux-down",
                                            "control", "shift", "alt", "command"};
const uint32_t flag_bits[flag_count] = {away, down, mid_down, alt_down, aux_down, control, shift, alt, command};
// The bit each `...?` field tests, from f_away_q on.
const uint32_t test_bits[f_shift_q - f_away_q + 1] = {away, down, mid_down, alt_down, aux_down, control, shift};

// Symbols, interned on first use (the datatype registers before the symbol table exists).
struct Symbols {
    uint32_t types[type_count];
    uint32_t fields[field_count];
    uint32_t flags[flag_count];
};
Symbols syms;
bool syms_made = false;

const Symbols& symbols() {
    if (!syms_made) {
        for (uint32_t i = 0; i < type_count; ++i) syms.types[i] = symbol::make(type_names[i]);
        for (int i = 0; i < field_count; ++i) syms.fields[i] = symbol::make(field_names[i]);
        for (int i = 0; i < flag_count; ++i) syms.flags[i] = symbol::make(flag_names[i]);
        syms_made = true;
    }
    return syms;
}

Reader reader = nullptr;

// The field index of a word, 0 when it names no field.
int32_t field_of(const Cell& word) {
    if (!in(cell::type(word), ALL_WORD)) return 0;
    const Symbols& s = symbols();
    for (int i = 0; i < field_count; ++i)
        if (scalar::word_is(word, s.fields[i])) return i + 1;
    return 0;
}

uint32_t flag_bit(const Cell& word) {
    const Symbols& s = symbols();
    for (int i = 0; i < flag_count; ++i)
        if (scalar::word_is(word, s.flags[i])) return flag_bits[i];
    return 0;
}

// The type id of a word, or script/not-event-type.
uint32_t checked_type(const Cell& word) {
    uint32_t id = type_id(word);
    if (id == 0) error::fire(err::script_not_event_type, word);
    return id;
}

// A block of the listed flag words. Each read makes its own block, so a block a caller kept
// never changes under it.
Cell flags_block(uint32_t flags) {
    const Symbols& s = symbols();
    Cell* b = block::push_new(8);
    for (int i = 0; i < flag_count - 1; ++i)
        if (flags & flag_bits[i]) word::make_in(s.flags[i], series::node_of(*b));
    Cell result = *b;
    stack::pop(1);
    return result;
}

// The record's slot of the type: the type of a made event lives in its record too, which
// every copy of the cell shares, so that `event/type:` in an event function changes the
// event its caller holds (the cell's own word is a copy).
constexpr uint32_t record_type = 4;

uint32_t current_type(const Cell& e) {
    if (made(e) && record_of(e) != 0) return static_cast<uint32_t>(integer::get(cells::of(record_of(e))[record_type]));
    return type_of(e);
}

// The field by index (1 to 15) of an event.
Cell field(const Cell& e, int32_t index) {
    switch (index) {
    case f_type: {
        uint32_t sym = type_symbol(current_type(e));
        return sym ? word::cell_of(T_word, sym) : none::value;
    }
    case f_flags: return flags_block(flags_of(e));
    case f_orientation: return none::value;
    default: break;
    }
    if (index >= f_away_q && index <= f_shift_q) return logic::make((flags_of(e) & test_bits[index - f_away_q]) != 0);
    if (!made(e)) return reader ? reader(record_of(e), index, e) : none::value;
    if (index == f_key) {
        uint32_t ch = flags_of(e) & 0xFFFF;
        return ch ? char_::make(static_cast<int32_t>(ch)) : none::value;
    }
    if (record_of(e) == 0) {
        if (index == f_offset) return pair::make(0, 0);
        if (index == f_picked) return integer::make(0);
        return none::value;
    }
    const Cell* record = cells::of(record_of(e));
    return record[index == f_face ? 0 : index == f_window ? 1 : index == f_offset ? 2 : 3];
}

// ---- actions ------------------------------------------------------------------------------------

Cell* make(Cell*, Cell* spec, uint32_t) {
    symbols();
    Cell e{T_event | cell::event_block, 0, 0, 0};
    Cell rec[5] = {none::value, none::value, pair::make(0, 0), integer::make(0), integer::make(0)};
    if (in(cell::type(*spec), ANY_BLOCK)) {
        // Nothing below allocates until the record is made, so the items stay in place.
        const Cell* items = cells::of(series::node_of(*spec));
        uint32_t count = cells::count(series::node_of(*spec));
        for (uint32_t i = series::position_of(*spec); i < count; ++i) {
            if (!cell::is(items[i], T_set_word) || i + 1 >= count) continue;
            const Cell& key = items[i];
            Cell v = items[++i];
            if ((cell::is(v, T_word) || cell::is(v, T_get_word)) && v.w1 != 0) {
                if (Cell* slot = context::get(v)) v = *slot;
            }
            switch (field_of(key)) {
            case f_type:
                if (cell::is(v, T_word) || cell::is(v, T_lit_word)) e.w1 = checked_type(v);
                break;
            case f_key:
                if (cell::is(v, T_char_)) e.w3 |= static_cast<uint32_t>(char_::get(v)) & 0xFFFF;
                break;
            case f_flags:
                if (in(cell::type(v), ANY_BLOCK)) {
                    const Cell* fl = cells::of(series::node_of(v));
                    uint32_t fc = cells::count(series::node_of(v));
                    for (uint32_t j = series::position_of(v); j < fc; ++j)
                        if (cell::is(fl[j], T_word)) e.w3 |= flag_bit(fl[j]);
                }
                break;
            case f_face:
            case f_window:
                if (cell::is(v, T_object)) rec[field_of(key) == f_face ? 0 : 1] = v;
                break;
            case f_offset:
                if (cell::is(v, T_pair) || cell::is(v, T_point2d)) rec[2] = v;
                break;
            case f_picked:
                if (cell::is(v, T_integer)) rec[3] = v;
                break;
            default: break;
            }
        }
    }
    // The record's values are copies: none of them lives in the spec any more.
    rec[record_type] = integer::make(static_cast<int32_t>(e.w1));
    Cell* b = block::push_new(5);
    for (const Cell& c : rec) *series::append_cell(series::node_of(*b)) = c;
    e.w2 = series::node_of(*b);
    stack::pop(1);
    return stack::push(e);
}

int32_t form(Cell*, Cell* out, Cell*, int32_t part) { return string::emit(*out, "event", part); }
int32_t mold(Cell*, Cell* out, const MoldArgs&, int32_t part) {
    return string::emit(*out, "event", part);
}

Cell* eval_path(Cell* parent, const PathStep& step) {
    Cell element = *step.element;
    Cell path = step.path ? *step.path : element;
    int32_t index = field_of(element);
    if (!step.value) {
        if (index == 0) error::fire(err::script_invalid_path, path, element);
        return stack::push(field(*parent, index));
    }
    if (index != f_type) error::fire(err::script_bad_path_set, path, element);
    if (!cell::is(*step.value, T_word)) error::fire(err::script_bad_path_set, path, *step.value);
    uint32_t type = checked_type(*step.value);
    set_type(*parent, type);
    if (made(*parent) && record_of(*parent) != 0)
        cells::of(record_of(*parent))[record_type] = integer::make(static_cast<int32_t>(type));
    return step.value;
}

Cell* pick(Cell* value, int32_t index, Cell* boxed) {
    if (boxed && in(cell::type(*boxed), ALL_WORD)) {
        index = field_of(*boxed);
        if (index == 0) error::fire(err::script_cannot_use, *boxed, *value);
    } else if (index < 1 || index > field_count) {
        error::fire(err::script_out_of_range, boxed ? *boxed : integer::make(index));
    }
    *value = field(*value, index);
    return value;
}

// Any two events are equal and have no order.
int32_t compare(Cell*, Cell* b, int32_t op) {
    if (!cell::is(*b, T_event)) return actions::not_comparable;
    if (actions::unit_code(op)) return 0;
    return actions::not_comparable;
}

// Marks the record through the cell's own word (not an accessor's copy), so that node-frame
// evacuation can rewrite it.
void mark(const Cell& e) {
    if (made(e) && record_of(e) != 0) collector::mark_block(e.w2);
}

}  // namespace

void set_reader(Reader r) { reader = r; }

uint32_t type_id(const Cell& word) {
    if (!in(cell::type(word), ALL_WORD)) return 0;
    const Symbols& s = symbols();
    for (uint32_t i = 0; i < type_count; ++i)
        if (scalar::word_is(word, s.types[i])) return i + 1;
    return 0;
}

uint32_t type_symbol(uint32_t id) { return id >= 1 && id <= type_count ? symbols().types[id - 1] : 0; }

// ---- routines -----------------------------------------------------------------------------------

void event_q(routines::Args& args, const Cell&) { logic::make_at(*args.cell(0), cell::is(*args.cell(0), T_event)); }

// The facet names the flag, or is a block holding it as a word or lit-word.
void find_flag_q(routines::Args& args, const Cell&) {
    const Cell& facet = *args.cell(0);
    uint32_t sym = word::symbol_of(*args.cell(1));
    bool found = false;
    if (cell::is(facet, T_word)) {
        found = scalar::word_is(facet, sym);
    } else if (cell::is(facet, T_block)) {
        const Cell* items = cells::of(series::node_of(facet));
        uint32_t count = cells::count(series::node_of(facet));
        for (uint32_t i = series::position_of(facet); i < count && !found; ++i)
            found = (cell::is(items[i], T_word) || cell::is(items[i], T_lit_word)) && scalar::word_is(items[i], sym);
    }
    logic::make_at(*args.cell(0), found);
}

// The terminal back end takes no events from the program.
void send_event_os(routines::Args& args, const Cell&) { logic::make_at(*args.cell(0), false); }

void init() {
    datatype::register_type({.id = T_event, .name = "event!", .rest = datatype::Rest::empty,
                             .mark = mark, .same = datatype::same::always, .hash = datatype::hashing::second,
                             .actions = {.make = make, .form = form, .mold = mold, .eval_path = eval_path,
                                         .compare = compare, .pick = pick}});
}

}  // namespace kov::event
