// The call protocol: how a native!, action!, function! or routine! is called from the code.
// The function value is pushed and stays below the call's frame; the frame (labelled with the
// word or path that named the function) makes the argument base; the arguments are fetched
// from the code as the function's spec says (fetch specs, built once per function and kept in
// it), checked against their types, followed for a function by its refinement flags,
// refinement arguments and locals; a native or action then runs its entry, a function its body
// (call_function) in an evaluation frame of its own, the target of return and exit. end_call
// pops the frame and leaves the result where the function value was.
//
// apply_function and apply_slots call a function from C++ with the arguments given.
//
// Moving memory: fetching an argument evaluates code, which may allocate and move every
// series; a spec item is read again after each argument (the spec series may move), and fn
// stays on the value stack, where the collector sees it.
#include <algorithm>
#include <cstring>
#include <optional>
#include <span>

#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/interpreter/interp.h"
#include "runtime/cells.h"
#include "runtime/interpreter/compiled/code_cache.h"
#include "runtime/collector.h"
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
#include "runtime/interpreter/stack.h"
#include "runtime/interpreter/trace.h"
#include "runtime/platform/os.h"
#include "runtime/series_buffer.h"
#include "runtime/interpreter/evaluator.h"
#include "runtime/interpreter/routines.h"
#include "runtime/words.h"

namespace kov::interp {

// ---- fetch specs ---------------------------------------------------------------------------------

namespace {

Node build_fetch_spec(const Cell& fn, bool& complete);

// The spec series, cached in the function value. cached: set when it is kept there (and so
// reachable through it).
Node fetch_spec_series(const Cell& fn, bool& cached) {
    cells::View cache{function::more_of(fn), 1};
    cached = true;
    if (cell::is(*cache, T_binary)) return series::node_of(*cache);
    bool complete = true;
    Node spec = build_fetch_spec(fn, complete);
    // A spec naming a type word that has no value yet (the built-ins run before the boot
    // definitions have made every typeset) is used as it is but not kept.
    cached = complete;
    if (!complete) return spec;
    *cache = binary::cell_of(spec);
    return spec;
}


// The typeset of a spec type block; a word without a value counts as every type and marks
// the spec incomplete.
Cell types_of(const Cell& types, bool& complete) {
    Node n = series::node_of(types);
    for (uint32_t i = series::position_of(types); i < tail_index(n); ++i) {
        const Cell& v = at(n, i);
        if (cell::is(v, T_word) && cell::is(*context::get(v), T_unset)) {
            complete = false;
            return typeset::any_but_unset();
        }
    }
    return typeset::from_block(types);
}

Node build_fetch_spec(const Cell& fn, bool& complete) {
    Cell spec_block = block::cell_of(function::spec_of(fn));
    collector::Root keep(spec_block);
    Node out = memory::alloc_series(16, 4, 0);
    collector::RootNode keep_out(out);
    SpecHeader h{};
    auto append = [&](const SpecItem& item) {
        uint8_t* p = series::reserve(out, sizeof item);
        std::memcpy(p, &item, sizeof item);
    };
    std::memset(series::reserve(out, sizeof h), 0, sizeof h);
    Node s = series::node_of(spec_block);
    uint32_t end = tail_index(s);
    bool in_refinement = false, in_local = false;
    SpecItem* last_refinement = nullptr;
    uint32_t last_refinement_at = 0;
    for (uint32_t i = 0; i < end; ++i) {
        Cell v = at(s, i);
        uint32_t t = cell::type(v);
        if (i == 0 && t == T_block) continue;  // the attribute block
        if (t == T_word || t == T_get_word || t == T_lit_word) {
            SpecItem item{};
            item.symbol = word::symbol_of(v);
            item.kind = t == T_word ? kind_normal : (t == T_get_word ? kind_get : kind_literal);
            item.tag = in_local ? tag_local : (in_refinement ? tag_refinement_arg : tag_arg);
            Cell ts = typeset::any_but_unset();
            if (i + 1 < end && cell::is(at(s, i + 1), T_block)) {
                Cell types = at(s, i + 1);
                if (tail_index(series::node_of(types)) > series::position_of(types)) ts = types_of(types, complete);
                ++i;
            }
            item.ts1 = typeset::bits(ts, 0);
            item.ts2 = typeset::bits(ts, 1);
            item.ts3 = typeset::bits(ts, 2);
            append(item);
            if (item.tag == tag_arg) ++h.fixed;
            else if (item.tag == tag_local) ++h.locals;
            else {
                // Count the argument on its refinement (re-fetched: the series may have moved).
                auto items = reinterpret_cast<SpecItem*>(memory::buffer(out)->head_ptr() + sizeof(SpecHeader));
                items[last_refinement_at].ts1++;
            }
        } else if (t == T_refinement) {
            if (word::symbol_of(v) == word::symbol_of(words::loaded::local)) {
                in_local = true;
                h.has_local = 1;
                SpecItem item{tag_refinement, 0, 0, 0, 0, word::symbol_of(v)};
                item.tag = tag_local;
                item.kind = 0xFFFFFFFFu;  // the /local flag itself
                append(item);
                continue;
            }
            in_refinement = true;
            SpecItem item{tag_refinement, ++h.refinements, 0, 0, 0, word::symbol_of(v)};
            last_refinement_at = (memory::buffer(out)->used() - sizeof(SpecHeader)) / sizeof(SpecItem);
            append(item);
        } else if (t == T_set_word) {
            if (word::symbol_of(v) != words::symbols::return_) error::fire(err::script_bad_func_def, v);
            if (i + 1 < end && cell::is(at(s, i + 1), T_block)) ++i;
        } else if (t == T_string) {
            continue;
        }
    }
    (void)last_refinement;
    memory::Buffer* b = memory::buffer(out);
    h.items = (b->used() - sizeof(SpecHeader)) / sizeof(SpecItem);
    std::memcpy(b->head_ptr(), &h, sizeof h);
    return out;
}

}  // namespace

// cached: as for fetch_spec_series.
Spec fetch_spec(const Cell& fn, bool& cached) {
    Spec spec;
    if (kept_spec(fn, spec)) {
        cached = true;
        return spec;
    }
    spec.node = fetch_spec_series(fn, cached);
    spec.h = header_of(spec.node);
    return spec;
}

bool spec_fits(const Cell& made, const Cell& model) {
    bool cached;
    Spec a = fetch_spec(made, cached);
    collector::RootNode keep_a(a.node);
    Spec b = fetch_spec(model, cached);
    collector::RootNode keep_b(b.node);
    a.h = header_of(a.node);
    if (a.h.fixed != b.h.fixed || a.h.refinements != b.h.refinements) return false;
    // The items in spec order, locals left out: the same arguments and refinements in the same
    // places, each argument taking no type the model's does not.
    uint32_t i = 0, k = 0;
    for (;;) {
        while (i < a.h.items && a.item(i).tag == tag_local) ++i;
        while (k < b.h.items && b.item(k).tag == tag_local) ++k;
        if (i >= a.h.items || k >= b.h.items) return i >= a.h.items && k >= b.h.items;
        const SpecItem &x = a.item(i++), &y = b.item(k++);
        if (x.tag != y.tag) return false;
        if (x.tag == tag_refinement) {
            if (x.ts1 != y.ts1) return false;  // its argument count
        } else if ((x.ts1 & ~y.ts1) || (x.ts2 & ~y.ts2) || (x.ts3 & ~y.ts3)) {
            return false;
        }
    }
}

void keep_spec(const Cell& fn) {
    bool cached;
    fetch_spec_series(fn, cached);
}

// ---- argument fetching ---------------------------------------------------------------------------

void fire_expect_arg(const Cell& value, uint32_t symbol, const Cell* name) {
    error::fire(err::script_expect_arg, name ? *name : word_of(stack::anon_symbol()), datatype_of(value),
                word_of(symbol));
}

namespace {

void push_unset() { stack::reserve(); }

// Fetches one argument of the given kind onto the stack; gives the new position.
// An argument of an infix operator is evaluated without infix look-ahead, so that operators
// apply strictly left to right; any other argument is a whole expression.
uint32_t fetch_one(Node code, uint32_t pos, uint32_t end, uint32_t kind, uint32_t mode, bool infix) {
    if (mode != mode_code) {
        // apply: the arguments were reduced beforehand, each one value as it stands.
        stack::push(at(code, pos));
        return pos + 1;
    }
    if (kind == kind_normal) {
        return eval_expression(code, pos, end, infix ? Infix::stop : Infix::apply, Result::push);
    }
    Cell v = at(code, pos);
    if (kind == kind_literal) {
        switch (cell::type(v)) {
        case T_paren: return eval_expression(code, pos, end, Infix::stop, Result::push);  // the paren alone
        case T_get_word: stack::push(*context::get(v)); return pos + 1;
        case T_get_path: return eval_expression(code, pos, end, Infix::stop, Result::push);
        default: break;
        }
    }
    stack::push(v);
    if (trace::active) [[unlikely]] trace::taken(code, pos);
    return pos + 1;
}

}  // namespace

// The spec item of the refinement a word names: the spelling of the spec first, then any
// spelling that differs only in case; no_item when the spec has none.
uint32_t refinement_item(const Spec& spec, const Cell& word) {
    for (uint32_t i = spec.h.fixed; i < spec.h.items; ++i) {
        const SpecItem& item = spec.item(i);
        if (item.tag == tag_refinement && item.symbol == word::symbol_of(word)) return i;
    }
    uint32_t wanted = symbol::resolve(word::symbol_of(word));
    for (uint32_t i = spec.h.fixed; i < spec.h.items; ++i) {
        const SpecItem& item = spec.item(i);
        if (item.tag == tag_refinement && symbol::resolve(item.symbol) == wanted) return i;
    }
    return no_item;
}

// No refinement given: what a native's Args reads for a call without any.
const int32_t no_refinements_given[32] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                                          -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};

namespace {

// The refinements of a call written in its path, or given to apply: each one's flag (functions)
// or position (natives), then its arguments fetched from the code. Kept apart from
// fetch_and_run, whose common calls have none. A pending exit stops it early.
[[gnu::noinline]] uint32_t fetch_refinements(const Spec& spec, bool is_function, std::span<int32_t> refinements,
                                             Node code, uint32_t pos, uint32_t end, const Cell* name,
                                             const CallHow& how) {
    uint32_t mode = how.mode;
    bool infix = how.infix;
    // Uses the refinement at item `found`: its flag (functions) or position (natives), then its
    // arguments fetched from the code.
    auto use_refinement = [&](uint32_t found, bool use, const Cell& element) -> bool {
        SpecItem ref = spec.item(found);
        uint32_t nargs = ref.ts1;
        Cell* saved_top = stack::values.top;
        int32_t at_pos = static_cast<int32_t>(stack::values.top - stack::values.args);
        if (is_function) {
            // The refinement's slot is its position in the frame: the number of items before it.
            // Its arguments are fetched above the whole frame (evaluating one may call other
            // functions, whose frames must not overwrite the later slots), then moved in.
            Cell* slot = stack::values.args + found;
            if (!cell::is(*slot, T_logic) || logic::get(*slot)) error::fire(err::script_dup_refine, element);
            *slot = logic::make(use);
        } else {
            uint32_t r = ref.kind - 1;
            if (r >= refinements.size() || refinements[r] != -1) error::fire(err::script_dup_refine, element);
        }
        for (uint32_t a = 1; a <= nargs; ++a) {
            SpecItem item = spec.item(found + a);
            end = clip(code, end);
            if (pos >= end) {
                if (mode == mode_code) error::fire(err::script_no_arg, name ? *name : word_of(stack::anon_symbol()), word_of(item.symbol));
                stack::push(none::value);
            } else if (!use && (mode & mode_safer)) {
                stack::push(none::value);  // an unused refinement's arguments are skipped
                ++pos;
            } else {
                pos = fetch_one(code, pos, end, item.kind, mode, infix);
                if (stack::exiting()) {
                    if (is_function) stack::values.top = saved_top;
                    return false;
                }
            }
            if (use) check_type(stack::values.top[-1], item, name);
            else stack::values.top[-1] = none::value;
            if (is_function) {
                stack::values.args[found + a] = stack::values.top[-1];
                stack::values.top = saved_top;
            }
        }
        if (is_function) {
            stack::values.top = saved_top;
        } else if (use) {
            refinements[ref.kind - 1] = at_pos;
        } else {
            stack::values.top = stack::values.args + at_pos;
        }
        return true;
    };
    auto find_refinement = [&](const Cell& element) {
        uint32_t i = refinement_item(spec, element);
        if (i == no_item) error::fire(err::script_no_refine, name ? *name : word_of(stack::anon_symbol()), element);
        return i;
    };

    // Refinements written in the path, in the order written.
    if (how.path) {
        Node pnode = series::node_of(*how.path);
        uint32_t pend = tail_index(pnode);
        for (uint32_t k = how.path_pos; k < pend; ++k) {
            Cell element = at(pnode, k);
            bool use = true;
            if (cell::is(element, T_get_word)) {
                use = logic::true_value_q(*context::get(element), false, nullptr);
            } else if (!cell::is(element, T_word)) {
                error::fire(err::script_bad_refine, element);
            }
            if (!use_refinement(find_refinement(element), use, element)) return pos;
        }
    }

    if (mode & mode_all) {
        // apply/all: every refinement of the spec in order, as a logic value, then its arguments.
        for (uint32_t i = 0; i < spec.h.items; ++i) {
            if (spec.item(i).tag != tag_refinement) continue;
            end = clip(code, end);
            bool use = false;
            if (pos < end) use = logic::true_value_q(at(code, pos++), false, nullptr);
            Cell element = word_of(spec.item(i).symbol);
            if (!use_refinement(i, use, element)) return pos;
        }
    } else if (mode & mode_args) {
        // apply: the refinements used, as refinement! values, each followed by its arguments.
        for (end = clip(code, end); pos < end; end = clip(code, end)) {
            Cell element = at(code, pos++);
            if (!cell::is(element, T_refinement)) error::fire(err::script_bad_refine, element);
            if (!use_refinement(find_refinement(element), true, element)) return pos;
        }
    }

    return pos;
}

}  // namespace

template <bool traced>
uint32_t fetch_and_run(const Cell& fn_copy, Node code, uint32_t pos, uint32_t end, const Cell* name, const CallHow& how,
                       uint32_t ready) {
    uint32_t mode = how.mode;
    bool infix = how.infix;
    bool cached;
    Spec spec = fetch_spec(fn_copy, cached);
    std::optional<collector::RootNode> keep_spec;
    if (!cached) keep_spec.emplace(spec.node);
    const SpecHeader& h = spec.h;
    bool is_function = cell::is(fn_copy, T_function);
    int32_t refinements[32];
    uint32_t ref_count = h.refinements < 32 ? h.refinements : 32;
    // All of them, a fixed size: a few wide stores, where a loop of the spec's count becomes a
    // string instruction that is slow to start.
    std::fill_n(refinements, 32, -1);

    // Fixed arguments: the first items of every spec (the words after a refinement are its
    // own, and locals come last). An item is read from the spec again after an argument is
    // evaluated: the spec may move.
    // The first `ready` ones are in place already: an infix operator's left operand (and its
    // right one, when a compiled statement has fetched it), or the condition a compiled
    // conditional has fetched.
    for (uint32_t i = 0; i < ready && i < h.fixed; ++i) check_type(stack::values.args[i], spec.item(i), name);
    for (uint32_t i = ready; i < h.fixed; ++i) {
        const SpecItem& item = spec.item(i);
        end = clip(code, end);
        if (pos >= end) {
            if (mode != mode_code) {
                stack::push(none::value);
            } else {
                Cell ts{T_typeset, item.ts1, item.ts2, item.ts3};
                if (item.kind == kind_literal && typeset::contains(ts, T_unset)) push_unset();
                else error::fire(err::script_no_arg, name ? *name : word_of(stack::anon_symbol()), word_of(item.symbol));
            }
        } else if (const Cell& c = at(code, pos); cell::is(c, T_block) && mode == mode_code &&
                   (infix || pos + 1 >= end || !cell::is(at(code, pos + 1), T_word))) {
            // A block that no operator follows stands for itself, whatever the argument's
            // kind: the bodies and branches given to loops and conditionals.
            stack::push(c);
            ++pos;
            if constexpr (traced) trace::taken(code, pos - 1);
        } else {
            pos = fetch_one(code, pos, end, item.kind, mode, infix);
            if (stack::exiting()) return pos;
        }
        check_type(stack::values.top[-1], spec.item(i), name);
    }

    // A function's frame holds a slot for every refinement and its arguments, and for /local.
    if (is_function && h.items > h.fixed) {
        for (uint32_t i = h.fixed; i < h.items; ++i) {
            Cell slot;
            if (frame_slot(spec.item(i), slot)) stack::push(slot);
        }
    }

    // Refinements written in a path, or given to apply.
    if (how.path || mode != mode_code) {
        pos = fetch_refinements(spec, is_function, std::span(refinements, ref_count), code, pos, end, name, how);
        if (stack::exiting()) return pos;
    }

    if (stack::values.top == stack::values.args) stack::reserve();  // the result cell
    if constexpr (traced) trace::fire(trace::ev_call, code, T_block, pos, &fn_copy, how.path ? how.path : name);
    switch (cell::type(fn_copy)) {
    case T_native:
    case T_action:
        run_entry(fn_copy, refinements);
        break;
    case T_function:
        call_function(fn_copy, name);
        break;
    case T_routine:
        routines::call(fn_copy, refinements);
        break;
    default:
        error::fire(err::internal_not_done);
    }
    return pos;
}

template uint32_t fetch_and_run<false>(const Cell&, Node, uint32_t, uint32_t, const Cell*, const CallHow&, uint32_t);
template uint32_t fetch_and_run<true>(const Cell&, Node, uint32_t, uint32_t, const Cell*, const CallHow&, uint32_t);

namespace {
[[gnu::noinline]] uint32_t call_traced(const Cell& fn, Node code, uint32_t pos, uint32_t end, const Cell* name,
                                       const CallHow& how);

// A call; the traced instance fires open and return, the other tests the switch once, on
// which it hands the call to the traced one.
template <bool traced>
uint32_t call_as(const Cell& fn, Node code, uint32_t pos, uint32_t end, const Cell* name, const CallHow& how) {
    if constexpr (!traced)
        if (trace::active) [[unlikely]] return call_traced(fn, code, pos, end, name, how);
    check_depth();
    bool infix = how.infix;
    // The function value stays on the stack while the call runs. An infix operator's left
    // operand, produced just below, moves up one cell to make room for it.
    Cell* slot;
    if (infix) {
        slot = stack::values.top - 1;
        stack::push(*slot);
        *slot = fn;
    } else {
        slot = stack::push(fn);
    }
    Cell label = name && (in(cell::type(*name), ANY_WORD) || cell::is(*name, T_refinement)) ? *name
                                                                                            : word_of(stack::anon_symbol());
    stack::push_frame(cell::is(fn, T_function) ? stack::interp_function : stack::interp_native, &label);
    if constexpr (traced) trace::fire(trace::ev_open, code, T_block, pos, how.path ? how.path : name ? &label : slot, nullptr);
    if (infix) {
        // The left operand becomes the first argument.
        stack::values.args = slot + 1;
        stack::values.top = slot + 2;
    }
    pos = fetch_and_run<traced>(*slot, code, pos, end, &label, how, infix ? 1 : 0);
    if constexpr (traced) trace::fire(trace::ev_return, code, T_block, pos, stack::values.args, how.path ? how.path : name ? &label : slot);
    end_call(slot);
    return pos;
}

uint32_t call_traced(const Cell& fn, Node code, uint32_t pos, uint32_t end, const Cell* name, const CallHow& how) {
    return call_as<true>(fn, code, pos, end, name, how);
}
}  // namespace

uint32_t call(const Cell& fn, Node code, uint32_t pos, uint32_t end, const Cell* name, const CallHow& how) {
    return call_as<false>(fn, code, pos, end, name, how);
}

namespace {

// What the given values fill: the arguments alone (the rest as for a call without
// refinements), or every slot before the locals in spec order.
enum class Fill { arguments, slots };

// A template, so that each caller gets its own loop (comparators call it per comparison).
template <Fill fill>
Cell apply_values(const Cell& fn, const Cell* values, uint32_t count, const Cell* name) {
    Cell f = fn;
    collector::Root keep(f);
    Cell* base = stack::values.top;
    stack::push_call_frame(name, 0);
    bool cached;
    Spec spec = fetch_spec(f, cached);
    collector::RootNode keep_spec(spec.node);
    uint32_t given = 0;
    for (uint32_t i = 0; i < spec.h.items; ++i) {
        SpecItem item = spec.item(i);
        bool takes;
        if constexpr (fill == Fill::slots) takes = item.tag != tag_local && given < count;
        else takes = item.tag == tag_arg;
        if (takes) stack::push(given < count ? values[given++] : none::value);
        else if (item.tag == tag_refinement) stack::push(logic::false_value);
        else if (item.tag == tag_local && item.kind == 0xFFFFFFFFu) stack::push(logic::false_value);
        else stack::push(none::value);
    }
    if (stack::values.top == stack::values.args) stack::reserve();
    if (cell::is(f, T_function)) {
        call_function(f, nullptr);
    } else if (cell::is(f, T_routine)) {
        routines::call(f, no_refinements_given);
    } else {
        run_entry(f, no_refinements_given);
    }
    Cell result = *stack::values.args;
    stack::drop_frame();
    stack::values.top = base;
    return result;
}

}  // namespace

Cell apply_function(const Cell& fn, const Cell* args, uint32_t count, const Cell* name) {
    return apply_values<Fill::arguments>(fn, args, count, name);
}

Cell apply_slots(const Cell& fn, const Cell* slots, uint32_t count, const Cell* name) {
    return apply_values<Fill::slots>(fn, slots, count, name);
}

// ---- function bodies ---------------------------------------------------------------------------------

namespace {

// A function's body runs in an evaluation frame that names its code: a return that ends the
// body is recognised by it (see body_frame), and only the body's own code does (a paren in
// the body runs without a frame of its own).
[[gnu::always_inline]] inline void eval_function_body(const Cell& body) {
    Node code = series::node_of(body);
    uint32_t end = tail_index(code);  // before the frame is written (see call_function)
    check_depth();
    stack::push_frame(stack::eval, nullptr);
    stack::top_frame().saved_values = code;
    stack::reserve();  // the result cell
    run_expressions<true>(T_block, code, series::position_of(body), end, stack::values.args);
    stack::unwind_last();
}

// The body's run as tracing wraps it.
void eval_function_body_traced(const Cell& body) { eval_function_body(body); }

}  // namespace

void call_function(const Cell& fn, const Cell* name) {
    // The body, and in eval_function_body its tail, are read before the call's context, running
    // record and frames are written: read after those stores, their loads waited on them.
    Cell body = function::more(fn)[0];
    FunctionRun run(fn);
    if (!cell::is(body, T_block)) [[unlikely]] body = function::body(fn);  // a boot function's first call
    if (cell::is(body, T_block)) {
        if (trace::requested) [[unlikely]] trace::run_body(fn, name, body, eval_function_body_traced);
        else eval_function_body(body);
    } else {
        *stack::values.args = unset::value;
    }
    stack::set_return_flag(false);
    uint32_t code = stack::consume(run.depth);
    if (code == stack::exit_return || code == stack::exit_exit) *stack::values.args = stack::pending.value;
}

}  // namespace kov::interp
