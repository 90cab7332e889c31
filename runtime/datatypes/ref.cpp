#include "runtime/datatypes/ref.h"

#include "runtime/collector.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/interpreter/stack.h"

namespace kov::ref {

// ---- constructors -------------------------------------------------------------------------------

Cell& make_at(Cell& c, uint32_t n, uint32_t unit) { return cell::set_type(string::make_at(c, n, unit), T_ref); }
Cell* make_in(memory::Node block, uint32_t n, uint32_t unit) {
    return &cell::set_type(*string::make_in(block, n, unit), T_ref);
}
Cell* push(uint32_t n, uint32_t unit) { return &make_at(*stack::reserve(), n, unit); }
Cell* push(const Cell& value) { return stack::push(value); }

// ---- actions ------------------------------------------------------------------------------------

namespace {

int32_t mold(Cell* value, Cell* out, const MoldArgs& how, int32_t part) {
    part = string::emit(*out, "@", part);
    return string::form(value, out, how.arg, part);
}

}  // namespace

// ---- registration -------------------------------------------------------------------------------

void init() {
    using datatype::inherit;
    datatype::register_type(
        {.id = T_ref, .name = "ref!", .rest = datatype::Rest::empty,
         .mark = collector::mark_string_value,
         .actions = {.make = inherit, .reflect = inherit, .to = inherit, .form = inherit, .mold = mold,
                     .compare = inherit, .at = inherit, .back = inherit, .change = inherit, .clear = inherit,
                     .copy = inherit, .find = inherit, .head = inherit, .head_q = inherit, .index_q = inherit,
                     .insert = inherit, .length_q = inherit, .move = inherit, .next = inherit, .pick = inherit,
                     .poke = inherit, .remove = inherit, .reverse = inherit, .select = inherit, .skip = inherit,
                     .swap = inherit, .tail = inherit, .tail_q = inherit, .take = inherit, .modify = inherit}});
}

}  // namespace kov::ref
