// The probing core that every table kind shares: the bucket flags and arrays, the probe walk,
// the placing of keys, and the insertion and search of the cell-keyed kinds (maps and symbol
// tables), written once as templates over the kind so that each kind's file compiles its own
// copy without testing the kind. hashtable.h is the interface; core.cpp holds the hash
// functions and the operations that every kind has (make, rebuild, grow, copy, clear, get,
// search, marking), each of which hands the kind's own work to the kind's file:
//   hash_index.cpp  kind 0, the index of a hash! block, with its duplicates store
//   map.cpp         kind 1, the keys of a map's key/value block
//   symbols.cpp     kind 2, the symbol table and the word lists of contexts
//   integer.cpp     kinds 3 and 4, integer keys and their value cells (the ownership table)
//   heap_map.cpp    the heap map of the collector
//
// Invariants: a bucket's two state bits say empty, deleted or live, and only a live bucket's
// entry means anything; the probe of a hash starts at hash & (buckets - 1) and steps by 1, 2,
// 3 ... (a power-of-two bucket count makes it visit every bucket); occupied (live + deleted)
// stays below the upper bound, so every probe meets an empty bucket, which ends a lookup.
//
// Moving memory: a Record* or a pointer into a table's flags, buckets or keys is valid until
// the next allocation. `probe` fetches the record again at every step, since its callback may
// call a comparison action, which may allocate; the callers of `probe_integer`, `occupy` and
// the rest hold their pointers only across code that does not allocate.
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "runtime/cells.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/series.h"
#include "runtime/families.h"
#include "runtime/hashtable.h"
#include "runtime/interpreter/actions.h"
#include "runtime/runtime.h"
#include "runtime/unicode.h"

namespace kov::hashtable {

using memory::Buffer;
using memory::buffer;

// A bucket array of 4 bytes a bucket stays well below the largest buffer.
constexpr uint64_t max_buckets = uint64_t(1) << 28;
constexpr uint32_t no_cell = 0xFFFFFFFFu;

[[noreturn]] void no_memory();

// ---- bucket flags and arrays ------------------------------------------------------------------

constexpr uint32_t live = 0, deleted = 1, empty = 2;

inline uint32_t* flags_of(const Record* r) { return reinterpret_cast<uint32_t*>(buffer(r->flags)->head_ptr()); }
inline int32_t* buckets_of(const Record* r) { return reinterpret_cast<int32_t*>(buffer(r->buckets)->head_ptr()); }
inline uint32_t state(const uint32_t* f, uint32_t i) { return (f[i >> 4] >> ((i & 15) * 2)) & 3; }
inline void set_state(uint32_t* f, uint32_t i, uint32_t s) {
    uint32_t sh = (i & 15) * 2;
    f[i >> 4] = (f[i >> 4] & ~(3u << sh)) | (s << sh);
}
inline uint64_t flag_bytes(uint32_t buckets) { return (uint64_t(buckets) + 15) / 16 * 4; }
// Every bucket empty again.
void empty_flags(Record* r);

inline uint32_t key_count(const Record* r) { return buffer(r->keys)->used() / sizeof(Cell); }
inline Cell* key_at(const Record* r, uint32_t i) { return cells::of(r->keys) + i; }

// A power of two of at least 4 buckets for n; no_memory beyond max_buckets.
uint32_t pow2_for(double n);

// The bucket count and upper bound of a rebuild for n keys, and at least `count` keys.
struct Sizing {
    uint32_t buckets;
    uint32_t upper;
};
Sizing rebuild_sizing(uint64_t n, uint32_t count);

// A new table record of `kind` with empty arrays for n keys (n < 4 counts as 4); no key
// block yet. The caller roots it before its next allocation.
Node new_table(uint64_t n, uint32_t kind);
// New flag and bucket arrays of nb buckets, stored in the record (size and occupied reset).
void fresh_arrays(Node table, uint32_t nb, uint32_t upper);
// Cell-keyed kinds: the source block becomes the key block, indexed every `step` cells from
// its head; without one, a new key block of n cells.
void attach_keys(Node table, uint64_t n, Node source, uint32_t step);

// ---- probing ----------------------------------------------------------------------------------

// Walks the probe sequence of a hash: fn(bucket, state) answers true to stop. Gives the bucket
// where it stopped, or no_cell when it came back to its start. Fetches the record again at
// every step (fn may allocate).
template <class Fn>
uint32_t probe(Node table, uint32_t hash, Fn&& fn) {
    uint32_t count = record(table)->bucket_count;
    uint32_t mask = count - 1;
    uint32_t i = hash & mask;
    uint32_t start = i;
    for (uint32_t k = 1;; ++k) {
        if (fn(i, state(flags_of(record(table)), i))) return i;
        if (record(table)->bucket_count != count) return no_cell;  // re-made underneath
        i = (i + k) & mask;
        if (i == start) return no_cell;
    }
}

// Makes bucket i live with value v; counts it.
inline void occupy(Record* r, uint32_t i, int32_t v) {
    uint32_t* f = flags_of(r);
    if (state(f, i) == empty) ++r->occupied;
    set_state(f, i, live);
    buckets_of(r)[i] = v;
    ++r->size;
}

// The first bucket that is not live on the probe of a hash (no comparisons).
inline uint32_t free_bucket(Node table, uint32_t hash) {
    return probe(table, hash, [](uint32_t, uint32_t s) { return s != live; });
}

// Places a key without looking for an equal one (rebuilds: every key is distinct).
inline void raw_insert(Node table, uint32_t hash, int32_t v) {
    uint32_t i = free_bucket(table, hash);
    if (i == no_cell) runtime::no_switch_matched();  // an empty bucket always exists
    occupy(record(table), i, v);
}

// The comparison codes under which two integers match exactly when their values are equal.
inline bool value_equality(int32_t op) {
    return op == actions::equal || op == actions::strict_equal || op == actions::same || op == actions::parse_strict ||
           op == actions::parse_loose || op == actions::find_equal;
}

// An integer key on its probe in a cell-keyed table (kinds 1 and 2). A stored integer equals
// it exactly when the values are equal, under every code `value_equality` accepts, so the
// keys are read in place instead of through the comparison action; nothing here allocates.
// Gives the key cell index found, or -1; `slot` gets the bucket of the key found, else the
// bucket an insertion takes (the first deleted one met, else the empty one ending the probe;
// no_cell when the probe came back to its start without either).
inline int32_t probe_integer(const Record* r, uint32_t value, uint32_t& slot) {
    const uint32_t* f = flags_of(r);
    const int32_t* buckets = buckets_of(r);
    const Cell* keys = key_at(r, 0);
    uint32_t count = key_count(r);
    uint32_t mask = r->bucket_count - 1;
    uint32_t i = mix32(value) & mask;
    uint32_t start = i;
    uint32_t first_deleted = no_cell;
    for (uint32_t k = 1;; ++k) {
        uint32_t s = state(f, i);
        if (s == empty) {
            slot = first_deleted != no_cell ? first_deleted : i;
            return -1;
        }
        if (s == deleted) {
            if (first_deleted == no_cell) first_deleted = i;
        } else {
            int32_t v = buckets[i];
            if (v >= 0 && uint32_t(v) < count && cell::type(keys[v]) == T_integer && static_cast<uint32_t>(integer::get(keys[v])) == value) {
                slot = i;
                return v;
            }
        }
        i = (i + k) & mask;
        if (i == start) {
            slot = first_deleted;
            return -1;
        }
    }
}

// Two texts of the same any-string type in one-byte units, compared for equality as
// string::compare_values compares them (from each one's index, folding case unless strict):
// true with `equal` set when it could tell; false for any other pair, which the comparison
// action decides.
inline bool quick_text_equal(const Cell& a, const Cell& b, bool strict, bool& equal) {
    uint32_t t = cell::type(a);
    if (t != cell::type(b) || !in(t, ANY_STRING)) return false;
    const Buffer* ba = buffer(series::node_of(a));
    const Buffer* bb = buffer(series::node_of(b));
    if (ba->unit() != 1 || bb->unit() != 1) return false;
    uint32_t la = ba->used(), lb = bb->used();
    uint32_t ia = std::min(series::position_of(a), la), ib = std::min(series::position_of(b), lb);
    if (la - ia != lb - ib) {
        equal = false;
        return true;
    }
    const uint8_t* pa = const_cast<Buffer*>(ba)->head_ptr() + ia;
    const uint8_t* pb = const_cast<Buffer*>(bb)->head_ptr() + ib;
    uint32_t i = 0, n = la - ia;
    // Eight characters at a time while they are the same. Where they differ, ASCII text folded
    // can still be equal only in letters, whose cases differ in bit 5 alone: any other
    // difference settles it. Else the loop below looks at each character from here.
    constexpr uint64_t high = 0x8080808080808080ull, case_bits = 0x2020202020202020ull;
    for (; i + 8 <= n; i += 8) {
        uint64_t x, y;
        std::memcpy(&x, pa + i, 8);
        std::memcpy(&y, pb + i, 8);
        uint64_t d = x ^ y;
        if (d == 0) continue;
        if (strict || (((x | y) & high) == 0 && (d & ~case_bits) != 0)) {
            equal = false;
            return true;
        }
        break;
    }
    const uint32_t* fold = strict ? nullptr : unicode::latin1_upper();
    for (; i < n; ++i) {
        uint32_t ca = pa[i], cb = pb[i];
        if (ca != cb && (!fold || fold[ca] != fold[cb])) {
            equal = false;
            return true;
        }
    }
    equal = true;
    return true;
}

// ---- cell-keyed kinds: maps and symbol tables --------------------------------------------------

// What sets the two cell-keyed kinds apart; `same` (the key already present, for insertion)
// is defined in the kind's file, which instantiates the templates below.
struct MapKeys {
    static constexpr uint32_t step = 2;          // key, value
    static constexpr bool removed_values = true;  // a value cell with header 0 is not counted
    static bool same(const Cell& stored, const Cell& key);
};
struct SymbolKeys {
    static constexpr uint32_t step = 1;
    static constexpr bool removed_values = false;
    static bool same(const Cell& stored, const Cell& key);
};

// Re-places every key in key-block order (so the first of several case variants stays first
// on their common probe) into fresh arrays.
template <class Keys>
void place_cells(Node table) {
    // Hashing reads and placing writes the fresh arrays: nothing here allocates, so the
    // arrays are looked up once.
    Record* r = record(table);
    uint32_t n = key_count(r);
    constexpr uint32_t step = Keys::step;
    uint32_t* f = flags_of(r);
    const Cell* keys = key_at(r, 0);
    uint32_t mask = r->bucket_count - 1;
    for (uint32_t i = 0; i + (step - 1) < n; i += step) {
        const Cell& key = keys[i];
        uint32_t at = (cell::type(key) == T_integer ? mix32(static_cast<uint32_t>(integer::get(key))) : hash_value(key, false)) & mask;
        for (uint32_t k = 1; state(f, at) == live; ++k) {
            if (k > mask) runtime::no_switch_matched();  // an empty bucket always exists
            at = (at + k) & mask;
        }
        occupy(r, at, static_cast<int32_t>(i));
        if (Keys::removed_values && keys[i + 1].header == 0) --r->size;
    }
}

template <class Keys>
void rebuild_cells(Node table, uint64_t n) {
    Sizing s = rebuild_sizing(n, key_count(record(table)) / Keys::step);
    fresh_arrays(table, s.buckets, s.upper);
    place_cells<Keys>(table);
}

// Indexes cell `index` of the key block (see `get`): the cell index of the key already
// present (the same key, or the cell itself), else of the new one.
template <class Keys>
int32_t get_cell(Node table, uint32_t index) {
    Record* r = record(table);
    if (index >= key_count(r)) return -1;
    if (r->occupied >= r->upper) {
        if (Keys::removed_values) resize(table, uint64_t(r->bucket_count) + 1);
        else resize(table, r->size * 2 < r->bucket_count ? r->bucket_count - 1 : uint64_t(r->bucket_count) + 1);
    }
    Cell key = *key_at(record(table), index);
    auto counted = [&](Record* rr) {
        if (Keys::removed_values && index + 1 < key_count(rr) && key_at(rr, index + 1)->header == 0) --rr->size;
    };
    if (cell::type(key) == T_integer) {
        // The cell itself, if indexed already, holds an equal integer: the probe finds it too.
        uint32_t slot;
        int32_t v = probe_integer(record(table), static_cast<uint32_t>(integer::get(key)), slot);
        if (v >= 0) return v;
        if (slot == no_cell) runtime::no_switch_matched();
        r = record(table);
        occupy(r, slot, static_cast<int32_t>(index));
        counted(r);
        return static_cast<int32_t>(index);
    }
    uint32_t first_deleted = no_cell;
    int32_t found = -1;
    uint32_t at = probe(table, hash_value(key, false), [&](uint32_t i, uint32_t s) {
        if (s == empty) return true;
        if (s == deleted) {
            if (first_deleted == no_cell) first_deleted = i;
            return false;
        }
        Record* rr = record(table);
        int32_t v = buckets_of(rr)[i];
        if (v < 0 || uint32_t(v) >= key_count(rr)) return false;
        if (uint32_t(v) == index) {
            found = v;  // already indexed
            return true;
        }
        Cell c = *key_at(rr, static_cast<uint32_t>(v));
        if (!Keys::same(c, key)) return false;
        found = v;
        return true;
    });
    if (found >= 0) return found;
    if (first_deleted != no_cell) at = first_deleted;
    if (at == no_cell) runtime::no_switch_matched();
    r = record(table);
    occupy(r, at, static_cast<int32_t>(index));
    counted(r);
    return static_cast<int32_t>(index);
}

// The search of the cell-keyed kinds: the first key on the probe of the same datatype
// comparing true under op.
int32_t search_cells(Node table, const Cell& key, int32_t op);
// search_cells for a key that is no integer, giving also, when it finds none, the bucket a new
// entry for the key takes: the first deleted one on its probe, else the empty one that ended
// it (no_cell when neither).
int32_t probe_cells(Node table, const Cell& key, int32_t op, uint32_t& slot);

// ---- what each kind's file gives the core ------------------------------------------------------

// hash_index.cpp
Node make_index(uint64_t n, Node source);
int32_t index_get(Node table, uint32_t index, int32_t* out);
void index_rebuild(Node table, uint64_t n);
void index_grow(Node table, uint32_t nb, uint32_t upper);
void index_put_key(Node table, uint32_t first, uint32_t step);
int32_t index_search(Node table, const Cell& key, int32_t start, int32_t skip, int32_t op, bool backwards);
// The first cell of a bucket's entry (the cell, or the first of its list), or no_cell.
uint32_t index_representative(const Record* r, int32_t v);
void index_remove_cell(Record* r, uint32_t index);
void index_remove_all(Record* r);
void index_copy(Node copy);
void index_clear(Record* r);
void index_mark(const Record& r);

// map.cpp
Node make_map(uint64_t n, Node source);
int32_t map_get(Node table, uint32_t index);
void map_put_key(Node table, uint32_t first, uint32_t step);
int32_t map_search(Node table, const Cell& key, int32_t op);
void map_remove_cell(Record* r, uint32_t index);

// symbols.cpp
Node make_symbols(uint64_t n, Node source);
int32_t symbols_get(Node table, uint32_t index);
void symbols_put_key(Node table, uint32_t first, uint32_t step);

// integer.cpp
Node make_integer(uint64_t n, uint32_t kind, uint32_t values_per_key);
// Fresh arrays of nb buckets holding every live entry (stamp renewed).
void integer_grow(Node table, uint32_t nb, uint32_t upper);
void integer_mark(const Record& r);

}  // namespace kov::hashtable
