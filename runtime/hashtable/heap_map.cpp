// The heap map: 32-bit keys to 32-bit values on the tracked heap, outside the collector's
// reach (the Kovbin encoder keeps the nodes and symbols it has written in two). The same flags
// and probing as the tables (core.h), over a pair array (key, value per bucket), hashed with
// mix32.
//
// Invariants: as the tables': occupied (live + deleted) stays below the upper bound, so every
// probe meets an empty bucket.
//
// Moving memory: nothing here moves series; a pointer from find_int_value is valid until the
// next heap_put, which may resize the pair array.
#include <cstring>

#include "runtime/hashtable/core.h"
#include "runtime/heap.h"

namespace kov::hashtable {

namespace {

void heap_arrays(HeapMap* m, uint32_t buckets) {
    m->bucket_count = buckets;
    m->flags = static_cast<uint32_t*>(heap::allocate(flag_bytes(buckets)));
    std::memset(m->flags, 0xAA, flag_bytes(buckets));
    m->pairs = static_cast<uint32_t*>(heap::allocate(uint64_t(buckets) * 8));
    m->size = 0;
    m->occupied = 0;
}

uint32_t heap_find(const HeapMap* m, uint32_t key, uint32_t* first_deleted, uint32_t* free_at) {
    uint32_t mask = m->bucket_count - 1;
    uint32_t i = mix32(key) & mask;
    uint32_t start = i;
    for (uint32_t k = 1;; ++k) {
        uint32_t s = state(m->flags, i);
        if (s == empty) {
            if (free_at) *free_at = i;
            return no_cell;
        }
        if (s == deleted) {
            if (first_deleted && *first_deleted == no_cell) *first_deleted = i;
        } else if (m->pairs[2 * i] == key) {
            return i;
        }
        i = (i + k) & mask;
        if (i == start) return no_cell;
    }
}

}  // namespace

HeapMap* heap_make(uint32_t n) {
    auto m = static_cast<HeapMap*>(heap::allocate(sizeof(HeapMap)));
    uint32_t nb = pow2_for(static_cast<double>(n < 4 ? 4 : n) / load_factor);
    heap_arrays(m, nb);
    m->upper = static_cast<uint32_t>(nb * load_factor);
    return m;
}

void heap_put(HeapMap* m, uint32_t key, uint32_t value) {
    if (m->occupied >= m->upper)
        heap_resize(m, m->size * 2 < m->bucket_count ? m->bucket_count - 1 : m->bucket_count + 1);
    uint32_t first_deleted = no_cell, free_at = no_cell;
    uint32_t at = heap_find(m, key, &first_deleted, &free_at);
    if (at == no_cell) {
        at = first_deleted != no_cell ? first_deleted : free_at;
        if (at == no_cell) runtime::no_switch_matched();
        if (state(m->flags, at) == empty) ++m->occupied;
        set_state(m->flags, at, live);
        ++m->size;
        m->pairs[2 * at] = key;
    }
    m->pairs[2 * at + 1] = value;
}

bool heap_get(const HeapMap* m, uint32_t key, uint32_t& value) {
    uint32_t at = heap_find(m, key, nullptr, nullptr);
    if (at == no_cell) return false;
    value = m->pairs[2 * at + 1];
    return true;
}

uint32_t* find_int_value(HeapMap* m, uint32_t key) {
    uint32_t at = heap_find(m, key, nullptr, nullptr);
    return at == no_cell ? nullptr : &m->pairs[2 * at + 1];
}

bool heap_remove(HeapMap* m, uint32_t key) {
    uint32_t at = heap_find(m, key, nullptr, nullptr);
    if (at == no_cell) return false;
    set_state(m->flags, at, deleted);
    --m->size;
    return true;
}

void heap_resize(HeapMap* m, uint32_t buckets) {
    uint32_t nb = pow2_for(static_cast<double>(buckets < 4 ? 4 : buckets));
    uint32_t upper = static_cast<uint32_t>(nb * load_factor + 0.5);
    while (m->size >= upper) {
        nb *= 2;
        upper = static_cast<uint32_t>(nb * load_factor + 0.5);
    }
    uint32_t* old_flags = m->flags;
    uint32_t* old_pairs = m->pairs;
    uint32_t old_count = m->bucket_count;
    heap_arrays(m, nb);
    m->upper = upper;
    for (uint32_t i = 0; i < old_count; ++i)
        if (state(old_flags, i) == live) heap_put(m, old_pairs[2 * i], old_pairs[2 * i + 1]);
    heap::free(old_flags);
    heap::free(old_pairs);
}

void heap_clear(HeapMap* m) {
    std::memset(m->flags, 0xAA, flag_bytes(m->bucket_count));
    m->size = 0;
    m->occupied = 0;
}

void heap_free(HeapMap* m) {
    if (!m) return;
    heap::free(m->flags);
    heap::free(m->pairs);
    heap::free(m);
}

}  // namespace kov::hashtable
