#include "runtime/datatypes/unit_types.h"

#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/error.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/stack.h"
#include "runtime/runtime.h"
#include "runtime/series_buffer.h"

namespace kov {

namespace datatype {

Cell* make_in(memory::Node block, uint32_t type) { return &make_at(*series::append_cell(block), type); }
Cell* push(uint32_t type) { return &make_at(*stack::reserve(), type); }

namespace {

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t part) {
    const TypeEntry& t = types[value->w1 < actions::max_types ? value->w1 : 0];
    if (!t.name) return part;
    string::concatenate_literal_part(*buffer, t.name, static_cast<uint32_t>(t.name_length));
    return part - t.name_length;
}

int32_t mold(Cell* value, Cell* buffer, const MoldArgs& how, int32_t part) {
    const char* name = name_of(value->w1);
    if (!name) name = "";
    if (how.all) part = string::emit(*buffer, "#(", part);
    part = string::emit(*buffer, name, part);
    if (how.all) part = string::emit(*buffer, ")", part);
    return part;
}

int32_t compare(Cell* value, Cell* other, int32_t op) {
    if (!actions::equality_code(op)) return actions::not_comparable;
    return cell::is(*other, T_datatype) && other->w1 == value->w1 ? 0 : 1;
}

}  // namespace

void init() {
    register_type({.id = T_datatype, .name = "datatype!", .rest = Rest::empty, .mark = nullptr,
                   .same = same::first, .hash = hashing::first,
                   .actions = {.form = form, .mold = mold, .compare = compare}});
}

}  // namespace datatype

}  // namespace kov
