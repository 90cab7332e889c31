// Series ownership: an object whose class asks for deep change notification owns the series
// held in its fields and every series nested in them. When such a series is changed in place,
// the owner's `on-deep-change*` is called with the owner, the field's word, the series, the
// action's word and the details of the change.
//
// Ownership lives in one process-wide table (integer keys, kind `ownership`, three values per
// key) keyed by the series node: {the series value, the owner object, the field word}; the
// `owned` flag of the series buffer says that the table has an entry, so unowned series never
// pay for a lookup. The entries are weak: an owner or a series reachable only through the
// table is collected, and the collector drops its entry (hashtable::sweep_owners).
//
// The value-slot pool below keeps values alive by a 1-based slot number.
//
// Moving memory: set, set_all, slotpool::add and the inits allocate; check runs the owner's
// hook, which may run Kov code. unset, find and slotpool::remove do not allocate.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kov::owner {

constexpr uint32_t initial_entries = 1000;
constexpr uint32_t values_per_entry = 3;

void init();
memory::Node table();

// Makes the value's series owned by the owner object through the field word; blocks and the
// fields of objects are walked (their nested series too), all through that same word; with
// none for the word, an object's fields are owned through their own words.
void set(const Cell& value, const Cell& owner, const Cell& word);
// set, then marks the owner's context as owning all its field values.
void set_all(const Cell& value, const Cell& owner, const Cell& word);
// The mirror of set: the flags are cleared and the entries removed, blocks walked.
void unset(const Cell& value);
void unset_range(const Cell& block, uint32_t index, uint32_t count);
// The owner cell of the series' entry, or null; valid until the next allocation.
Cell* find(memory::Node series);
// After an in-place change of a series: when it has an owner whose class has hooks, calls the
// owner's on-deep-change* (through `on_deep_change`) and answers true. new_value may be null
// (none is passed).
bool check(const Cell& series, const Cell& action, const Cell* new_value, int32_t index, int32_t part);

// The call of the owner's on-deep-change* function, installed by objects: (owner, field word,
// series, action word, new value, index, part). The cells lie on the value stack.
extern void (*on_deep_change)(const Cell& owner, const Cell& word, const Cell& series, const Cell& action,
                              const Cell& new_value, int32_t index, int32_t part);

}  // namespace kov::owner

namespace kov::slotpool {

constexpr uint32_t initial_capacity = 100;

// A block of free slots, each an integer! holding the 0-based index of the next free slot
// (-1 ends the list); the collector marks the block.
void init();
// Links the slots from first (0-based) to the capacity into the free list.
void link(uint32_t first);
// Stores a copy of the value in a free slot (doubling the pool when none is left); gives its
// 1-based number.
uint32_t add(const Cell& value);
// Frees a slot; 0, a number out of range and a free slot are ignored.
void remove(uint32_t index);
// The slot's cell, or null; valid until the next allocation.
Cell* at(uint32_t index);
uint32_t capacity();

}  // namespace kov::slotpool
