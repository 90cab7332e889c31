#include "runtime/datatypes/triple.h"

#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/interpreter/stack.h"
#include "runtime/series_buffer.h"

namespace kov::triple {

// ---- constructors -------------------------------------------------------------------------------

Cell* make_in(memory::Node block, int32_t a, int32_t b, int32_t c) {
    return &make_at(*series::append_cell(block), a, b, c);
}
Cell* push(int32_t a, int32_t b, int32_t c) { return &make_at(*stack::reserve(), a, b, c); }

// ---- actions ------------------------------------------------------------------------------------

namespace {

// form and mold alike: the construction that makes the value.
int32_t form(Cell* t, Cell* out, Cell*, int32_t part) {
    char text[64] = "make triple! [";
    uint32_t n = 14;
    for (uint32_t i = 0; i < 3; ++i) {
        if (i) text[n++] = ' ';
        n += integer::form_signed(at(*t, i), text + n);
    }
    text[n++] = ']';
    text[n] = 0;
    return string::emit(*out, text, part);
}

int32_t mold(Cell* t, Cell* out, const MoldArgs& how, int32_t part) { return form(t, out, how.arg, part); }

}  // namespace

// ---- registration -------------------------------------------------------------------------------

void init() {
    datatype::register_type({.id = T_triple, .name = "triple!", .rest = datatype::Rest::empty,
                             .mark = nullptr, .actions = {.form = form, .mold = mold}});
}

}  // namespace kov::triple
