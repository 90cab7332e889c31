// ref!: a reference written with a leading "@" (the "@" is not part of the text). It molds
// with the "@"; it cannot be appended to nor used in paths; everything else is string!'s.
//
// Cell: a string cell (see string.h) whose type is ref!.
//
// Moving memory: the constructors and mold allocate, so they may move any buffer; a cell they
// fill must not itself lie in a series buffer.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kov::ref {

// ---- cell helpers -------------------------------------------------------------------------------
inline Cell cell_of(memory::Node node, int32_t index = 0) {
    return Cell{T_ref, static_cast<uint32_t>(index), node, 0};
}

// ---- constructors -------------------------------------------------------------------------------
// An empty ref! with room for n characters of the unit (1, 2 or 4).
Cell& make_at(Cell& c, uint32_t n, uint32_t unit);
Cell* make_in(memory::Node block, uint32_t n, uint32_t unit);
Cell* push(uint32_t n, uint32_t unit);
// Pushes a copy of the cell.
Cell* push(const Cell& value);

void init();

}  // namespace kov::ref
