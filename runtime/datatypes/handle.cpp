#include "runtime/datatypes/handle.h"

#include <cstring>

#include "runtime/datatypes/registry.h"
#include "runtime/handles.h"
#include "runtime/datatypes/string.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/stack.h"
#include "runtime/series_buffer.h"

namespace kov::handle {

namespace {
const char* const kind_names[kind_count] = {"null", "fd", "monitor", "window", "font", "rich-text"};
}  // namespace

const char* kind_name(uint32_t k) { return k < kind_count ? kind_names[k] : nullptr; }

// ---- constructors -------------------------------------------------------------------------------

Cell* make_in(memory::Node block, int32_t value, uint32_t kind) {
    return &make_at(*series::append_cell(block), value, kind);
}
Cell* push(int32_t value, uint32_t kind) { return &make_at(*stack::reserve(), value, kind); }

// ---- actions ------------------------------------------------------------------------------------

namespace {

// Eight upper-case hex digits (two's complement) and "h".
void hex_text(const Cell& h, char* out) {
    string::to_hex(value(h), false, out);
    out[8] = 'h';
    out[9] = 0;
}

int32_t form(Cell* h, Cell* out, Cell*, int32_t part) {
    char text[10];
    hex_text(*h, text);
    return string::emit(*out, text, part);
}

// The native value is only shown under /all, in the construction syntax.
int32_t mold(Cell* h, Cell* out, const MoldArgs& how, int32_t part) {
    if (!how.all) return string::emit(*out, "handle!", part);
    part = string::emit(*out, "#[handle! ", part);
    char text[10];
    hex_text(*h, text);
    part = string::emit(*out, text, part);
    const char* name = kind(*h) > 0 ? kind_name(kind(*h)) : nullptr;
    if (name) {
        part = string::emit(*out, " ", part);
        part = string::emit(*out, name, part);
    }
    return string::emit(*out, "]", part);
}

// A handle whose word 3 holds a slot of the handle table keeps that slot's resource alive.
void mark(const Cell& h) {
    if (static_cast<int32_t>(h.w3) >= 0) handles::mark(static_cast<int32_t>(h.w3));
}

// The kinds are not compared: a handle is its native value.
int32_t compare(Cell* a, Cell* b, int32_t) {
    if (!cell::is(*b, T_handle)) return 1;
    int32_t x = value(*a), y = value(*b);
    return x < y ? -1 : (x > y ? 1 : 0);
}

}  // namespace

// ---- registration -------------------------------------------------------------------------------

void init() {
    datatype::register_type({.id = T_handle, .name = "handle!", .rest = datatype::Rest::empty,
                             .mark = mark, .actions = {.form = form, .mold = mold, .compare = compare}});
}

}  // namespace kov::handle
