// Control natives: the conditionals (if, unless, either, any, all, switch, case), the loops
// (while, until, loop, repeat, forever, foreach, forall, remove-each) and the exits (break,
// continue, exit, return, throw, catch, try).
//
// Loops run their body inside a loop frame. After each body evaluation they look at the
// pending exit: a break or continue aimed at their frame is consumed here; any other pending
// exit makes them pop their frame and return, so it travels on to its own target.
#include <algorithm>
#include <cmath>

#include <new>

#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/families.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/interp.h"
#include "runtime/interpreter/natives.h"
#include "runtime/interpreter/stack.h"
#include "runtime/interpreter/trace.h"
#include "runtime/numeric.h"
#include "runtime/words.h"

#include "refinements.h"

namespace kov::natives {

namespace {

using memory::Node;

inline const Cell& at(Node n, uint32_t i) { return reinterpret_cast<const Cell*>(memory::buffer(n)->head_ptr())[i]; }

inline bool falsy(const Cell& v) { return cell::is(v, T_none) || (cell::is(v, T_logic) && logic::get(v) == 0); }
inline bool truthy(const Cell& v) {
    if (cell::is(v, T_unset)) error::fire(err::script_no_return);
    return !falsy(v);
}

// Evaluates a block; its last value becomes the native's result.
inline void do_block(const Cell& block) {
    Cell b = block;
    stack::keep();
    interp::eval_body(b);
}

// ---- conditionals ------------------------------------------------------------------------------------

void if_(Args& args) {
    if (falsy(*args.cell(0))) none::make_at(*args.cell(0));
    else do_block(*args.cell(1));
}

void unless(Args& args) {
    if (falsy(*args.cell(0))) do_block(*args.cell(1));
    else none::make_at(*args.cell(0));
}

void either(Args& args) { do_block(truthy(*args.cell(0)) ? *args.cell(1) : *args.cell(2)); }

void any_all(Args& args, bool any) {
    Cell block = *args.cell(0);
    Node code = series::node_of(block);
    uint32_t pos = series::position_of(block);
    uint32_t end = interp::tail_index(code);
    stack::keep();
    Cell* keep = stack::push(block);  // the block stays reachable while it runs
    if (pos >= end) {
        none::make_at(*args.cell(0));
        return;
    }
    interp::note_expressions_run(code);
    while (pos < end) {
        pos = interp::eval_next(code, pos, end, false);
        if (stack::exiting()) return;
        bool f = falsy(*args.cell(0));
        if (any && !f) return;
        if (!any && f) {
            none::make_at(*args.cell(0));
            return;
        }
        uint32_t t = interp::tail_index(code);
        if (t < end) end = t;
    }
    if (any) none::make_at(*args.cell(0));
    (void)keep;
}

void any(Args& args) { any_all(args, true); }
void all(Args& args) { any_all(args, false); }

void switch_(Args& args) {
    Cell value = *args.cell(0);
    Cell cases = *args.cell(1);
    if (!cell::is(value, T_block)) {
        Node n = series::node_of(cases);
        uint32_t end = interp::tail_index(n);
        for (uint32_t i = series::position_of(cases); i < end; ++i) {
            const Cell& c = at(n, i);
            if (cell::type(c) != cell::type(value) || !actions::compare(c, value, actions::equal)) continue;
            for (uint32_t k = i + 1; k < end; ++k) {
                if (cell::is(at(n, k), T_block)) {
                    Cell body = at(n, k);
                    do_block(body);
                    return;
                }
            }
            none::make_at(*args.cell(0));
            return;
        }
    }
    if (args.given(refine::switch_::default_)) do_block(*args.option(refine::switch_::default_));
    else none::make_at(*args.cell(0));
}

void case_(Args& args) {
    Cell block = *args.cell(0);
    Node code = series::node_of(block);
    uint32_t pos = series::position_of(block);
    uint32_t end = interp::tail_index(code);
    bool all_ = args.given(refine::case_::all);
    if (pos >= end) {
        none::make_at(*args.cell(0));
        return;
    }
    stack::keep();
    stack::push(block);
    interp::note_expressions_run(code);
    bool matched = false;
    Cell last = none::value;
    collector::Root keep_last(last);
    while (pos < end) {
        if (all_) matched = false;
        pos = interp::eval_next(code, pos, end, false);
        if (stack::exiting()) return;
        end = std::min(end, interp::tail_index(code));
        if (pos >= end) error::fire(err::script_need_value, Cell{T_word, 0, words::symbols::case_, 0xFFFFFFFFu});
        if (truthy(*args.cell(0))) {
            if (cell::is(at(code, pos), T_block)) {
                Cell body = at(code, pos);
                ++pos;
                stack::push_frame(stack::interp_native, nullptr);
                stack::reserve();
                interp::eval_block(body, true);
                stack::unwind();
                if (stack::exiting()) return;
                last = stack::values.top[-1];
                stack::values.top--;
            } else {
                pos = interp::eval_next(code, pos, end, false);
                if (stack::exiting()) return;
                last = *args.cell(0);
            }
            if (!all_) {
                *args.cell(0) = last;
                return;
            }
            matched = true;
        } else {
            ++pos;  // the branch, whatever it is
        }
        end = std::min(end, interp::tail_index(code));
    }
    if (matched) *args.cell(0) = last;
    else none::make_at(*args.cell(0));
}

// ---- loops ---------------------------------------------------------------------------------------------

// Runs the body once in the loop frame at `depth`. Gives false when the loop must end: a break
// aimed at it (the result is then break's value), or a pending exit aimed elsewhere.
enum Step { go_on, stop_break, stop_exit };

Step body_ended(uint32_t depth, Cell* result);

// The body's value goes straight into the loop frame's result cell (the argument base).
Step run_body(const Cell& body, uint32_t depth, Cell* result, interp::LoopBody* prepared = nullptr) {
    stack::values.top = stack::values.args + 1;  // the loop's result cell stays
    if (!prepared || !prepared->run()) {
        Cell b = body;
        interp::eval_body(b);
    }
    return body_ended(depth, result);
}

// After a run of the body: its value, or the exit it left pending.
Step body_ended(uint32_t depth, Cell* result) {
    Cell v = *stack::values.args;
    stack::values.top = stack::values.args + 1;
    if (stack::exiting()) {
        uint32_t code = stack::consume(depth);
        if (code == stack::exit_break) {
            *result = stack::pending.value;
            return stop_break;
        }
        if (code == stack::exit_continue) return go_on;
        return stop_exit;
    }
    *result = v;
    return go_on;
}

// The loop frame: pushed after the native's own cells; its result cell is the loop's result.
struct LoopFrame {
    uint32_t depth;
    Cell* result;
    LoopFrame() {
        depth = stack::push_frame(stack::loop, nullptr);
        result = stack::reserve();
        stack::values.args = result;
    }
    // Pops the frame and makes its result the native's result.
    void finish() { stack::unwind_last(); }
};

void while_(Args& args) {
    Cell cond = *args.cell(0), body = *args.cell(1);
    stack::keep();
    stack::push(cond);
    stack::push(body);
    LoopFrame loop;
    interp::LoopBody prepared(body), prepared_cond(cond);
    for (;;) {
        // Runs of iterations back to back (LoopBody::plain_while).
        bool ran = false;
        if (prepared.plain_while(prepared_cond, ran)) break;
        if (ran) {
            Cell r = unset::value;
            if (body_ended(loop.depth, &r) != go_on) break;
            continue;
        }
        Cell c = none::value;
        if (!prepared_cond.value(c)) {
            stack::push_frame(stack::eval, nullptr);
            stack::reserve();
            interp::eval_block(cond, true);
            c = *stack::values.args;
            stack::leave_frame();
        }
        if (stack::exiting()) {
            if (stack::pending.target == loop.depth &&
                (stack::pending.code == stack::exit_break || stack::pending.code == stack::exit_continue)) {
                stack::pending.code = stack::no_exit;
                error::fire(err::throw_while_cond);
            }
            break;
        }
        if (!truthy(c)) break;
        Cell r = unset::value;
        Step s = run_body(body, loop.depth, &r, &prepared);
        if (s != go_on) break;
    }
    *loop.result = unset::value;
    loop.finish();
}

void until(Args& args) {
    Cell body = *args.cell(0);
    stack::keep();
    LoopFrame loop;
    interp::LoopBody prepared(body);
    for (;;) {
        Cell r = unset::value;
        Step s = run_body(body, loop.depth, &r, &prepared);
        *loop.result = r;
        if (s != go_on) break;
        if (truthy(r)) break;
    }
    loop.finish();
}

// A loop count, truncated toward zero: 64 bits, so that the largest integer count ends and a
// float count beyond the integer range runs as many times as it says (NaN runs none).
int64_t count_of(const Cell& c) {
    if (cell::is(c, T_float_)) {
        return numeric::clamp_to_int64(cell::get_double(c));
    }
    return integer::get(c);
}

// The iterations 1..n of loop and repeat (setting word, when given, to each one's number):
// runs of iterations whose body's statements run compiled back to back (LoopBody::count,
// which also finishes an iteration whose compiled run stopped part-way), any other iteration
// as run_body runs it.
void count_loop(Cell* word, int64_t n, const Cell& body, LoopFrame& lp, interp::LoopBody& prepared) {
    for (int64_t i = 1; i <= n; ++i) {
        bool ran = false;
        if (prepared.counting()) {
            i = prepared.count(word, i, n, ran);
            if (i > n) break;
        }
        Cell r = unset::value;
        Step s;
        if (ran) {
            s = body_ended(lp.depth, &r);
        } else {
            if (word) {
                Cell counter;
                cell::store(counter, T_integer, 0, static_cast<uint32_t>(i), 0);
                context::set(*word, counter);
            }
            s = run_body(body, lp.depth, &r, &prepared);
        }
        *lp.result = r;
        if (s != go_on) break;
    }
}

void loop(Args& args) {
    int64_t n = count_of(*args.cell(0));
    Cell body = *args.cell(1);
    if (n <= 0) {
        none::make_at(*args.cell(0));
        return;
    }
    stack::keep();
    LoopFrame lp;
    interp::LoopBody prepared(body);
    *lp.result = unset::value;
    count_loop(nullptr, n, body, lp, prepared);
    lp.finish();
}

void repeat(Args& args) {
    Cell word = *args.cell(0);
    // The counter is an integer!: a float count stops at the largest one.
    int64_t n = std::min<int64_t>(count_of(*args.cell(1)), INT32_MAX);
    Cell body = *args.cell(2);
    if (n <= 0) {
        none::make_at(*args.cell(0));
        return;
    }
    stack::keep();
    LoopFrame lp;
    interp::LoopBody prepared(body);
    *lp.result = unset::value;
    count_loop(&word, n, body, lp, prepared);
    lp.finish();
}

void forever(Args& args) {
    Cell body = *args.cell(0);
    stack::keep();
    LoopFrame lp;
    interp::LoopBody prepared(body);
    *lp.result = unset::value;
    for (;;) {
        Cell r = unset::value;
        Step s = run_body(body, lp.depth, &r, &prepared);
        if (s != go_on) {
            *lp.result = r;
            break;
        }
    }
    lp.finish();
}

// ---- series loops ---------------------------------------------------------------------------------------

// Elements left from the position.
int64_t left_in(const Cell& s) {
    memory::Buffer* b = memory::buffer(cursor_node(s));
    uint32_t unit = b->unit() ? b->unit() : 1;
    return int64_t(b->used() / unit) - int64_t(cursor_index(s));
}

// The element at position + k of any series (none past the tail).
Cell element_at(const Cell& s, uint32_t k) {
    if (in(cell::type(s), ANY_BLOCK)) {
        Node n = series::node_of(s);
        uint32_t i = series::position_of(s) + k;
        return i < interp::tail_index(n) ? at(n, i) : none::value;
    }
    Cell copy = s;
    auto pick = actions::lookup<actions::slot::pick>(cell::type(s));
    if (!pick) error::fire(err::internal_not_done);
    Cell* r = pick(&copy, static_cast<int32_t>(k + 1), nullptr);
    return *r;
}

// Sets the loop words from the series position and advances it; false at the tail.
bool next_step(Cell& series, const Cell& words) {
    if (left_in(series) <= 0) return false;
    if (cell::is(words, T_block)) {
        Node list = series::node_of(words);
        uint32_t first = series::position_of(words);
        uint32_t n = interp::tail_index(list) - first;
        if (cell::is(series, T_map)) {
            // The map's own step sets the key and value of the next live entry.
            if (n != 2) error::fire(err::script_invalid_arg, words);
            bool found = map::copy_entries(words, series, 2);
            set_cursor_index(series, cursor_index(series) + 2);
            return found;
        }
        for (uint32_t i = 0; i < n; ++i) {
            Cell w = at(list, first + i);
            uint32_t t = cell::type(w);
            if (t != T_word && t != T_set_word && t != T_lit_word && t != T_get_word) error::fire(err::script_invalid_arg, w);
        }
        for (uint32_t i = 0; i < n; ++i) {
            Cell w = at(list, first + i);
            Cell v = element_at(series, i);
            if (cell::is(v, T_unset) && n > 1) error::fire(err::script_need_value, w);
            context::set(w, v);
        }
        set_cursor_index(series, cursor_index(series) + n);
        return true;
    }
    Cell w = words;
    context::set(w, element_at(series, 0));
    set_cursor_index(series, cursor_index(series) + 1);
    return true;
}

void foreach(Args& args) {
    Cell words = *args.cell(0), data = *args.cell(1), body = *args.cell(2);
    if (cell::is(words, T_block) && interp::tail_index(series::node_of(words)) <= series::position_of(words)) error::fire(err::script_invalid_arg, words);
    if (!cell::is(words, T_block) && cell::is(data, T_map)) error::fire(err::script_invalid_arg, words);
    stack::keep();
    Cell* series = stack::push(data);
    stack::push(words);
    LoopFrame lp;
    interp::LoopBody prepared(body);
    *lp.result = unset::value;
    Cell word = words;
    for (;;) {
        // One word over a block: runs of iterations back to back (LoopBody::each).
        bool ran = false;
        if (prepared.counting() && cell::is(word, T_word) && prepared.each(&word, series, ran)) break;
        Cell r = unset::value;
        Step s;
        if (ran) {
            s = body_ended(lp.depth, &r);
        } else {
            if (!next_step(*series, words)) break;
            s = run_body(body, lp.depth, &r, &prepared);
        }
        *lp.result = r;
        if (s != go_on) break;
    }
    lp.finish();
}

void forall(Args& args) {
    Cell word = *args.cell(0), body = *args.cell(1);
    Cell start = *context::get(word);
    if (cell::is(start, T_unset)) error::fire(err::script_no_value, word);
    // forall walks a map! too: its cells have a position like a series' elements.
    if (!in(cell::type(start), SERIES) && !cell::is(start, T_map)) actions::fire_expect_arg(start, 0);
    stack::keep();
    stack::push(start);
    LoopFrame lp;
    interp::LoopBody prepared(body);
    *lp.result = unset::value;
    bool broke = false;
    while (left_in(*context::get(word)) > 0) {
        Cell r = unset::value;
        Step s = run_body(body, lp.depth, &r, &prepared);
        *lp.result = r;
        if (s == stop_break) {
            broke = true;
            break;
        }
        if (s == stop_exit) break;
        Cell now = *context::get(word);
        if (cell::type(now) != cell::type(start) || cursor_node(now) != cursor_node(start)) error::fire(err::script_bad_loop_series, now);
        set_cursor_index(now, cursor_index(now) + 1);
        context::set(word, now);
    }
    if (!broke && !stack::exiting()) context::set(word, start);
    lp.finish();
}

void remove_each(Args& args) {
    Cell words = *args.cell(0), data = *args.cell(1), body = *args.cell(2);
    uint32_t n = cell::is(words, T_block) ? interp::tail_index(series::node_of(words)) - series::position_of(words) : 1;
    if (n == 0) error::fire(err::script_invalid_arg, words);
    stack::keep();
    Cell* series = stack::push(data);
    stack::push(words);
    LoopFrame lp;
    interp::LoopBody prepared(body);
    *lp.result = unset::value;
    auto remove = actions::lookup<actions::slot::remove>(cell::type(data));
    if (!remove) actions::fire_expect_arg(data, 1);
    while (true) {
        uint32_t before = cursor_index(*series);
        if (!next_step(*series, words)) break;
        Cell r = unset::value;
        Step s = run_body(body, lp.depth, &r, &prepared);
        if (s == stop_break || s == stop_exit) break;
        if (s == go_on && !falsy(r) && !cell::is(r, T_unset)) {
            uint32_t taken = cursor_index(*series) - before;
            set_cursor_index(*series, before);
            Cell part = Cell{T_integer, 0, taken, 0};
            Cell* r2 = remove(series, taken == 1 ? nullptr : &part, nullptr);
            *series = *r2;
        }
    }
    *lp.result = data;
    lp.finish();
}

// ---- exits ---------------------------------------------------------------------------------------------

void break_(Args& args) { stack::throw_loop(args.given(refine::break_::return_), args.given(refine::break_::return_) ? args.option(refine::break_::return_) : nullptr, false); }
void continue_(Args& args) { stack::throw_loop(false, nullptr, true); }
void exit_(Args& args) { stack::throw_return(false, nullptr); }
void return_(Args& args) { stack::throw_return(true, args.cell(0)); }

void throw_(Args& args) {
    Cell name = args.given(refine::throw_::name) ? *args.option(refine::throw_::name) : unset::value;
    if (trace::active) [[unlikely]] {
        collector::Root keep(name);
        trace::fire(trace::ev_throw, 0, 0, -1, args.cell(0), nullptr);
        if (stack::exiting()) return;
    }
    stack::throw_catch(*args.cell(0), &name);
}

void catch_(Args& args) {
    Cell block = *args.cell(0);
    // The name argument is copied out: the stack above the result cell is reused below.
    Cell name_arg = args.given(refine::catch_::name) ? *args.option(refine::catch_::name) : none::value;
    Cell* names = args.given(refine::catch_::name) ? &name_arg : nullptr;
    collector::Root keep_names(name_arg);
    stack::keep();
    uint32_t depth = stack::push_frame(stack::catch_, nullptr);
    stack::reserve();
    interp::eval_block(block, true);
    Cell v = *stack::values.args;
    stack::leave_frame();
    *args.cell(0) = v;
    stack::keep();
    if (!stack::exiting() || stack::pending.target != depth || stack::pending.code != stack::exit_throw) return;
    const Cell& thrown_name = stack::pending.name;
    bool caught = !names;
    if (names && cell::is(thrown_name, T_word)) {
        uint32_t alias = symbol::resolve(word::symbol_of(thrown_name));
        if (cell::is(*names, T_word)) {
            caught = symbol::resolve(word::symbol_of(*names)) == alias;
        } else {
            Node n = series::node_of(*names);
            for (uint32_t i = series::position_of(*names); i < interp::tail_index(n) && !caught; ++i) {
                const Cell& w = at(n, i);
                if (!cell::is(w, T_word))
                    error::fire(err::script_invalid_refine_arg, Cell{T_word, 0, word::symbol_of(words::loaded::name), 0xFFFFFFFFu}, *names);
                caught = symbol::resolve(word::symbol_of(w)) == alias;
            }
        }
    }
    if (!caught) {
        // Passed on to an outer catch.
        Cell value = stack::pending.value, name = stack::pending.name;
        stack::pending.code = stack::no_exit;
        stack::throw_catch(value, &name);
        return;
    }
    *args.cell(0) = stack::pending.value;
    stack::pending.code = stack::no_exit;
    stack::throw_caught();
    if (trace::active) [[unlikely]] trace::fire(trace::ev_catch, 0, 0, -1, args.cell(0), nullptr);
}

void try_(Args& args) {
    Cell block = *args.cell(0);
    bool all_ = args.given(refine::try_::all);
    bool keep = args.given(refine::try_::keep);
    stack::keep();
    uint32_t before = stack::depth();
    Cell* top = stack::values.top;
    Cell* base = stack::values.args;
    Cell saved_position = interp::current;
    uint32_t depth = stack::push_frame(all_ ? stack::try_all : stack::try_, nullptr);
    stack::reserve();
    auto recover = [&](const Error& e) {
        stack::unroll_to(before, top, base);
        interp::current = saved_position;
        cycles::reset();
        // An exit pending when the error was raised targets a frame that is gone now: left
        // set, every caller after try would return at once, up to the end of the script or
        // the console, with nothing reported.
        stack::pending = stack::Pending{};
        stack::throw_caught();
        // The error value lives in the result cell, where the collector sees it while its
        // stack is captured.
        // The frame at `before` is this call of try's own.
        *args.cell(0) = error::value_of(e, before > 0 ? before - 1 : 0);
        stack::keep();
        if (keep) error::capture_stack(*args.cell(0), e);
    };
    try {
        interp::eval_block(block, true);
        Cell v = *stack::values.args;
        stack::leave_frame();
        *args.cell(0) = v;
        stack::keep();
    } catch (const Error& e) {
        recover(e);
        return;
    } catch (const std::bad_alloc&) {
        // The C++ heap ran out somewhere below: the language's error, stamped where it was.
        try {
            error::fire(err::internal_no_memory);
        } catch (const Error& e) {
            recover(e);
        }
        return;
    }
    if (!stack::exiting()) return;
    uint32_t code = stack::pending.code;
    if (code == stack::exit_throw) return;
    // Any other exit stops at try unless the code before it is a barrier (an interpreted call
    // or the bottom of the stack).
    if (stack::frame_barrier_q(before + 1, true) || before == 0) return;
    (void)depth;
    stack::pending.code = stack::no_exit;
}

}  // namespace

void init_eval();
void init_io();
// The other families of natives (natives_math.cpp, natives_sets.cpp, natives_text.cpp).
void init_math();
void init_sets();
void init_text();
void init_time();  // natives_time.cpp
void init_system();  // natives_system.cpp
void init_parse();

void init() {
    static bool done = false;
    if (done) return;
    done = true;
    init_eval();
#define NATIVES_control(index, entry) register_entry(index, entry);
#include "runtime/interpreter/natives_register.h"
    init_math(); init_sets(); init_text();
    init_io();
    init_time();
    init_system();
    init_parse();
}

}  // namespace kov::natives
