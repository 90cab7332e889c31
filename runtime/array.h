// Raw arrays: growable arrays of fixed-size units (bytes, 32-bit integers, pointer-sized
// words) kept in an ordinary series buffer, for the runtime's own bookkeeping (hash table
// index lists, the terminal back end's timers and key buffers). Callers hold the node; every
// append may move the buffer. Indexes are 1-based units; search offsets are bytes from the
// head. No bounds checks: callers guarantee indexes between 1 and the length.
#pragma once
#include <cstdint>

#include "runtime/memory.h"

namespace kov::array {

using memory::Node;

Node make(uint32_t n, uint32_t unit);
uint32_t length(Node a);
void clear(Node a);
void cut_at(Node a, uint32_t index);
Node copy(Node a);
uint32_t flags(Node a);

void append_byte(Node a, uint8_t byte);
void append_bytes(Node a, const void* bytes, uint32_t n);
void append_int(Node a, int32_t value);
void append_ptr(Node a, uintptr_t value);

// Byte offset of the first occurrence, or -1.
int64_t find_int(Node a, int32_t value);
int64_t find_ptr(Node a, uintptr_t value);

int32_t pick_int(Node a, uint32_t index);
uintptr_t pick_ptr(Node a, uint32_t index);
void poke_int(Node a, uint32_t index, int32_t value);

void remove_bytes(Node a, uint32_t offset, uint32_t n);
void remove_ptr(Node a, uintptr_t value);

}  // namespace kov::array
