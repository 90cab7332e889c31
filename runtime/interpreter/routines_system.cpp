// The routines through which the boot definitions and the system object reach the runtime's
// own state: values that only start-up can make (the global context as an object, the error
// catalogue and prototype, the process's arguments), the float formatter's switches, the console's
// last-line flag and the interpreted-call test.
//
// Moving memory: the entries that build values (strings, objects) allocate.
#include <cstring>
#include <initializer_list>
#include <string>

#include "build_info.h"

#include "runtime/collector.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/families.h"
#include "runtime/float_text.h"
#include "runtime/interpreter/natives.h"
#include "runtime/interpreter/routines.h"
#include "runtime/interpreter/stack.h"
#include "runtime/io/file_io.h"
#include "runtime/runtime.h"

namespace kov::routines {

namespace {

bool names(const Cell& word, const char* text) {
    uint32_t t = cell::type(word);
    return in(t, ANY_WORD) && symbol::resolve(word::symbol_of(word)) == symbol::resolve(symbol::make(text));
}

// The object! of the global context, written into the context's own self cell too, so that
// `self` in the global context and `system/words` are one value.
void make_global_object(Cell* result) {
    memory::Node g = context::global();
    Cell* obj = object::make_at(g, static_cast<uint32_t>(-1));
    *result = *obj;
    *context::self_cell(g) = *result;
}

// The names of the registries, in their fixed order.
constexpr const char* datatype_names[] = {
#define DATATYPE(id, name, ident, parent, families) name,
#include "runtime/defs/datatypes.def"
#undef DATATYPE
};
constexpr const char* action_names[] = {
#define ACTION(n, word, ident, entry, ret, params) word,
#include "runtime/defs/actions.def"
#undef ACTION
};
constexpr const char* native_names[] = {
#define NATIVE(n, word, ident, family) word,
#include "runtime/defs/natives.def"
#undef NATIVE
};

// A block of the global words among the names whose value is of the type, in the registry's
// order. Testing the value leaves out the internal action slots, which no word names, and a
// registry name whose word the boot definitions gave another value (series! is a typeset).
template <std::size_t N>
void catalog_words(Cell* result, const char* const (&names)[N], uint32_t type) {
    Cell* b = stack::push(none::value);
    block::make_at(*b, static_cast<int32_t>(N));
    for (const char* name : names) {
        uint32_t sym = symbol::make(name);
        const Cell* v = context::get_any(sym, context::global());
        if (v && cell::is(*v, type)) word::make_in(sym, series::node_of(*b));
    }
    *result = *b;
}

// Start-up values by name: global-object, error-catalog, error-prototype, build,
// arguments (the process's), and the word lists of the catalogue (datatypes, actions, natives).
void boot_value(routines::Args& args, const Cell&) {
    const Cell which = *args.cell(0);
    if (names(which, "global-object")) {
        make_global_object(args.cell(0));
    } else if (names(which, "error-catalog")) {
        *args.cell(0) = error::catalog();
    } else if (names(which, "error-prototype")) {
        *args.cell(0) = error::prototype();
    } else if (names(which, "build")) {
        // The build's date, then the commit, its branch and its date (empty outside a checkout).
        Cell* b = stack::push(none::value);
        block::make_at(*b, 4);
        for (const char* text : {KOV_BUILD_DATE, KOV_GIT_COMMIT, KOV_GIT_BRANCH, KOV_GIT_DATE})
            string::load_in(series::node_of(*b), reinterpret_cast<const uint8_t*>(text), std::strlen(text), 0);
        *args.cell(0) = *b;
    } else if (names(which, "datatypes")) {
        catalog_words(args.cell(0), datatype_names, T_datatype);
    } else if (names(which, "actions")) {
        catalog_words(args.cell(0), action_names, T_action);
    } else if (names(which, "natives")) {
        catalog_words(args.cell(0), native_names, T_native);
    } else if (names(which, "arguments")) {
        // One string per entry, as the system passed them (names of files among them).
        Cell* b = stack::push(none::value);
        block::make_at(*b, runtime::record.argc);
        for (int i = 0; i < runtime::record.argc; ++i) {
            stack::Mark mark;
            const char* arg = runtime::record.argv[i];
            block::rs_append(*b, *io::load_name(reinterpret_cast<const uint8_t*>(arg), std::strlen(arg), nullptr));
        }
        *args.cell(0) = *b;
    } else {
        error::fire(err::script_invalid_arg, which);
    }
}

void float_option(routines::Args& args, const Cell&) {
    bool on = !cell::is(*args.cell(1), T_none) && !(cell::is(*args.cell(1), T_logic) && logic::get(*args.cell(1)) == 0);
    if (names(*args.cell(0), "pretty?")) float_::set_pretty(on);
    else if (names(*args.cell(0), "full?")) float_::set_full(on);
    *args.cell(0) = unset::value;
}

void last_lf_q(routines::Args& args, const Cell&) { logic::make_at(*args.cell(0), natives::last_line_feed); }

// True when any caller up the chain was called by the interpreter (the routine's own frame
// is left out).
void interpreted_q(routines::Args& args, const Cell&) {
    uint32_t depth = stack::depth();
    logic::make_at(*args.cell(0), depth > 1 && stack::frame_barrier_q(depth - 1, false));
}

// The call trace, innermost first: each call's word and the value-stack position of its
// argument base. The bottom frame is left out (unless it is the only one), and so are the
// hidden labels that backtraces skip.
void collect_calls(routines::Args& args, const Cell&) {
    Cell list = *args.cell(0);
    collector::Root keep(list);
    uint32_t depth = stack::depth();
    for (uint32_t d = depth; d >= 1; --d) {
        if (d == 1 && depth > 1) break;
        const stack::Frame& f = stack::frame_at(d);
        if (!f.symbol || f.symbol == stack::body_symbol() || f.symbol == stack::anon_symbol()) continue;
        // A word that has its value: bound where the call found it when that context lasts
        // (an object's), else in the global context.
        Cell w{T_word, 0, f.symbol, 0xFFFFFFFFu};
        memory::Node ctx = f.word_context;
        bool lasting = ctx && context::is_context(ctx) && !context::on_stack(*context::record(ctx));
        if (!lasting || context::bind_word(ctx, w) < 0) w = context::get_or_add_global(f.symbol);
        block::rs_append(list, w);
        block::rs_append(list, integer::make(static_cast<int32_t>(f.args)));
    }
    *args.cell(0) = unset::value;
}

}  // namespace

void init_system() {
#define ROUTINES_system(index, entry) register_entry(index, entry);
#include "runtime/interpreter/routines_register.h"
}

}  // namespace kov::routines
