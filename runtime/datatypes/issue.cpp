#include "runtime/datatypes/issue.h"

#include "runtime/datatypes/context.h"
#include "runtime/interpreter/stack.h"
#include "runtime/series_buffer.h"

namespace kov::issue {

// ---- constructors -------------------------------------------------------------------------------

Cell make(uint32_t symbol) { return Cell{T_issue, context::global(), symbol, 0xFFFFFFFFu}; }

Cell& make_at(Cell& c, uint32_t symbol) {
    Cell v = make(symbol);
    v.header = (c.header & ~0xFFu) | T_issue;
    return c = v;
}

Cell* make_in(memory::Node block, uint32_t symbol) { return &make_at(*series::append_cell(block), symbol); }
Cell* push(uint32_t symbol) { return stack::push(make(symbol)); }

}  // namespace kov::issue
