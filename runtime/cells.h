// The cells of a cell series (a block's buffer, a context's values, a function's more block),
// reached through the series' node.
//
// Moving memory: any allocation may move every buffer (memory.h), so an address these give is
// good only until the next allocation or call into Kov code. Code that allocates between two
// uses of a position holds a `cells::View` (node + index) and asks it for the cells again
// after each step; it never keeps the Cell* itself.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kov::cells {

// The cells from the buffer's head.
inline Cell* of(memory::Buffer* b) { return reinterpret_cast<Cell*>(b->head_ptr()); }
inline Cell* of(memory::Node n) {
    cell::expect(memory::valid_node(n));
    return of(memory::buffer(n));
}
// The cell at index i from the head.
inline Cell& at(memory::Node n, uint32_t i) { return of(n)[i]; }
// The count of cells from the head to the tail.
inline uint32_t count(memory::Node n) { return memory::buffer(n)->used() / sizeof(Cell); }

// A position in a cell series that stays valid across allocations: the node and an index.
// Every access fetches the buffer again.
struct View {
    memory::Node node;
    uint32_t index = 0;

    // The cells from the position, as the buffer stands now.
    Cell* cells() const { return of(node) + index; }
    Cell& operator[](uint32_t i) const { return of(node)[index + i]; }
    Cell& operator*() const { return *cells(); }
    Cell* operator->() const { return cells(); }
};

}  // namespace kov::cells
