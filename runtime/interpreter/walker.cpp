// The walker: evaluates a block one expression at a time, reading each cell where it stands.
// A block run (run_expressions_as, evaluator.h) moves `current` from expression to expression
// in the user's code; an expression (expression) is an optional set-word, a single value
// (eval_single: a word's value, or the call of the function it holds; eval_other for parens,
// paths and the rarer kinds), then the infix operators that follow it (infix_loop), applied
// strictly left to right. The walker is the reference: the compiled executor (compiled/) runs
// the same code with the same frames and results, and goes on with the walker wherever it
// cannot.
//
// Moving memory: every evaluation may allocate and move any series: positions are indexes,
// and cells of the code are read again after anything has run.
#include "runtime/datatypes/symbol.h"
#include "runtime/interpreter/interp.h"
#include "runtime/cells.h"
#include "runtime/interpreter/compiled/code_cache.h"
#include "runtime/collector.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/scalar.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/datatypes/vector.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/families.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/natives.h"
#include "runtime/interpreter/routines.h"
#include "runtime/interpreter/stack.h"
#include "runtime/interpreter/trace.h"
#include "runtime/platform/os.h"
#include "runtime/series_buffer.h"
#include "runtime/interpreter/evaluator.h"
#include "runtime/words.h"

namespace kov::interp {

Cell current{T_none, 0, 0, 0};
uint32_t current_depth = 0;

namespace {
void mark_current() { collector::mark_cell(current); }
}  // namespace

const Cell* current_cell() {
    if (!(cell::is(current, T_block) || cell::is(current, T_paren)) || !memory::valid_node(series::stored_node_of(current)))
        return nullptr;
    Node code = series::node_of(current);
    uint32_t pos = series::position_of(current);
    if (memory::buffer(code)->unit() != sizeof(Cell) || pos >= tail_index(code)) return nullptr;
    return &at(code, pos);
}

bool walker_only = false;
bool check_forms = false;

namespace {
bool env_flag(const char* name) {
    char value[8];
    return os::get_env(name, value, sizeof value) > 0 && value[0] != '0';
}
}  // namespace

void init() {
    static bool done = false;
    if (done) return;
    done = true;
    walker_only = env_flag("KOV_WALKER_ONLY");
    // Checking builds check unless told not to: the paths that run only unchecked (loop runs,
    // branches run straight from their forms) are then run under the sanitizers too.
    char value[8];
    bool given = os::get_env("KOV_CHECK_FORMS", value, sizeof value) > 0;
#ifdef KOV_CHECK_FORMS
    check_forms = !given || value[0] != '0';
#else
    check_forms = given && value[0] != '0';
#endif
    code_cache::init();
    collector::push_root(mark_current);
}

void run_expressions_traced(uint32_t type, Node code, uint32_t pos, uint32_t end, Cell* result) {
    run_expressions_as<true, false>(type, code, pos, end, result);
}

void eval_range(uint32_t type, Node code, uint32_t pos, uint32_t end, bool keep_last) {
    check_depth();
    collector::RootNode keep(code);  // as eval_frameless keeps its block
    stack::push_frame(stack::eval, nullptr);
    stack::reserve();  // the result cell
    run_expressions<true>(type, code, pos, end, stack::values.args);
    if (keep_last) stack::unwind_last();
    else stack::unwind();
}

void eval_block(const Cell& block, bool keep_last) {
    Node code = series::node_of(block);
    uint32_t end = tail_index(code);
    eval_range(cell::is(block, T_paren) ? T_paren : T_block, code, series::position_of(block), end, keep_last);
}

uint32_t eval_next(Node code, uint32_t pos, uint32_t end, bool push) {
    stack::push_frame(stack::interp_native, nullptr);
    stack::reserve();
    uint32_t next;
    if (value_at(code, pos, end, next)) pos = next;
    else pos = eval_expression(code, pos, end, Infix::apply, Result::to_base);
    if (push) stack::unwind();
    else stack::unwind_last();
    return pos;
}

void note_expressions_run(Node code) {
    if (!(memory::buffer(code)->flags & memory::has_form) || check_forms) code_cache::note_run(code);
}

uint32_t eval_pushed(Node code, uint32_t pos, uint32_t end) {
    Cell* slot = stack::reserve();
    Cell* caller_args = stack::values.args;
    stack::values.args = slot;
    uint32_t next;
    bool ran = value_at(code, pos, end, next);
    stack::values.args = caller_args;
    if (ran) return next;
    stack::values.top = slot;
    return eval_expression(code, pos, end, Infix::apply, Result::push);
}

namespace {

[[gnu::noinline]] uint32_t eval_other(Cell v, Node code, uint32_t pos, uint32_t end);

// Evaluates the single value at pos (no infix); pushes the result; gives the next position.
// Words, set-words and values that stand for themselves are done here; the rest, rarer,
// out of line, which keeps this path short.
template <bool traced>
inline uint32_t eval_single(Cell v, Node code, uint32_t pos, uint32_t end) {
    ++pos;
    switch (cell::type(v)) {
    case T_word: {
        const Cell* value = context::get(v);
        uint32_t t = cell::type(*value);
        if (called_prefix(t)) {
            Cell f = *value;
            return call(f, code, pos, end, &v);
        }
        if (t == T_unset) error::fire(err::script_no_value, v);
        if (t == T_op) error::fire(err::script_no_op_arg, v);
        stack::push(*value);
        if constexpr (traced) trace::pushed(code, pos, stack::values.top - 1);
        return pos;
    }
    case T_set_word:
        // A set-word after another one (a: b: 1): set by its own expression's evaluation, one
        // native level deeper per set-word of the chain, so it is guarded like any nesting.
        check_depth();
        return eval_expression(code, pos - 1, end, Infix::apply, Result::push);
    default:
        if (needs_work(cell::type(v))) return eval_other(v, code, pos, end);
        stack::push(v);
        if constexpr (traced) trace::pushed(code, pos, stack::values.top - 1);
        return pos;
    }
}

uint32_t eval_other(Cell v, Node code, uint32_t pos, uint32_t end) {
    switch (cell::type(v)) {
    case T_paren:
        eval_frameless(v);  // no frame: the paren's value is left pushed
        return pos;
    case T_lit_word:
        cell::set_type(v, T_word);
        stack::push(v);
        if (trace::active) [[unlikely]] trace::pushed(code, pos, stack::values.top - 1);
        return pos;
    case T_get_word:
        stack::push(*context::get(v));
        if (trace::active) [[unlikely]] trace::pushed(code, pos, stack::values.top - 1);
        return pos;
    case T_native:
    case T_action:
    case T_function:
    case T_routine:
        return call(v, code, pos, end, nullptr);
    case T_op:
        error::fire(err::internal_not_done);
    case T_path:
        return eval_path(v, code, pos, end, PathMode::evaluate);
    case T_lit_path:
        cell::set_type(v, T_path);
        stack::push(v);
        if (trace::active) [[unlikely]] trace::pushed(code, pos, stack::values.top - 1);
        return pos;
    case T_get_path:
        return eval_path(v, code, pos, end, PathMode::get);
    case T_set_path: {
        // No frame, as for set-words: error reports name the expression `set-path` from the
        // code position. The value is the result, left where the expression put it.
        check_depth();  // a chain of set-paths nests as deep as it is long
        end = clip(code, end);
        if (pos >= end) error::fire(err::script_need_value, v);
        Cell* value = stack::values.top;
        pos = eval_expression(code, pos, end, Infix::apply, Result::push);
        if (!stack::exiting()) {
            stack::values.top = value + 1;
            eval_path(v, code, pos, end, PathMode::set);
            stack::values.top = value + 1;
            if (trace::active) [[unlikely]] trace::fire(trace::ev_set, code, T_block, pos, value, &v);
        }
        return pos;
    }
    case T_issue:
        // #system and #system-global before a block mark code meant for compilation.
        if (pos < clip(code, end) && cell::is(at(code, pos), T_block) &&
            (symbol::resolve(word::symbol_of(v)) == symbol::resolve(words::symbols::system) ||
             symbol::resolve(word::symbol_of(v)) == symbol::resolve(words::symbols::system_global)))
            error::fire(err::internal_kov_system);
        stack::push(v);
        return pos;
    default:
        stack::push(v);
        return pos;
    }
}


}  // namespace

namespace {
[[gnu::noinline]] uint32_t expression_traced(Node code, uint32_t pos, uint32_t end, Infix infix, Result result);
}  // namespace

// The infix operators after a value (at start, the top of the stack), applied left to right
// from pos while the word there holds an op!; gives the position after the last one.
template <bool traced>
[[gnu::always_inline]] inline uint32_t infix_loop(Node code, uint32_t pos, uint32_t end, Cell* start) {
    while (!stack::exiting()) {
        Cursor c = cursor(code, end);
        end = c.limit;
        if (pos >= end) return pos;
        Cell name = c.cells[pos];
        const Cell* value = infix_op_at(name);
        if (!value) return pos;
        stack::values.top = start + 1;  // the value just produced is the left operand
        if constexpr (traced) trace::operator_found(code, pos);
        pos = call(op_function(*value), code, pos + 1, end, &name, CallHow{.infix = true});
    }
    return pos;
}

// The untraced instance, for a compiled statement whose walker would be the untraced one.
uint32_t continue_infix(Node code, uint32_t pos, uint32_t end, Cell* start) {
    return infix_loop<false>(code, pos, end, start);
}

template <bool traced>
uint32_t expression(Node code, uint32_t pos, uint32_t end, Infix infix, Result result) {
    if constexpr (!traced)
        if (trace::active) [[unlikely]] return expression_traced(code, pos, end, infix, result);
    Cell* start = stack::values.top;
    if constexpr (traced) trace::fetch(code, pos);
    // The code's cells are read through one look-up, made again after anything that may
    // move them (evaluating a value, calling an operator).
    Cursor c = cursor(code, end);
    Cell v = c.cells[pos];
    // A set-word starting the expression takes the value of the whole expression after it,
    // infix operators included; it is set here, without another level of evaluation (set-words
    // that follow it take eval_single's way).
    Cell target;
    bool setting = cell::is(v, T_set_word);
    if (setting) {
        target = v;
        end = c.limit;
        if (++pos >= end) error::fire(err::script_need_value, target);
        v = c.cells[pos];
        infix = Infix::apply;
        if constexpr (traced) trace::set_word(code, pos);
    }
    pos = eval_single<traced>(v, code, pos, end);
    if (infix == Infix::apply) pos = infix_loop<traced>(code, pos, end, start);
    if (setting && !stack::exiting()) {
        Cell value = *start;
        if (cell::is(value, T_unset)) error::fire(err::script_need_value, target);
        context::set(target, value);
    }
    if constexpr (traced) if (setting) trace::set(code, pos, start, target);
    if (result == Result::to_base) {
        *stack::values.args = *start;
        stack::values.top = start;
    }
    return pos;
}

template uint32_t expression<false>(Node, uint32_t, uint32_t, Infix, Result);
template uint32_t expression<true>(Node, uint32_t, uint32_t, Infix, Result);

namespace {
uint32_t expression_traced(Node code, uint32_t pos, uint32_t end, Infix infix, Result result) {
    return expression<true>(code, pos, end, infix, result);
}
}  // namespace

uint32_t eval_expression(Node code, uint32_t pos, uint32_t end, Infix infix, Result result) {
    return expression<false>(code, pos, end, infix, result);
}

}  // namespace kov::interp
