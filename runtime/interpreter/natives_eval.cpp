// Evaluation and binding natives: do, reduce, compose, get, set, unset, value?, bind, in,
// context?, construct, extend, apply, and the function makers func, function, does, has.
// They are thin layers over the interpreter, the contexts and the function and object
// datatypes.
#include <algorithm>
#include <cstring>

#include "runtime/collector.h"
#include "runtime/console_output.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
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
#include "runtime/lexer/lexer.h"
#include "runtime/owner.h"
#include "runtime/series_buffer.h"
#include "runtime/words.h"

#include "refinements.h"

namespace kov::natives {

namespace {

using memory::Node;

inline const Cell& at(Node n, uint32_t i) { return reinterpret_cast<const Cell*>(memory::buffer(n)->head_ptr())[i]; }
inline uint32_t tail_of(Node n) { return interp::tail_index(n); }

// Evaluates a block and leaves its last value as the native's result.
void run_body(const Cell& block) {
    Cell b = block;
    uint32_t n = tail_of(series::node_of(b));
    if (series::position_of(b) > n) series::set_index(b, n);
    stack::keep();
    interp::eval_block(b, true);
}

// ---- function makers ----------------------------------------------------------------------------

void make_function(Args& args, Cell spec, const Cell& body) {
    stack::keep();
    uint32_t n = tail_of(series::node_of(spec));
    if (series::position_of(spec) > n) series::set_index(spec, n);
    uint32_t flags = function::validate(spec);
    Cell b = body;
    Cell* fn = function::make_at(spec, &b, 0, 0, flags);
    *args.cell(0) = *fn;
    stack::keep();
}

void func(Args& args) { make_function(args, *args.cell(0), *args.cell(1)); }

void function_(Args& args) {
    Cell spec = *block::clone(*args.cell(0), true, true);
    Cell* s = stack::push(spec);
    if (!args.given(refine::function::extern_)) {
        // Without /extern, nothing stays global but what the spec names.
    }
    function::collect_locals(*s, *args.cell(1));
    make_function(args, *s, *args.cell(1));
}

void does(Args& args) {
    Cell* spec = block::push_new(1);
    make_function(args, *spec, *args.cell(0));
}

void has(Args& args) {
    Cell spec = *block::clone(*args.cell(0), false, false);
    Cell* s = stack::push(spec);
    block::insert_value(*s, words::refinements::local, false, true);
    make_function(args, *s, *args.cell(1));
}

// ---- do, reduce, compose -------------------------------------------------------------------------

Cell word_named(const char* name) { return Cell{T_word, 0, symbol::make(name), 0xFFFFFFFFu}; }

// A field of an object held by a global word, or none.
Cell global_field(const char* object_name, const char* field) {
    Cell obj = *context::get(context::get_or_add_global(symbol::make(object_name)));
    if (!cell::is(obj, T_object)) return none::value;
    return *object::select_word(obj, word_named(field));
}

// The library's preprocessor pass over code, in place, with the build configuration as its job.
void expand(const Cell& code) {
    Cell fn = global_field("preprocessor", "expand");
    if (!cell::is(fn, T_function)) error::fire(err::internal_not_done);
    collector::Root keep_fn(fn);
    Cell build = global_field("system", "build");
    Cell job = cell::is(build, T_object) ? *object::select_word(build, word_named("config")) : none::value;
    Cell args[2] = {code, job};
    interp::apply_function(fn, args, 2);
}

void do_(Args& args) {
    Cell value = *args.cell(0);
    Cell next_arg = args.given(refine::do_::next) ? *args.option(refine::do_::next) : none::value;
    Cell* next_word = args.given(refine::do_::next) ? &next_arg : nullptr;
    if (args.given(refine::do_::trace) && !cell::is(value, T_file) && !cell::is(value, T_url)) {
        // Traced: a block or paren as it stands, a string loaded first, any other value as
        // the one value of a block. A script is traced by do-file.
        Cell callback = *args.option(refine::do_::trace);
        collector::Root keep_callback(callback), keep_value(value);
        Cell code = value;
        collector::Root keep_code(code);
        if (cell::is(value, T_string)) {
            lexer::Options options;
            lexer::load(code, value, -1, options, nullptr);
        } else if (!cell::is(value, T_block) && !cell::is(value, T_paren)) {
            code = Cell{T_block, 0, memory::alloc_cells(1), 0};
            block::rs_append(code, value);
        }
        uint32_t n = tail_of(series::node_of(code));
        if (series::position_of(code) > n) series::set_index(code, n);
        stack::keep();
        trace::run(code, callback);
        return;
    }
    switch (cell::type(value)) {
    case T_block:
    case T_paren:
    case T_hash: {
        if (args.given(refine::do_::expand) && !cell::is(value, T_hash)) {
            collector::Root keep_value(value);
            expand(value);
            if (stack::exiting()) return;
        }
        if (next_word) {
            Node code = series::node_of(value);
            uint32_t end = tail_of(code);
            uint32_t pos = std::min(series::position_of(value), end);
            Cell position = value;
            if (pos >= end) {
                stack::keep();
                *args.cell(0) = unset::value;
            } else {
                stack::keep();
                interp::note_expressions_run(code);
                pos = interp::eval_next(code, pos, end, false);
            }
            if (stack::exiting()) return;
            series::set_index(position, pos);
            Cell w = *next_word;
            context::set(w, position);
            return;
        }
        run_body(value);
        return;
    }
    case T_string: {
        Cell code{T_none, 0, 0, 0};
        collector::Root keep(code);
        lexer::Options options;
        lexer::load(code, value, -1, options, nullptr);
        if (args.given(refine::do_::expand)) {
            expand(code);
            if (stack::exiting()) return;
        }
        run_body(code);
        return;
    }
    case T_error:
        error::fire_value(value);
    case T_file:
    case T_url: {
        // Scripts run through the library's do-file, which finds the header and keeps the
        // script's directory and the source-file list.
        Cell word = context::get_or_add_global(symbol::make("do-file"));
        Cell fn = *context::get(word);
        if (!cell::is(fn, T_function)) error::fire(err::script_no_value, word);
        Cell call_args[3] = {value, args.given(refine::do_::trace) ? *args.option(refine::do_::trace) : none::value,
                             args.given(refine::do_::args) ? *args.option(refine::do_::args) : none::value};
        collector::Root keep_fn(fn);
        Cell result = interp::apply_function(fn, call_args, 3);
        if (stack::exiting()) return;
        stack::keep();
        *args.cell(0) = result;
        return;
    }
    case T_path: {
        stack::keep();
        Cell block{T_block, 0, memory::alloc_cells(1), 0};
        collector::Root keep(block);
        block::rs_append(block, value);
        interp::eval_block(block, true);
        return;
    }
    default: {
        stack::keep();
        Cell block{T_block, 0, memory::alloc_cells(1), 0};
        collector::Root keep(block);
        block::rs_append(block, value);
        interp::eval_block(block, true);
        return;
    }
    }
}

void reduce(Args& args) {
    Cell value = *args.cell(0);
    Cell into_arg = args.given(refine::reduce::into) ? *args.option(refine::reduce::into) : none::value;
    collector::Root keep_into(into_arg);
    Cell* into = args.given(refine::reduce::into) ? &into_arg : nullptr;
    if (!cell::is(value, T_block) && !cell::is(value, T_paren) && !cell::is(value, T_hash)) {
        if (in(cell::type(value), ANY_FUNCTION)) return;  // returned as it is
        stack::keep();
        Cell block{T_block, 0, memory::alloc_cells(1), 0};
        collector::Root keep(block);
        block::rs_append(block, value);
        interp::eval_block(block, true);
        if (into && !stack::exiting()) {
            Cell v = *args.cell(0);
            *args.cell(0) = *into;
            auto ins = actions::lookup<actions::slot::insert>(cell::type(*args.cell(0)));
            *args.cell(0) = *ins(args.cell(0), &v, -1, true, 1, false);
        }
        return;
    }
    stack::keep();
    Cell* source = stack::push(value);
    Cell* result;
    if (into) {
        result = stack::push(*into);
    } else {
        result = block::push_new(static_cast<int32_t>(tail_of(series::node_of(value)) - series::position_of(value)));
    }
    stack::push_frame(stack::interp_native, nullptr);
    stack::reserve();
    Node code = series::node_of(*source);
    uint32_t end = tail_of(code);
    interp::note_expressions_run(code);
    for (uint32_t pos = series::position_of(*source); pos < end; end = std::min(end, tail_of(code))) {
        pos = interp::eval_pushed(code, pos, end);
        if (stack::exiting()) {
            stack::unwind();
            return;
        }
        Cell v = stack::values.top[-1];
        v.header &= ~cell::new_line;
        stack::values.top--;
        if (into) {
            Cell vv = v;
            auto ins = actions::lookup<actions::slot::insert>(cell::type(*result));
            Cell* r = ins(result, &vv, -1, true, 1, false);
            *result = *r;
        } else {
            block::rs_append(*result, v);
        }
    }
    stack::leave_frame();
    *args.cell(0) = *result;
    stack::keep();
}

void compose_into(const Cell& source, Cell& target, bool deep, bool only, bool insert) {
    Node code = series::node_of(source);
    uint32_t end = tail_of(code);
    auto add = [&](const Cell& v) {
        if (insert) {
            Cell vv = v;
            Cell* r = actions::lookup<actions::slot::insert>(cell::type(target))(&target, &vv, -1, true, 1, false);
            target = *r;
        } else {
            block::rs_append(target, v);
        }
    };
    for (uint32_t i = series::position_of(source); i < std::min(end, tail_of(code)); ++i) {
        Cell v = at(code, i);
        collector::Root keep(v);
        if (cell::is(v, T_block) && deep) {
            Cell* nested = block::push_new(static_cast<int32_t>(tail_of(series::node_of(v))));
            nested->header = v.header;
            compose_into(v, *nested, deep, only, false);
            add(*nested);
            stack::pop(1);
        } else if (cell::is(v, T_paren)) {
            if (tail_of(series::node_of(v)) <= series::position_of(v)) continue;
            stack::push_frame(stack::interp_native, nullptr);
            stack::reserve();
            interp::eval_block(v, true);
            Cell r = *stack::values.args;
            stack::leave_frame();
            if (stack::exiting()) return;
            collector::Root kr(r);
            if (cell::is(r, T_unset)) continue;
            if (cell::is(r, T_block) && !only) {
                for (uint32_t k = series::position_of(r); k < tail_of(series::node_of(r)); ++k) add(at(series::node_of(r), k));
            } else {
                add(r);
            }
        } else {
            add(v);
        }
    }
}

void compose(Args& args) {
    Cell value = *args.cell(0);
    bool deep = args.given(refine::compose::deep), only = args.given(refine::compose::only);
    Cell into_arg = args.given(refine::compose::into) ? *args.option(refine::compose::into) : none::value;
    collector::Root keep_into(into_arg);
    Cell* into = args.given(refine::compose::into) ? &into_arg : nullptr;
    stack::keep();
    stack::push(value);
    Cell* target;
    bool insert = false;
    if (into) {
        target = stack::push(*into);
        insert = block::rs_length_q(*target) > 0;
    } else {
        target = block::push_new(static_cast<int32_t>(tail_of(series::node_of(value))));
    }
    compose_into(value, *target, deep, only, insert);
    if (stack::exiting()) return;
    *args.cell(0) = into && !insert ? *into : *target;
    stack::keep();
}

// ---- words and values -------------------------------------------------------------------------------

void get(Args& args) {
    Cell w = *args.cell(0);
    bool any = args.given(refine::get::any);
    uint32_t t = cell::type(w);
    if (in(t, ANY_PATH)) {
        stack::keep();
        Cell p = w;
        interp::eval_path(p, 0, 0, 0, interp::PathMode::get, args.given(refine::get::case_));
        *args.cell(0) = stack::values.top[-1];
        stack::keep();
        return;
    }
    if (in(t, ANY_OBJECT)) {
        auto reflect = actions::lookup<actions::slot::reflect>(t);
        *args.cell(0) = *reflect(args.cell(0), words::symbols::values);
        return;
    }
    Cell v = *context::get(w);
    if (cell::is(v, T_unset) && !any) error::fire(err::script_no_value, w);
    *args.cell(0) = v;
}

// Sets the words of a block from a value, the way foreach sets its words.
void set_words(const Cell& words_block, const Cell& value, const object::SetArgs& how) {
    Node n = series::node_of(words_block);
    uint32_t first = series::position_of(words_block);
    uint32_t end = tail_of(n);
    bool spread = in(cell::type(value), ANY_BLOCK) && !how.only;
    for (uint32_t i = first; i < end; ++i) {
        const Cell& w = at(n, i);
        if (!in(cell::type(w), ANY_WORD)) error::fire(err::script_invalid_arg, w);
        if (spread && !how.any) {
            Node from = series::node_of(value);
            uint32_t k = series::position_of(value) + (i - first);
            if (k < tail_of(from) && cell::is(at(from, k), T_unset)) error::fire(err::script_need_value, w);
        }
    }
    for (uint32_t i = first; i < end; ++i) {
        Cell w = at(n, i);
        Cell v = value;
        if (spread) {
            Node from = series::node_of(value);
            uint32_t k = series::position_of(value) + (i - first);
            v = k < tail_of(from) ? at(from, k) : none::value;
        }
        if (how.some && cell::is(v, T_none)) continue;
        context::set(w, v);
    }
}

void set(Args& args) {
    Cell target = *args.cell(0);
    Cell value = *args.cell(1);
    object::SetArgs how{.any = args.given(refine::set::any), .only = args.given(refine::set::only), .some = args.given(refine::set::some)};
    uint32_t t = cell::type(target);
    if (cell::is(value, T_unset) && !how.any) error::fire(err::script_need_value, target);
    if (in(t, ANY_WORD) || t == T_refinement) {
        context::set(target, value);
    } else if (in(t, ANY_PATH)) {
        stack::keep();
        stack::push(value);
        interp::eval_path(target, 0, 0, 0, interp::PathMode::set, args.given(refine::set::case_));
    } else if (t == T_object) {
        object::set_many(target, value, how);
    } else if (t == T_block) {
        stack::keep();
        stack::push_frame(stack::interp_native, nullptr);
        stack::reserve();
        set_words(target, value, how);
        stack::leave_frame();
    }
    *args.cell(0) = value;
    stack::keep();
}

void unset_(Args& args) {
    Cell target = *args.cell(0);
    if (cell::is(target, T_word)) {
        context::set(target, unset::value);
    } else {
        for (uint32_t i = series::position_of(target); i < tail_of(series::node_of(target)); ++i) {
            Cell w = at(series::node_of(target), i);
            if (cell::is(w, T_word)) context::set(w, unset::value);
        }
    }
    *args.cell(0) = unset::value;
}

void value_q(Args& args) {
    Cell v = *args.cell(0);
    bool r = true;
    if (in(cell::type(v), ANY_WORD)) {
        Node ctx = word::context_of(v);
        if (!ctx || !context::is_context(ctx)) {
            r = false;
        } else {
            int32_t index = word::index_of(v);
            const Cell* value = index < 0 ? nullptr : context::value_cell(ctx, static_cast<uint32_t>(index));
            if (!value) {
                int32_t i = context::find_word(ctx, word::symbol_of(v), true);
                value = i >= 0 ? context::value_cell(ctx, static_cast<uint32_t>(i)) : nullptr;
            }
            r = value && !cell::is(*value, T_unset);
        }
    }
    logic::make_at(*args.cell(0), r);
}

Node context_of(const Cell& c) {
    switch (cell::type(c)) {
    case T_function:
    case T_routine:
        return function::context_of(c);
    case T_object:
    case T_error:
        return object::context_of(c);
    default:
        if (in(cell::type(c), ANY_WORD) || cell::is(c, T_refinement)) return word::context_of(c);
        return 0;
    }
}

void bind(Args& args) {
    Node ctx = context_of(*args.cell(1));
    if (!ctx || !context::is_context(ctx)) error::fire(err::script_not_in_context, *args.cell(1));
    if (cell::is(*args.cell(0), T_block)) {
        Cell block = *args.cell(0);
        if (args.given(refine::bind::copy)) {
            block = *block::clone(block, true, true);
            stack::pop(1);
        }
        collector::Root keep(block);
        context::bind(block, ctx, cell::is(*args.cell(1), T_object));
        *args.cell(0) = block;
    } else {
        Cell w = *args.cell(0);
        context::bind_word(ctx, w);
        *args.cell(0) = w;
    }
}

void in(Args& args) {
    Node ctx = context_of(*args.cell(0));
    Cell w = *args.cell(1);
    int32_t i = context::find_word(ctx, word::symbol_of(w), true);
    if (i < 0) {
        none::make_at(*args.cell(0));
        return;
    }
    *args.cell(0) = word::cell_of(T_word, word::symbol_of(w), ctx, i);
}

void context_q(Args& args) {
    Cell w = *args.cell(0);
    Node ctx = word::context_of(w);
    if (!ctx || !context::is_context(ctx)) error::fire(err::script_not_defined, w);
    *args.cell(0) = *context::self_cell(ctx);
}

void construct(Args& args) {
    Cell spec = *args.cell(0);
    Cell proto_arg = args.given(refine::construct::with) ? *args.option(refine::construct::with) : none::value;
    collector::Root keep_proto(proto_arg);
    Cell* proto = args.given(refine::construct::with) ? &proto_arg : nullptr;
    stack::keep();
    Cell* r = stack::reserve();
    object::construct(*r, spec, proto, args.given(refine::construct::only));
    *args.cell(0) = *r;
    stack::keep();
}

void extend(Args& args) {
    if (!cell::is(*args.cell(0), T_map)) error::fire(err::internal_not_done);  // object! extension
    map::extend(args.cell(0), *args.cell(1), args.given(refine::extend::case_));
    stack::keep();
}

void apply(Args& args) {
    Cell f = *args.cell(0);
    if (cell::is(f, T_word)) {
        f = *context::get(f);
    } else if (in(cell::type(f), ANY_PATH)) {
        // A path names the function by its first word; the rest of it is not looked at.
        uint32_t i = series::position_of(f);
        if (i >= tail_of(series::node_of(f))) args.wrong_value(0);
        Cell first = *block::rs_abs_at(f, i);
        if (!cell::is(first, T_word)) args.wrong_value(0);
        f = *context::get(first);
    }
    if (!in(cell::type(f), ANY_FUNCTION)) args.wrong_value(0);
    if (cell::is(f, T_op)) {
        cell::set_type(f, (f.header >> 16) & 0xFF);
        f.header &= 0xFF;
    }
    uint32_t mode = args.given(refine::apply::all) ? interp::mode_all : interp::mode_args;
    if (args.given(refine::apply::safer)) mode |= interp::mode_safer;
    stack::keep();
    // The arguments are reduced first.
    Cell arg_block = *args.cell(1);
    stack::push(arg_block);
    Cell* reduced = stack::reserve();
    Cell* out = block::push_new(static_cast<int32_t>(tail_of(series::node_of(arg_block))));
    stack::push_frame(stack::interp_native, nullptr);
    stack::reserve();
    Node code = series::node_of(arg_block);
    uint32_t end = tail_of(code);
    interp::note_expressions_run(code);
    for (uint32_t pos = series::position_of(arg_block); pos < end; end = std::min(end, tail_of(code))) {
        pos = interp::eval_pushed(code, pos, end);
        if (stack::exiting()) {
            stack::unwind();
            return;
        }
        Cell v = stack::values.top[-1];
        stack::values.top--;
        block::rs_append(*out, v);
    }
    stack::leave_frame();
    *reduced = *out;
    Cell word = cell::is(*args.cell(0), T_word) ? *args.cell(0) : Cell{T_word, 0, stack::anon_symbol(), 0xFFFFFFFFu};
    interp::call(f, series::node_of(*out), series::position_of(*out), tail_of(series::node_of(*out)), &word, interp::CallHow{.mode = mode});
    if (stack::exiting()) return;
    *args.cell(0) = stack::values.top[-1];
    stack::keep();
}

// ---- output ----------------------------------------------------------------------------------------

// The text of a value as print shows it: a block is reduced and its values formed with spaces.
Cell print_text(const Cell& value) {
    Cell v = value;
    if (cell::is(v, T_block)) {
        int32_t no_refs[1] = {-1};
        Cell* saved_args = stack::values.args;
        Cell* base = stack::push(v);
        stack::values.args = base;
        Args reduce_args(no_refs);
        reduce(reduce_args);
        v = *base;
        stack::values.args = saved_args;
        stack::values.top = base;
    }
    collector::Root keep(v);
    Cell* out = string::push(64, 1);
    auto form = actions::lookup<actions::slot::form>(cell::type(v));
    if (form) form(&v, out, nullptr, 0x7FFFFFFF);
    return *out;
}

void print_value(Args& args, bool line) {
    Cell text = print_text(*args.cell(0));
    if (stack::exiting()) return;
    collector::Root keep(text);
    print_hooks::print(text, line);
    last_line_feed = line;
    *args.cell(0) = unset::value;
    stack::keep();
}

void print(Args& args) { print_value(args, true); }
void prin(Args& args) { print_value(args, false); }

}  // namespace

void init_eval() {
#define NATIVES_eval(index, entry) register_entry(index, entry);
#include "runtime/interpreter/natives_register.h"
}

}  // namespace kov::natives
