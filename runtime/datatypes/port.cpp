// port! (see port.h): making a port from its spec and scheme, forwarding actions to the
// scheme's actor, and the text of a port.
//
// The cells pushed for an actor's call are copies of the action's argument cells, which live
// on the value stack, or immediate values, so nothing they refer to can be collected while
// the call is made.
#include "runtime/datatypes/port.h"

#include <cstring>
#include <initializer_list>

#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/object.h"
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
#include "runtime/series_buffer.h"

namespace kov::port {

namespace {

using actions::Slot;
namespace slot = actions::slot;

// ---- the system's objects ----------------------------------------------------------------------------

const Cell* global_value(const char* name) {
    uint32_t sym = symbol::find(reinterpret_cast<const uint8_t*>(name), uint32_t(std::strlen(name)));
    return sym ? context::get_any(sym, context::global()) : nullptr;
}

// Value n (0-based) of an object, or null.
const Cell* nth_field(const Cell* obj, uint32_t n) {
    if (!obj || !cell::is(*obj, T_object) || n >= object::field_count(*obj)) return nullptr;
    return context::value_cell(obj->w1, n);
}

const Cell* named_field(const Cell* obj, const char* name) {
    if (!obj || !cell::is(*obj, T_object)) return nullptr;
    uint32_t sym = symbol::find(reinterpret_cast<const uint8_t*>(name), uint32_t(std::strlen(name)));
    return sym ? object::select_word(*obj, word::cell_of(T_word, sym)) : nullptr;
}

// The value after the first word equal to the scheme word in system/schemes, or null.
const Cell* find_scheme(const Cell& scheme) {
    const Cell* list = named_field(global_value("system"), "schemes");
    if (!list || !cell::is(*list, T_block)) return nullptr;
    uint32_t wanted = symbol::resolve(word::symbol_of(scheme));
    memory::Buffer* b = memory::buffer(list->w2);
    uint32_t n = b->used() / sizeof(Cell);
    const Cell* cells = reinterpret_cast<const Cell*>(b->head_ptr());
    for (uint32_t i = list->w1; i + 1 < n; ++i) {
        if (in(cell::type(cells[i]), ANY_WORD) && symbol::resolve(word::symbol_of(cells[i])) == wanted)
            return &cells[i + 1];
    }
    return nullptr;
}

// ---- make ------------------------------------------------------------------------------------------

Cell* make(Cell* proto, Cell* spec_arg, uint32_t) {
    // Cells, not addresses, of the system's objects: making the spec runs Kov code, which may
    // move their buffers.
    const Cell* found = named_field(global_value("system"), "standard");
    Cell standard = found ? *found : none::value;
    Cell* spec = stack::reserve();
    if (cell::is(*spec_arg, T_object)) {
        *spec = *spec_arg;
    } else {
        // The spec prototype (system/standard's fifth value) made with the argument.
        const Cell* url_parts = nth_field(&standard, 4);
        if (!url_parts) error::fire(err::access_no_scheme, *spec_arg);
        Cell base = *url_parts;
        stack::push(base);
        Cell* made = actions::lookup<slot::make>(T_object)(stack::top(), spec_arg, T_object);
        if (stack::exiting()) return made;
        *spec = *made;
    }
    const Cell* scheme = nth_field(spec, 0);
    if (!scheme || !cell::is(*scheme, T_word)) error::fire(err::access_no_scheme, *spec_arg);
    Cell scheme_word = *scheme;

    // A copy of the port prototype (system/standard's second value), retyped.
    const Cell* port_proto = nth_field(&standard, 1);
    if (!port_proto || object::field_count(*port_proto) < 3) error::fire(err::access_invalid_port);
    Cell* port = stack::reserve();
    object::clone(*port_proto, *port, false, nullptr, false, false);
    cell::set_type(*port, T_port);
    *context::self_cell(port->w1) = *port;
    *context::value_cell(port->w1, 0) = *spec;
    *context::value_cell(port->w1, 1) = scheme_word;

    const Cell* scheme_object = find_scheme(scheme_word);
    if (!scheme_object || !cell::is(*scheme_object, T_object)) error::fire(err::access_unknown_scheme, *spec_arg);
    const Cell* actor = nth_field(scheme_object, 3);
    if (!actor || !(cell::is(*actor, T_object) || cell::is(*actor, T_handle)))
        error::fire(err::access_invalid_actor, *spec_arg);
    *context::value_cell(port->w1, 2) = *actor;
    *proto = *port;
    return proto;
}

// ---- forwarding -------------------------------------------------------------------------------------

Cell logic_of(bool b) { return b ? logic::true_value : logic::false_value; }
Cell value_or_none(const Cell* c) { return c ? *c : none::value; }

// Calls the actor's function for the action with the port and the given cells; the result
// goes into the port's cell.
Cell* forward(Cell* port, Slot action, std::initializer_list<Cell> args) {
    Cell name = word::load(actions::words[action]);
    const Cell actor = *context::value_cell(port->w1, 2);
    if (cell::is(actor, T_handle)) error::fire(err::access_no_port_action, name);
    if (!cell::is(actor, T_object)) error::fire(err::access_invalid_port);
    const Cell* fn = object::select_word(actor, name);
    if (!cell::is(*fn, T_function)) error::fire(err::access_no_port_action, name);
    Cell slots[16];
    uint32_t n = 0;
    slots[n++] = *port;
    for (const Cell& c : args) slots[n++] = c;
    *port = interp::apply_slots(*fn, slots, n, &name);
    return port;
}

Cell* forward_simple(Cell* port, Slot action) { return forward(port, action, {}); }

// append, insert, change: value; /part, length; /only; /dup, count.
Cell* forward_adding(Slot action, Cell* port, Cell* value, int32_t part, bool only, int32_t dup) {
    return forward(port, action,
                   {*value, logic_of(part >= 0), part >= 0 ? integer::make(part) : none::value, logic_of(only),
                    logic_of(dup > 1), dup > 1 ? integer::make(dup) : none::value});
}

Cell* append(Cell* p, Cell* v, int32_t part, bool only, int32_t dup, bool) {
    return forward_adding(slot::append, p, v, part, only, dup);
}
Cell* insert(Cell* p, Cell* v, int32_t part, bool only, int32_t dup, bool) {
    return forward_adding(slot::insert, p, v, part, only, dup);
}
Cell* change(Cell* p, Cell* v, int32_t part, bool only, int32_t dup) {
    return forward_adding(slot::change, p, v, part, only, dup);
}

Cell* at(Cell* p, Cell* index) { return forward(p, slot::at, {*index}); }
Cell* skip(Cell* p, Cell* offset) { return forward(p, slot::skip, {*offset}); }
Cell* pick(Cell* p, int32_t, Cell* boxed) { return forward(p, slot::pick, {*boxed}); }
Cell* poke(Cell* p, int32_t, Cell* data, Cell* boxed) { return forward(p, slot::poke, {*boxed, *data}); }

template <Slot S>
Cell* unary(Cell* p) {
    return forward_simple(p, S);
}

// The actor answers the length as an integer!.
Cell* length_q(Cell* p) {
    forward_simple(p, slot::length_q);
    if (!stack::exiting() && !cell::is(*p, T_integer)) error::fire(err::script_invalid_arg, *p);
    return p;
}

Cell* copy(Cell* p, Cell*, Cell* part, bool deep, Cell* types) {
    return forward(p, slot::copy,
                   {logic_of(part), value_or_none(part), logic_of(deep), logic_of(types), value_or_none(types)});
}

Cell* find(Cell* p, Cell* value, const FindArgs& a) {
    return forward(p, slot::find,
                   {*value, logic_of(a.part), value_or_none(a.part), logic_of(a.only), logic_of(a.case_),
                    logic_of(a.same), logic_of(a.any), logic_of(a.with), value_or_none(a.with), logic_of(a.skip),
                    value_or_none(a.skip), logic_of(a.last), logic_of(a.reverse), logic_of(a.tail),
                    logic_of(a.match)});
}

Cell* select(Cell* p, Cell* value, const FindArgs& a) {
    return forward(p, slot::select,
                   {*value, logic_of(a.part), value_or_none(a.part), logic_of(a.only), logic_of(a.case_),
                    logic_of(a.same), logic_of(a.any), logic_of(a.with), value_or_none(a.with), logic_of(a.skip),
                    value_or_none(a.skip), logic_of(a.last), logic_of(a.reverse)});
}

Cell* move(Cell* p, Cell* target, Cell* part) {
    return forward(p, slot::move, {*target, logic_of(part), value_or_none(part)});
}
Cell* modify(Cell* p, Cell* field, Cell* value, bool case_) {
    return forward(p, slot::modify, {*field, *value, logic_of(case_)});
}
Cell* put(Cell* p, Cell* key, Cell* value, bool case_) { return forward(p, slot::put, {*key, *value, logic_of(case_)}); }
Cell* remove(Cell* p, Cell* part, Cell*) { return forward(p, slot::remove, {logic_of(part), value_or_none(part)}); }
Cell* reverse(Cell* p, Cell* part, Cell*) { return forward(p, slot::reverse, {logic_of(part), value_or_none(part)}); }
Cell* rename(Cell* p, Cell* to) { return forward(p, slot::rename, {*to}); }
Cell* swap(Cell* p, Cell* other) { return forward(p, slot::swap, {*other}); }

Cell* sort(Cell* p, const SortArgs& a) {
    return forward(p, slot::sort,
                   {logic_of(a.case_), logic_of(a.skip), value_or_none(a.skip), logic_of(a.compare),
                    value_or_none(a.compare), logic_of(a.part), value_or_none(a.part), logic_of(a.all),
                    logic_of(a.reverse), logic_of(a.stable)});
}

Cell* take(Cell* p, Cell* part, bool deep, bool last) {
    return forward(p, slot::take, {logic_of(part), value_or_none(part), logic_of(deep), logic_of(last)});
}

Cell* trim(Cell* p, const TrimArgs& a) {
    return forward(p, slot::trim,
                   {logic_of(a.head), logic_of(a.tail), logic_of(a.auto_), logic_of(a.lines), logic_of(a.all),
                    logic_of(a.with), value_or_none(a.with)});
}

Cell* open(Cell* p, const OpenArgs& a) {
    return forward(p, slot::open,
                   {logic_of(a.new_), logic_of(a.read), logic_of(a.write), logic_of(a.seek), value_or_none(a.allow)});
}

// The end of read and write: copy (its answer becomes the result), then close the port.
Cell* copy_and_close(Cell* p, Cell* port, const Cell* part) {
    Cell* copied = stack::push(*p);
    forward(copied, slot::copy,
            {logic_of(part), value_or_none(part), logic::false_value, logic::false_value, none::value});
    if (stack::exiting()) return copied;
    forward_simple(port, slot::close);
    if (stack::exiting()) return port;
    *p = *copied;
    return p;
}

// read: open, copy (its answer is the result), close.
Cell* read(Cell* p, const ReadArgs& a) {
    stack::Mark mark;
    Cell* port = stack::push(*p);
    forward(port, slot::open,
            {logic::false_value, logic::false_value, logic::false_value, logic_of(a.seek), none::value});
    if (stack::exiting()) return port;
    *port = *p;
    return copy_and_close(p, port, a.part);
}

// write: open for writing, insert the data, copy (its answer is the result), close.
Cell* write(Cell* p, Cell* data, const WriteArgs& a) {
    int32_t length = a.part && cell::is(*a.part, T_integer) ? integer::get(*a.part) : -1;
    stack::Mark mark;
    Cell* port = stack::push(*p);
    forward(port, slot::open,
            {logic::false_value, logic::false_value, logic::true_value, logic_of(a.seek), none::value});
    if (stack::exiting()) return port;
    *port = *p;
    forward_adding(slot::insert, port, data, length, false, 1);
    if (stack::exiting()) return port;
    *port = *p;
    return copy_and_close(p, port, a.part);
}

// ---- text -------------------------------------------------------------------------------------------

int32_t mold(Cell* value, Cell* out, const MoldArgs& how, int32_t part) {
    if (cycles::detect_q(*value, *out, part, true)) return part;
    part = string::emit(*out, "make port! [", part);
    part = object::form_fields(*value, *out, how.at_depth(how.indent + 1), part, true, true);
    if (!how.flat && how.indent > 0) part = kov::mold::indent(*out, how.indent, part);
    return string::emit(*out, "]", part);
}

int32_t form(Cell* value, Cell* out, Cell* arg, int32_t part) {
    return mold(value, out, MoldArgs{.arg = arg}, part);
}

}  // namespace

// ---- registration -----------------------------------------------------------------------------------

void init() {
    using datatype::inherit;
    datatype::register_type(
        {.id = T_port, .name = "port!", .rest = datatype::Rest::empty, .mark = nullptr,
         .actions = {.make = make, .reflect = inherit, .form = form, .mold = mold, .eval_path = inherit,
                     .compare = inherit, .append = append, .at = at, .back = unary<slot::back>, .change = change,
                     .clear = unary<slot::clear>, .copy = copy, .find = find, .head = unary<slot::head>,
                     .head_q = unary<slot::head_q>, .index_q = unary<slot::index_q>, .insert = insert,
                     .length_q = length_q, .move = move, .next = unary<slot::next>, .pick = pick, .poke = poke,
                     .put = put, .remove = remove, .reverse = reverse, .select = select, .sort = sort, .skip = skip,
                     .swap = swap, .tail = unary<slot::tail>, .tail_q = unary<slot::tail_q>, .take = take,
                     .trim = trim, .create = unary<slot::create>, .close = unary<slot::close>,
                     .delete_ = unary<slot::delete_>, .modify = modify, .open = open, .query = unary<slot::query>,
                     .read = read, .rename = rename, .update = unary<slot::update>, .write = write}});
}

}  // namespace kov::port
