// The tracked heap: every allocation that does not live in the memory manager's frames
// (tables, scratch buffers, fixed series, the argument vector). Each block carries a header
// and sits on one doubly linked list, oldest first, so that quitting frees them all and the
// statistics can count them. Exhaustion ends the process with runtime error 94. A block of a
// large page or more takes whole pages of its own (grown by the page tables, not copied);
// smaller ones come from malloc.
//
// Invariant: every block handed out is on the list exactly once until it is freed; head and
// tail are both null or both set.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kov::heap {

// Bytes of bookkeeping in front of each block (counted by the statistics).
constexpr std::size_t header_size = 32;

void* allocate(std::size_t size);
void* allocate_zeroed(std::size_t size);
// Null behaves as allocate; size 0 frees and gives null; otherwise the block may move but
// keeps its place in the list.
void* resize(void* block, std::size_t size);
// A pointer that is not a live block of this heap is ignored.
void free(void* block);
void free_all();

// The sum of every live block's size plus its header.
uint64_t figure();
std::size_t block_count();
// The blocks in list order (for tests and the statistics): calls fn(block, size).
void for_each(void (*fn)(void* block, std::size_t size, void* data), void* data);

}  // namespace kov::heap
