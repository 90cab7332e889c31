// The external-resource handle table: resources that live outside the series frames
// (platform objects such as bitmaps) are tied to the collector through one table of slots.
// A value that owns a resource keeps its slot index (a handle! cell in word 3, -1 for none);
// every collection marks the slots reachable from live values, then finalizes and frees every
// unmarked slot exactly once. Slot indexes never change when the table grows. Finalizers
// must not allocate on the collected heap.
#pragma once
#include <cstdint>

namespace kov::handles {

using Finalizer = void (*)(uintptr_t object);

constexpr uint32_t max_kinds = 20;
constexpr uint32_t free_flag = 0x40000000;
constexpr uint32_t mark_flag = 0x80000000;

void init();
// The 1-based kind index.
uint32_t register_type(const char* name, Finalizer finalizer);
int32_t add(uintptr_t object, uint32_t kind);
void finalize(uint32_t kind_word, uintptr_t object);
void finalize_slot(int32_t slot);
uintptr_t object(int32_t slot);
uint32_t kind(int32_t slot);
// Gives -1.
int32_t remove(int32_t slot, bool finalize_first);
// Gives true when the slot was unmarked; a non-zero object replaces the slot's object.
bool mark(int32_t slot, uintptr_t object = 0);
void for_each(uint32_t kind, void (*fn)(uint32_t kind, uintptr_t object));
void sweep();

// For tests and statistics.
uint32_t capacity();
uint32_t in_use();

}  // namespace kov::handles
