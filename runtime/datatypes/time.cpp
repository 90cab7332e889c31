#include "runtime/datatypes/time.h"

#include "runtime/interpreter/stack.h"
#include "runtime/series_buffer.h"

namespace kov::time {

// ---- constructors -------------------------------------------------------------------------------

Cell* make_in(memory::Node block, double seconds) { return &make_at(*series::append_cell(block), seconds); }
Cell* push(double seconds) { return &make_at(*stack::reserve(), seconds); }

}  // namespace kov::time
