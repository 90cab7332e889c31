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
void type_test(Cell* args, const Cell& data) { logic::make_at(args[0], cell::type(args[0]) == datatype::id_of(data)); }

// `data` is the typeset word: its value is read at every call, so redefining it changes the test.
void typeset_test(Cell* args, const Cell& data) {
    const Cell* ts = context::get(data);
    if (cell::is(*ts, T_unset)) error::fire(err::script_no_value, data);
    logic::make_at(args[0], typeset::contains(*ts, cell::type(args[0])));
}

// ---- shifts -----------------------------------------------------------------------------------------

int32_t bits_of(const Cell& c) { return integer::get(c) < 0 ? 0 : integer::get(c); }

void shift_right(Cell* args, const Cell&) {
    integer::make_at(args[0], numeric::shift_right_signed(integer::get(args[0]), static_cast<uint32_t>(bits_of(args[1]))));
}
void shift_left(Cell* args, const Cell&) {
    integer::make_at(args[0], static_cast<int32_t>(numeric::shift_left(static_cast<uint32_t>(integer::get(args[0])), static_cast<uint32_t>(bits_of(args[1])))));
}
void shift_logical(Cell* args, const Cell&) {
    integer::make_at(args[0], static_cast<int32_t>(numeric::shift_right(static_cast<uint32_t>(integer::get(args[0])), static_cast<uint32_t>(bits_of(args[1])))));
}

// ---- quiet setters ----------------------------------------------------------------------------------

void set_quiet(Cell* args, const Cell&) {
    uint32_t t = cell::type(args[0]);
    if (t != T_word && t != T_set_word && t != T_lit_word && t != T_get_word) actions::fire_expect_arg(args[0], 0);
    Cell w = args[0];
    if (!word::context_of(w) || !context::is_context(word::context_of(w))) error::fire(err::script_not_defined, w);
    context::set_in(w, args[1], word::context_of(w), false);
    args[0] = args[1];
}

void set_slot_quiet(Cell* args, const Cell&) {
    uint32_t t = cell::type(args[0]);
    // hash! is left out: a cell written behind its back would leave its index stale.
    bool block_like = in(t, ANY_BLOCK) && t != T_hash;
    if (!block_like) actions::fire_expect_arg(args[0], 0);
    Cell s = args[0];
    if (block::rs_length_q(s) > 0) *block::rs_head(s) = args[1];
    args[0] = unset::value;
}

// ---- process and stack -------------------------------------------------------------------------------

void quit_return(Cell* args, const Cell&) { runtime::exit_with(integer::get(args[0]) & 0xFF); }

void stack_size_q(Cell* args, const Cell&) {
    integer::make_at(args[0], static_cast<int32_t>(stack::values.top - stack::values.begin));
}

void pick_stack(Cell* args, const Cell&) {
    int32_t i = integer::get(args[0]);
    int32_t size = static_cast<int32_t>(stack::values.top - stack::values.begin);
    if (i > 0 && i < size) args[0] = stack::values.begin[i - 1];
    else args[0] = none::value;
}

void frame_index_q(Cell* args, const Cell&) {
    integer::make_at(args[0], static_cast<int32_t>(stack::values.args - stack::values.begin));
}

void tracing_q(Cell* args, const Cell&) { logic::make_at(args[0], trace::active); }

// The library's `trace` with a logic!: pauses (false) or resumes (true) the events of the
// running trace; outside a run the switch stays off.
void trace_switch(Cell* args, const Cell&) {
    trace::active = logic::true_value_q(args[0], false, nullptr) && trace::requested;
    args[0] = unset::value;
}

// Standard output as the file writer gives it: a string's text, a binary's bytes as they
// are, any other value molded.
void write_stdout(Cell* args, const Cell&) {
    Cell v = args[0];
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
    args[0] = unset::value;
}

void os_info(Cell* args, const Cell&) { io::os_info(&args[0]); }

// ---- tuples --------------------------------------------------------------------------------------

void as_color(Cell* args, const Cell&) {
    for (int i = 0; i < 3; ++i)
        if (integer::get(args[i]) < 0) error::fire(err::script_invalid_arg, args[i]);
    uint8_t bytes[3] = {static_cast<uint8_t>(integer::get(args[0])), static_cast<uint8_t>(integer::get(args[1])), static_cast<uint8_t>(integer::get(args[2]))};
    tuple::make_at(args[0], bytes, 3);
}

void as_ipv4(Cell* args, const Cell&) {
    for (int i = 0; i < 4; ++i)
        if (integer::get(args[i]) < 0) error::fire(err::script_invalid_arg, args[i]);
    auto byte = [&](int i) { return static_cast<uint32_t>(integer::get(args[i])); };
    uint32_t word = byte(0) | (byte(1) << 8) | (byte(2) << 16) | (byte(3) << 24);
    uint8_t bytes[4] = {static_cast<uint8_t>(word), static_cast<uint8_t>(word >> 8), static_cast<uint8_t>(word >> 16),
                        static_cast<uint8_t>(word >> 24)};
    tuple::make_at(args[0], bytes, 4);
}

void count_chars(Cell* args, const Cell&) {
    memory::Buffer* b = memory::buffer(series::node_of(args[0]));
    const uint8_t* p = b->head_ptr() + series::position_of(args[0]);
    uint32_t end = series::position_of(args[1]);
    const uint8_t* tail = b->head_ptr() + (end < b->used() ? end : b->used());
    int32_t n = 0;
    while (p < tail) {
        int32_t cp;
        p = unicode::decode_utf8_char(p, tail, cp);
        ++n;
    }
    integer::make_at(args[0], n);
}

// ---- the collector ---------------------------------------------------------------------------------

void gc_active_q(Cell* args, const Cell&) { logic::make_at(args[0], collector::enabled()); }
void gc_series_cycles(Cell* args, const Cell&) { integer::make_at(args[0], static_cast<int32_t>(collector::collections())); }
// Every collection sweeps the node table as it compacts the series frames.
void gc_nodes_cycles(Cell* args, const Cell&) { integer::make_at(args[0], static_cast<int32_t>(collector::node_sweeps())); }

// The null handle! (value 0, kind null).
void make_null_handle(Cell* args, const Cell&) { handle::make_at(args[0], 0, handle::null); }

// Not available yet: the I/O, OS and clipboard routines raise internal/not-done.
void not_done(Cell*, const Cell&) { error::fire(err::internal_not_done); }

}  // namespace

void init_builtin() {
    static bool done = false;
    if (done) return;
    done = true;
    add("type-test", type_test);
    add("typeset-test", typeset_test);
    add("make-null-handle", make_null_handle);
    add("shift-right", shift_right);
    add("shift-left", shift_left);
    add("shift-logical", shift_logical);
    add("set-quiet", set_quiet);
    add("set-slot-quiet", set_slot_quiet);
    add("quit-return", quit_return);
    add("stack-size?", stack_size_q);
    add("pick-stack", pick_stack);
    add("frame-index?", frame_index_q);
    add("tracing?", tracing_q);
    add("trace-switch", trace_switch);
    add("write-stdout", write_stdout);
    add("os-info", os_info);
    add("as-color", as_color);
    add("as-ipv4", as_ipv4);
    add("count-chars", count_chars);
    add("gc-active?", gc_active_q);
    add("gc-series-cycles", gc_series_cycles);
    add("gc-nodes-cycles", gc_nodes_cycles);
    add("not-done", not_done);
    add("event?", event::event_q_routine);
    add("find-flag?", event::find_flag_q_routine);
    add("send-event-os", event::send_event_os_routine);
    add("exists?", io::exists_q_routine);
    add("create-dir", io::create_dir_routine);
    add("get-current-dir", io::get_current_dir_routine);
    add("set-current-dir", io::set_current_dir_routine);
    add("read-clipboard", io::read_clipboard_routine);
    add("write-clipboard", io::write_clipboard_routine);
}

}  // namespace kov::routines
