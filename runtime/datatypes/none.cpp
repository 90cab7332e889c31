#include "runtime/datatypes/unit_types.h"

#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/error.h"
#include "runtime/interpreter/actions.h"
#include "runtime/interpreter/stack.h"
#include "runtime/runtime.h"
#include "runtime/series_buffer.h"

namespace kov {

namespace none {

const Cell value{T_none, 0, 0, 0};

Cell* make_in(memory::Node block) { return &make_at(*series::append_cell(block)); }
Cell* push() { return &make_at(*stack::reserve()); }
Cell* push_last() { return &make_at(*stack::arguments()); }

namespace {

Cell* make(Cell*, Cell*, uint32_t) { return push(); }
int32_t form(Cell*, Cell* buffer, Cell*, int32_t part) { return string::emit(*buffer, "none", part); }

int32_t mold(Cell*, Cell* buffer, const MoldArgs& how, int32_t part) {
    return string::emit(*buffer, how.all ? "#(none)" : "none", part);
}

int32_t compare(Cell*, Cell* other, int32_t op) {
    if (!cell::is(*other, T_none) || !actions::unit_code(op)) return actions::not_comparable;
    return 0;
}

// clear, find, remove, select and take on none answer none.
Cell* answer_none(Cell* series) { return &make_at(*series); }
Cell* find(Cell* series, Cell*, const FindArgs&) { return answer_none(series); }
Cell* remove(Cell* series, Cell*, Cell*) { return answer_none(series); }
Cell* take(Cell* series, Cell*, bool, bool) { return answer_none(series); }
Cell* length(Cell* series) { return answer_none(series); }

}  // namespace

void init() {
    datatype::register_type({.id = T_none, .name = "none!", .rest = datatype::Rest::empty,
                             .mark = nullptr, .same = datatype::same::always,
                             .hash = datatype::hashing::constant<0xFFFFFFFFu>,
                             .actions = {.make = make, .to = make, .form = form, .mold = mold, .compare = compare,
                                         .clear = answer_none, .find = find, .length_q = length, .remove = remove,
                                         .select = find, .take = take}});
}

}  // namespace none

}  // namespace kov
