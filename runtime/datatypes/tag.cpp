#include "runtime/datatypes/tag.h"

#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/interpreter/stack.h"

namespace kov::tag {

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
    any_string::register_text(T_tag, "tag!", {.reflect = inherit, .form = form, .mold = mold,
                                              .eval_path = inherit, .append = inherit, .put = inherit});
}

}  // namespace kov::tag
