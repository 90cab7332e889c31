// Growing a series buffer at its tail: the few routines every datatype builds on.
// Each may move the buffer (see the rooting rule in memory.h); results are fresh addresses.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kov::series {

// Reserves n bytes at the tail and gives their address; the tail advances by n. A buffer too
// short grows to 2n bytes when its size is below n, else to twice its size.
uint8_t* reserve(memory::Node node, uint64_t n);
// Appends one unset! cell to a cell series, doubling the buffer when full; gives the cell.
Cell* append_cell(memory::Node node);
// A new series of the same unit holding count units from the unit index of the source
// (flags copied, except ownership).
memory::Node copy_part(memory::Node source, uint32_t unit_index, uint32_t unit_count);

}  // namespace kov::series
