#include "runtime/datatypes/pair.h"

#include "runtime/interpreter/stack.h"
#include "runtime/series_buffer.h"

namespace kov::pair {

// ---- constructors -------------------------------------------------------------------------------

Cell* make_in(memory::Node block, int32_t x, int32_t y) { return &make_at(*series::append_cell(block), x, y); }
Cell* push(int32_t x, int32_t y) { return &make_at(*stack::reserve(), x, y); }

}  // namespace kov::pair
