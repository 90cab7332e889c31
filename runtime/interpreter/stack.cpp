#include "runtime/interpreter/stack.h"

#include "runtime/cells.h"
#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/error.h"
#include "runtime/heap.h"
#include "runtime/interpreter/interp.h"
#include "runtime/memory.h"
#include "runtime/platform/os.h"

namespace kov::stack {

Values values;
uint32_t hidden_body_symbol = 0;
Frames frames;
Pending pending;

namespace {

memory::Node value_node = 0;

uint32_t hidden_anon = 0;
uint32_t throw_origin = 0;  // depth of the frame that threw, 0 when unset
// Where that throw was made, recorded at the throw: its frames are gone by the time an
// uncaught throw becomes an error.
uint32_t origin_symbol = 0, origin_context = 0;
Cell origin_near{T_none, 0, 0, 0};

// The context cell of a context node (its first cell).
Cell& context_cell(uint32_t node) { return *cells::of(node); }

void mark_stacks() {
    collector::mark_series(value_node);
    collector::mark_cells(values.begin, values.top);
    for (uint32_t d = 1; d <= frames.depth; ++d) {
        const Frame& f = frame_at(d);
        if (f.word_context) collector::mark_block(f.word_context);
        if (f.fn_context) collector::mark_block(f.fn_context);
    }
    collector::mark_cell(pending.value);
    collector::mark_cell(pending.name);
    collector::mark_cell(origin_near);
    if (origin_context) collector::mark_block(origin_context);
}

// The innermost labelled frame at or below depth d (0 symbol when none).
void labelled_frame(uint32_t d, uint32_t& symbol, uint32_t& context) {
    for (; d >= 1; --d) {
        const Frame& f = frame_at(d);
        if (f.symbol && f.symbol != hidden_body_symbol && f.symbol != hidden_anon) {
            symbol = f.symbol;
            context = f.word_context;
            return;
        }
    }
    symbol = 0;
    context = 0;
}

}  // namespace

void restore_call_frame(const Frame& f) { context::set_values(context_cell(f.fn_context), f.saved_values); }

void frame_overflow() { overflow(); }

void init() {
    if (value_node) return;
    // A fixed buffer: it never moves, so cell pointers into the stack stay valid.
    value_node = memory::alloc_fixed_series(value_stack_cells, sizeof(Cell), 0);
    memory::Buffer* b = memory::buffer(value_node);
    values.begin = reinterpret_cast<Cell*>(b->data());
    values.end = values.begin + value_stack_cells;
    values.top = values.args = values.begin;
    frames.base = static_cast<Frame*>(heap::allocate_zeroed(sizeof(Frame) * frame_capacity));
    frames.depth = 0;
    collector::push_root(mark_stacks);
}

bool ready() { return value_node != 0; }

void overflow() {
    // Moving the top back leaves room for building and raising the error.
    values.top -= 5;
    if (values.top < values.begin) values.top = values.begin;
    if (values.args > values.top) values.args = values.top;
    cycles::reset();
    error::fire(err::internal_stack_overflow);
}

// ---- frames -------------------------------------------------------------------------------------

uint32_t push_call_frame(const Cell* word, uint32_t fn_context) {
    uint32_t d = push_frame(call, word);
    Frame& f = top_frame();
    f.fn_context = fn_context;
    f.saved_values = fn_context ? context::values_of(context_cell(fn_context)) : 0;
    return d;
}

void unroll_to(uint32_t depth, Cell* top, Cell* args) {
    while (frames.depth > depth) pop_frame();
    values.top = top;
    values.args = args;
}

bool frame_barrier_q(uint32_t below, bool only_one) {
    if (below == 0) below = frames.depth;
    for (uint32_t d = below; d-- > 1;) {
        if (frame_at(d).kind & interpreted) return true;
        if (only_one) break;
    }
    return false;
}

// ---- pending exits ------------------------------------------------------------------------------

void throw_loop(bool has_value, const Cell* value, bool is_continue) {
    err::Id id = is_continue ? err::throw_continue : err::throw_break;
    for (uint32_t d = frames.depth; d >= 1; --d) {
        const Frame& f = frame_at(d);
        if (f.kind == try_all) error::fire(id);
        if ((f.kind & 0x0F) == loop) {
            pending.code = is_continue ? exit_continue : exit_break;
            pending.target = d;
            pending.value = has_value && value ? *value : unset::value;
            return;
        }
    }
    error::fire(id);
}

void throw_return(bool has_value, const Cell* value) {
    // The innermost frame is the native's own: it is never the target.
    for (uint32_t d = frames.depth; d-- > 1;) {
        const Frame& f = frame_at(d);
        if (f.kind == try_all) error::fire(err::throw_return);
        if (f.kind & return_target) {
            pending.code = has_value ? exit_return : exit_exit;
            pending.target = d;
            pending.value = has_value && value ? *value : unset::value;
            return;
        }
    }
    error::fire(err::throw_return);
}

void throw_catch(const Cell& value, const Cell* name) {
    if (!throw_origin) {
        throw_origin = frames.depth;
        labelled_frame(frames.depth - 1, origin_symbol, origin_context);
        origin_near = interp::current;
    }
    for (uint32_t d = frames.depth; d >= 1; --d) {
        const Frame& f = frame_at(d);
        if (f.kind == try_all) break;
        if ((f.kind & 0x0F) == catch_) {
            pending.code = exit_throw;
            pending.target = d;
            pending.value = value;
            pending.name = name ? *name : none::value;
            return;
        }
    }
    Cell v = value;
    error::fire(err::throw_throw, v);
}

[[gnu::cold, gnu::noinline]] bool raise_interrupt() {
    bool catcher = false;
    for (uint32_t d = frames.depth; d >= 1 && !catcher; --d) catcher = (frame_at(d).kind & 0x0F) == catch_;
    if (!catcher || exiting()) return exiting();
    os::take_interrupt();
    Cell value{T_word, 0, symbol::make("halt-request"), 0xFFFFFFFFu};
    Cell name{T_word, 0, symbol::make("console"), 0xFFFFFFFFu};
    throw_catch(value, &name);
    return true;
}

// A caught throw is over: a later error must not be reported from where it was thrown.
void throw_caught() { throw_origin = 0; }
bool throw_origin_q() { return throw_origin != 0; }
Cell throw_origin_near() { return origin_near; }

// ---- reports ------------------------------------------------------------------------------------

void set_hidden_symbols(uint32_t body, uint32_t anon) {
    hidden_body_symbol = body;
    hidden_anon = anon;
}
uint32_t body_symbol() { return hidden_body_symbol; }
uint32_t anon_symbol() { return hidden_anon; }

void caller_word(uint32_t& symbol, uint32_t& context) {
    if (throw_origin) {
        throw_origin = 0;
        symbol = origin_symbol;
        context = origin_context;
        return;
    }
    labelled_frame(frames.depth, symbol, context);
}

}  // namespace kov::stack
