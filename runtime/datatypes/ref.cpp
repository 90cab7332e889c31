#include "runtime/datatypes/ref.h"

#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/interpreter/stack.h"

namespace kov::ref {

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
    any_string::register_text(T_ref, "ref!", {.reflect = inherit, .mold = mold});
}

}  // namespace kov::ref
