#include "runtime/datatypes/any_string.h"

#include "runtime/collector.h"

namespace kov::any_string {

datatype::ActionSlots shared_slots() {
    using datatype::inherit;
    return {.make = inherit, .to = inherit, .form = inherit, .mold = inherit, .compare = inherit, .at = inherit,
            .back = inherit, .change = inherit, .clear = inherit, .copy = inherit, .find = inherit, .head = inherit,
            .head_q = inherit, .index_q = inherit, .insert = inherit, .length_q = inherit, .move = inherit,
            .next = inherit, .pick = inherit, .poke = inherit, .remove = inherit, .reverse = inherit,
            .select = inherit, .skip = inherit, .swap = inherit, .tail = inherit, .tail_q = inherit, .take = inherit,
            .modify = inherit};
}

void register_text(uint32_t id, const char* name, const datatype::ActionSlots& slots) {
    datatype::register_type({.id = id, .name = name, .rest = datatype::Rest::empty,
                             .mark = collector::mark_string_value, .actions = slots});
}

}  // namespace kov::any_string
