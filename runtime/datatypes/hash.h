// hash!: a block whose cells are indexed by a hash table, so that find, select and the set
// operations look values up without scanning. It behaves as a block in every way the user can
// see; block! and series! own almost all of its actions.
//
// Cell: a block cell (w1 head index, w2 the cell series) of type hash! whose w3 holds the node of
// its table, a hash-index table (hashtable.h, kind 0) over every cell of the buffer from its
// head. Two hash! values that share a buffer share the table.
//
// Invariant: the table indexes exactly the cells of the buffer at their current positions. The
// block and series routines that change cells keep it so through block::index_*; copies get a
// table of their own.
//
// Moving memory: making, converting, copying and molding allocate.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/datatypes/registry.h"
#include "runtime/memory.h"

namespace kov::hash {

// Turns a block-like cell (block!, paren!, a path, hash!) into a hash! over the same buffer with
// a new table. The cell must be reachable by the collector (a value-stack cell).
Cell& make_in_place(Cell& b);
// The hash! actions of their own; the rest are block!'s.
Cell* make(Cell* proto, Cell* spec, uint32_t type);
Cell* to(Cell* proto, Cell* spec, uint32_t type);
int32_t mold(Cell* h, Cell* out, const MoldArgs& how, int32_t part);
Cell* copy(Cell* h, Cell* result, Cell* part, bool deep, Cell* types);
void init();

}  // namespace kov::hash
