#include "runtime/datatypes/object.h"

#include <initializer_list>

#include "runtime/cells.h"
#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/families.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/interp.h"
#include "runtime/interpreter/stack.h"
#include "runtime/owner.h"
#include "runtime/series_buffer.h"
#include "runtime/words.h"

namespace kov::object {

namespace {

uint32_t class_counter = 1000000;

using cells::at;

void mark(const Cell& c) {
    collector::mark_block(c.w1);
    if (c.w3) collector::mark_series(c.w3);
}

Cell word_cell(uint32_t sym, Node ctx, int32_t index) { return Cell{T_word, ctx, sym, static_cast<uint32_t>(index)}; }

// The hook description of one hook: its field index (or -1) and local count.
int32_t hook_index(Node record, uint32_t which) {
    if (!record) return -1;
    return static_cast<int32_t>(cells::of(record)[which].w2) >> 16;
}

// Runs a hook function with its arguments, inside a frame labelled with the hook's name.
void run_hook(const Cell& fn, const Cell* args, uint32_t count) {
    interp::apply_function(fn, args, count);
}

}  // namespace

uint32_t new_class_id() { return ++class_counter; }

uint32_t class_of(const Cell& obj) {
    cell::expect(object_q(cell::type(obj)));
    return context::self_cell(obj.w1)->w2;
}

void set_class(const Cell& obj, uint32_t class_id) {
    cell::expect(object_q(cell::type(obj)));
    context::self_cell(obj.w1)->w2 = class_id;
}

Cell& make_empty_at(Cell& c, uint32_t n) {
    Node ctx = context::create(n, false, true, 0, context::object_kind);
    c = Cell{T_object, ctx, 0, 0};
    *context::self_cell(ctx) = c;
    return c;
}

Cell* make_at(Node ctx, uint32_t class_id) { return push(ctx, 0, class_id); }

Cell* push(Node ctx, Node hooks, uint32_t class_id) {
    Cell* c = stack::push(Cell{T_object, ctx, class_id, hooks});
    *context::self_cell(ctx) = *c;
    return c;
}

Node make_hooks(Node ctx) {
    int32_t change = -1, deep = -1;
    Node list = context::word_list(ctx);
    for (uint32_t i = 0; i < cells::count(list); ++i) {
        uint32_t sym = symbol::resolve(at(list, i).w2);
        if (sym == symbol::resolve(words::loaded::on_change_x.w2)) change = static_cast<int32_t>(i);
        else if (sym == symbol::resolve(words::loaded::on_deep_change_x.w2)) deep = static_cast<int32_t>(i);
    }
    if (change < 0 && deep < 0) return 0;
    for (int32_t idx : {change, deep}) {
        if (idx < 0) continue;
        const Cell* v = context::value_cell(ctx, static_cast<uint32_t>(idx));
        if (v && !cell::is(*v, T_function) && !cell::is(*v, T_routine))
            error::fire(err::script_bad_field_set, at(list, static_cast<uint32_t>(idx)), Cell{T_datatype, cell::type(*v), 0, 0});
    }
    Node record = memory::alloc_cells(2);
    Cell* cells = cells::of(record);
    cells[0] = Cell{T_pair, 0, static_cast<uint32_t>(change) << 16, 0};
    cells[1] = Cell{T_pair, 0, static_cast<uint32_t>(deep) << 16, 0};
    memory::buffer(record)->tail = 2 * sizeof(Cell);
    return record;
}

// Makes the object the owner of the series held in its fields, each through its field's word,
// and marks its context as owning them (an outer owner then passes it by).
void own_fields(const Cell& obj_in) {
    Cell obj = obj_in;
    collector::Root keep(obj);
    for (uint32_t i = 0; i < context::word_count(obj.w1); ++i) {
        const Cell* v = context::value_cell(obj.w1, i);
        if (!v || (cell::is(*v, T_object) && v->w1 == obj.w1)) continue;
        Cell value = *v, word = *context::slot_at(obj.w1, i);
        owner::set(value, obj, word);
    }
    context::record(obj.w1)->header |= cell::owns_series;
}

void install_hooks(Cell& obj) {
    Node record = make_hooks(obj.w1);
    obj.w3 = record;
    *context::self_cell(obj.w1) = obj;
    if (record && hook_index(record, 1) >= 0) own_fields(obj);
}

bool has_deep_hook_q(const Cell& obj) { return obj.w3 && hook_index(obj.w3, 1) >= 0; }

int32_t field_index(const Cell& obj, const Cell& word) { return context::find_word(obj.w1, word.w2, true); }

const Cell* select_word(const Cell& obj, const Cell& word) {
    int32_t i = field_index(obj, word);
    if (i < 0) return &none::value;
    const Cell* v = context::value_cell(obj.w1, static_cast<uint32_t>(i));
    return v ? v : &none::value;
}

uint32_t field_count(const Cell& obj) { return context::word_count(obj.w1); }

void fire_on_change(const Cell& obj_in, const Cell& word_in, const Cell& old_value, const Cell& new_value) {
    Cell obj = obj_in;
    int32_t idx = hook_index(obj.w3, 0);
    if (idx < 0) return;
    const Cell* hook = context::value_cell(obj.w1, static_cast<uint32_t>(idx));
    if (!hook || !cell::is(*hook, T_function)) error::fire(err::script_invalid_obj_evt, hook ? *hook : none::value);
    Cell args[3] = {word_in, old_value, new_value};
    if (args[0].w1 != obj.w1) {
        // A word bound elsewhere is rebound to the object by its symbol.
        int32_t i = context::find_word(obj.w1, args[0].w2, true);
        args[0] = word_cell(args[0].w2, obj.w1, i);
    }
    Cell fn = *hook;
    collector::Root k0(args[0]), k1(args[1]), k2(args[2]), kf(fn);
    run_hook(fn, args, 3);
}

void call_on_deep_change(const Cell& owner_obj, const Cell& word, const Cell& series, const Cell& action,
                         const Cell& new_value, int32_t index, int32_t part) {
    if (!owner_obj.w3) error::fire(err::script_invalid_obj_evt, owner_obj);
    int32_t idx = hook_index(owner_obj.w3, 1);
    if (idx < 0) return;
    const Cell* hook = context::value_cell(owner_obj.w1, static_cast<uint32_t>(idx));
    if (!hook || !cell::is(*hook, T_function)) return;
    Cell args[7] = {owner_obj, word, series, action, new_value,
                    Cell{T_integer, 0, static_cast<uint32_t>(index), 0}, Cell{T_integer, 0, static_cast<uint32_t>(part), 0}};
    Cell fn = *hook;
    collector::Root k0(args[0]), k1(args[1]), k2(args[2]), k3(args[3]), k4(args[4]), kf(fn);
    run_hook(fn, args, 7);
}

void set_many(const Cell& obj_in, const Cell& value_in, const SetArgs& how) {
    Cell obj = obj_in, value = value_in;
    collector::Root k1(obj), k2(value);
    uint32_t n = field_count(obj);
    int32_t change = hook_index(obj.w3, 0), deep = hook_index(obj.w3, 1);
    bool block = cell::is(value, T_block) && !how.only;
    bool source_object = in(cell::type(value), ANY_OBJECT) && !how.only;
    if ((block || source_object) && !how.some && !how.any) {
        for (uint32_t i = 0; i < n; ++i) {
            const Cell* v = nullptr;
            if (block) {
                if (value.w1 + i >= cells::count(value.w2)) break;
                v = &at(value.w2, value.w1 + i);
            } else {
                Cell w = *context::slot_at(obj.w1, i);
                v = select_word(value, w);
            }
            if (cell::is(*v, T_unset)) error::fire(err::script_need_value, *context::slot_at(obj.w1, i));
        }
    }
    for (uint32_t i = 0; i < n; ++i) {
        if (static_cast<int32_t>(i) == change || static_cast<int32_t>(i) == deep) continue;
        Cell v;
        if (block) {
            v = value.w1 + i < cells::count(value.w2) ? at(value.w2, value.w1 + i) : none::value;
        } else if (source_object) {
            Cell w = *context::slot_at(obj.w1, i);
            int32_t k = field_index(value, w);
            if (k < 0) continue;
            v = *context::value_cell(value.w1, static_cast<uint32_t>(k));
        } else {
            v = value;
        }
        if (how.some && cell::is(v, T_none)) continue;
        Cell* slot = context::value_cell(obj.w1, i);
        Cell old = *slot;
        *slot = v;
        if (obj.w3 && change >= 0) {
            Cell w = *context::slot_at(obj.w1, i);
            collector::Root ko(old), kv(v);
            fire_on_change(obj, w, old, v);
        }
    }
}

int32_t form_fields(const Cell& obj, Cell& out, const MoldArgs& how, int32_t part, bool indent, bool mold) {
    uint32_t n = field_count(obj);
    if (n == 0) return part;
    const char* separator = "\n";
    if (how.flat) {
        indent = false;
        separator = " ";
    } else {
        if (mold && !how.only) part = string::emit(out, "\n", part);
        if (how.only) indent = false;
    }
    int32_t change = hook_index(obj.w3, 0), deep = hook_index(obj.w3, 1);
    cycles::Guard g(obj.w1);
    bool first = true;
    for (uint32_t i = 0; i < n; ++i) {
        if (part < 1) break;
        if (!how.all && (static_cast<int32_t>(i) == change || static_cast<int32_t>(i) == deep)) continue;
        // Names of the hook fields are found by symbol when the object has no record.
        Cell w = *context::slot_at(obj.w1, i);
        if (!how.all && !obj.w3) {
            uint32_t sym = symbol::resolve(w.w2);
            if (sym == symbol::resolve(words::loaded::on_change_x.w2) ||
                sym == symbol::resolve(words::loaded::on_deep_change_x.w2))
                continue;
        }
        if (!indent && !first) part = string::emit(out, separator, part);
        first = false;
        if (indent) part = mold::indent(out, how.indent, part);
        cell::set_type(w, T_word);
        w.header &= 0xFF;
        part = actions::lookup<actions::slot::mold>(T_word)(&w, &out, MoldArgs{.indent = how.indent}, part);
        part = string::emit(out, ": ", part);
        Cell* slot = context::value_cell(obj.w1, i);
        if (slot->header == 0) *slot = unset::value;
        Cell v = *slot;
        if (cell::is(v, T_word)) part = string::emit(out, "'", part);
        auto fn = actions::lookup<actions::slot::mold>(cell::type(v));
        MoldArgs value_how{.all = how.all, .flat = how.flat, .arg = how.arg, .indent = how.indent};
        if (fn) part = fn(&v, &out, value_how, part);
        if (indent) part = string::emit(out, separator, part);
    }
    return part;
}

namespace {

// A function value inherited by a new object is re-made for it: its body copied and bound
// to the object, then to a copy of its own context.
void rebind_function(Cell& fn, Node object_ctx) {
    Cell body = function::body(fn);
    collector::Root keep_body(body);
    if (!cell::is(body, T_block)) error::fire(err::script_bad_func_def, fn);
    Cell f = fn;
    collector::Root kf(f);
    Node ctx = context::clone(f, context::function_kind);
    collector::RootNode kc(ctx);
    Cell copy = *block::clone(body, true, true);
    stack::pop(1);
    collector::Root kb(copy);
    context::bind(copy, object_ctx, true);
    context::bind(copy, ctx, false);
    Cell spec{T_block, 0, fn.w2, 0};
    Cell* made = function::make_at(spec, nullptr, ctx, 0, fn.header & ~0xFFu & ~function::flag_compiled);
    cells::of(made->w3)[0] = copy;
    fn = *made;
    stack::pop(1);
}

}  // namespace

void clone(const Cell& source_in, Cell& dest, bool deep, const Cell* types, bool reset_hooks, bool from_make) {
    Cell source = source_in;
    collector::Root ks(source);
    Node ctx = context::create(field_count(source), false, true, source.w1, context::object_kind);
    collector::RootNode kc(ctx);
    dest = Cell{cell::type(source), ctx, class_of(source), reset_hooks ? 0u : source.w3};
    *context::self_cell(ctx) = dest;
    uint32_t n = field_count(source);
    for (uint32_t i = 0; i < n; ++i) *context::value_cell(ctx, i) = *context::value_cell(source.w1, i);
    for (uint32_t i = 0; i < n; ++i) {
        Cell v = *context::value_cell(ctx, i);
        // hash! stays shared: the clone below makes a block!, which would lose its type and index.
        if (from_make && in(cell::type(v), ANY_BLOCK | ANY_STRING) && !cell::is(v, T_hash)) {
            collector::Root kv(v);
            Cell copy{};
            if (in(cell::type(v), ANY_BLOCK)) {
                copy = *block::clone(v, true, true);
                stack::pop(1);
                collector::Root kcopy(copy);
                context::bind(copy, ctx, true);
            } else {
                Cell scratch = none::value;
                copy = *actions::lookup<actions::slot::copy>(cell::type(v))(&v, &scratch, nullptr, true, nullptr);
            }
            *context::value_cell(ctx, i) = copy;
        } else if (cell::is(v, T_function)) {
            collector::Root kv(v);
            rebind_function(v, ctx);
            *context::value_cell(ctx, i) = v;
        }
    }
    if (!from_make && deep) {
        if (cycles::find_q(source.w1)) error::fire(err::internal_no_cycle);
        cycles::Guard g(source.w1);
        Node values = context::record(ctx)->w2;
        block::copy_nested(values, 0, cells::count(values), 1, true, types ? *types : none::value);
    }
    if (reset_hooks) install_hooks(dest);
}

bool construct(Cell& result, const Cell& spec_in, const Cell* proto, bool only) {
    Cell spec = spec_in;
    collector::Root ks(spec);
    if (proto) {
        clone(*proto, result, true, nullptr, true, true);
    } else {
        make_empty_at(result, 4);
        result.w2 = new_class_id();
        *context::self_cell(result.w1) = result;
    }
    collector::Root kr(result);
    uint32_t before = field_count(result);
    Node s = spec.w2;
    uint32_t end = cells::count(s);
    for (uint32_t i = spec.w1; i < end;) {
        if (!cell::is(at(s, i), T_set_word)) {
            ++i;
            continue;
        }
        uint32_t run = i;
        while (i < end && cell::is(at(s, i), T_set_word)) ++i;
        Cell v = i < end ? at(s, i) : none::value;
        if (!only && cell::is(v, T_word)) {
            uint32_t sym = symbol::resolve(v.w2);
            auto is = [&](uint32_t other) { return sym == symbol::resolve(other); };
            if (is(words::symbols::true_) || is(words::symbols::yes) || is(words::symbols::on)) v = logic::true_value;
            else if (is(words::symbols::false_) || is(words::symbols::no) || is(words::symbols::off)) v = logic::false_value;
            else if (is(words::symbols::none)) v = none::value;
        }
        for (uint32_t k = run; k < i; ++k) {
            Cell w = at(s, k);
            cell::set_type(w, T_word);
            context::put_value(result.w1, w, v);
        }
    }
    return field_count(result) > before;
}

// ---- actions ------------------------------------------------------------------------------------------

namespace {

Cell* make(Cell* proto, Cell* spec, uint32_t) {
    Cell* result = stack::reserve();
    bool from_object = in(cell::type(*proto), ANY_OBJECT);
    if (from_object) clone(*proto, *result, true, nullptr, false, true);
    else make_empty_at(*result, 4);
    uint32_t before = field_count(*result);
    if (cell::is(*spec, T_block)) {
        Cell s = *spec;
        context::add_set_words(result->w1, s);
        context::bind(s, result->w1, true);
        *context::self_cell(result->w1) = *result;
        Cell body = s;
        stack::push_frame(stack::interp_native, nullptr);
        stack::reserve();
        interp::eval_block(body, true);
        stack::unwind();
        stack::values.top = result + 1;
        if (stack::exiting()) return result;
    } else if (in(cell::type(*spec), ANY_OBJECT)) {
        uint32_t n = field_count(*spec);
        for (uint32_t i = 0; i < n; ++i) {
            Cell w = *context::slot_at(spec->w1, i);
            Cell v = *context::value_cell(spec->w1, i);
            context::put_value(result->w1, w, v);
        }
    } else {
        error::fire(err::syntax_malconstruct, *spec);
    }
    // Changed flags and new-line flags start clear.
    Node list = context::word_list(result->w1);
    for (uint32_t i = 0; i < cells::count(list); ++i)
        cells::of(list)[i].header &= ~cell::field_changed;
    bool added = field_count(*result) > before;
    if (added || !from_object) result->w2 = new_class_id();
    else result->w2 = class_of(*proto);
    install_hooks(*result);
    return result;
}

Cell* reflect(Cell* value, uint32_t field) {
    Node ctx = value->w1;
    uint32_t sym = symbol::resolve(field);
    auto is = [&](uint32_t other) { return sym == symbol::resolve(other); };
    uint32_t n = context::word_count(ctx);
    Cell out{};
    if (is(words::symbols::class_)) {
        *value = Cell{T_integer, 0, class_of(*value), 0};
        return value;
    }
    if (is(words::symbols::events_q)) {
        *value = logic::make(value->w3 != 0);
        return value;
    }
    if (is(words::symbols::owner)) {
        *value = logic::make((context::record(ctx)->header & cell::owns_series) != 0);
        return value;
    }
    block::make_at(out, static_cast<int32_t>(n ? n : 1));
    collector::Root ko(out);
    for (uint32_t i = 0; i < n; ++i) {
        Cell w = *context::slot_at(ctx, i);
        if (is(words::symbols::words)) {
            w.header = T_word;
            block::rs_append(out, w);
        } else if (is(words::symbols::values)) {
            block::rs_append(out, *context::value_cell(ctx, i));
        } else if (is(words::symbols::body)) {
            w.header = T_set_word | cell::new_line;
            block::rs_append(out, w);
            Cell v = *context::value_cell(ctx, i);
            if (cell::is(v, T_word)) cell::set_type(v, T_lit_word);
            else if (cell::is(v, T_path)) cell::set_type(v, T_lit_path);
            block::rs_append(out, v);
        } else if (is(words::loaded::changed.w2)) {
            if (w.header & cell::field_changed) {
                w.header = T_word;
                block::rs_append(out, w);
            }
        } else {
            error::fire(err::internal_not_done);
        }
    }
    *value = out;
    return value;
}

int32_t form(Cell* value, Cell* out, Cell* arg, int32_t part) {
    if (cycles::detect_q(*value, *out, part, false)) return part;
    return form_fields(*value, *out, MoldArgs{.arg = arg}, part, false, false);
}

int32_t mold(Cell* value, Cell* out, const MoldArgs& how, int32_t part) {
    if (cycles::detect_q(*value, *out, part, true)) return part;
    if (!how.only) part = string::emit(*out, "make object! [", part);
    part = form_fields(*value, *out, how.at_depth(how.indent + 1), part, true, true);
    if (!how.flat && how.indent > 0 && !how.only) part = kov::mold::indent(*out, how.indent, part);
    if (!how.only) part = string::emit(*out, "]", part);
    return part;
}

Cell* eval_path(Cell* parent, const PathStep& step) {
    Cell element = *step.element;
    uint32_t t = cell::type(element);
    if (t != T_word && t != T_set_word && t != T_get_word && t != T_lit_word)
        error::fire(err::script_invalid_path, step.path ? *step.path : element, element);
    Cell obj = *parent;
    int32_t i = context::find_word(obj.w1, element.w2, true);
    if (i < 0 || (!step.value && cell::is(*context::value_cell(obj.w1, static_cast<uint32_t>(i)), T_unset))) {
        if (step.get && step.tail) return stack::push(unset::value);
        error::fire(step.tail ? err::script_invalid_path : err::script_unset_path, step.path ? *step.path : element, element);
    }
    Cell* slot = context::value_cell(obj.w1, static_cast<uint32_t>(i));
    if (!step.value) return slot;
    Cell old = *slot;
    Cell nv = *step.value;
    *slot = nv;
    if (obj.w3) {
        Cell w = word_cell(element.w2, obj.w1, i);
        collector::Root ko(old), kn(nv), kw(w);
        fire_on_change(obj, w, old, nv);
    }
    return step.value;
}

int32_t compare(Cell* a, Cell* b, int32_t op) {
    if (!in(cell::type(*b), ANY_OBJECT)) return actions::not_comparable;
    if (a->w1 == b->w1) return 0;
    if (op == actions::same) return -1;
    if (cycles::find_q(a->w1)) return cycles::find_q(b->w1) ? 0 : -1;
    uint32_t na = field_count(*a), nb = field_count(*b);
    if (na != nb) return na > nb ? 1 : -1;
    cycles::Guard ga(a->w1);
    cycles::Guard gb(b->w1);
    for (uint32_t i = 0; i < na; ++i) {
        uint32_t sa = symbol::resolve(context::slot_at(a->w1, i)->w2);
        uint32_t sb = symbol::resolve(context::slot_at(b->w1, i)->w2);
        if (sa != sb) return sa < sb ? -1 : 1;
        Cell va = *context::value_cell(a->w1, i), vb = *context::value_cell(b->w1, i);
        uint32_t ta = cell::type(va), tb = cell::type(vb);
        bool numbers = in(ta, NUMBER) && in(tb, NUMBER);
        bool words_ = in(ta, ALL_WORD) && in(tb, ALL_WORD);
        if (ta != tb && !numbers && !words_) return ta < tb ? -1 : 1;
        int32_t r = actions::compare_direct(va, vb, op);
        if (r != 0) return r;
    }
    return 0;
}

Cell* copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types) {
    if (part) error::fire(err::script_invalid_refine_arg, words::refinements::part, *part);
    Cell r{};
    clone(*value, r, deep, types, true, false);
    *result = r;
    return result;
}

// `changed` clears the changed flags (the value must be none); `owner` makes the object own
// the series of its fields; `owned` with none hands the series of its fields back from any
// outer owner (the object keeps them only when it has its own on-deep-change*), with a block
// [owner word] gives them to that owner through that word.
Cell* modify(Cell* target, Cell* field, Cell* value, bool) {
    uint32_t t = cell::type(*field);
    if (t != T_word && t != T_lit_word) error::fire(err::script_invalid_arg, *field);
    Cell obj = *target, v = *value;
    collector::Root keep_obj(obj), keep_value(v);
    uint32_t sym = symbol::resolve(field->w2);
    if (sym == symbol::resolve(words::loaded::changed.w2)) {
        if (!cell::is(v, T_none)) error::fire(err::script_invalid_arg, v);
        Node list = context::word_list(obj.w1);
        for (uint32_t i = 0; i < cells::count(list); ++i)
            cells::at(list, i).header &= ~cell::field_changed;
    } else if (sym == symbol::resolve(words::symbols::owner)) {
        own_fields(obj);
    } else if (sym == symbol::resolve(words::symbols::owned)) {
        if (cell::is(v, T_none)) {
            context::record(obj.w1)->header &= ~cell::owns_series;
            for (uint32_t i = 0; i < context::word_count(obj.w1); ++i) {
                const Cell* f = context::value_cell(obj.w1, i);
                if (!f || (cell::is(*f, T_object) && f->w1 == obj.w1)) continue;
                Cell held = *f;
                owner::unset(held);
            }
            if (has_deep_hook_q(obj)) own_fields(obj);
        } else if (cell::is(v, T_block) && block::rs_length_q(v) >= 2) {
            Cell owner_cell = *block::rs_abs_at(v, v.w1), word = *block::rs_abs_at(v, v.w1 + 1);
            collector::Root keep_owner(owner_cell), keep_word(word);
            owner::set_all(obj, owner_cell, word);
        } else {
            error::fire(err::script_invalid_arg, v);
        }
    } else {
        error::fire(err::script_invalid_arg, *field);
    }
    *target = v;
    return target;
}

Cell* select(Cell* series, Cell* value, const FindArgs&) {
    if (!in(cell::type(*value), ANY_WORD))
        error::fire(err::script_invalid_type, Cell{T_datatype, cell::type(*value), 0, 0});
    *series = *select_word(*series, *value);
    return series;
}

Cell* put(Cell* series, Cell* key, Cell* value, bool) {
    if (!cell::is(*key, T_word)) error::fire(err::script_invalid_key_type, Cell{T_datatype, cell::type(*key), 0, 0});
    PathStep step{.element = key, .value = value};
    eval_path(series, step);
    *series = *value;
    return series;
}

}  // namespace

void init() {
    datatype::register_type({.id = T_object, .name = "object!", .rest = datatype::Rest::empty,
                             .mark = mark, .same = datatype::same::first, .hash = datatype::hashing::first,
                             .actions = {.make = make, .reflect = reflect, .form = form, .mold = mold,
                                         .eval_path = eval_path, .compare = compare, .copy = copy, .put = put,
                                         .select = select, .modify = modify}});
    context::fire_on_change = fire_on_change;
    owner::on_deep_change = call_on_deep_change;
}

}  // namespace kov::object
