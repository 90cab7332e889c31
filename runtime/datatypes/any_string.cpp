#include "runtime/datatypes/any_string.h"

#include "runtime/collector.h"

namespace kov::any_string {

namespace {
datatype::ActionSlots shared_slots() {
    using datatype::inherit;
    return {.make = inherit, .to = inherit, .form = inherit, .mold = inherit, .compare = inherit, .at = inherit,
            .back = inherit, .change = inherit, .clear = inherit, .copy = inherit, .find = inherit, .head = inherit,
            .head_q = inherit, .index_q = inherit, .insert = inherit, .length_q = inherit, .move = inherit,
            .next = inherit, .pick = inherit, .poke = inherit, .remove = inherit, .reverse = inherit,
            .select = inherit, .skip = inherit, .swap = inherit, .tail = inherit, .tail_q = inherit, .take = inherit,
            .modify = inherit};
}
}  // namespace

void register_text(uint32_t id, const char* name, const datatype::ActionSlots& own) {
    datatype::ActionSlots slots = shared_slots();
#define ACTION(n, word, ident, entry, ret, params) \
    if (own.ident.kind != own.ident.unmentioned) slots.ident = own.ident;
#include "runtime/defs/actions.def"
#undef ACTION
    datatype::register_type({.id = id, .name = name, .rest = datatype::Rest::empty,
                             .mark = collector::mark_string_value, .actions = slots});
}

}  // namespace kov::any_string
