#include "runtime/datatypes/file.h"

#include "runtime/datatypes/string.h"
#include "runtime/interpreter/stack.h"

namespace kov::file {

// ---- constructors -------------------------------------------------------------------------------

Cell& make_at(Cell& c, uint32_t n, uint32_t unit) { return cell::set_type(string::make_at(c, n, unit), T_file); }
Cell* make_in(memory::Node block, uint32_t n, uint32_t unit) {
    return &cell::set_type(*string::make_in(block, n, unit), T_file);
}
Cell* push(uint32_t n, uint32_t unit) { return &make_at(*stack::reserve(), n, unit); }
Cell* push(const Cell& value) { return stack::push(value); }

}  // namespace kov::file
