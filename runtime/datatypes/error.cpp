#include "runtime/datatypes/error.h"

#include <algorithm>
#include <cstring>

#include "runtime/cells.h"
#include "runtime/collector.h"
#include "runtime/console_output.h"
#include "runtime/cycles.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/datatypes/word.h"
#include "runtime/families.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/interp.h"
#include "runtime/interpreter/stack.h"
#include "runtime/lexer/lexer.h"
#include "runtime/root.h"
#include "runtime/series_buffer.h"
#include "runtime/words.h"

namespace kov::error {

namespace {

// Class id of error! objects.
constexpr uint32_t error_class = 1;

const char* const field_names[field_count] = {"code", "type", "id", "arg1", "arg2", "arg3", "near", "where", "stack", "files"};

Cell catalog_cell{T_none, 0, 0, 0};
Cell prototype_cell{T_none, 0, 0, 0};

void mark_roots() {
    collector::mark_cell(catalog_cell);
    collector::mark_cell(prototype_cell);
}

using cells::at;

// An object with the given field names, all none, pushed on the value stack.
Cell* make_object(const char* const* names, uint32_t count, uint32_t class_id) {
    Cell* obj = stack::reserve();
    object::make_empty_at(*obj, count);
    for (uint32_t i = 0; i < count; ++i) {
        Cell w = word::cell_of(T_word, symbol::make(names[i]));
        context::put_value(obj->w1, w, none::value);
    }
    obj->w2 = class_id;
    *context::self_cell(obj->w1) = *obj;
    return obj;
}

// The first value of a Kov source text (a message of the catalogue).
Cell load_message(const char* source) {
    Cell out{T_none, 0, 0, 0};
    collector::Root keep(out);
    lexer::Options options;
    lexer::scan(reinterpret_cast<const uint8_t*>(source), std::strlen(source), options, none::value, out);
    if (cell::is(out, T_block) && cells::count(out.w2) > out.w1) return at(out.w2, out.w1);
    return none::value;
}

void build_catalog() {
    stack::Mark mark;
    const char* category_names[err::category_count];
    for (uint32_t c = 0; c < err::category_count; ++c) category_names[c] = err::category_words[c];
    Cell* cat = make_object(category_names, err::category_count, object::new_class_id());
    catalog_cell = *cat;
    for (uint32_t c = 0; c < err::category_count; ++c) {
        Cell* category = stack::reserve();
        object::make_empty_at(*category, 8);
        category->w2 = object::new_class_id();
        *context::self_cell(category->w1) = *category;
        Cell w = word::cell_of(T_word, symbol::make("code"));
        context::put_value(category->w1, w, integer::make(static_cast<int32_t>(c * 100)));
        Cell* title = string::push(16, 1);
        string::concatenate_literal(*title, err::category_titles[c]);
        w = word::cell_of(T_word, symbol::make("type"));
        context::put_value(category->w1, w, *title);
        for (uint32_t i = 0; i < err::id_count; ++i) {
            if (err::defs[i].category != c) continue;
            Cell message = load_message(err::defs[i].message);
            collector::Root keep(message);
            Cell id = word::cell_of(T_word, symbol::make(err::defs[i].word));
            context::put_value(category->w1, id, message);
        }
        Cell cw = word::cell_of(T_word, symbol::make(err::category_words[c]));
        context::put_value(catalog_cell.w1, cw, *category);
    }
}

// The category object named by a word, and the message of an id in it.
const Cell* category_of(const Cell& type) {
    if (!cell::is(catalog_cell, T_object)) return nullptr;
    int32_t i = context::find_word(catalog_cell.w1, type.w2, true);
    if (i < 0) return nullptr;
    const Cell* v = context::value_cell(catalog_cell.w1, static_cast<uint32_t>(i));
    return v && cell::is(*v, T_object) ? v : nullptr;
}

const Cell* message_of(const Cell& category, const Cell& id) {
    int32_t i = context::find_word(category.w1, id.w2, true);
    if (i < 2) return nullptr;  // code and type are not ids
    return context::value_cell(category.w1, static_cast<uint32_t>(i));
}

void set_field(const Cell& err, Field f, const Cell& v) { *context::value_cell(err.w1, f) = v; }

// Records the moment of raising into the exception: the expression being evaluated, the
// calling function, and the words of the calls on the stack.
void stamp_error(Error& e) {
    bool thrown = stack::throw_origin_q();
    e.near = thrown ? stack::throw_origin_near() : interp::current;
    stack::caller_word(e.where_symbol, e.where_context);
    // Raised inside the system's own functions: the report names the call the user's code
    // made, the first labelled frame above the one the user's code runs in. An expression
    // that sets a word is named by that word, one that sets a path by `set-path`: neither
    // has a frame of its own.
    if (!thrown && interp::current_depth > 0) {
        const Cell* start = interp::current_cell();
        if (start && cell::is(*start, T_set_word)) {
            e.where_symbol = start->w2;
            e.where_context = start->w1;
        } else if (start && cell::is(*start, T_set_path)) {
            e.where_symbol = words::loaded::set_path.w2;
            e.where_context = 0;
        } else {
            for (uint32_t d = interp::current_depth + 1; d <= stack::depth(); ++d) {
                const stack::Frame& f = stack::frame_at(d);
                if (!f.symbol || f.symbol == stack::body_symbol() || f.symbol == stack::anon_symbol()) continue;
                e.where_symbol = f.symbol;
                e.where_context = f.word_context;
                break;
            }
        }
    }
    e.depth = stack::depth();
    e.call_count = 0;
    for (uint32_t d = stack::depth(); d >= 1 && e.call_count < Error::max_calls; --d) {
        const stack::Frame& f = stack::frame_at(d);
        if (!f.symbol || f.symbol == stack::body_symbol() || f.symbol == stack::anon_symbol()) continue;
        e.calls[e.call_count] = f.symbol;
        e.call_contexts[e.call_count] = f.word_context;
        ++e.call_count;
    }
}

Cell make_with_code(int32_t code) {
    int32_t category = code / 100;
    if (code < 0 || category >= static_cast<int32_t>(err::category_count))
        error::fire(err::script_out_of_range, integer::make(code));
    int32_t position = code % 100;
    uint32_t n = 0;
    for (uint32_t i = 0; i < err::id_count; ++i) {
        if (err::defs[i].category != static_cast<uint32_t>(category)) continue;
        if (static_cast<int32_t>(n) == position) return create(static_cast<err::Id>(i), nullptr, 0);
        ++n;
    }
    error::fire(err::script_out_of_range, integer::make(code));
}

// The catalogue id of a category and id word pair, or id_count.
uint32_t find_id(uint32_t category_symbol, uint32_t id_symbol, int32_t& category) {
    category = -1;
    for (uint32_t c = 0; c < err::category_count; ++c)
        if (symbol::resolve(symbol::make(err::category_words[c])) == symbol::resolve(category_symbol)) category = static_cast<int32_t>(c);
    if (category < 0) return err::id_count;
    for (uint32_t i = 0; i < err::id_count; ++i) {
        if (err::defs[i].category != static_cast<uint32_t>(category)) continue;
        if (symbol::resolve(symbol::make(err::defs[i].word)) == symbol::resolve(id_symbol)) return i;
    }
    return err::id_count;
}

}  // namespace

Cell catalog() { return catalog_cell; }
Cell prototype() { return prototype_cell; }

Cell* field(const Cell& value, Field f) { return context::value_cell(value.w1, f); }

Cell create(err::Id id, const Cell* args, uint32_t count) {
    stack::Mark mark;
    Cell* obj = stack::reserve();
    object::clone(prototype_cell, *obj, false, nullptr, false, false);
    cell::set_type(*obj, T_error);
    obj->header = T_error;
    obj->w2 = error_class;
    obj->w3 = 0;
    *context::self_cell(obj->w1) = *obj;
    uint32_t category = err::defs[id].category;
    set_field(*obj, f_code, integer::make(static_cast<int32_t>(err::code(id))));
    Cell type = word::cell_of(T_word, symbol::make(err::category_words[category]));
    set_field(*obj, f_type, type);
    Cell idw = word::cell_of(T_word, symbol::make(err::defs[id].word));
    set_field(*obj, f_id, idw);
    for (uint32_t i = 0; i < count && i < 3; ++i) set_field(*obj, static_cast<Field>(f_arg1 + i), args[i]);
    return *obj;
}

Cell value_of(const Error& e) { return value_of(e, stack::depth()); }

Cell value_of(const Error& e, uint32_t running) {
    // The exception's cells are seen by no root: keep them while the value is made.
    Cell args[3] = {e.args[0], e.args[1], e.args[2]};
    Cell near = e.near, given = e.value;
    collector::Root k0(args[0]), k1(args[1]), k2(args[2]), kn(near), kg(given);
    Cell v = cell::is(given, T_error) ? given : create(e.id, args, e.arg_count);
    collector::Root kv(v);
    if (cell::is(*field(v, f_near), T_none)) set_field(v, f_near, near);
    if (cell::is(*field(v, f_where), T_none) && e.where_symbol)
        set_field(v, f_where, Cell{T_word, e.where_context, e.where_symbol, 0xFFFFFFFFu});
    // Those above the barrier are gone by the time it catches the error, and their places are
    // taken by other calls before the error is formed.
    uint32_t level = std::min(e.depth, running);
    if (cell::is(*field(v, f_stack), T_none)) set_field(v, f_stack, integer::make(static_cast<int32_t>(level)));
    return v;
}

namespace {

// A field of `system/state`, or null.
const Cell* state_field(const char* name) {
    Cell sys = *context::get(context::get_or_add_global(symbol::make("system")));
    if (!cell::is(sys, T_object)) return nullptr;
    const Cell* state = object::select_word(sys, word::cell_of(T_word, symbol::make("state")));
    if (!state || !cell::is(*state, T_object)) return nullptr;
    return object::select_word(*state, word::cell_of(T_word, symbol::make(name)));
}

// `system/state/stack-trace` when it is a positive integer, else 0.
int32_t stack_trace_setting() {
    const Cell* level = state_field("stack-trace");
    return level && cell::is(*level, T_integer) && integer::get(*level) > 0 ? integer::get(*level) : 0;
}

// Whether a call goes into a report's list of calls. Above level 1 every call is listed;
// otherwise only the calls of the user's function! values, so that natives, actions and the
// system's own functions do not crowd the report.
bool listed_call(uint32_t symbol, uint32_t context, int32_t level) {
    if (level > 1) return true;
    const Cell* v = context::get_any(symbol, context);
    return v && cell::is(*v, T_function) && !function::compiled_q(*v);
}

}  // namespace

void print_new(err::Id id, const Cell* args, uint32_t count) {
    stack::Mark mark;
    Cell value = create(id, args, count);
    collector::Root keep(value);
    uint32_t where = 0, context = 0;
    stack::caller_word(where, context);
    if (where) set_field(value, f_where, Cell{T_word, context, where, 0xFFFFFFFFu});
    print_hooks::print(*form_report(value), true);
}

void capture_stack(Cell& value, const Error& e) {
    if (!cell::is(*field(value, f_stack), T_integer)) return;
    int32_t level = stack_trace_setting();
    Cell list{};
    block::make_at(list, 20);
    collector::Root keep(list);
    for (uint32_t i = e.call_count; i-- > 0;)
        if (listed_call(e.calls[i], e.call_contexts[i], level))
            block::rs_append(list, Cell{T_word, e.call_contexts[i], e.calls[i], 0xFFFFFFFFu});
    set_field(value, f_stack, list);
    // The scripts being run: an error raised in a file run by `do` names it.
    const Cell* files = state_field("source-files");
    if (files && cell::is(*files, T_block) && block::rs_length_q(*files) > 0) {
        stack::Mark mark;
        set_field(value, f_files, *block::clone(*files, false, false));
    }
}

// ---- actions ------------------------------------------------------------------------------------------

namespace {

// Fills a message block: strings as they are, field words formed (syntax errors) or molded.
// Molds a value for a report, flat and cut to the limit, into the output. A report must come
// out whatever it holds: a value that cannot be molded shows as its datatype's name.
int32_t mold_for_report(const Cell& value, Cell& out, bool only, int32_t limit, int32_t part) {
    stack::Mark mark;
    Cell v = value;
    collector::Root keep(v);
    Cell* text = string::push(16, 1);
    try {
        // Without its brackets only for the near expression: a path argument is molded as
        // the path it is.
        if (only && in(cell::type(v), ANY_BLOCK)) {
            block::mold(&v, text, MoldArgs{.only = true, .flat = true}, limit);
        } else {
            auto fn = actions::lookup<actions::slot::mold>(cell::type(v));
            if (!fn) throw Error(err::internal_not_done);
            fn(&v, text, MoldArgs{.only = only, .flat = true}, limit);
        }
    } catch (const Error&) {
        string::remove_chars(*text, 0, static_cast<uint32_t>(string::rs_length_q(*text)));
        const char* name = datatype::name_of(cell::type(v));
        string::emit(*text, name ? name : "?", limit);
    }
    string::truncate_at(text->w2, static_cast<uint32_t>(limit));
    part -= string::rs_length_q(*text);
    string::concatenate(out, *text, -1, 0, false, string::append_mode);
    return part;
}

int32_t fill_message(const Cell& message, Cell& out, const Cell& err, int32_t part) {
    memory::Node n = message.w2;
    bool syntax = cell::is(*field(err, f_type), T_word) &&
                  symbol::resolve(field(err, f_type)->w2) == symbol::resolve(symbol::make("syntax"));
    uint32_t end = cells::count(n);
    bool space = false;  // a space is owed before the next value written
    for (uint32_t i = message.w1; i < end; ++i) {
        Cell v = at(n, i);
        if (cell::is(v, T_word) || cell::is(v, T_get_word)) {
            int32_t k = context::find_word(err.w1, v.w2, true);
            Cell fv = k >= 0 ? *context::value_cell(err.w1, static_cast<uint32_t>(k)) : none::value;
            // The arguments of a syntax error are texts: one that is none was not given (a
            // construction spec that does not make its value), and takes no room.
            if (syntax && cell::is(fv, T_none)) continue;
            collector::Root keep(fv);
            if (space) part = string::emit(out, " ", part);
            if (syntax) {
                auto fn = actions::lookup<actions::slot::form>(cell::type(fv));
                if (fn) part = fn(&fv, &out, nullptr, part);
            } else {
                part = mold_for_report(fv, out, false, 80, part);
            }
        } else {
            if (space) part = string::emit(out, " ", part);
            if (cell::is(v, T_string)) {
                part -= string::rs_length_q(v);
                string::concatenate(out, v, -1, 0, false, string::append_mode);
            }
        }
        space = true;
    }
    return part;
}

int32_t form(Cell* value, Cell* out, Cell*, int32_t part) {
    Cell err = *value;
    collector::Root keep(err);
    part = string::emit(*out, "*** ", part);
    const Cell* category = category_of(*field(err, f_type));
    const Cell* message = category ? message_of(*category, *field(err, f_id)) : nullptr;
    if (!message) {
        // A type or id the catalogue lacks is reported as an invalid error naming it.
        Cell bad = category ? *field(err, f_id) : *field(err, f_type);
        set_field(err, f_arg1, bad);
        set_field(err, f_type, word::cell_of(T_word, symbol::make("internal")));
        set_field(err, f_id, word::cell_of(T_word, symbol::make("invalid-error")));
        category = category_of(*field(err, f_type));
        message = category ? message_of(*category, *field(err, f_id)) : nullptr;
    }
    Cell cat = category ? *category : none::value;
    Cell msg = message ? *message : none::value;
    collector::Root k1(cat), k2(msg);
    if (cell::is(cat, T_object)) {
        Cell title = *context::value_cell(cat.w1, 1);
        if (cell::is(title, T_string)) {
            part -= string::rs_length_q(title);
            string::concatenate(*out, title, -1, 0, false, string::append_mode);
        }
        part = string::emit(*out, ": ", part);
    }
    if (cell::is(msg, T_string)) {
        part -= string::rs_length_q(msg);
        string::concatenate(*out, msg, -1, 0, false, string::append_mode);
    } else if (cell::is(msg, T_block)) {
        part = fill_message(msg, *out, err, part);
    }
    part = string::emit(*out, "\n*** Where: ", part);
    Cell where = *field(err, f_where);
    if (cell::is(where, T_word)) part = word::form(&where, out, nullptr, part);
    else if (cell::is(where, T_string)) string::concatenate(*out, where, -1, 0, false, string::append_mode);
    else part = string::emit(*out, "???", part);
    part = string::emit(*out, "\n*** Near : ", part);
    Cell near = *field(err, f_near);
    if (!cell::is(near, T_none)) part = mold_for_report(near, *out, true, 40, part);
    Cell stack_field = *field(err, f_stack);
    if (cell::is(stack_field, T_block)) {
        part = string::emit(*out, "\n*** Stack: ", part);
        part = block::form(&stack_field, out, nullptr, part);
    } else if (int32_t level = stack_trace_setting(); level > 0 && cell::is(stack_field, T_integer)) {
        // Not captured: the calls it was raised under that are still running, from the
        // outermost.
        part = string::emit(*out, "\n*** Stack: ", part);
        uint32_t end = std::min(static_cast<uint32_t>(std::max(integer::get(stack_field), 0)), stack::depth());
        bool first = true;
        for (uint32_t d = 1; d <= end; ++d) {
            const stack::Frame& f = stack::frame_at(d);
            if (!f.symbol || f.symbol == stack::body_symbol() || f.symbol == stack::anon_symbol()) continue;
            if (!listed_call(f.symbol, f.word_context, level)) continue;
            if (!first) part = string::emit(*out, " ", part);
            first = false;
            Cell w{T_word, f.word_context, f.symbol, 0xFFFFFFFFu};
            part = word::form(&w, out, nullptr, part);
        }
    }
    Cell files = *field(err, f_files);
    if (cell::is(files, T_block)) {
        part = string::emit(*out, "\n*** Files: ", part);
        part = block::mold(&files, out, MoldArgs{.only = true, .flat = true}, 40);
    }
    return part;
}

int32_t mold(Cell* value, Cell* out, const MoldArgs& how, int32_t part) {
    if (!how.only) part = string::emit(*out, "make error! [", part);
    part = object::form_fields(*value, *out, how.at_depth(how.indent + 1), part, true, true);
    if (!how.flat && how.indent > 0 && !how.only) part = kov::mold::indent(*out, how.indent, part);
    if (!how.only) part = string::emit(*out, "]", part);
    return part;
}

Cell* make(Cell*, Cell* spec, uint32_t) {
    Cell* r = stack::reserve();
    switch (cell::type(*spec)) {
    case T_integer:
        *r = make_with_code(integer::get(*spec));
        break;
    case T_string: {
        Cell a = *spec;
        *r = create(err::user_message, &a, 1);
        break;
    }
    case T_block: {
        memory::Node n = spec->w2;
        uint32_t i = spec->w1, end = cells::count(n);
        if (i < end && cell::is(at(n, i), T_word)) {
            Cell type = at(n, i);
            if (i + 1 >= end) error::fire(err::script_invalid_spec_field, type);
            Cell id = at(n, i + 1);
            if (!cell::is(id, T_word)) error::fire(err::script_invalid_arg, id);
            int32_t category;
            uint32_t found = find_id(type.w2, id.w2, category);
            if (category < 0) error::fire(err::script_invalid_spec_field, type);
            if (found == err::id_count) error::fire(err::script_invalid_spec_field, id);
            *r = create(static_cast<err::Id>(found), nullptr, 0);
        } else if (i < end && cell::is(at(n, i), T_set_word)) {
            *r = create(err::user_message, nullptr, 0);
            Cell body = *spec;
            context::bind(body, r->w1, true);
            stack::push_frame(stack::interp_native, nullptr);
            stack::reserve();
            interp::eval_block(body, true);
            stack::unwind();
            stack::values.top = r + 1;
            Cell type = *field(*r, f_type), id = *field(*r, f_id);
            if (!cell::is(type, T_word) || !cell::is(id, T_word)) error::fire(err::script_invalid_spec_field, type);
            int32_t category;
            uint32_t found = find_id(type.w2, id.w2, category);
            if (category < 0 || found == err::id_count) error::fire(err::script_invalid_spec_field, id);
            set_field(*r, f_code, integer::make(static_cast<int32_t>(err::code(static_cast<err::Id>(found)))));
        } else {
            error::fire(err::internal_invalid_error, *spec);
        }
        break;
    }
    default:
        error::fire(err::script_bad_make_arg, Cell{T_datatype, T_error, 0, 0}, *spec);
    }
    *field(*r, f_near) = interp::current;
    return r;
}

int32_t compare(Cell* a, Cell* b, int32_t op) {
    if (!cell::is(*b, T_error)) return actions::not_comparable;
    Cell x = *a, y = *b;
    cell::set_type(x, T_object);
    cell::set_type(y, T_object);
    return actions::compare_direct(x, y, op);
}

}  // namespace

Cell* form_report(const Cell& value) {
    Cell* out = string::push(64, 1);
    Cell v = value;
    form(&v, out, nullptr, 0x7FFFFFFF);
    return out;
}

void init() {
    static bool done = false;
    if (!done) {
        done = true;
        collector::push_root(mark_roots);
        stamp = stamp_error;
    }
    datatype::register_type({.id = T_error, .name = "error!", .rest = datatype::Rest::inherit,
                             .mark = nullptr, .same = datatype::same::payload,
                             .actions = {.make = make, .form = form, .mold = mold, .compare = compare,
                                         .find = datatype::empty}});
}

// Builds the prototype and the catalogue; needs the words, objects and the lexer.
void init_catalog() {
    stack::Mark mark;
    prototype_cell = *make_object(field_names, field_count, error_class);
    build_catalog();
}

}  // namespace kov::error
