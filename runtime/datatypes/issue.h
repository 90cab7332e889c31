// issue!: a word-based value written with a leading "#" (#abc). The module holds the cell
// layout and its constructors so far; make, to, mold and compare come with the datatype's own
// registration.
//
// Cell (a word cell, see word.h): w1 the global context, w2 the symbol id of the name (without
// the "#"), w3 the index -1 (an issue is never bound to a slot).
//
// Only the constructors that append to a block may move memory.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kov::issue {

// ---- cell helpers -------------------------------------------------------------------------------
inline uint32_t symbol_of(const Cell& c) { return c.w2; }

// ---- constructors -------------------------------------------------------------------------------
Cell make(uint32_t symbol);
// The cell becomes an issue of the symbol, its header flags kept.
Cell& make_at(Cell& c, uint32_t symbol);
Cell* make_in(memory::Node block, uint32_t symbol);
Cell* push(uint32_t symbol);

}  // namespace kov::issue
