#include "runtime/datatypes/function.h"

#include <iterator>
#include <vector>

#include "runtime/cells.h"
#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/error.h"
#include "runtime/families.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/interp.h"
#include "runtime/interpreter/natives.h"
#include "runtime/interpreter/routines.h"
#include "runtime/interpreter/stack.h"
#include "runtime/series_buffer.h"
#include "runtime/words.h"

namespace kov {

namespace {

using cells::at;
inline bool is_word_kind(uint32_t t) { return t == T_word || t == T_lit_word || t == T_get_word; }

Cell block_of(memory::Node n, uint32_t index = 0) { return Cell{T_block, index, n, 0}; }

// The "more" block of a function: five unset! cells.
memory::Node make_more(uint32_t cells) {
    memory::Node more = memory::alloc_cells(cells);
    for (uint32_t i = 0; i < cells; ++i) *series::append_cell(more) = unset::value;
    return more;
}

bool same_word(uint32_t symbol, uint32_t other) { return symbol::resolve(symbol) == symbol::resolve(other); }

// A function refers to its context, its spec and its more block (body, fetch spec); a native,
// action or op to its spec and more block, and an op made from a function to its context too.
void mark_function(const Cell& c) {
    collector::mark_block(c.w1);
    collector::mark_block(c.w2);
    collector::mark_block(c.w3);
}

void mark_native(const Cell& c) {
    collector::mark_block(c.w2);
    collector::mark_block(c.w3);
    uint32_t made_from = function::wrapped_type(c);
    if (cell::is(c, T_op) && (made_from == T_function || made_from == T_routine)) collector::mark_block(c.w1);
}

}  // namespace

// ---- function! -------------------------------------------------------------------------------------

namespace function {

namespace {

[[noreturn]] void bad(const Cell& spec) { error::fire(err::script_bad_func_def, spec); }

void check_type_block(const Cell& types) {
    memory::Node n = types.w2;
    for (uint32_t i = types.w1; i < cells::count(n); ++i) {
        Cell v = at(n, i);
        if (cell::is(v, T_word)) {
            const Cell* value = context::get(v);
            if (cell::is(*value, T_unset)) error::fire(err::script_no_value, v);
            v = *value;
        }
        if (!cell::is(v, T_datatype) && !cell::is(v, T_typeset) && !cell::is(v, T_word))
            error::fire(err::script_invalid_type_spec, v);
    }
}

}  // namespace

uint32_t validate(const Cell& spec) {
    memory::Node n = spec.w2;
    uint32_t end = cells::count(n);
    uint32_t i = spec.w1;
    uint32_t flags = 0;
    if (i < end && cell::is(at(n, i), T_block)) {
        Cell attrs = at(n, i);
        for (uint32_t k = attrs.w1; k < cells::count(attrs.w2); ++k) {
            const Cell& a = at(attrs.w2, k);
            if (!cell::is(a, T_word)) bad(spec);
            if (same_word(a.w2, words::symbols::trace)) flags |= flag_trace;
            else if (same_word(a.w2, words::symbols::no_trace)) flags |= flag_no_trace;
        }
        ++i;
    }
    bool seen_return = false, seen_local = false;
    for (; i < end; ++i) {
        Cell v = at(n, i);
        uint32_t t = cell::type(v);
        if (is_word_kind(t)) {
            if (seen_local && t != T_word) bad(spec);
            if (seen_return && !seen_local) bad(spec);
            if (i + 2 < end && cell::is(at(n, i + 1), T_string) && cell::is(at(n, i + 2), T_block)) bad(spec);
            if (i + 1 < end && cell::is(at(n, i + 1), T_block)) {
                check_type_block(at(n, i + 1));
                ++i;
            }
        } else if (t == T_set_word) {
            if (!same_word(v.w2, words::symbols::return_) || seen_return || seen_local) bad(spec);
            seen_return = true;
            if (i + 1 >= end || !cell::is(at(n, i + 1), T_block)) bad(spec);
            check_type_block(at(n, i + 1));
            ++i;
            if (i + 1 < end) {
                uint32_t after = cell::type(at(n, i + 1));
                if (after != T_refinement && after != T_string) bad(spec);
            }
        } else if (t == T_refinement) {
            if (same_word(v.w2, words::loaded::local.w2)) {
                seen_local = true;
            } else if (seen_local || seen_return) {
                bad(spec);
            }
            if (i + 1 < end) {
                uint32_t after = cell::type(at(n, i + 1));
                if (!is_word_kind(after) && after != T_refinement && after != T_set_word && after != T_string) bad(spec);
            }
        } else if (t != T_string) {
            bad(spec);
        }
    }
    // Duplicates: any two argument, local or refinement words naming the same symbol.
    for (uint32_t a = spec.w1; a < end; ++a) {
        const Cell& x = at(n, a);
        if (!is_word_kind(cell::type(x)) && !cell::is(x, T_refinement)) continue;
        uint32_t symbol = symbol::resolve(x.w2);
        for (uint32_t b = a + 1; b < end; ++b) {
            const Cell& y = at(n, b);
            if (!is_word_kind(cell::type(y)) && !cell::is(y, T_refinement)) continue;
            if (symbol::resolve(y.w2) == symbol) error::fire(err::script_dup_vars, y);
        }
    }
    return flags;
}

bool making_compiled = false;

namespace {

// Flags a body and the blocks nested in it as the system's own code (a flagged block is not
// entered again, so shared or cyclic blocks end the walk).
void mark_system_code(memory::Node body) {
    std::vector<memory::Node> pending{body};
    while (!pending.empty()) {
        memory::Node n = pending.back();
        pending.pop_back();
        memory::Buffer* b = memory::buffer(n);
        if (b->flags & memory::system_code) continue;
        b->flags |= memory::system_code;
        const Cell* c = cells::of(b);
        for (uint32_t i = 0, count = b->used() / sizeof(Cell); i < count; ++i)
            if (in(cell::type(c[i]), ANY_BLOCK)) pending.push_back(c[i].w2);
    }
}

}  // namespace

uint32_t pending_bodies = 0;

namespace {

// The functions whose body is pending, so that `take_all` finds them: a block on the heap,
// marked as a root (a function stays in it, and alive, until its body is taken).
memory::Node pending_list = 0;

void mark_pending_list() { collector::mark_block(pending_list); }

// Notes a function made with a pending body (more cell 0 left unset!).
void pending(const Cell& fn_in) {
    Cell fn = fn_in;
    collector::Root keep(fn);
    if (!pending_list) {
        memory::Node list = memory::alloc_cells(64);
        pending_list = list;
        collector::push_root(mark_pending_list);
    }
    *series::append_cell(pending_list) = fn;
    ++pending_bodies;
}

}  // namespace

Cell take_body(const Cell& fn_in) {
    Cell fn = fn_in;
    collector::Root keep(fn);
    Cell literal = more(fn)[2];
    // The function itself, or an op! made from it (which shares its context and more block).
    cell::expect(callable_type(fn) == T_function && cell::is(literal, T_block));
    Cell copy = *block::clone(literal, true, true);
    stack::pop(1);
    collector::Root keep_copy(copy);
    // Only the boot definitions leave a body pending: the function is one of the system's.
    mark_system_code(copy.w2);
    context::bind(copy, context_of(fn), false);
    memory::buffer(literal.w2)->flags &= ~memory::pending_body;
    Cell* m = cells::of(more_of(fn));
    m[0] = copy;
    m[2] = unset::value;
    --pending_bodies;
    return copy;
}

void take_all() {
    if (!pending_list) return;
    // Taking a body allocates: each function is fetched again by its index.
    for (uint32_t i = 0; i < cells::count(pending_list); ++i) {
        Cell fn = cells::at(pending_list, i);
        if (cell::is(more(fn)[0], T_unset)) take_body(fn);
    }
    memory::buffer(pending_list)->tail = memory::buffer(pending_list)->head;
}

Cell* make_at(const Cell& spec_in, const Cell* body_in, memory::Node context, uint32_t extra, uint32_t flags) {
    if (making_compiled) flags |= flag_compiled;
    Cell spec = spec_in;
    collector::Root keep_spec(spec);
    Cell body = body_in ? *body_in : none::value;
    collector::Root keep_body(body);
    if (spec.w1 > 0) {
        // A spec that does not start at its head is copied from its index.
        spec = *block::clone(spec, false, false);
        stack::pop(1);
    }
    memory::Node more = make_more(5);
    collector::RootNode keep_more(more);
    bool made_context = false;
    if (!context) {
        context = context::add_spec_words(spec, true, false, context::function_kind);
        made_context = true;
    }
    collector::RootNode keep_context(context);
    Cell* fn = stack::push(Cell{T_function | flags, context, spec.w2, more});
    *context::self_cell(context) = *fn;
    cells::View more_cells{more};
    if (body_in && cell::is(body, T_block) && made_context && making_compiled &&
        (memory::buffer(body.w2)->flags & memory::boot_literal)) {
        // Taken once: the same block given again is copied at once, as it would always be.
        memory::buffer(body.w2)->flags = (memory::buffer(body.w2)->flags & ~memory::boot_literal) | memory::pending_body;
        more_cells[2] = body;
        pending(*fn);
        fn = stack::top();
    } else if (body_in && cell::is(body, T_block)) {
        Cell copy = *block::clone(body, true, true);
        stack::pop(1);
        if (flags & flag_compiled) mark_system_code(copy.w2);
        more_cells[0] = copy;
        if (made_context) context::bind(copy, context, false);
    } else {
        more_cells[0] = none::value;
    }
    if (extra) more_cells[4] = Cell{T_integer, 0, extra, 0};
    return fn;
}

int32_t count_locals(memory::Node spec, uint32_t start, bool missing_is_error) {
    uint32_t end = cells::count(spec);
    int32_t count = 0;
    bool found = false;
    for (uint32_t i = start; i < end; ++i) {
        const Cell& v = at(spec, i);
        if (!found) {
            if (cell::is(v, T_refinement) && same_word(v.w2, words::loaded::local.w2)) {
                found = true;
                ++count;
            }
        } else if (cell::is(v, T_word)) {
            ++count;
        }
    }
    if (!found && missing_is_error) return -1;
    return count;
}

namespace {

// Is the word (by symbol) among the cells of the block?
bool listed(memory::Node list, uint32_t symbol) {
    for (uint32_t i = 0; i < cells::count(list); ++i) {
        const Cell& c = at(list, i);
        if ((in(cell::type(c), ANY_WORD) || cell::is(c, T_refinement)) && symbol::resolve(c.w2) == symbol::resolve(symbol))
            return true;
    }
    return false;
}

void collect(memory::Node result, memory::Node ignore, uint32_t symbol) {
    if (listed(ignore, symbol)) return;
    Cell w{T_word, 0, symbol, 0xFFFFFFFFu};
    *series::append_cell(result) = w;
    *series::append_cell(ignore) = w;
}

void collect_body(memory::Node result, memory::Node ignore, const Cell& body) {
    memory::Node n = body.w2;
    for (uint32_t i = body.w1; i < cells::count(n); ++i) {
        Cell v = at(n, i);
        uint32_t t = cell::type(v);
        if (t == T_set_word) {
            collect(result, ignore, v.w2);
        } else if (t == T_word && i + 1 < cells::count(n)) {
            bool each = same_word(v.w2, words::symbols::foreach) || same_word(v.w2, words::symbols::remove_each);
            bool rep = same_word(v.w2, words::symbols::repeat);
            Cell next = at(n, i + 1);
            if (each && cell::is(next, T_block)) {
                for (uint32_t k = next.w1; k < cells::count(next.w2); ++k) {
                    Cell w = at(next.w2, k);
                    if (is_word_kind(cell::type(w))) collect(result, ignore, w.w2);
                }
            } else if ((each || rep) && (cell::is(next, T_word) || cell::is(next, T_set_word))) {
                collect(result, ignore, next.w2);
            }
        } else if (t == T_block || t == T_paren) {
            if (cycles::find_q(v.w2)) continue;
            cycles::Guard g(v.w2);
            collect_body(result, ignore, v);
        }
    }
}

}  // namespace

Cell* collect_locals(Cell& spec, const Cell& body) {
    Cell* result = stack::push(block_of(memory::alloc_cells(4)));
    Cell* ignore = stack::push(block_of(memory::alloc_cells(8)));
    memory::Node s = spec.w2;
    uint32_t end = cells::count(s);
    uint32_t extern_at = end;
    for (uint32_t i = spec.w1; i < end; ++i) {
        const Cell& v = at(s, i);
        if (cell::is(v, T_refinement) && same_word(v.w2, words::refinements::extern_.w2)) {
            extern_at = i;
            uint32_t k = i + 1;
            while (k < end && cell::is(at(s, k), T_word)) ++k;
            if (k < end && cell::is(at(s, k), T_refinement) && same_word(at(s, k).w2, words::loaded::local.w2)) {
                for (++k; k < end; ++k)
                    if (cell::is(at(s, k), T_word)) *series::append_cell(result->w2) = at(s, k);
            }
            break;
        }
    }
    // Everything the spec names is ignored: arguments, refinements, extern words.
    for (uint32_t i = spec.w1; i < end; ++i) {
        Cell v = at(s, i);
        uint32_t t = cell::type(v);
        if (in(t, ANY_WORD) || t == T_refinement) {
            cell::set_type(v, T_word);
            *series::append_cell(ignore->w2) = v;
        } else if (extern_at < end && t != T_block && t != T_string) {
            error::fire(err::script_bad_func_extern, v);
        }
    }
    if (extern_at < end) memory::buffer(s)->tail = extern_at * sizeof(Cell);
    collect_body(result->w2, ignore->w2, body);
    // `local` itself is never a local word.
    memory::Node r = result->w2;
    for (uint32_t i = 0; i < cells::count(r); ++i) {
        if (same_word(at(r, i).w2, words::loaded::local.w2)) {
            memory::Buffer* b = memory::buffer(r);
            Cell* cells = cells::of(b);
            for (uint32_t k = i; k + 1 < cells::count(r); ++k) cells[k] = cells[k + 1];
            b->tail -= sizeof(Cell);
            break;
        }
    }
    if (cells::count(r) > 0) {
        if (count_locals(s, spec.w1, true) < 0)
            *series::append_cell(s) = Cell{T_refinement, 0, words::loaded::local.w2, 0xFFFFFFFFu};
        for (uint32_t i = 0; i < cells::count(r); ++i) {
            Cell w = at(r, i);
            *series::append_cell(s) = w;
        }
    }
    stack::pop(1);  // the ignore list
    return result;
}

namespace {

Cell* make_action(Cell*, Cell* spec, uint32_t) {
    if (!cell::is(*spec, T_block) || cells::count(spec->w2) < spec->w1 + 2) error::fire(err::script_bad_func_def, *spec);
    Cell s = at(spec->w2, spec->w1);
    Cell b = at(spec->w2, spec->w1 + 1);
    if (!cell::is(s, T_block) || !cell::is(b, T_block)) error::fire(err::script_bad_func_def, *spec);
    uint32_t flags = validate(s);
    return make_at(s, &b, 0, 0, flags);
}

Cell* make_routine(Cell*, Cell* spec, uint32_t) { return routines::make_from(*spec); }

Cell* reflect(Cell* value, uint32_t field) {
    if (same_word(field, words::symbols::spec)) {
        *value = block_of(value->w2);
    } else if (same_word(field, words::symbols::body)) {
        *value = body(*value);
    } else if (same_word(field, words::symbols::words)) {
        // The word list's entries are bound to the function's own context already.
        Cell list{T_block, 0, context::word_list(value->w1), 0};
        *value = *block::clone(list, false, false);
        stack::pop(1);
    } else {
        error::fire(err::internal_not_done);
    }
    return value;
}

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t part) {
    return string::emit(*buffer, cell::is(*value, T_routine) ? "?routine?" : "?function?", part);
}

int32_t mold(Cell* value, Cell* buffer, const MoldArgs& how, int32_t part) {
    part = string::emit(*buffer, "func ", part);
    Cell spec = block_of(value->w2);
    part = block::mold(&spec, buffer, how, part);
    Cell code = body(*value);
    if (cell::is(code, T_block)) return block::mold(&code, buffer, how, part);
    return string::emit(*buffer, " none", part);
}

int32_t mold_routine(Cell* value, Cell* buffer, const MoldArgs& how, int32_t part) {
    part = string::emit(*buffer, "routine ", part);
    Cell spec = block_of(value->w2);
    part = block::mold(&spec, buffer, how, part);
    Cell body = more(*value)[0];
    if (cell::is(body, T_block)) return block::mold(&body, buffer, how, part);
    part = string::emit(*buffer, " ", part);
    auto fn = actions::lookup<actions::slot::mold>(cell::type(body));
    return fn ? fn(&body, buffer, how, part) : part;
}

int32_t compare(Cell* a, Cell* b, int32_t op) {
    if (cell::type(*a) != cell::type(*b)) return actions::not_comparable;
    if (!actions::unit_code(op)) return actions::not_comparable;
    return actions::sign_of(int64_t(a->w3) - int64_t(b->w3));
}

}  // namespace

void init() {
    datatype::register_type({.id = T_function, .name = "function!",
                             .rest = datatype::Rest::empty, .mark = mark_function,
                             .actions = {.make = make_action, .reflect = reflect, .form = form, .mold = mold,
                                         .compare = compare}});
    datatype::register_type({.id = T_routine, .name = "routine!",
                             .rest = datatype::Rest::empty, .mark = mark_function,
                             .actions = {.make = make_routine, .reflect = datatype::inherit, .form = form, .mold = mold_routine, .compare = compare}});
}

}  // namespace function

// ---- native! and action! ------------------------------------------------------------------------------

namespace native {

int32_t compare(Cell* a, Cell* b, int32_t op) {
    if (cell::type(*a) != cell::type(*b) || !actions::unit_code(op)) return actions::not_comparable;
    return actions::sign_of(int64_t(a->w1) - int64_t(b->w1));
}

namespace {

// The natives and actions the boot definitions made, by number: the specs their entries were
// written for. An entry takes its arguments unchecked, as such a spec lets them through.
Cell native_models[natives::capacity + 1];
Cell action_models[actions::slot_count + 1];

void mark_models() {
    collector::mark_cells(std::begin(native_models), std::end(native_models));
    collector::mark_cells(std::begin(action_models), std::end(action_models));
}

Cell& model_of(uint32_t type, uint32_t index) { return (type == T_native ? native_models : action_models)[index]; }

}  // namespace

Cell* make(const Cell& spec_block, uint32_t index, uint32_t type) {
    memory::Node more = make_more(2);
    collector::RootNode keep(more);
    cells::at(more, 0) = none::value;
    Cell* made = stack::push(Cell{type, index, spec_block.w2, more});
    uint32_t limit = type == T_native ? natives::capacity : actions::slot_count;
    if (routines::allow_make && index <= limit) model_of(type, index) = *made;
    return made;
}

namespace {

Cell* make_value(Cell* proto, Cell* spec, uint32_t type) {
    uint32_t limit = type == T_native ? natives::capacity : actions::slot_count;
    auto arg_error = [&] { error::fire(err::script_bad_make_arg, Cell{T_datatype, type, 0, 0}, *spec); };
    if (!cell::is(*spec, T_block) || cells::count(spec->w2) != 2) arg_error();
    Cell s = at(spec->w2, 0);
    Cell n = at(spec->w2, 1);
    if (!cell::is(s, T_block) || !cell::is(n, T_integer)) arg_error();
    int32_t index = static_cast<int32_t>(n.w2);
    if (index < 1 || static_cast<uint32_t>(index) > limit) arg_error();
    (void)proto;
    Cell* made = make(s, static_cast<uint32_t>(index), type);
    const Cell& model = model_of(type, static_cast<uint32_t>(index));
    if (!routines::allow_make && cell::is(model, type) && !interp::spec_fits(*made, model)) {
        // Arguments of other types, or in other places, than the entry takes. A number the
        // boot definitions gave nothing has no entry: calling its value raises not-done.
        arg_error();
    }
    return made;
}

Cell* reflect(Cell* value, uint32_t field) {
    if (same_word(field, words::symbols::spec)) {
        *value = block_of(value->w2);
    } else if (same_word(field, words::symbols::body)) {
        uint32_t made_from = function::callable_type(*value);
        if (made_from == T_function || made_from == T_routine) *value = function::body(*value);
        else *value = Cell{T_integer, 0, value->w1, 0};
    } else {
        error::fire(err::internal_not_done);
    }
    return value;
}

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t part) {
    switch (cell::type(*value)) {
    case T_native: return string::emit(*buffer, "?native?", part);
    case T_action: return string::emit(*buffer, "?action?", part);
    default: return string::emit(*buffer, "?op?", part);
    }
}

int32_t mold(Cell* value, Cell* buffer, const MoldArgs& how, int32_t part) {
    Cell spec = block_of(value->w2);
    if (cell::is(*value, T_op)) {
        bool from_function = function::wrapped_type(*value) == T_function;
        part = string::emit(*buffer, "make op! ", part);
        part = string::emit(*buffer, from_function ? "func " : "[", part);
        part = block::mold(&spec, buffer, how, part);
        if (!from_function) return string::emit(*buffer, "]", part);
        Cell body = function::body(*value);
        if (cell::is(body, T_block)) part = block::mold(&body, buffer, how, part);
        return part;
    }
    part = string::emit(*buffer, cell::is(*value, T_native) ? "make native! [" : "make action! [", part);
    part = block::mold(&spec, buffer, how, part);
    return string::emit(*buffer, "]", part);
}

}  // namespace

void init() {
    static bool rooted = false;
    if (!rooted) {
        rooted = true;
        collector::push_root(mark_models);
    }
    datatype::register_type({.id = T_native, .name = "native!", .rest = datatype::Rest::empty,
                             .mark = mark_native, .same = datatype::same::first_two, .hash = datatype::hashing::third,
                             .actions = {.make = make_value, .reflect = reflect, .form = form, .mold = mold,
                                         .compare = compare}});
    datatype::register_type({.id = T_action, .name = "action!", .rest = datatype::Rest::empty,
                             .mark = mark_native,
                             .actions = {.make = make_value, .reflect = datatype::inherit, .form = form, .mold = mold,
                                         .compare = compare}});
}

}  // namespace native

// ---- op! ----------------------------------------------------------------------------------------------

namespace op {

bool spec_suits_q(const Cell& spec) {
    memory::Node n = spec.w2;
    uint32_t count = 0;
    for (uint32_t i = 0; i < cells::count(n); ++i) {
        const Cell& v = at(n, i);
        uint32_t t = cell::type(v);
        if (t == T_word) {
            ++count;
        } else if (t == T_lit_word || t == T_get_word) {
            if (count == 0) return false;  // the left operand must be a plain word
            ++count;
        } else if (t == T_refinement) {
            if (same_word(v.w2, words::loaded::local.w2) || same_word(v.w2, words::refinements::extern_.w2)) break;
            return false;
        } else if (t == T_set_word) {
            break;
        }
    }
    return count == 2;
}

namespace {

Cell* make_value(Cell*, Cell* spec, uint32_t) {
    uint32_t t = cell::type(*spec);
    if (t != T_action && t != T_native && t != T_function && t != T_routine)
        error::fire(err::script_invalid_type, Cell{T_datatype, t, 0, 0});
    if (!spec_suits_q(block_of(spec->w2))) error::fire(err::script_bad_op_spec);
    Cell* r = stack::push(*spec);
    r->header = function::op_header(t);
    if (t == T_function || t == T_routine) cells::of(spec->w3)[3] = *spec;
    return r;
}

}  // namespace

void init() {
    datatype::register_type({.id = T_op, .name = "op!", .rest = datatype::Rest::empty,
                             .mark = mark_native, .same = datatype::same::last_two,
                             // Not native!'s hash: an op wraps any function type, whose payload words
                             // mean different things; ops keep the shared hash of types without one.
                             .hash = datatype::hashing::constant<0>,
                             .actions = {.make = make_value, .reflect = datatype::inherit,
                                         .form = datatype::inherit, .mold = datatype::inherit,
                                         .compare = native::compare}});
}

}  // namespace op

}  // namespace kov
