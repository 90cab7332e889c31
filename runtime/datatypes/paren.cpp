#include "runtime/datatypes/paren.h"

#include "runtime/cycles.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/interpreter/stack.h"

namespace kov::paren {

Cell* push(Cell& c) {
    cell::set_type(c, T_paren);
    return stack::push(c);
}

int32_t mold(Cell* p, Cell* out, const MoldArgs& how, int32_t part) {
    // A paren that holds itself writes "(...)" at the repeat, as a block writes "[...]".
    if (cycles::detect_q(*p, *out, part, true)) return part;
    if (!how.only) part = string::emit(*out, "(", part);
    part = block::mold_each(*p, *out, how, part);
    if (!how.only) part = string::emit(*out, ")", part);
    return part;
}

void init() {
    datatype::register_type({.id = T_paren, .name = "paren!", .rest = datatype::Rest::inherit,
                             .mark = nullptr,
                             .actions = {.mold = mold, .trim = datatype::empty}});
}

}  // namespace kov::paren
