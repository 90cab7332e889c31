#include "runtime/datatypes/point.h"

#include "runtime/interpreter/stack.h"
#include "runtime/series_buffer.h"

namespace kov::point2d {

// ---- constructors -------------------------------------------------------------------------------

Cell* make_in(memory::Node block, float x, float y) { return &make_at(*series::append_cell(block), x, y); }
Cell* push(float x, float y) { return &make_at(*stack::reserve(), x, y); }

}  // namespace kov::point2d

namespace kov::point3d {

// ---- constructors -------------------------------------------------------------------------------

Cell* make_in(memory::Node block, float x, float y, float z) { return &make_at(*series::append_cell(block), x, y, z); }
Cell* push(float x, float y, float z) { return &make_at(*stack::reserve(), x, y, z); }

}  // namespace kov::point3d
