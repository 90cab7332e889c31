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
#include "runtime/lexer/lexer.h"
#include "runtime/owner.h"
#include "runtime/series_buffer.h"
#include "runtime/words.h"

namespace kov::natives {

namespace {

using memory::Node;

inline Cell* A(uint32_t k) { return stack::values.args + k; }
inline Cell* opt(const int32_t* refs, uint32_t r) { return refs[r] >= 0 ? A(static_cast<uint32_t>(refs[r])) : nullptr; }
inline const Cell& at(Node n, uint32_t i) { return reinterpret_cast<const Cell*>(memory::buffer(n)->head_ptr())[i]; }
inline uint32_t tail_of(Node n) { return interp::tail_index(n); }

// Evaluates a block and leaves its last value as the native's result.
void run_body(const Cell& block) {
    Cell b = block;
    uint32_t n = tail_of(b.w2);
    if (b.w1 > n) b.w1 = n;
    stack::keep();
    interp::eval_block(b, true);
}

// ---- function makers ----------------------------------------------------------------------------

void make_function(Cell spec, const Cell& body) {
    stack::keep();
    uint32_t n = tail_of(spec.w2);
    if (spec.w1 > n) spec.w1 = n;
    uint32_t flags = function::validate(spec);
    Cell b = body;
    Cell* fn = function::make_at(spec, &b, 0, 0, flags);
    *A(0) = *fn;
    stack::keep();
}

void func(const int32_t*) { make_function(*A(0), *A(1)); }

void function_(const int32_t* refs) {
    Cell spec = *block::clone(*A(0), true, true);
    Cell* s = stack::push(spec);
    if (refs[0] < 0) {
        // Without /extern, nothing stays global but what the spec names.
    }
    function::collect_locals(*s, *A(1));
    make_function(*s, *A(1));
}

void does(const int32_t*) {
    Cell* spec = block::push_new(1);
    make_function(*spec, *A(0));
}

void has(const int32_t*) {
    Cell spec = *block::clone(*A(0), false, false);
    Cell* s = stack::push(spec);
    block::insert_value(*s, words::refinements::local, false, true);
    make_function(*s, *A(1));
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

void do_(const int32_t* refs) {
    Cell value = *A(0);
    Cell next_arg = refs[2] >= 0 ? *opt(refs, 2) : none::value;
    Cell* next_word = refs[2] >= 0 ? &next_arg : nullptr;
    if (refs[3] >= 0) error::fire(err::internal_not_done);  // tracing comes with its issue
    switch (cell::type(value)) {
    case T_block:
    case T_paren:
    case T_hash: {
        if (refs[0] >= 0 && !cell::is(value, T_hash)) {
            collector::Root keep_value(value);
            expand(value);
            if (stack::exiting()) return;
        }
        if (next_word) {
            Node code = value.w2;
            uint32_t end = tail_of(code);
            uint32_t pos = value.w1 < end ? value.w1 : end;
            Cell position = value;
            if (pos >= end) {
                stack::keep();
                *A(0) = unset::value;
            } else {
                stack::keep();
                pos = interp::eval_next(code, pos, end, false);
            }
            if (stack::exiting()) return;
            position.w1 = pos;
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
        if (refs[0] >= 0) {
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
        Cell args[3] = {value, none::value, refs[1] >= 0 ? *opt(refs, 1) : none::value};
        collector::Root keep_fn(fn);
        Cell result = interp::apply_function(fn, args, 3);
        if (stack::exiting()) return;
        stack::keep();
        *A(0) = result;
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

void reduce(const int32_t* refs) {
    Cell value = *A(0);
    Cell into_arg = refs[0] >= 0 ? *opt(refs, 0) : none::value;
    collector::Root keep_into(into_arg);
    Cell* into = refs[0] >= 0 ? &into_arg : nullptr;
    if (!cell::is(value, T_block) && !cell::is(value, T_paren) && !cell::is(value, T_hash)) {
        if (in(cell::type(value), ANY_FUNCTION)) return;  // returned as it is
        stack::keep();
        Cell block{T_block, 0, memory::alloc_cells(1), 0};
        collector::Root keep(block);
        block::rs_append(block, value);
        interp::eval_block(block, true);
        if (into && !stack::exiting()) {
            Cell v = *A(0);
            *A(0) = *into;
            auto ins = actions::lookup<actions::slot::insert>(cell::type(*A(0)));
            *A(0) = *ins(A(0), &v, -1, true, 1, false);
        }
        return;
    }
    stack::keep();
    Cell* source = stack::push(value);
    Cell* result;
    if (into) {
        result = stack::push(*into);
    } else {
        result = block::push_new(static_cast<int32_t>(tail_of(value.w2) - value.w1));
    }
    stack::push_frame(stack::interp_native, nullptr);
    stack::reserve();
    Node code = source->w2;
    uint32_t end = tail_of(code);
    for (uint32_t pos = source->w1; pos < end; end = std::min(end, tail_of(code))) {
        pos = interp::eval_expression(code, pos, end, false, true, false);
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
    *A(0) = *result;
    stack::keep();
}

void compose_into(const Cell& source, Cell& target, bool deep, bool only, bool insert) {
    Node code = source.w2;
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
    for (uint32_t i = source.w1; i < std::min(end, tail_of(code)); ++i) {
        Cell v = at(code, i);
        collector::Root keep(v);
        if (cell::is(v, T_block) && deep) {
            Cell* nested = block::push_new(static_cast<int32_t>(tail_of(v.w2)));
            nested->header = v.header;
            compose_into(v, *nested, deep, only, false);
            add(*nested);
            stack::pop(1);
        } else if (cell::is(v, T_paren)) {
            if (tail_of(v.w2) <= v.w1) continue;
            stack::push_frame(stack::interp_native, nullptr);
            stack::reserve();
            interp::eval_block(v, true);
            Cell r = *stack::values.args;
            stack::leave_frame();
            if (stack::exiting()) return;
            collector::Root kr(r);
            if (cell::is(r, T_unset)) continue;
            if (cell::is(r, T_block) && !only) {
                for (uint32_t k = r.w1; k < tail_of(r.w2); ++k) add(at(r.w2, k));
            } else {
                add(r);
            }
        } else {
            add(v);
        }
    }
}

void compose(const int32_t* refs) {
    Cell value = *A(0);
    bool deep = refs[0] >= 0, only = refs[1] >= 0;
    Cell into_arg = refs[2] >= 0 ? *opt(refs, 2) : none::value;
    collector::Root keep_into(into_arg);
    Cell* into = refs[2] >= 0 ? &into_arg : nullptr;
    stack::keep();
    stack::push(value);
    Cell* target;
    bool insert = false;
    if (into) {
        target = stack::push(*into);
        insert = block::rs_length_q(*target) > 0;
    } else {
        target = block::push_new(static_cast<int32_t>(tail_of(value.w2)));
    }
    compose_into(value, *target, deep, only, insert);
    if (stack::exiting()) return;
    *A(0) = into && !insert ? *into : *target;
    stack::keep();
}

// ---- words and values -------------------------------------------------------------------------------

void get(const int32_t* refs) {
    Cell w = *A(0);
    bool any = refs[0] >= 0;
    uint32_t t = cell::type(w);
    if (in(t, ANY_PATH)) {
        stack::keep();
        Cell p = w;
        interp::eval_path(p, 0, 0, 0, false, true);
        *A(0) = stack::values.top[-1];
        stack::keep();
        return;
    }
    if (in(t, ANY_OBJECT)) {
        auto reflect = actions::lookup<actions::slot::reflect>(t);
        *A(0) = *reflect(A(0), words::symbols::values);
        return;
    }
    Cell v = *context::get(w);
    if (cell::is(v, T_unset) && !any) error::fire(err::script_no_value, w);
    *A(0) = v;
}

// Sets the words of a block from a value, the way foreach sets its words.
void set_words(const Cell& words_block, const Cell& value, bool any, bool only, bool some) {
    Node n = words_block.w2;
    uint32_t end = tail_of(n);
    bool spread = in(cell::type(value), ANY_BLOCK) && !only;
    for (uint32_t i = words_block.w1; i < end; ++i) {
        const Cell& w = at(n, i);
        if (!in(cell::type(w), ANY_WORD)) error::fire(err::script_invalid_arg, w);
        if (spread && !any) {
            uint32_t k = value.w1 + (i - words_block.w1);
            if (k < tail_of(value.w2) && cell::is(at(value.w2, k), T_unset)) error::fire(err::script_need_value, w);
        }
    }
    for (uint32_t i = words_block.w1; i < end; ++i) {
        Cell w = at(n, i);
        Cell v = value;
        if (spread) {
            uint32_t k = value.w1 + (i - words_block.w1);
            v = k < tail_of(value.w2) ? at(value.w2, k) : none::value;
        }
        if (some && cell::is(v, T_none)) continue;
        context::set(w, v);
    }
}

void set(const int32_t* refs) {
    Cell target = *A(0);
    Cell value = *A(1);
    bool any = refs[0] >= 0, only = refs[2] >= 0, some = refs[3] >= 0;
    uint32_t t = cell::type(target);
    if (cell::is(value, T_unset) && !any) error::fire(err::script_need_value, target);
    if (in(t, ANY_WORD) || t == T_refinement) {
        context::set(target, value);
    } else if (in(t, ANY_PATH)) {
        stack::keep();
        stack::push(value);
        interp::eval_path(target, 0, 0, 0, true, false);
    } else if (t == T_object) {
        object::set_many(target, value, any, only, some);
    } else if (t == T_block) {
        stack::keep();
        stack::push_frame(stack::interp_native, nullptr);
        stack::reserve();
        set_words(target, value, any, only, some);
        stack::leave_frame();
    }
    *A(0) = value;
    stack::keep();
}

void unset_(const int32_t*) {
    Cell target = *A(0);
    if (cell::is(target, T_word)) {
        context::set(target, unset::value);
    } else {
        for (uint32_t i = target.w1; i < tail_of(target.w2); ++i) {
            Cell w = at(target.w2, i);
            if (cell::is(w, T_word)) context::set(w, unset::value);
        }
    }
    *A(0) = unset::value;
}

void value_q(const int32_t*) {
    Cell v = *A(0);
    bool r = true;
    if (in(cell::type(v), ANY_WORD)) {
        if (!v.w1 || !context::is_context(v.w1)) {
            r = false;
        } else {
            const Cell* value = static_cast<int32_t>(v.w3) < 0 ? nullptr : context::value_cell(v.w1, v.w3);
            if (!value) {
                int32_t i = context::find_word(v.w1, v.w2, true);
                value = i >= 0 ? context::value_cell(v.w1, static_cast<uint32_t>(i)) : nullptr;
            }
            r = value && !cell::is(*value, T_unset);
        }
    }
    logic::make_at(*A(0), r);
}

Node context_of(const Cell& c) {
    switch (cell::type(c)) {
    case T_function:
    case T_routine:
    case T_object:
    case T_error:
    case T_port:
        return c.w1;
    default:
        if (in(cell::type(c), ANY_WORD) || cell::is(c, T_refinement)) return c.w1;
        return 0;
    }
}

void bind(const int32_t* refs) {
    Node ctx = context_of(*A(1));
    if (!ctx || !context::is_context(ctx)) error::fire(err::script_not_in_context, *A(1));
    if (cell::is(*A(0), T_block)) {
        Cell block = *A(0);
        if (refs[0] >= 0) {
            block = *block::clone(block, true, true);
            stack::pop(1);
        }
        collector::Root keep(block);
        context::bind(block, ctx, cell::is(*A(1), T_object));
        *A(0) = block;
    } else {
        Cell w = *A(0);
        context::bind_word(ctx, w);
        *A(0) = w;
    }
}

void in(const int32_t*) {
    Node ctx = context_of(*A(0));
    Cell w = *A(1);
    int32_t i = context::find_word(ctx, w.w2, true);
    if (i < 0) {
        none::make_at(*A(0));
        return;
    }
    *A(0) = word::cell_of(T_word, w.w2, ctx, i);
}

void context_q(const int32_t*) {
    Cell w = *A(0);
    if (!w.w1 || !context::is_context(w.w1)) error::fire(err::script_not_defined, w);
    *A(0) = *context::self_cell(w.w1);
}

void construct(const int32_t* refs) {
    Cell spec = *A(0);
    Cell proto_arg = refs[0] >= 0 ? *opt(refs, 0) : none::value;
    collector::Root keep_proto(proto_arg);
    Cell* proto = refs[0] >= 0 ? &proto_arg : nullptr;
    stack::keep();
    Cell* r = stack::reserve();
    object::construct(*r, spec, proto, refs[1] >= 0);
    *A(0) = *r;
    stack::keep();
}

void extend(const int32_t* refs) {
    if (!cell::is(*A(0), T_map)) error::fire(err::internal_not_done);  // object! extension
    map::extend(A(0), *A(1), refs[0] >= 0);
    stack::keep();
}

void apply(const int32_t* refs) {
    Cell f = *A(0);
    if (cell::is(f, T_word)) f = *context::get(f);
    else if (in(cell::type(f), ANY_BLOCK)) error::fire(err::internal_not_done);
    if (!in(cell::type(f), ANY_FUNCTION)) error::fire(err::script_invalid_arg, *A(0));
    if (cell::is(f, T_op)) {
        cell::set_type(f, (f.header >> 16) & 0xFF);
        f.header &= 0xFF;
    }
    uint32_t mode = refs[0] >= 0 ? interp::mode_all : interp::mode_args;
    if (refs[1] >= 0) mode |= interp::mode_safer;
    stack::keep();
    // The arguments are reduced first.
    Cell args = *A(1);
    stack::push(args);
    Cell* reduced = stack::reserve();
    Cell* out = block::push_new(static_cast<int32_t>(tail_of(args.w2)));
    stack::push_frame(stack::interp_native, nullptr);
    stack::reserve();
    Node code = args.w2;
    uint32_t end = tail_of(code);
    for (uint32_t pos = args.w1; pos < end; end = std::min(end, tail_of(code))) {
        pos = interp::eval_expression(code, pos, end, false, true, false);
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
    Cell word = cell::is(*A(0), T_word) ? *A(0) : Cell{T_word, 0, stack::anon_symbol(), 0xFFFFFFFFu};
    interp::call(f, out->w2, out->w1, tail_of(out->w2), &word, nullptr, 0, mode, false);
    if (stack::exiting()) return;
    *A(0) = stack::values.top[-1];
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
        reduce(no_refs);
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

void print_value(bool line) {
    Cell text = print_text(*A(0));
    if (stack::exiting()) return;
    collector::Root keep(text);
    print_hooks::print(text, line);
    last_line_feed = line;
    *A(0) = unset::value;
    stack::keep();
}

void print(const int32_t*) { print_value(true); }
void prin(const int32_t*) { print_value(false); }

}  // namespace

void init_eval() {
    register_entry(index::func, func);
    register_entry(index::function, function_);
    register_entry(index::does, does);
    register_entry(index::has, has);
    register_entry(index::do_, do_);
    register_entry(index::reduce, reduce);
    register_entry(index::compose, compose);
    register_entry(index::get, get);
    register_entry(index::set, set);
    register_entry(index::unset, unset_);
    register_entry(index::value_q, value_q);
    register_entry(index::bind, bind);
    register_entry(index::in, in);
    register_entry(index::context_q, context_q);
    register_entry(index::construct, construct);
    register_entry(index::extend, extend);
    register_entry(index::apply, apply);
    register_entry(index::print, print);
    register_entry(index::prin, prin);
}

}  // namespace kov::natives
