#include "runtime/interpreter/routines.h"

#include "runtime/cells.h"
#include "runtime/codecs/json.h"
#include "runtime/tui/routines.h"
#include "runtime/codecs/kovbin.h"
#include "runtime/codecs/image_codecs.h"

#include <cstring>

#include "runtime/collector.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/interpreter/stack.h"
#include "runtime/series_buffer.h"

namespace kov::routines {

namespace {

Entry table[count + 1];  // entry 0 is never used

constexpr const char* words[count + 1] = {
    "",
#define ROUTINE(word, ident, family) word,
#include "runtime/defs/routines.def"
#undef ROUTINE
};

inline Cell* more_of(const Cell& r) { return cells::of(function::more_of(r)); }

}  // namespace

void register_entry(uint32_t index, Entry entry) { table[index] = entry; }

uint32_t find(const char* word, uint32_t length) {
    for (uint32_t i = 1; i <= count; ++i)
        if (std::strlen(words[i]) == length && std::memcmp(words[i], word, length) == 0) return i;
    return 0;
}

Entry entry(uint32_t index) { return index <= count ? table[index] : nullptr; }

Cell* make(const Cell& spec, uint32_t index, const Cell& data) {
    Cell d = data;
    collector::Root keep(d);
    // The body is a note for reflection: the routine's work is done by the runtime.
    Cell* body = string::push(32, 1);
    string::concatenate_literal(*body, "built into the runtime");
    Cell note = *body;
    collector::Root keep_note(note);
    memory::Node block = memory::alloc_cells(1);
    Cell b{T_block, 0, block, 0};
    collector::Root keep_b(b);
    *series::append_cell(block) = note;
    Cell* fn = function::make_at(spec, &b, 0, 0, 0);
    cell::set_type(*fn, T_routine);
    *context::self_cell(function::context_of(*fn)) = *fn;
    Cell* more = more_of(*fn);
    more[2] = integer::make(static_cast<int32_t>(index));
    more[4] = d;
    return fn;
}

bool allow_make = false;

Cell* make_from(const Cell& definition) {
    if (!allow_make) error::fire(err::internal_routines);
    if (!cell::is(definition, T_block)) error::fire(err::script_bad_func_def, definition);
    memory::Node n = series::node_of(definition);
    uint32_t first = series::position_of(definition);
    uint32_t count = cells::count(n);
    if (count < first + 2 || !cell::is(cells::at(n, first), T_block) || !cell::is(cells::at(n, first + 1), T_word))
        error::fire(err::script_bad_func_def, definition);
    symbol::Spelling sp = symbol::spelling(word::symbol_of(cells::at(n, first + 1)));
    uint32_t index = find(reinterpret_cast<const char*>(sp.bytes), sp.length);
    if (!index) error::fire(err::internal_routines, Cell(cells::at(n, first + 1)));
    Cell data = none::value;
    if (count > first + 2) {
        data = cells::at(n, first + 2);
        if (cell::is(data, T_word)) data = *context::get(data);
        else if (cell::is(data, T_lit_word)) cell::set_type(data, T_word);
    }
    collector::Root keep(data);
    Cell spec = cells::at(n, first);
    return make(spec, index, data);
}

void call(const Cell& routine, const int32_t* refinements) {
    const Cell* more = more_of(routine);
    Entry e = entry(cell::is(more[2], T_integer) ? static_cast<uint32_t>(integer::get(more[2])) : 0);
    if (!e) error::fire(err::internal_routines);
    Cell data = more[4];
    Args args(refinements);
    e(args, data);
}

void init_builtin();
void init_system();

void init() {
    init_builtin();
    init_system();
    kovbin::register_routines();
    image_codecs::register_routines();
    json::register_routines();
    tui::register_routines();
}

}  // namespace kov::routines
