#include "runtime/interpreter/stack.h"

#include "runtime/collector.h"
#include "runtime/cycles.h"
#include "runtime/error.h"
#include "runtime/memory.h"

namespace kov::stack {

Values values;

namespace {
memory::Node value_node = 0;

void mark_values() {
    collector::mark_series(value_node);
    collector::mark_cells(values.begin, values.top);
}
}  // namespace

void init() {
    if (value_node) return;
    // A fixed buffer: it never moves, so cell pointers into the stack stay valid.
    value_node = memory::alloc_fixed_series(value_stack_cells, sizeof(Cell), 0);
    memory::Buffer* b = memory::buffer(value_node);
    values.begin = reinterpret_cast<Cell*>(b->data());
    values.end = values.begin + value_stack_cells;
    values.top = values.args = values.begin;
    collector::push_root(mark_values);
}

bool ready() { return value_node != 0; }

void overflow() {
    // Moving the top back leaves room for building and raising the error.
    values.top -= 5;
    if (values.top < values.begin) values.top = values.begin;
    if (values.args > values.top) values.args = values.top;
    cycles::reset();
    error::fire(err::internal_stack_overflow);
}

}  // namespace kov::stack
