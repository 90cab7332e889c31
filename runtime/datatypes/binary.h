// binary!: the byte string of the language. The module holds the cell layout and its
// constructors so far; the byte-buffer routines and the actions come with the datatype's own
// registration.
//
// Cell: w1 the head index (a byte offset from the buffer's data start), w2 the node of a
// unit-1 series, w3 0.
//
// The constructors allocate and so may move memory; a cell they fill must not itself lie in a
// series buffer.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kov::binary {

// ---- cell helpers -------------------------------------------------------------------------------
inline Cell cell_of(memory::Node node, uint32_t index = 0) { return Cell{T_binary, index, node, 0}; }
// Bytes from the head index to the tail (0 when the index lies past the tail).
uint32_t length(const Cell& c);
// The address of the byte at the head index (clipped to the tail); valid until the next
// allocation.
uint8_t* head_pointer(const Cell& c);

// ---- constructors -------------------------------------------------------------------------------
// The cell becomes an empty binary with room for `capacity` bytes (16 for 0), index 0; its
// header flags are kept.
Cell& make_at(Cell& c, uint64_t capacity);
Cell* make_in(memory::Node block, uint64_t capacity);
Cell* push(uint64_t capacity);
// A new binary holding a copy of the bytes (which must not lie in a series), appended to the
// block, or on the value stack when the block is 0.
Cell* load_in(const uint8_t* bytes, uint64_t count, memory::Node block);

}  // namespace kov::binary
