// Generic sorting of fixed-size records held contiguously in memory, driven by a caller's
// comparison: a stable natural merge sort (Powersort merge policy) and an in-place quicksort
// that profits from input that is already ordered or reversed.
//
// Contract with callers:
// - The records are n × w bytes from `base` and must not move while a sort runs. The
//   comparison may run Kov code and allocate, so callers sort a rooted copy that cannot move
//   (a fixed buffer or tracked-heap block), never the data of an ordinary series.
// - The comparison may raise (kov::Error or anything else) and may answer inconsistently.
//   Whatever it does, the sorts touch nothing outside the records, always end, and leave the
//   records a permutation of the input; the merge sort's work buffer is released on the way out.
// - Records are moved by swapping (32-bit words when w is a multiple of 4, bytes otherwise) or,
//   in the merge sort, copied whole. Nothing assumes alignment.
// - Only merge_sort and sort_int32_values allocate (their work buffers, on the tracked heap);
//   nothing here touches series buffers.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kov::sort {

// Above 0 when a belongs after b, 0 when equal, below 0 when a belongs before b. The option
// words are passed through untouched (the callers' flags and /compare argument).
using Compare = int32_t (*)(const void* a, const void* b, uintptr_t option1, uintptr_t option2);

// Everything a sort needs besides the records.
struct Order {
    std::size_t width;
    uintptr_t option1;
    uintptr_t option2;
    Compare compare;
};

// Stable. Needs a work buffer of n / 2 records: script too-long when its size does not fit in
// 31 bits, internal no-memory when it is larger than the runtime hands out in one block.
// Does nothing (and compares nothing) when n is below 2 or w is 0.
void merge_sort(void* base, std::size_t n, std::size_t w, uintptr_t option1, uintptr_t option2,
                Compare compare);

// Not stable; in place, no allocation. Does nothing when n is below 2 or w is 0.
void quicksort(void* base, std::size_t n, std::size_t w, uintptr_t option1, uintptr_t option2,
               Compare compare);

// The quicksort for records ordered by a signed 32-bit key at a byte offset of each record
// (ascending, or descending): the same order quicksort gives with a comparison answering the
// keys' order, without a call per comparison.
void quicksort_int32(void* base, std::size_t n, std::size_t w, std::size_t key_offset, bool descending);

// Sorts n signed 32-bit integers ascending. Allocates a work buffer of n integers on the
// tracked heap when n is large (internal no-memory when it is larger than the runtime hands
// out in one block); compares nothing through a caller.
void sort_int32_values(int32_t* keys, std::size_t n);

// The run beginning at start (start < end): ascending (each record not after the next) or
// strictly descending; a descending run is reversed in place, so the records [start, result)
// are always ascending. Gives the end of the run.
uint8_t* find_run(uint8_t* start, uint8_t* end, const Order& order);

// Merges the sorted ranges [start, middle) and [middle, end), stably. The work buffer must hold
// the shorter of the two ranges.
void merge(uint8_t* start, uint8_t* middle, uint8_t* end, uint8_t* work, const Order& order);

// Exchanges two records (a and b may be equal).
void swap(void* a, void* b, std::size_t w, bool bytewise);

// The quicksort's partitioning stage on its own: sorts count records of which `sorted` are
// known to be in order already, at the front (sorted > 0) or at the end (sorted < 0).
// Ranges of fewer than 8 records are finished by insertion sort.
void partition_sort(uint8_t* base, std::size_t count, std::ptrdiff_t sorted, const Order& order);

}  // namespace kov::sort
