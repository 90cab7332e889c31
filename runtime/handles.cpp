#include "runtime/handles.h"

#include "runtime/heap.h"

namespace kov::handles {

namespace {

struct Slot {
    uint32_t flags;
    uintptr_t object;
    int32_t next;
};

struct Kind {
    const char* name;
    Finalizer finalizer;
};

Kind* kinds = nullptr;
uint32_t kind_count = 0;
Slot* slots = nullptr;
uint32_t slot_count = 0;
int32_t used_head = -1;
int32_t free_head = -1;

void init_slots(uint32_t first, uint32_t count) {
    for (uint32_t i = first; i < first + count; ++i) slots[i] = {free_flag, 0, static_cast<int32_t>(i + 1)};
    slots[first + count - 1].next = -1;
}

bool valid(int32_t slot) {
    return slot >= 0 && static_cast<uint32_t>(slot) < slot_count && slots[slot].flags != free_flag;
}

void unlink_used(int32_t slot) {
    int32_t prev = -1;
    for (int32_t i = used_head; i != -1; prev = i, i = slots[i].next) {
        if (i != slot) continue;
        if (prev == -1) used_head = slots[i].next;
        else slots[prev].next = slots[i].next;
        return;
    }
}

void release(int32_t slot) {
    slots[slot] = {free_flag, 0, free_head};
    free_head = slot;
}

}  // namespace

void init() {
    if (slots) return;
    kinds = static_cast<Kind*>(heap::allocate_zeroed(sizeof(Kind) * max_kinds));
    slot_count = 1000;
    slots = static_cast<Slot*>(heap::allocate(sizeof(Slot) * slot_count));
    init_slots(0, slot_count);
    free_head = 0;
    used_head = -1;
}

uint32_t register_type(const char* name, Finalizer finalizer) {
    if (kind_count >= max_kinds) return 0;
    kinds[kind_count] = {name, finalizer};
    return ++kind_count;
}

int32_t add(uintptr_t object, uint32_t kind) {
    if (slots[free_head].next == -1) {
        // Taking the last free slot: double first, so that the free list never runs dry.
        uint32_t n = slot_count;
        slots = static_cast<Slot*>(heap::resize(slots, sizeof(Slot) * n * 2));
        slot_count = n * 2;
        init_slots(n, n);
        slots[free_head].next = static_cast<int32_t>(n);
    }
    int32_t i = free_head;
    free_head = slots[i].next;
    slots[i] = {kind & 0xFF, object, used_head};
    used_head = i;
    return i;
}

void finalize(uint32_t kind_word, uintptr_t object) {
    uint32_t k = kind_word & 0xFF;
    if (k < 1 || k > kind_count || !kinds[k - 1].finalizer) return;
    kinds[k - 1].finalizer(object);
}

void finalize_slot(int32_t slot) {
    if (valid(slot)) finalize(slots[slot].flags, slots[slot].object);
}

uintptr_t object(int32_t slot) { return valid(slot) ? slots[slot].object : 0; }
uint32_t kind(int32_t slot) { return valid(slot) ? slots[slot].flags & 0xFF : 0; }

int32_t remove(int32_t slot, bool finalize_first) {
    if (!valid(slot)) return -1;
    if (finalize_first) finalize_slot(slot);
    unlink_used(slot);
    release(slot);
    return -1;
}

bool mark(int32_t slot, uintptr_t object) {
    if (!valid(slot)) return false;
    bool was_unmarked = !(slots[slot].flags & mark_flag);
    slots[slot].flags |= mark_flag;
    if (object) slots[slot].object = object;
    return was_unmarked;
}

void for_each(uint32_t kind, void (*fn)(uint32_t, uintptr_t)) {
    for (int32_t i = used_head; i != -1; i = slots[i].next)
        if ((slots[i].flags & 0xFF) == kind) fn(kind, slots[i].object);
}

void sweep() {
    int32_t prev = -1;
    for (int32_t i = used_head; i != -1;) {
        int32_t next = slots[i].next;
        if (slots[i].flags & mark_flag) {
            slots[i].flags &= ~mark_flag;
            prev = i;
        } else {
            finalize(slots[i].flags, slots[i].object);
            if (prev == -1) used_head = next; else slots[prev].next = next;
            release(i);
        }
        i = next;
    }
}

uint32_t capacity() { return slot_count; }

uint32_t in_use() {
    uint32_t n = 0;
    for (int32_t i = used_head; i != -1; i = slots[i].next) ++n;
    return n;
}

}  // namespace kov::handles
