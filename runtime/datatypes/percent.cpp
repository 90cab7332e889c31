// percent!: a float! that prints as a percentage. It holds the fraction (50% is 0.5) and takes
// everything but its text from float!: construction (the target type tells the two apart),
// comparison, arithmetic and rounding (which counts a scale in percent units).
//
// form and mold append to the output string and so may move memory.
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/interpreter/stack.h"
#include "runtime/series_buffer.h"

namespace kov::percent {

// ---- constructors -------------------------------------------------------------------------------

Cell* make_in(memory::Node block, double fraction) { return &make_at(*series::append_cell(block), fraction); }
Cell* push(double fraction) { return &make_at(*stack::reserve(), fraction); }

// ---- actions ------------------------------------------------------------------------------------

namespace {

int32_t form(Cell* value, Cell* buffer, Cell*, int32_t part) {
    FloatText text;
    float_::format(cell::get_double(*value) * 100.0, float_::Kind::percent64, text);
    return string::emit(*buffer, text.text, part);
}

int32_t mold(Cell* value, Cell* buffer, const MoldArgs& how, int32_t part) {
    return form(value, buffer, how.arg, part);
}

}  // namespace

void init() {
    using datatype::inherit;
    datatype::register_type({.id = T_percent, .name = "percent!", .rest = datatype::Rest::empty,
                             .mark = nullptr,
                             .actions = {.make = inherit, .random = inherit, .to = inherit, .form = form,
                                         .mold = mold, .compare = inherit, .absolute = inherit, .add = inherit,
                                         .divide = inherit, .multiply = inherit, .negate = inherit,
                                         .power = inherit, .remainder = inherit, .round = inherit,
                                         .subtract = inherit, .even_q = inherit, .odd_q = inherit}});
}

}  // namespace kov::percent
