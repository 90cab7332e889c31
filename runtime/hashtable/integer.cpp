// Kinds 3 and 4: 32-bit integer keys (node ids, mostly) with a fixed number of value cells
// each. The key block is an entry block: per entry a key cell (header 2 while live, 0 once
// deleted; the key in word 1) then the value cells; a bucket holds the byte offset of an
// entry. Kind 4 is the ownership table, whose entries are weak: marking keeps its own series
// only, and after marking sweep_owners drops the entries whose series or owner died.
//
// Invariants: a live bucket names a live entry, and every live entry is named by one bucket;
// size counts the live entries. Deleted entries stay in the entry block, where an insertion
// meeting their bucket first reuses them, until a rebuild compacts the block.
//
// Moving memory: put_int_key appends to the entry block (and a full table rebuilds first), so
// the value cells it gives, like those of get_int_key and remove_int_key, are valid until the
// next allocation. Placing entries in fresh arrays allocates nothing.
#include <cstring>
#include <vector>

#include "runtime/collector.h"
#include "runtime/hashtable/core.h"
#include "runtime/series_buffer.h"

namespace kov::hashtable {

namespace {

// The bucket holding the key, or no_cell; first_deleted gets the first deleted bucket met and
// free_at the empty bucket that ended the probe.
uint32_t find_int(Node table, uint32_t key, uint32_t* first_deleted, uint32_t* free_at) {
    Record* r = record(table);
    uint32_t* f = flags_of(r);
    int32_t* bk = buckets_of(r);
    Buffer* entries = buffer(r->keys);
    uint32_t mask = r->bucket_count - 1;
    uint32_t i = mix32(key) & mask;
    uint32_t start = i;
    for (uint32_t k = 1;; ++k) {
        uint32_t s = state(f, i);
        if (s == empty) {
            if (free_at) *free_at = i;
            return no_cell;
        }
        if (s == deleted) {
            if (first_deleted && *first_deleted == no_cell) *first_deleted = i;
        } else {
            auto c = reinterpret_cast<const Cell*>(entries->head_ptr() + bk[i]);
            if (c->header == T_unset && cell::word<1>(*c) == key) return i;
        }
        i = (i + k) & mask;
        if (i == start) return no_cell;
    }
}

Cell* values_at(const Record* r, uint32_t bucket) {
    return reinterpret_cast<Cell*>(buffer(r->keys)->head_ptr() + buckets_of(r)[bucket]) + 1;
}

void reset_values(const Record* r, Cell* values) {
    uint32_t n = r->aux / sizeof(Cell) - 1;
    for (uint32_t k = 0; k < n; ++k) values[k] = Cell{T_unset, 0, 0, 0};
}

uint32_t entry_hash(const Record* r, uint32_t offset) {
    auto key = reinterpret_cast<const Cell*>(buffer(r->keys)->head_ptr() + offset);
    return mix32(cell::word<1>(*key));
}

// Places every live entry into the fresh arrays; the entry block stays where it is.
void place_entries(Node table) {
    Record* r = record(table);
    Buffer* b = buffer(r->keys);
    uint32_t step = r->aux;
    for (uint32_t off = 0; off + step <= b->used(); off += step) {
        auto key = reinterpret_cast<const Cell*>(b->head_ptr() + off);
        if (key->header == T_unset) raw_insert(table, mix32(cell::word<1>(*key)), static_cast<int32_t>(off));
    }
}

}  // namespace

Node make_integer(uint64_t n, uint32_t kind, uint32_t values_per_key) {
    if (n < 4) n = 4;
    Node table = new_table(n, kind);
    Root keep(table);
    uint64_t cells = 1 + uint64_t(values_per_key);
    record(table)->aux = static_cast<uint32_t>(cells * sizeof(Cell));
    record(table)->stamp = 1 + evacuations();
    Node keys = memory::alloc_cells(n * cells);
    record(table)->keys = keys;
    return table;
}

void integer_grow(Node table, uint32_t nb, uint32_t upper) {
    fresh_arrays(table, nb, upper);
    place_entries(table);
    record(table)->stamp = 1 + evacuations();
}

void integer_mark(const Record& r) {
    if (!collector::mark_series(r.keys) || r.kind == ownership) return;
    Buffer* b = buffer(r.keys);
    uint32_t step = r.aux;
    for (uint32_t off = 0; off + step <= b->used(); off += step) {
        auto key = reinterpret_cast<const Cell*>(b->head_ptr() + off);
        if (key->header == T_unset) collector::mark_cells(key + 1, reinterpret_cast<const Cell*>(b->head_ptr() + off + step));
    }
}

Cell* put_int_key(Node table, uint32_t key) {
    check_stamp(table);
    Record* r = record(table);
    if (r->occupied >= r->upper)
        resize(table, r->size * 2 < r->bucket_count ? r->bucket_count - 1 : uint64_t(r->bucket_count) + 1);
    uint32_t first_deleted = no_cell, free_at = no_cell;
    uint32_t at = find_int(table, key, &first_deleted, &free_at);
    if (at != no_cell) {
        r = record(table);
        Cell* values = values_at(r, at);
        reset_values(r, values);
        return values;
    }
    if (first_deleted != no_cell) {
        // The deleted entry at that offset is reused for the new key.
        r = record(table);
        auto c = reinterpret_cast<Cell*>(buffer(r->keys)->head_ptr() + buckets_of(r)[first_deleted]);
        *c = Cell{T_unset, key, 0, 0};
        set_state(flags_of(r), first_deleted, live);
        ++r->size;
        reset_values(r, c + 1);
        return c + 1;
    }
    if (free_at == no_cell) runtime::no_switch_matched();
    uint32_t bytes = record(table)->aux;
    uint8_t* at_ptr = series::reserve(record(table)->keys, bytes);
    r = record(table);
    auto c = reinterpret_cast<Cell*>(at_ptr);
    *c = Cell{T_unset, key, 0, 0};
    reset_values(r, c + 1);
    occupy(r, free_at, static_cast<int32_t>(at_ptr - buffer(r->keys)->head_ptr()));
    return c + 1;
}

Cell* get_int_key(Node table, uint32_t key) {
    check_stamp(table);
    uint32_t at = find_int(table, key, nullptr, nullptr);
    return at == no_cell ? nullptr : values_at(record(table), at);
}

Cell* remove_int_key(Node table, uint32_t key) {
    check_stamp(table);
    uint32_t at = find_int(table, key, nullptr, nullptr);
    if (at == no_cell) return nullptr;
    Record* r = record(table);
    set_state(flags_of(r), at, deleted);
    --r->size;
    Cell* values = values_at(r, at);
    (values - 1)->header = 0;
    return values;
}

void rebuild_int(Node table, uint64_t n) {
    Record* r = record(table);
    uint32_t nb = pow2_for(static_cast<double>(n < 4 ? 4 : n));
    uint32_t upper = static_cast<uint32_t>(nb * load_factor);
    uint32_t step = r->aux;
    if (r->size >= upper) {
        nb = pow2_for(static_cast<double>(r->size) / load_factor + 1);
        upper = static_cast<uint32_t>(nb * load_factor);
    }
    Node entries = memory::alloc_cells((uint64_t(r->size) + 1) * (step / sizeof(Cell)));
    collector::RootNode keep(entries);
    Node old = record(table)->keys;
    collector::RootNode keep_old(old);
    fresh_arrays(table, nb, upper);
    Buffer* from = buffer(old);
    Buffer* to = buffer(entries);
    for (uint32_t off = 0; off + step <= from->used(); off += step) {
        auto key = reinterpret_cast<const Cell*>(from->head_ptr() + off);
        if (key->header != T_unset) continue;
        std::memcpy(to->tail_ptr(), key, step);
        to->tail += step;
    }
    r = record(table);
    r->keys = entries;
    r->stamp = 1 + evacuations();
    for (uint32_t off = 0; off + step <= to->used(); off += step) raw_insert(table, entry_hash(r, off), static_cast<int32_t>(off));
}

void rehash_int(Node table) {
    Record* r = record(table);
    empty_flags(r);
    r->size = 0;
    r->occupied = 0;
    place_entries(table);
    record(table)->stamp = 1 + evacuations();
}

// ---- the ownership table ------------------------------------------------------------------------

void sweep_owners(Node table) {
    if (!memory::valid_node(table)) return;
    std::vector<uint32_t> dead;
    for_each_int(table, [&](uint32_t key, Cell* values) {
        bool series_alive = collector::marked_q(key);
        bool owner_alive = collector::marked_q(cell::word<1>(values[1]));
        if (series_alive && owner_alive) return;
        if (series_alive) buffer(key)->flags &= ~memory::owned;
        dead.push_back(key);
    });
    for (uint32_t key : dead) remove_int_key(table, key);
}

}  // namespace kov::hashtable
