#include "runtime/datatypes/issue.h"

#include "runtime/collector.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/error.h"
#include "runtime/families.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/stack.h"
#include "runtime/root.h"
#include "runtime/series_buffer.h"

namespace kov::issue {

// ---- constructors -------------------------------------------------------------------------------

Cell make(uint32_t symbol) { return Cell{T_issue, context::global(), symbol, 0xFFFFFFFFu}; }

Cell& make_at(Cell& c, uint32_t symbol) {
    Cell v = make(symbol);
    v.header = cell::retyped(c.header, T_issue);
    return c = v;
}

Cell* make_in(memory::Node block, uint32_t symbol) { return &make_at(*series::append_cell(block), symbol); }
Cell* push(uint32_t symbol) { return stack::push(make(symbol)); }

Cell* load(const char* text) {
    uint32_t sym = symbol::make(text);
    if (context::boot_flag) return make_in(root::block(), sym);
    return push(sym);
}

// ---- actions ------------------------------------------------------------------------------------

Cell* make_action(Cell* proto, Cell* spec, uint32_t) {
    uint32_t t = cell::type(*spec);
    uint32_t sym;
    if (in(t, ANY_STRING)) {
        sym = symbol::find_string(*spec, -1);
    } else if (t == T_char_) {
        Cell* s = string::push(1, 1);
        string::append_char(s->w2, static_cast<int32_t>(spec->w2));
        sym = symbol::find_string(*s, -1);
        stack::pop(1);
    } else if (in(t, ALL_WORD)) {
        sym = spec->w2;
    } else {
        auto fn = actions::lookup<actions::slot::make>(T_word);
        if (!fn) actions::fire_expect_arg(*proto, 0);
        sym = fn(proto, spec, T_issue)->w2;
    }
    return push(sym);
}

namespace {

int32_t mold(Cell* value, Cell* out, const MoldArgs& how, int32_t part) {
    part = string::emit(*out, "#", part);
    return word::form(value, out, how.arg, part);
}

int32_t compare(Cell* a, Cell* b, int32_t op) {
    if (!cell::is(*b, T_issue)) return actions::not_comparable;
    return word::compare(a, b, op);
}

}  // namespace

// ---- registration -------------------------------------------------------------------------------

void init() {
    datatype::register_type({.id = T_issue, .name = "issue!", .rest = datatype::Rest::empty,
                             .mark = word::mark,
                             .actions = {.make = make_action, .to = make_action, .form = datatype::inherit,
                                         .mold = mold, .compare = compare}});
}

}  // namespace kov::issue
