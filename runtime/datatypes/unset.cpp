#include "runtime/datatypes/unit_types.h"

#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/error.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/stack.h"
#include "runtime/runtime.h"
#include "runtime/series_buffer.h"

namespace kov {

namespace unset {

const Cell value{T_unset, 0, 0, 0};

Cell* make_in(memory::Node block) { return &make_at(*series::append_cell(block)); }
Cell* push() { return stack::reserve(); }
Cell* push_last() { return &make_at(*stack::arguments()); }

namespace {

Cell* make(Cell*, Cell*, uint32_t) { return push(); }
int32_t form(Cell*, Cell*, Cell*, int32_t part) { return part; }

int32_t mold(Cell*, Cell* buffer, const MoldArgs& how, int32_t part) {
    return string::emit(*buffer, how.all ? "#(unset)" : "unset", part);
}

int32_t compare(Cell*, Cell* other, int32_t op) {
    if (!cell::is(*other, T_unset) || !actions::unit_code(op)) return actions::not_comparable;
    return 0;
}

}  // namespace

void init() {
    datatype::register_type({.id = T_unset, .name = "unset!", .rest = datatype::Rest::empty,
                             .mark = nullptr, .same = datatype::same::always,
                             .hash = datatype::hashing::constant<0xFFFFFFFEu>,
                             .actions = {.make = make, .to = make, .form = form, .mold = mold, .compare = compare}});
}

}  // namespace unset

}  // namespace kov
