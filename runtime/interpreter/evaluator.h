// What the interpreter's own files share: the walker (walker.cpp), the call protocol (call.cpp),
// paths (path.cpp) and the compiled executor (compiled/), which goes on with the walker from
// any position and calls functions the walker's way. Not for other modules: interp.h is the
// interpreter's interface.
//
// Moving memory: the helpers here read cells and frames in place; whatever evaluates code
// (expression, fetch_and_run, the block runs) may allocate, collect and move any series.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/cells.h"
#include "runtime/collector.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/scalar.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/families.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/compiled/code_cache.h"
#include "runtime/interpreter/interp.h"
#include "runtime/interpreter/natives.h"
#include "runtime/interpreter/stack.h"
#include "runtime/interpreter/trace.h"
#include "runtime/memory.h"
#include "runtime/platform/os.h"

namespace kov::interp {

using memory::Node;
using cells::at;

// ---- cells of the code -----------------------------------------------------------------------------

// The code's cells and the end of the evaluation, the smaller of the end known when it
// started and the tail now; valid until the next allocation or call into Kov code.
struct Cursor {
    const Cell* cells;
    uint32_t limit;
};
inline Cursor cursor(Node code, uint32_t end) {
    memory::Buffer* b = memory::buffer(code);
    uint32_t tail = b->used() / sizeof(Cell);
    return {cells::of(b), tail < end ? tail : end};
}

// The end of the code: the smaller of the end known when evaluation started and the tail now.
inline uint32_t clip(Node code, uint32_t end) {
    uint32_t t = tail_index(code);
    return t < end ? t : end;
}

inline Cell word_of(uint32_t symbol) { return word::cell_of(T_word, symbol); }
inline Cell datatype_of(const Cell& v) { return datatype::make(cell::type(v)); }

// What a word or path calls where it stands: every any-function! but op!, which is called
// only infix (through the look-ahead after an expression).
inline bool called_prefix(uint32_t t) { return in(t, ANY_FUNCTION) && t != T_op; }
// A path calls whatever function it reaches, an operator too: never infix, but as the
// function it was made from, with its two arguments after the path.
inline bool called_by_path(uint32_t t) { return in(t, ANY_FUNCTION); }

// The native stack is guarded as well as the value stack: deep recursion of Kov code raises
// stack-overflow long before the machine stack ends.
inline void check_depth() {
    if (os::stack_exhausted()) stack::overflow();
}

// The value of a bound, resolved word without raising (null otherwise): the infix look-ahead
// must not fail on a word that merely follows an expression.
inline const Cell* bound_value(const Cell& word) { return context::bound_slot(word); }

// The operator a cell stands for where the walker looks for one after a value, or null.
inline const Cell* infix_op_at(const Cell& c) {
    if (!cell::is(c, T_word) || word::context_of(c) == 0) return nullptr;
    const Cell* value = bound_value(c);
    return value && cell::is(*value, T_op) ? value : nullptr;
}

// An operator value as its function: the op cell keeps the function's type in its header.
inline Cell op_function(const Cell& op) {
    Cell fn = op;
    cell::set_type(fn, function::wrapped_type(fn));
    fn.header &= 0xFF;
    return fn;
}
// What a call through a path runs: an operator's function, or the value itself.
inline Cell prefix_form(const Cell& fn) { return cell::is(fn, T_op) ? op_function(fn) : fn; }

// The values eval_single leaves to eval_other: every type that needs more than a push.
inline bool needs_work(uint32_t t) {
    switch (t) {
    case T_paren: case T_lit_word: case T_get_word: case T_native: case T_action: case T_function:
    case T_routine: case T_op: case T_path: case T_lit_path: case T_get_path: case T_set_path: case T_issue:
        return true;
    default:
        return false;
    }
}

// ---- fetch specs (call.cpp) ---------------------------------------------------------------------
// The compiled form of a function's spec, cached in its "more" block (cell 1): a uint32 series
// with a five-word header {fixed, refinements, has /local, locals, items} and one six-word
// item per spec word: {tag, kind, ts1, ts2, ts3, symbol}. For a refinement item, kind is its
// ordinal and ts1 its argument count.

enum Tag : uint32_t { tag_arg = 0, tag_refinement = 1, tag_refinement_arg = 2, tag_local = 3 };
enum ArgKind : uint32_t { kind_normal = 0, kind_get = 1, kind_literal = 2 };

struct SpecHeader {
    uint32_t fixed, refinements, has_local, locals, items;
};
struct SpecItem {
    uint32_t tag, kind, ts1, ts2, ts3, symbol;
};

inline const SpecHeader& header_of(Node spec) {
    return *reinterpret_cast<const SpecHeader*>(memory::buffer(spec)->head_ptr());
}
inline const SpecItem& item_of(Node spec, uint32_t i) {
    return reinterpret_cast<const SpecItem*>(memory::buffer(spec)->head_ptr() + sizeof(SpecHeader))[i];
}

// The spec to fetch a call's arguments by: the function's compiled spec series and its header.
// The series may move while an argument is evaluated: an item is read again after it.
struct Spec {
    Node node = 0;
    SpecHeader h{};
    const SpecItem& item(uint32_t i) const { return item_of(node, i); }
};

// The spec of a call when it is kept already (reading it then allocates nothing); else false.
inline bool kept_spec(const Cell& fn, Spec& spec) {
    const Cell& cache = function::more(fn)[1];
    if (!cell::is(cache, T_binary)) return false;
    spec.node = series::node_of(cache);
    spec.h = header_of(spec.node);
    return true;
}
// The spec of a call, built and kept at its first call. cached: set when it is kept (and so
// reachable through the function); a spec naming a type word that has no value yet is used
// but not kept.
Spec fetch_spec(const Cell& fn, bool& cached);

// The spec item of the refinement a word names: the spelling of the spec first, then any
// spelling that differs only in case; no_item when the spec has none.
constexpr uint32_t no_item = 0xFFFFFFFFu;
uint32_t refinement_item(const Spec& spec, const Cell& word);

// The cell a function's frame starts with for a spec item after the fixed arguments: false
// for a refinement, none for its arguments, and for /local false (the flag) or none; false
// given for an item that has no slot.
inline bool frame_slot(const SpecItem& item, Cell& out) {
    if (item.tag == tag_refinement) out = logic::false_value;
    else if (item.tag == tag_refinement_arg) out = none::value;
    else if (item.tag == tag_local) out = item.kind == 0xFFFFFFFFu ? logic::false_value : none::value;
    else return false;
    return true;
}

// ---- arguments and entries (call.cpp) -------------------------------------------------------------

[[noreturn, gnu::noinline]] void fire_expect_arg(const Cell& value, uint32_t symbol, const Cell* name);

// Every argument is checked against its typeset: inline, the common case being a match.
inline void check_type(const Cell& value, const SpecItem& item, const Cell* name) {
    Cell ts{T_typeset, item.ts1, item.ts2, item.ts3};
    if (!typeset::contains(ts, cell::type(value))) [[unlikely]]
        fire_expect_arg(value, item.symbol, name);
}

// A function's body run (call_function, and a call node's run of its callee's form): while it
// lasts, the function's context reads its values in the frame's arguments, the function is
// the running one and `return` may end it; on every way out (an error too) the context's
// values and the running record are put back. depth: the exit depth the run's end consumes.
class FunctionRun {
public:
    explicit FunctionRun(const Cell& fn)
        : ctx_cell_{function::context_of(fn)}, saved_(context::values_of(*ctx_cell_)), running_(context::running) {
        context::set_values(*ctx_cell_, stack::index_of(stack::values.args) + 1);
        context::running = {ctx_cell_.node, stack::values.args,
                            static_cast<uint32_t>(stack::values.top - stack::values.args)};
        depth = stack::depth();
        stack::set_return_flag(true);
    }
    ~FunctionRun() {
        context::set_values(*ctx_cell_, saved_);
        context::running = running_;
    }
    FunctionRun(const FunctionRun&) = delete;
    FunctionRun& operator=(const FunctionRun&) = delete;
    uint32_t depth;

private:
    cells::View ctx_cell_;
    uint32_t saved_;
    context::Running running_;
};

// No refinement given: what a native's Args reads for a call without any.
extern const int32_t no_refinements_given[32];

// A native's entry, or else (an action) the entry of its slot; null where its table has none.
inline natives::Entry entry_of(const Cell& fn) {
    uint32_t k = function::entry_index(fn);
    if (cell::is(fn, T_native)) return k <= natives::capacity ? natives::table[k] : nullptr;
    return k >= 1 && k <= actions::slot_count ? actions::entries[k - 1] : nullptr;
}

// Runs a native's or action's entry on the frame made for it.
inline void run_entry(const Cell& fn, const int32_t* refinements) {
    natives::Entry e = entry_of(fn);
    if (!e) error::fire(err::internal_not_done);
    natives::Args args(refinements);
    e(args);
}

// Ends a call made from the code: its frame popped, its result moved down onto the function
// value's cell (slot), which becomes the caller's next value.
[[gnu::always_inline]] inline void end_call(Cell* slot) {
    stack::unwind();
    slot[0] = slot[1];
    stack::values.top = slot + 1;
}

// Fetches the arguments of a call and, for a native or action, runs its entry. The frame is
// already pushed; the argument base is its first argument cell. The first `ready` arguments
// are in place already: an infix operator's left operand (and its right one, when compiled
// code has fetched it), or the arguments compiled code fetched before it handed the call over.
// fn lies on the value stack, below the argument base, for the whole call: it stays reachable
// and so does its cached spec. The traced instance fires the call event and lets no argument
// past the events.
template <bool traced>
uint32_t fetch_and_run(const Cell& fn_copy, Node code, uint32_t pos, uint32_t end, const Cell* name, const CallHow& how,
                       uint32_t ready = 0);

// ---- block runs and expressions (walker.cpp) -----------------------------------------------------------

// The code being evaluated is restored on every way out, an error included: a stale
// `current` would keep naming a block that may be collected and its node reused. Only the
// user's code moves it, so the system's own code has nothing to restore.
struct RestorePosition {
    Cell saved{};
    uint32_t saved_depth = 0;
    bool active;
    explicit RestorePosition(bool user_code) : active(user_code) {
        if (active) {
            saved = current;
            saved_depth = current_depth;
        }
    }
    ~RestorePosition() {
        if (active) {
            current = saved;
            current_depth = saved_depth;
        }
    }
};

// One expression from pos, into the result cell (the argument base) or pushed. The traced
// instance fires its events; the other has none to test but the switch, on which it hands the
// expression to the traced one.
template <bool traced>
uint32_t expression(Node code, uint32_t pos, uint32_t end, Infix infix, Result result);

// The infix operators after a value (at start, the top of the stack), applied left to right
// from pos while the word there holds an op!, as the untraced walker applies them; gives the
// position after the last one.
[[gnu::noinline]] uint32_t continue_infix(Node code, uint32_t pos, uint32_t end, Cell* start);

// The statements of a block with a form that run compiled from pos, into the result cell (the
// argument base): gives the position from which the walker goes on (pos itself when none
// ran), or ran_to_end (compiled/).
constexpr uint32_t ran_to_end = 0xFFFFFFFFu;
[[gnu::noinline]] uint32_t run_compiled_statements(uint32_t type, Node code, uint32_t pos, uint32_t end,
                                                   Cell* result);

// compiled: the statements of a block with a form run compiled where they can, up to the first
// that the walker must take (function bodies, blocks given to do, and loop bodies, branches and
// parens through eval_frameless). Value statements run no code and raise nothing, so nothing
// sees that `current` stays as it was until the walker takes over, which sets it as it would
// have; a statement that runs code sets it for its own run. While tracing, block runs take the
// walker (the traced instance is never compiled).
template <bool traced, bool compiled>
[[gnu::always_inline]] inline void run_expressions_as(uint32_t type, Node code, uint32_t pos, uint32_t end,
                                                      Cell* result) {
    // Ctrl+C: polled at every block run (loop bodies, function calls) and between statements.
    if (__builtin_expect(os::interrupt_flag != 0, 0) && stack::raise_interrupt()) {
        *result = unset::value;
        return;
    }
    memory::Buffer* buffer = memory::buffer(code);
    uint32_t flags = buffer->flags;
    bool user_code = !(flags & memory::system_code);
    // A block with its form in place, or left to the walker, costs these tests alone (unless
    // checking).
    if (!(flags & memory::has_form)) {
        if (buffer->spare < code_cache::walked_only) [[unlikely]] code_cache::note_run(code);
    } else {
        if (check_forms) [[unlikely]] code_cache::note_run(code);
        if constexpr (compiled) {
            if (!walker_only) {
                pos = run_compiled_statements(type, code, pos, end, result);
                if (pos == ran_to_end) return;
            }
        }
    }
    RestorePosition restore(user_code);
    if constexpr (traced) trace::fire(trace::ev_enter, code, type, pos, nullptr, nullptr);
    if (pos >= end) {
        *result = unset::value;
        if constexpr (traced) trace::fire(trace::ev_exit, code, type, end, result, nullptr);
        return;
    }
    // `current` is written whole each time: a nested evaluation copies it soon after, which
    // would wait for a cell written word by word (see cell::store).
    if (user_code) {
        current_depth = stack::depth();
        cell::store(current, type, pos, code, 0);
    }
    // The block's expressions take its instance: a trace started or resumed inside one of
    // them shows from the next block run on.
    while (true) {
        pos = expression<traced>(code, pos, end, Infix::apply, Result::to_base);
        if (stack::exiting()) break;
        if constexpr (traced) trace::fire(trace::ev_expr, code, type, pos, result, nullptr);
        end = clip(code, end);
        if (pos >= end) break;
        stack::values.top = result + 1;
        // Ctrl+C between the statements of a long block too (one that runs no other block).
        if (__builtin_expect(os::interrupt_flag != 0, 0) && stack::raise_interrupt()) break;
        if (user_code) cell::store(current, type, pos, code, 0);
    }
    if constexpr (traced) trace::fire(trace::ev_exit, code, type, pos, result, nullptr);
}

[[gnu::cold, gnu::noinline]] void run_expressions_traced(uint32_t type, Node code, uint32_t pos, uint32_t end,
                                                          Cell* result);

template <bool compiled = false>
[[gnu::always_inline]] inline void run_expressions(uint32_t type, Node code, uint32_t pos, uint32_t end,
                                                   Cell* result) {
    if (trace::active) [[unlikely]] return run_expressions_traced(type, code, pos, end, result);
    run_expressions_as<false, compiled>(type, code, pos, end, result);
}

// Evaluates the block or paren without a frame of its own; its value is left pushed. The
// result cell stands where a frame's would; the caller's argument base comes back from this
// C++ frame, or from the barrier that catches an error.
//
// The block is kept alive while it runs: the native that hands it over may have dropped its
// argument cells (stack::keep), and the code it runs may drop the last reference to it.
[[gnu::always_inline]] inline Cell* eval_frameless(const Cell& block) {
    check_depth();
    Cell* caller_args = stack::values.args;
    Cell* result = stack::reserve();
    stack::values.args = result;
    Node code = series::node_of(block);
    collector::RootNode keep(code);
    run_expressions<true>(cell::is(block, T_paren) ? T_paren : T_block, code, series::position_of(block), tail_index(code), result);
    stack::values.args = caller_args;
    stack::values.top = result + 1;
    return result;
}

// The expression at pos of a block that a native evaluates one expression at a time (any, all,
// case, reduce, do/next, apply), when its form has a value statement there that runs: its
// value in the argument base, next past it. Else false, having done nothing. Value statements
// run no code and raise nothing, so nothing sees that no expression of the walker's ran
// (compiled/).
bool value_at(Node code, uint32_t pos, uint32_t end, uint32_t& next);

}  // namespace kov::interp
