// The routines the boot definitions bind to words: the type predicates (a datatype test or a
// typeset test each), the shifts, quiet setters, stack introspection, tuple makers, standard
// output, the system's facts and the collector's statistics. Each entry gets its arguments
// from the argument base and leaves its result there.
#include "runtime/collector.h"
#include "runtime/console_output.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/event.h"
#include "runtime/datatypes/handle.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/families.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/routines.h"
#include "runtime/interpreter/stack.h"
#include "runtime/interpreter/trace.h"
#include "runtime/io/clipboard.h"
#include "runtime/io/file_routines.h"
#include "runtime/io/process_io.h"
#include "runtime/memory.h"
#include "runtime/numeric.h"
#include "runtime/platform/os.h"
#include "runtime/runtime.h"
#include "runtime/unicode.h"

namespace kov::routines {

namespace {

// ---- type predicates --------------------------------------------------------------------------------

// `data` is the datatype! the routine tests for.
void type_test(routines::Args& args, const Cell& data) { logic::make_at(*args.cell(0), cell::type(*args.cell(0)) == datatype::id_of(data)); }

// `data` is the typeset word: its value is read at every call, so redefining it changes the test.
void typeset_test(routines::Args& args, const Cell& data) {
    const Cell* ts = context::get(data);
    if (cell::is(*ts, T_unset)) error::fire(err::script_no_value, data);
    logic::make_at(*args.cell(0), typeset::contains(*ts, cell::type(*args.cell(0))));
}

// ---- shifts -----------------------------------------------------------------------------------------

int32_t bits_of(const Cell& c) { return integer::get(c) < 0 ? 0 : integer::get(c); }

void shift_right(routines::Args& args, const Cell&) {
    integer::make_at(*args.cell(0), numeric::shift_right_signed(integer::get(*args.cell(0)), static_cast<uint32_t>(bits_of(*args.cell(1)))));
}
void shift_left(routines::Args& args, const Cell&) {
    integer::make_at(*args.cell(0), static_cast<int32_t>(numeric::shift_left(static_cast<uint32_t>(integer::get(*args.cell(0))), static_cast<uint32_t>(bits_of(*args.cell(1))))));
}
void shift_logical(routines::Args& args, const Cell&) {
    integer::make_at(*args.cell(0), static_cast<int32_t>(numeric::shift_right(static_cast<uint32_t>(integer::get(*args.cell(0))), static_cast<uint32_t>(bits_of(*args.cell(1))))));
}

// ---- quiet setters ----------------------------------------------------------------------------------

void set_quiet(routines::Args& args, const Cell&) {
    uint32_t t = cell::type(*args.cell(0));
    if (t != T_word && t != T_set_word && t != T_lit_word && t != T_get_word) actions::fire_expect_arg(*args.cell(0), 0);
    Cell w = *args.cell(0);
    if (!word::context_of(w) || !context::is_context(word::context_of(w))) error::fire(err::script_not_defined, w);
    context::set_in(w, *args.cell(1), word::context_of(w), false);
    *args.cell(0) = *args.cell(1);
}

void set_slot_quiet(routines::Args& args, const Cell&) {
    uint32_t t = cell::type(*args.cell(0));
    // hash! is left out: a cell written behind its back would leave its index stale.
    bool block_like = in(t, ANY_BLOCK) && t != T_hash;
    if (!block_like) actions::fire_expect_arg(*args.cell(0), 0);
    Cell s = *args.cell(0);
    if (block::rs_length_q(s) > 0) *block::rs_head(s) = *args.cell(1);
    *args.cell(0) = unset::value;
}

// ---- process and stack -------------------------------------------------------------------------------

void quit_return(routines::Args& args, const Cell&) { runtime::exit_with(integer::get(*args.cell(0)) & 0xFF); }

void stack_size_q(routines::Args& args, const Cell&) {
    integer::make_at(*args.cell(0), static_cast<int32_t>(stack::values.top - stack::values.begin));
}

void pick_stack(routines::Args& args, const Cell&) {
    int32_t i = integer::get(*args.cell(0));
    int32_t size = static_cast<int32_t>(stack::values.top - stack::values.begin);
    if (i > 0 && i < size) *args.cell(0) = stack::values.begin[i - 1];
    else *args.cell(0) = none::value;
}

void frame_index_q(routines::Args& args, const Cell&) {
    integer::make_at(*args.cell(0), static_cast<int32_t>(stack::values.args - stack::values.begin));
}

void tracing_q(routines::Args& args, const Cell&) { logic::make_at(*args.cell(0), trace::active); }

// The library's `trace` with a logic!: pauses (false) or resumes (true) the events of the
// running trace; outside a run the switch stays off.
void trace_switch(routines::Args& args, const Cell&) {
    trace::active = logic::true_value_q(*args.cell(0), false, nullptr) && trace::requested;
    *args.cell(0) = unset::value;
}

// Standard output as the file writer gives it: a string's text, a binary's bytes as they
// are, any other value molded.
void write_stdout(routines::Args& args, const Cell&) {
    Cell v = *args.cell(0);
    if (cell::is(v, T_binary)) {
        console::write_bytes(binary::head_pointer(v), binary::length(v));
    } else {
        if (!cell::is(v, T_string)) {
            Cell* text = string::push(16, 1);
            auto fn = actions::lookup<actions::slot::mold>(cell::type(v));
            if (!fn) error::fire(err::script_invalid_arg, v);
            fn(&v, text, MoldArgs{}, 0x7FFFFFFF);
            v = *text;
        }
        print_hooks::print(v, false);
    }
    *args.cell(0) = unset::value;
}

void os_info(routines::Args& args, const Cell&) { io::os_info(args.cell(0)); }

// ---- tuples --------------------------------------------------------------------------------------

void as_color(routines::Args& args, const Cell&) {
    for (int i = 0; i < 3; ++i)
        if (integer::get(*args.cell(i)) < 0) error::fire(err::script_invalid_arg, *args.cell(i));
    uint8_t bytes[3] = {static_cast<uint8_t>(integer::get(*args.cell(0))), static_cast<uint8_t>(integer::get(*args.cell(1))), static_cast<uint8_t>(integer::get(*args.cell(2)))};
    tuple::make_at(*args.cell(0), bytes, 3);
}

void as_ipv4(routines::Args& args, const Cell&) {
    for (int i = 0; i < 4; ++i)
        if (integer::get(*args.cell(i)) < 0) error::fire(err::script_invalid_arg, *args.cell(i));
    auto byte = [&](int i) { return static_cast<uint32_t>(integer::get(*args.cell(i))); };
    uint32_t word = byte(0) | (byte(1) << 8) | (byte(2) << 16) | (byte(3) << 24);
    uint8_t bytes[4] = {static_cast<uint8_t>(word), static_cast<uint8_t>(word >> 8), static_cast<uint8_t>(word >> 16),
                        static_cast<uint8_t>(word >> 24)};
    tuple::make_at(*args.cell(0), bytes, 4);
}

void count_chars(routines::Args& args, const Cell&) {
    memory::Buffer* b = memory::buffer(series::node_of(*args.cell(0)));
    const uint8_t* p = b->head_ptr() + series::position_of(*args.cell(0));
    uint32_t end = series::position_of(*args.cell(1));
    const uint8_t* tail = b->head_ptr() + (end < b->used() ? end : b->used());
    int32_t n = 0;
    while (p < tail) {
        int32_t cp;
        p = unicode::decode_utf8_char(p, tail, cp);
        ++n;
    }
    integer::make_at(*args.cell(0), n);
}

// ---- the collector ---------------------------------------------------------------------------------

void gc_active_q(routines::Args& args, const Cell&) { logic::make_at(*args.cell(0), collector::enabled()); }
void gc_series_cycles(routines::Args& args, const Cell&) { integer::make_at(*args.cell(0), static_cast<int32_t>(collector::collections())); }
// Every collection sweeps the node table as it compacts the series frames.
void gc_nodes_cycles(routines::Args& args, const Cell&) { integer::make_at(*args.cell(0), static_cast<int32_t>(collector::node_sweeps())); }

// The null handle! (value 0, kind null).
void make_null_handle(routines::Args& args, const Cell&) { handle::make_at(*args.cell(0), 0, handle::null); }


}  // namespace

void init_builtin() {
#define ROUTINES_builtin(index, entry) register_entry(index, entry);
#define ROUTINES_event(index, entry) register_entry(index, event::entry);
#define ROUTINES_files(index, entry) register_entry(index, io::entry);
#define ROUTINES_clipboard(index, entry) register_entry(index, io::entry);
#include "runtime/interpreter/routines_register.h"
}

}  // namespace kov::routines
