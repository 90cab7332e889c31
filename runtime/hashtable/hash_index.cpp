// Kind 0: the index of a hash! block. The key block is the hashed block itself; a bucket holds
// the cell index of a key, or -k for the k-th list of the duplicates store when several cells
// hold equal keys (their indexes, in the order they were indexed). A cell-index array maps
// every cell of the block back to its bucket + 1 (0xFFFFFFFF: not indexed), so that removals
// and moves of cells find their buckets without hashing.
//
// Invariants: a live bucket holding -k names a list of at least one cell; every cell indexed
// is named by exactly one bucket (directly or in its list) and its cell-index entry names that
// bucket; size counts distinct keys. Released store slots are chained through free_list, each
// holding free_slot | the next free slot.
//
// Moving memory: joining a list, making one and growing the cell-index array allocate, and
// the search compares keys through their comparison action; so every step fetches the record
// and the arrays again. The lists are series of their own: a list node stays valid, its
// buffer does not.
#include <cstring>
#include <vector>

#include "runtime/array.h"
#include "runtime/collector.h"
#include "runtime/hashtable/core.h"
#include "runtime/series_buffer.h"

namespace kov::hashtable {

namespace {

constexpr uint32_t free_slot = 0x80000000u;  // a released slot of the duplicates store

// The datatypes whose hash depends on a node id: an index holding them is node-keyed.
bool reference_type(uint32_t t) {
    switch (t) {
    case T_block: case T_paren: case T_native: case T_action: case T_op: case T_function: case T_path:
    case T_lit_path: case T_set_path: case T_get_path: case T_object: case T_error: case T_hash: case T_map:
    case T_port: case T_image: case T_event:
        return true;
    default:
        return false;
    }
}

// The cell-index array.
inline uint32_t index_length(const Record* r) { return buffer(r->aux)->used() / 4; }
inline uint32_t* index_of(const Record* r) { return reinterpret_cast<uint32_t*>(buffer(r->aux)->head_ptr()); }
inline uint32_t cell_bucket(const Record* r, uint32_t i) { return i < index_length(r) ? index_of(r)[i] : no_cell; }

// ---- the duplicates store ---------------------------------------------------------------------

Node list_at(const Record* r, uint32_t slot) { return static_cast<Node>(array::pick_int(r->dups, slot)); }

// Stores a list node in a free slot of the store (allocates when none is free); gives the slot.
uint32_t store_list(Node table, Node list) {
    Record* r = record(table);
    if (r->free_list) {
        uint32_t slot = r->free_list;
        r->free_list = static_cast<uint32_t>(array::pick_int(r->dups, slot)) & ~free_slot;
        array::poke_int(r->dups, slot, static_cast<int32_t>(list));
        return slot;
    }
    collector::RootNode keep(list);
    array::append_int(record(table)->dups, static_cast<int32_t>(list));
    return array::length(record(table)->dups);
}

void release_list(Record* r, uint32_t slot) {
    array::poke_int(r->dups, slot, static_cast<int32_t>(free_slot | r->free_list));
    r->free_list = slot;
}

// The cells of a bucket's entry: the cell itself, or its list.
void entry_cells(const Record* r, int32_t v, std::vector<uint32_t>& out) {
    out.clear();
    if (v >= 0) {
        out.push_back(static_cast<uint32_t>(v));
        return;
    }
    Node list = list_at(r, static_cast<uint32_t>(-v));
    uint32_t n = array::length(list);
    for (uint32_t k = 1; k <= n; ++k) out.push_back(static_cast<uint32_t>(array::pick_int(list, k)));
}

// Gives the cell-index array room for n cells (new entries 0xFF).
void ensure_index(Node table, uint32_t n) {
    uint32_t have = index_length(record(table));
    if (have >= n) return;
    uint64_t bytes = uint64_t(n - have) * 4;
    std::memset(series::reserve(record(table)->aux, bytes), 0xFF, bytes);
}

// Re-places the existing entries (cells and lists) into new arrays.
void rehash_index(Node table, uint32_t nb, uint32_t upper) {
    Record* r = record(table);
    uint32_t old_count = r->bucket_count;
    std::vector<int32_t> old;
    old.reserve(r->size);
    const uint32_t* f = flags_of(r);
    for (uint32_t i = 0; i < old_count; ++i)
        if (state(f, i) == live) old.push_back(buckets_of(r)[i]);
    uint32_t size = r->size;
    fresh_arrays(table, nb, upper);
    std::vector<uint32_t> cells;
    for (int32_t v : old) {
        r = record(table);
        uint32_t rep = index_representative(r, v);
        if (rep == no_cell || rep >= key_count(r)) continue;
        uint32_t i = free_bucket(table, hash_value(*key_at(r, rep), false));
        r = record(table);
        occupy(r, i, v);
        entry_cells(r, v, cells);
        for (uint32_t c : cells)
            if (c < index_length(r)) index_of(r)[c] = i + 1;
    }
    record(table)->size = size;
}

// A new index over every cell of the block.
void reindex_block(Node table, uint32_t nb, uint32_t upper) {
    uint32_t n = key_count(record(table));
    ensure_index(table, n);
    Node store = array::make(4, 4);
    record(table)->dups = store;
    record(table)->free_list = 0;
    fresh_arrays(table, nb, upper);
    Record* r = record(table);
    std::memset(index_of(r), 0xFF, uint64_t(index_length(r)) * 4);
    r->stamp = 0;
    for (uint32_t i = 0; i < n && i < key_count(record(table)); ++i) index_get(table, i, nullptr);
}

}  // namespace

uint32_t index_representative(const Record* r, int32_t v) {
    if (v >= 0) return static_cast<uint32_t>(v);
    Node list = list_at(r, static_cast<uint32_t>(-v));
    return array::length(list) ? static_cast<uint32_t>(array::pick_int(list, 1)) : no_cell;
}

Node make_index(uint64_t n, Node source) {
    if (n < 4) n = 4;
    Node table = new_table(n, hash_index);
    Root keep(table);
    Node index = memory::alloc_bytes_filled(n * 4, 0xFF);
    buffer(index)->flags = (buffer(index)->flags & ~memory::unit_mask) | 4;
    buffer(index)->tail = static_cast<uint32_t>(n * 4);
    record(table)->aux = index;
    Node store = array::make(4, 4);
    record(table)->dups = store;
    attach_keys(table, n, source, 1);
    return table;
}

void index_rebuild(Node table, uint64_t n) {
    Sizing s = rebuild_sizing(n, key_count(record(table)));
    reindex_block(table, s.buckets, s.upper);
}

void index_grow(Node table, uint32_t nb, uint32_t upper) { rehash_index(table, nb, upper); }

int32_t index_get(Node table, uint32_t index, int32_t* out) {
    check_stamp(table);
    Record* r = record(table);
    if (index >= key_count(r)) return -1;
    if (r->occupied >= r->upper) {
        resize(table, key_count(r));
        if (out) *out = 2;
        return static_cast<int32_t>(index);
    }
    ensure_index(table, index + 1);
    r = record(table);
    if (index_of(r)[index] != no_cell) return static_cast<int32_t>(index);  // already indexed
    Cell key = *key_at(r, index);
    uint32_t first_deleted = no_cell;
    uint32_t found_rep = no_cell;
    uint32_t at = probe(table, hash_value(key, false), [&](uint32_t i, uint32_t s) {
        if (s == empty) return true;
        if (s == deleted) {
            if (first_deleted == no_cell) first_deleted = i;
            return false;
        }
        Record* rr = record(table);
        uint32_t rep = index_representative(rr, buckets_of(rr)[i]);
        if (rep == no_cell || rep >= key_count(rr)) return false;
        Cell c = *key_at(rr, rep);
        if (cell::type(c) != cell::type(key) || !actions::compare(c, key, actions::equal)) return false;
        found_rep = rep;
        return true;
    });
    if (found_rep != no_cell) {
        // An equal key: the new cell joins its list (made from the single cell when needed).
        r = record(table);
        int32_t v = buckets_of(r)[at];
        if (v >= 0) {
            Node list = array::make(4, 4);
            collector::RootNode keep(list);
            array::append_int(list, v);
            array::append_int(list, static_cast<int32_t>(index));
            uint32_t slot = store_list(table, list);
            buckets_of(record(table))[at] = -static_cast<int32_t>(slot);
        } else {
            array::append_int(list_at(r, static_cast<uint32_t>(-v)), static_cast<int32_t>(index));
        }
        index_of(record(table))[index] = at + 1;
        return static_cast<int32_t>(found_rep);
    }
    if (first_deleted != no_cell) at = first_deleted;
    if (at == no_cell) runtime::no_switch_matched();
    r = record(table);
    occupy(r, at, static_cast<int32_t>(index));
    index_of(r)[index] = at + 1;
    if (r->stamp == 0 && reference_type(cell::type(key))) r->stamp = 1 + evacuations();
    return static_cast<int32_t>(index);
}

void index_put_key(Node table, uint32_t first, uint32_t step) {
    for (uint32_t i = first; i < key_count(record(table)); i += step) {
        int32_t out = 0;
        index_get(table, i, &out);
        if (out == 2) return;  // the rebuild indexed the whole block
    }
}

int32_t index_search(Node table, const Cell& key, int32_t start, int32_t skip, int32_t op, bool backwards) {
    if (skip < 1) skip = 1;
    if (start < 0) start = 0;
    int64_t best = -1;
    std::vector<uint32_t> cells;
    probe(table, hash_value(key, false), [&](uint32_t i, uint32_t s) {
        if (s == empty) return true;
        if (s == deleted) return false;
        Record* rr = record(table);
        int32_t v = buckets_of(rr)[i];
        uint32_t rep = index_representative(rr, v);
        if (rep == no_cell || rep >= key_count(rr)) return false;
        Cell c = *key_at(rr, rep);
        if (cell::type(c) != cell::type(key) || !actions::compare(c, key, actions::equal)) return false;
        entry_cells(record(table), buckets_of(record(table))[i], cells);
        for (uint32_t idx : cells) {
            int64_t d = backwards ? int64_t(start) - 1 - idx : int64_t(idx) - start;
            if (d < 0 || d % skip) continue;
            if (best >= 0 && (backwards ? int64_t(idx) <= best : int64_t(idx) >= best)) continue;
            Record* r2 = record(table);
            if (idx >= key_count(r2)) continue;
            Cell cc = *key_at(r2, idx);
            if (cell::type(cc) != cell::type(key) || !actions::compare(cc, key, op)) continue;
            best = idx;
        }
        return false;  // an equal key may also sit further on (equality need not be transitive)
    });
    return static_cast<int32_t>(best);
}

// The bucket's list or cell loses one cell; the bucket is deleted when nothing is left.
void index_remove_cell(Record* r, uint32_t index) {
    uint32_t b = cell_bucket(r, index);
    if (b == no_cell || b == 0 || b > r->bucket_count) return;
    uint32_t i = b - 1;
    index_of(r)[index] = no_cell;
    int32_t v = buckets_of(r)[i];
    if (state(flags_of(r), i) != live) return;
    if (v >= 0) {
        if (uint32_t(v) != index) return;
    } else {
        uint32_t slot = static_cast<uint32_t>(-v);
        Node list = list_at(r, slot);
        int64_t at = array::find_int(list, static_cast<int32_t>(index));
        if (at < 0) return;
        array::remove_bytes(list, static_cast<uint32_t>(at), 4);
        if (array::length(list)) return;
        release_list(r, slot);
    }
    set_state(flags_of(r), i, deleted);
    --r->size;
}

void index_remove_all(Record* r) {
    r->size = 0;
    r->occupied = 0;
    empty_flags(r);
    std::memset(index_of(r), 0xFF, uint64_t(index_length(r)) * 4);
    array::clear(r->dups);
    r->free_list = 0;
}

void index_copy(Node copy) {
    Node index = memory::copy_series(record(copy)->aux);
    record(copy)->aux = index;
    Node store = memory::copy_series(record(copy)->dups);
    record(copy)->dups = store;
    uint32_t n = array::length(store);
    for (uint32_t k = 1; k <= n; ++k) {
        uint32_t v = static_cast<uint32_t>(array::pick_int(record(copy)->dups, k));
        if (v & free_slot) continue;
        Node list = memory::copy_series(v);
        array::poke_int(record(copy)->dups, k, static_cast<int32_t>(list));
    }
}

void index_clear(Record* r) {
    buffer(r->aux)->tail = buffer(r->aux)->head;
    array::clear(r->dups);
    r->free_list = 0;
    r->stamp = 0;
}

void index_mark(const Record& r) {
    collector::mark_series(r.aux);
    if (collector::mark_series(r.dups)) {
        uint32_t n = array::length(r.dups);
        for (uint32_t k = 1; k <= n; ++k) {
            uint32_t v = static_cast<uint32_t>(array::pick_int(r.dups, k));
            if (!(v & free_slot)) collector::mark_series(v);
        }
    }
}

// ---- moves within the block -------------------------------------------------------------------

int32_t refresh(Node table, int32_t shift, uint32_t first, uint32_t count, bool update_cells) {
    Record* r = record(table);
    if (r->kind != hash_index) return 1;
    if (count > refresh_limit) return 1;
    if (shift == 0) return 0;
    int64_t d = shift;
    int64_t lo = first;                   // old index of the first moved cell
    int64_t end = lo + count;             // one past the last
    if (lo + d < 0 || end + d > int64_t(0xFFFFFFF0u)) return 1;
    if (update_cells) ensure_index(table, static_cast<uint32_t>(d > 0 ? end + d : end));
    r = record(table);
    if (update_cells && d < 0)
        for (int64_t i = lo + d; i < lo; ++i) index_remove_cell(r, static_cast<uint32_t>(i));

    // Buckets and lists naming moved cells: each list once.
    std::vector<uint8_t> seen(array::length(r->dups) + 1, 0);
    for (int64_t i = lo; i < end; ++i) {
        uint32_t b = cell_bucket(r, static_cast<uint32_t>(i));
        if (b == no_cell || b == 0 || b > r->bucket_count) continue;
        int32_t* v = &buckets_of(r)[b - 1];
        if (*v >= 0) {
            if (*v == i) *v = static_cast<int32_t>(i + d);
            continue;
        }
        uint32_t slot = static_cast<uint32_t>(-*v);
        if (slot >= seen.size() || seen[slot]) continue;
        seen[slot] = 1;
        Node list = list_at(r, slot);
        uint32_t n = array::length(list);
        for (uint32_t k = 1; k <= n; ++k) {
            int64_t e = static_cast<uint32_t>(array::pick_int(list, k));
            if (e >= lo && e < end) array::poke_int(list, k, static_cast<int32_t>(e + d));
        }
    }
    if (update_cells) {
        uint32_t* idx = index_of(r);
        std::memmove(idx + (lo + d), idx + lo, uint64_t(count) * 4);
        if (d > 0) std::memset(idx + lo, 0xFF, uint64_t(d) * 4);
        else std::memset(idx + (end + d), 0xFF, uint64_t(-d) * 4);
    }
    return 0;
}

void move_range(Node table, uint32_t from, uint32_t to, uint32_t count) {
    Record* r = record(table);
    if (r->kind != hash_index || count == 0 || to == from) return;
    if (to > from && to < uint64_t(from) + count) return;
    uint64_t lo = from < to ? from : to;
    uint64_t hi = (from > to ? from : to) + uint64_t(count);
    if (hi > key_count(r)) {
        resize(table, key_count(r));
        return;
    }
    auto moved = [&](uint32_t i) -> uint32_t {
        if (i < lo || i >= hi) return i;
        if (i >= from && i < from + count) return to + (i - from);
        return from < to ? i - count : i + count;
    };
    ensure_index(table, static_cast<uint32_t>(hi));
    r = record(table);
    std::vector<uint8_t> seen(array::length(r->dups) + 1, 0);
    for (uint32_t i = static_cast<uint32_t>(lo); i < hi; ++i) {
        uint32_t b = cell_bucket(r, i);
        if (b == no_cell || b == 0 || b > r->bucket_count) continue;
        int32_t* v = &buckets_of(r)[b - 1];
        if (*v >= 0) {
            if (uint32_t(*v) == i) *v = static_cast<int32_t>(moved(i));
            continue;
        }
        uint32_t slot = static_cast<uint32_t>(-*v);
        if (slot >= seen.size() || seen[slot]) continue;
        seen[slot] = 1;
        Node list = list_at(r, slot);
        uint32_t n = array::length(list);
        for (uint32_t k = 1; k <= n; ++k)
            array::poke_int(list, k, static_cast<int32_t>(moved(static_cast<uint32_t>(array::pick_int(list, k)))));
    }
    uint32_t* idx = index_of(r);
    std::vector<uint32_t> old(idx + lo, idx + hi);
    for (uint64_t i = lo; i < hi; ++i) idx[moved(static_cast<uint32_t>(i))] = old[i - lo];
}

}  // namespace kov::hashtable
