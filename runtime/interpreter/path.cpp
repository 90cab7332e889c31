// Paths: a word followed by elements, each applied to the value reached so far through its
// datatype's path step (actions' eval-path slot): an object's field, a series' element, a
// function's refinements. eval_path gets, sets (the value on top of the stack) or evaluates a
// path, calling a function it reaches with the rest of the path as its refinements.
//
// Moving memory: a paren element runs code; every value reached lives on the value stack,
// where the collector sees it, and the path cell is rooted.
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
#include "runtime/datatypes/symbol.h"
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
#include "runtime/words.h"
#include "runtime/interpreter/evaluator.h"

namespace kov::interp {

namespace {

// After an assignment through a path changed the value at chain step `changed` (the values
// reached are chain[0], chain[2] ..., each followed by the element applied to it): a value
// held in its cell (a date, a time, a pair ...) was changed on the stack only, so it is
// stored into the value it was read from, through that value's own path assignment (which
// tells an object's change hook or a series' owner), and so on back while the holder is such
// a value too; the first one goes back into the path's word.
void store_back(Cell* chain, uint32_t changed, Cell& first, Cell& path) {
    for (uint32_t k = changed;; --k) {
        if (!scalar::held_by_value(cell::type(chain[2 * k]))) return;
        if (k == 0) {
            context::set(first, chain[0]);
            return;
        }
        Cell* holder = chain + 2 * (k - 1);
        auto fn = actions::lookup<actions::slot::eval_path>(cell::type(*holder));
        PathStep back{.element = holder + 1, .value = chain + 2 * k, .path = &path};
        fn(holder, back);
    }
}

// The path as far as its element at index `last`: a new path of the same kind, for a report
// that names the step that failed.
[[gnu::noinline]] Cell path_through(const Cell& path, uint32_t last) {
    Node p = series::node_of(path);
    uint32_t first = series::position_of(path);
    Cell* cut = block::push_new(static_cast<int32_t>(last + 1 - first));
    for (uint32_t k = first; k <= last; ++k) block::rs_append(*cut, at(p, k));
    cell::set_type(*cut, cell::type(path));
    return *cut;
}

}  // namespace

uint32_t eval_path(const Cell& path_in, Node code, uint32_t pos, uint32_t end, PathMode mode, bool case_) {
    bool set = mode == PathMode::set, get = mode == PathMode::get;
    if (trace::active) [[unlikely]] trace::path(path_in);
    Cell path = path_in;
    collector::Root keep(path);
    Node p = series::node_of(path);
    uint32_t pend = tail_index(p);
    uint32_t i = series::position_of(path);
    if (i >= pend) error::fire(err::script_empty_path);
    Cell first = at(p, i);
    if (!cell::is(first, T_word)) error::fire(err::script_word_first, path);
    Cell value = *context::get(first);
    if (cell::is(value, T_unset)) error::fire(err::script_unset_path, path, first);
    if (called_by_path(cell::type(value))) {
        if (set) error::fire(err::script_invalid_path_set, path);
        if (get) error::fire(err::script_invalid_path_get, path);
        return call(prefix_form(value), code, pos, end, &first, CallHow{.path = &path, .path_pos = i + 1});
    }
    // Every value reached lives on the stack, each followed by the element applied to it:
    // they stay reachable, and an assignment to a field of a value held in its cell (a date's
    // time, a pair in a block) is stored back through them (see store_back).
    Cell* to_store = stack::values.top - 1;  // set: the value being set sits in the caller's frame
    Cell* chain = stack::push(value);
    uint32_t steps = 0;  // values reached after the first
    for (++i; i < tail_index(p); ++i) {
        Cell* parent = chain + 2 * steps;
        Cell element = at(p, i);
        Cell* el = stack::push(element);
        if (cell::is(element, T_get_word)) {
            *el = *context::get(element);
        } else if (cell::is(element, T_paren)) {
            stack::push_frame(stack::interp_native, nullptr);
            stack::reserve();
            eval_block(element, true);
            stack::unwind();
            if (stack::exiting()) return pos;
            *el = stack::values.top[-1];
            stack::values.top--;
        }
        bool last = i + 1 >= tail_index(p);
        auto fn = actions::lookup<actions::slot::eval_path>(cell::type(*parent));
        if (!fn) {
            if (cell::type(*parent) == T_none) error::fire(err::script_invalid_path, path, element);
            error::fire(err::script_bad_path_type, path, datatype_of(*parent), path_through(path, i));
        }
        PathStep step{.element = el,
                      .value = set && last ? to_store : nullptr,
                      .path = &path,
                      .case_ = case_,
                      .get = get,
                      .tail = last};
        // A step may overwrite its parent cell with the result; a read keeps the holder.
        Cell holder = *parent;
        Cell* result = fn(parent, step);
        Cell r = result ? *result : none::value;
        if (!(set && last)) *parent = holder;
        stack::values.top = el + 1;  // drop what the step pushed
        if (called_by_path(cell::type(r)) && (!last || (!set && !get))) {
            // A function is called, the rest of the path being its refinements; its result
            // replaces the cells pushed here.
            Cell f = prefix_form(r);
            stack::values.top = chain;
            return call(f, code, pos, end, &element, CallHow{.path = &path, .path_pos = i + 1});
        }
        if (set && last) {
            store_back(chain, steps, first, path);
            r = *to_store;
        }
        if (last) {
            // The result replaces the cells pushed here.
            stack::values.top = chain;
            stack::push(r);
            if (trace::active && !set) [[unlikely]] trace::pushed(code, pos, stack::values.top - 1);
            return pos;
        }
        stack::push(r);
        ++steps;
    }
    // A path of one word: its value.
    Cell r = *chain;
    stack::values.top = chain;
    stack::push(r);
    return pos;
}

}  // namespace kov::interp
