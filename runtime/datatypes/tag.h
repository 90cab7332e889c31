// tag!: text written between "<" and ">". The module holds the cell layout and its
// constructors so far; its form and mold come with the datatype's own registration.
//
// Cell: a string cell (see string.h) whose type is tag!.
//
// The constructors allocate and so may move memory; a cell they fill must not itself lie in a
// series buffer.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kov::tag {

// ---- cell helpers -------------------------------------------------------------------------------
inline Cell cell_of(memory::Node node, int32_t index = 0) {
    return Cell{T_tag, static_cast<uint32_t>(index), node, 0};
}

// ---- constructors -------------------------------------------------------------------------------
// An empty tag! with room for n characters of the unit (1, 2 or 4).
Cell& make_at(Cell& c, uint32_t n, uint32_t unit);
Cell* make_in(memory::Node block, uint32_t n, uint32_t unit);
Cell* push(uint32_t n, uint32_t unit);
// Pushes a copy of the cell.
Cell* push(const Cell& value);

}  // namespace kov::tag
