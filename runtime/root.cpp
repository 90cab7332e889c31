#include "runtime/root.h"

#include "runtime/collector.h"
#include "runtime/series_buffer.h"

namespace kov::root {

namespace {
memory::Node node = 0;
void mark() { collector::mark_block(node); }
}  // namespace

void init() {
    if (node) return;
    node = memory::alloc_cells(4096);
    collector::push_root(mark);
}

memory::Node block() { return node; }

Cell* append(const Cell& value) {
    Cell copy = value;  // the value may live in a buffer that the append moves
    Cell* c = series::append_cell(node);
    *c = copy;
    return c;
}

}  // namespace kov::root
