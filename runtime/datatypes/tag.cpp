#include "runtime/datatypes/tag.h"

#include "runtime/collector.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/interpreter/stack.h"

namespace kov::tag {

// ---- constructors -------------------------------------------------------------------------------

Cell& make_at(Cell& c, uint32_t n, uint32_t unit) { return cell::set_type(string::make_at(c, n, unit), T_tag); }
Cell* make_in(memory::Node block, uint32_t n, uint32_t unit) {
    return &cell::set_type(*string::make_in(block, n, unit), T_tag);
}
Cell* push(uint32_t n, uint32_t unit) { return &make_at(*stack::reserve(), n, unit); }
Cell* push(const Cell& value) { return stack::push(value); }

// ---- actions ------------------------------------------------------------------------------------

namespace {

// Form and mold alike: the text between its delimiters. The text is string!'s form, given a
// budget one lower; the result counts the closing ">" too.
int32_t form(Cell* value, Cell* out, Cell* arg, int32_t part) {
    string::concatenate_literal(*out, "<");
    int32_t left = string::form(value, out, arg, part - 1);
    string::concatenate_literal(*out, ">");
    return left - 1;
}

int32_t mold(Cell* value, Cell* out, const MoldArgs& how, int32_t part) {
    return form(value, out, how.arg, part);
}

}  // namespace

// ---- registration -------------------------------------------------------------------------------

void init() {
    using datatype::inherit;
    datatype::register_type(
        {.id = T_tag, .name = "tag!", .rest = datatype::Rest::empty,
         .mark = collector::mark_string_value,
         .actions = {.make = inherit, .reflect = inherit, .to = inherit, .form = form, .mold = mold,
                     .eval_path = inherit, .compare = inherit, .append = inherit, .at = inherit, .back = inherit,
                     .change = inherit, .clear = inherit, .copy = inherit, .find = inherit, .head = inherit,
                     .head_q = inherit, .index_q = inherit, .insert = inherit, .length_q = inherit,
                     .move = inherit, .next = inherit, .pick = inherit, .poke = inherit, .put = inherit,
                     .remove = inherit, .reverse = inherit, .select = inherit, .skip = inherit, .swap = inherit,
                     .tail = inherit, .tail_q = inherit, .take = inherit, .modify = inherit}});
}

}  // namespace kov::tag
