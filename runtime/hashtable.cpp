#include "runtime/hashtable.h"

#include <cstring>
#include <vector>

#include "runtime/array.h"
#include "runtime/collector.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/error.h"
#include "runtime/heap.h"
#include "runtime/interpreter/actions.h"
#include "runtime/runtime.h"
#include "runtime/series_buffer.h"
#include "runtime/unicode.h"

namespace kov::hashtable {

using memory::Buffer;
using memory::buffer;

namespace {

// A bucket array of 4 bytes a bucket stays well below the largest buffer.
constexpr uint64_t max_buckets = uint64_t(1) << 28;
constexpr uint32_t no_cell = 0xFFFFFFFFu;
constexpr uint32_t free_slot = 0x80000000u;  // a released slot of the duplicates store

uint32_t evacuation_count = 0;

[[noreturn]] void no_memory() { error::fire(err::internal_no_memory); }

// ---- MurmurHash3 --------------------------------------------------------------------------------

constexpr uint32_t c1 = 0xcc9e2d51u;
constexpr uint32_t c2 = 0x1b873593u;

inline uint32_t rotl(uint32_t x, int r) { return (x << r) | (x >> (32 - r)); }

inline uint32_t block_step(uint32_t h, uint32_t k) {
    k *= c1;
    k = rotl(k, 15);
    k *= c2;
    h ^= k;
    h = rotl(h, 13);
    return h * 5 + 0xe6546b64u;
}

inline uint8_t same_byte(uint8_t b) { return b; }
inline uint8_t lower_byte(uint8_t b) { return b >= 'A' && b <= 'Z' ? static_cast<uint8_t>(b + 32) : b; }

template <uint8_t (*Tr)(uint8_t)>
uint32_t murmur(const void* data, std::size_t length, uint32_t h) {
    auto p = static_cast<const uint8_t*>(data);
    std::size_t blocks = length / 4;
    for (std::size_t i = 0; i < blocks; ++i) {
        const uint8_t* b = p + i * 4;
        uint32_t k = uint32_t(Tr(b[0])) | uint32_t(Tr(b[1])) << 8 | uint32_t(Tr(b[2])) << 16 | uint32_t(Tr(b[3])) << 24;
        h = block_step(h, k);
    }
    const uint8_t* tail = p + blocks * 4;
    uint32_t k = 0;
    switch (length & 3) {
    case 3: k ^= uint32_t(Tr(tail[2])) << 16; [[fallthrough]];
    case 2: k ^= uint32_t(Tr(tail[1])) << 8; [[fallthrough]];
    case 1:
        k ^= Tr(tail[0]);
        k *= c1;
        k = rotl(k, 15);
        k *= c2;
        h ^= k;
    }
    h ^= static_cast<uint32_t>(length);
    return mix32(h);
}

// ---- bucket flags and arrays ----------------------------------------------------------------

constexpr uint32_t live = 0, deleted = 1, empty = 2;

inline uint32_t* flags_of(const Record* r) { return reinterpret_cast<uint32_t*>(buffer(r->flags)->head_ptr()); }
inline int32_t* buckets_of(const Record* r) { return reinterpret_cast<int32_t*>(buffer(r->buckets)->head_ptr()); }
inline uint32_t state(const uint32_t* f, uint32_t i) { return (f[i >> 4] >> ((i & 15) * 2)) & 3; }
inline void set_state(uint32_t* f, uint32_t i, uint32_t s) {
    uint32_t sh = (i & 15) * 2;
    f[i >> 4] = (f[i >> 4] & ~(3u << sh)) | (s << sh);
}
inline uint64_t flag_bytes(uint32_t buckets) { return (uint64_t(buckets) + 15) / 16 * 4; }

inline uint32_t key_count(const Record* r) { return buffer(r->keys)->used() / sizeof(Cell); }
inline Cell* key_at(const Record* r, uint32_t i) { return reinterpret_cast<Cell*>(buffer(r->keys)->head_ptr()) + i; }

// The cell-index array of a kind-0 table.
inline uint32_t index_length(const Record* r) { return buffer(r->aux)->used() / 4; }
inline uint32_t* index_of(const Record* r) { return reinterpret_cast<uint32_t*>(buffer(r->aux)->head_ptr()); }
inline uint32_t cell_bucket(const Record* r, uint32_t i) { return i < index_length(r) ? index_of(r)[i] : no_cell; }

uint32_t pow2_for(double n) {
    if (!(n < double(max_buckets))) no_memory();
    uint32_t b = round_pow2(static_cast<uint32_t>(n));
    return b < 4 ? 4 : b;
}

Node new_flags(uint32_t buckets) {
    Node n = memory::alloc_bytes_filled(flag_bytes(buckets), 0xAA);
    buffer(n)->tail = static_cast<uint32_t>(flag_bytes(buckets));
    return n;
}
Node new_buckets(uint32_t buckets) {
    Node n = memory::alloc_bytes(uint64_t(buckets) * 4);
    buffer(n)->tail = buckets * 4;
    return n;
}

// The datatypes whose hash depends on a node id: a table holding them is node-keyed.
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

inline bool any_word(uint32_t t) { return t >= T_word && t <= T_issue; }

// ---- kind 0: duplicates store ---------------------------------------------------------------

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

// The first cell of a bucket's entry, or no_cell.
uint32_t representative(const Record* r, int32_t v) {
    if (v >= 0) return static_cast<uint32_t>(v);
    Node list = list_at(r, static_cast<uint32_t>(-v));
    return array::length(list) ? static_cast<uint32_t>(array::pick_int(list, 1)) : no_cell;
}

// Gives the cell-index array room for n cells (new entries 0xFF).
void ensure_index(Node table, uint32_t n) {
    uint32_t have = index_length(record(table));
    if (have >= n) return;
    uint64_t bytes = uint64_t(n - have) * 4;
    std::memset(series::reserve(record(table)->aux, bytes), 0xFF, bytes);
}

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
int32_t probe_integer(const Record* r, uint32_t value, uint32_t& slot) {
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
            if (v >= 0 && uint32_t(v) < count && cell::type(keys[v]) == T_integer && keys[v].w2 == value) {
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

// Makes bucket i live with value v; counts it.
void occupy(Record* r, uint32_t i, int32_t v) {
    uint32_t* f = flags_of(r);
    if (state(f, i) == empty) ++r->occupied;
    set_state(f, i, live);
    buckets_of(r)[i] = v;
    ++r->size;
}

// The first bucket that is not live on the probe of a hash (no comparisons).
uint32_t free_bucket(Node table, uint32_t hash) {
    return probe(table, hash, [](uint32_t, uint32_t s) { return s != live; });
}

// Places a key without looking for an equal one (rebuilds: every key is distinct).
void raw_insert(Node table, uint32_t hash, int32_t v) {
    uint32_t i = free_bucket(table, hash);
    if (i == no_cell) runtime::no_switch_matched();  // an empty bucket always exists
    Record* r = record(table);
    occupy(r, i, v);
}

uint32_t entry_hash(const Record* r, uint32_t offset) {
    auto key = reinterpret_cast<const Cell*>(buffer(r->keys)->head_ptr() + offset);
    return mix32(key->w1);
}

// New flag and bucket arrays of nb buckets, stored in the record (size and occupied reset).
void fresh_arrays(Node table, uint32_t nb, uint32_t upper) {
    Node f = new_flags(nb);
    collector::RootNode keep(f);
    Node b = new_buckets(nb);
    Record* r = record(table);
    r->flags = f;
    r->buckets = b;
    r->bucket_count = nb;
    r->upper = upper;
    r->size = 0;
    r->occupied = 0;
}

// Re-places every key of a map or symbol table in key-block order (so the first of several
// case variants stays first on their common probe), or every live entry of an integer table.
void rehash_keys(Node table) {
    Record* r = record(table);
    uint32_t kind = r->kind;
    if (kind >= integer) {
        // Placing entries allocates nothing: the entry block stays where it is.
        Buffer* b = buffer(r->keys);
        uint32_t step = r->aux;
        for (uint32_t off = 0; off + step <= b->used(); off += step) {
            auto key = reinterpret_cast<const Cell*>(b->head_ptr() + off);
            if (key->header == T_unset) raw_insert(table, mix32(key->w1), static_cast<int32_t>(off));
        }
        return;
    }
    // Hashing reads and placing writes the fresh arrays: nothing here allocates, so the
    // arrays are looked up once.
    uint32_t n = key_count(r);
    uint32_t step = kind == map ? 2 : 1;
    uint32_t* f = flags_of(r);
    const Cell* keys = key_at(r, 0);
    uint32_t mask = r->bucket_count - 1;
    for (uint32_t i = 0; i + (step - 1) < n; i += step) {
        const Cell& key = keys[i];
        uint32_t at = (cell::type(key) == T_integer ? mix32(key.w2) : hash_value(key, false)) & mask;
        for (uint32_t k = 1; state(f, at) == live; ++k) {
            if (k > mask) runtime::no_switch_matched();  // an empty bucket always exists
            at = (at + k) & mask;
        }
        occupy(r, at, static_cast<int32_t>(i));
        if (kind == map && keys[i + 1].header == 0) --r->size;
    }
}

// Kind 0: re-places the existing entries (cells and lists) into new arrays.
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
        uint32_t rep = representative(r, v);
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

// Kind 0: a new index over every cell of the block.
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
    for (uint32_t i = 0; i < n && i < key_count(record(table)); ++i) get(table, i, nullptr);
}

// Kind 0: inserting one cell (see `get`).
int32_t get_index(Node table, uint32_t index, int32_t* out) {
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
        uint32_t rep = representative(rr, buckets_of(rr)[i]);
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
    if (r->stamp == 0 && reference_type(cell::type(key))) r->stamp = 1 + evacuation_count;
    return static_cast<int32_t>(index);
}

// Kinds 1 and 2: the same key, for insertion.
bool same_key(uint32_t kind, const Cell& stored, const Cell& key) {
    if (cell::type(stored) != cell::type(key)) return false;
    if (kind == map) return actions::compare(stored, key, actions::strict_equal);
    if (any_word(cell::type(key))) return stored.w2 == key.w2;
    if (cell::is(key, T_symbol)) {
        Buffer* a = buffer(stored.w3);
        Buffer* b = buffer(key.w3);
        return a->used() == b->used() && std::memcmp(a->head_ptr(), b->head_ptr(), a->used()) == 0;
    }
    return actions::compare(stored, key, actions::strict_equal);
}

int32_t get_cell(Node table, uint32_t index) {
    Record* r = record(table);
    uint32_t kind = r->kind;
    if (index >= key_count(r)) return -1;
    if (r->occupied >= r->upper) {
        if (kind == map) resize(table, uint64_t(r->bucket_count) + 1);
        else resize(table, r->size * 2 < r->bucket_count ? r->bucket_count - 1 : uint64_t(r->bucket_count) + 1);
    }
    Cell key = *key_at(record(table), index);
    if (cell::type(key) == T_integer) {
        // The cell itself, if indexed already, holds an equal integer: the probe finds it too.
        uint32_t slot;
        int32_t v = probe_integer(record(table), key.w2, slot);
        if (v >= 0) return v;
        if (slot == no_cell) runtime::no_switch_matched();
        r = record(table);
        occupy(r, slot, static_cast<int32_t>(index));
        if (kind == map && index + 1 < key_count(r) && key_at(r, index + 1)->header == 0) --r->size;
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
        if (!same_key(kind, c, key)) return false;
        found = v;
        return true;
    });
    if (found >= 0) return found;
    if (first_deleted != no_cell) at = first_deleted;
    if (at == no_cell) runtime::no_switch_matched();
    r = record(table);
    occupy(r, at, static_cast<int32_t>(index));
    if (kind == map && index + 1 < key_count(r) && key_at(r, index + 1)->header == 0) --r->size;
    return static_cast<int32_t>(index);
}

// A kind-0 bucket's list or cell loses one cell; the bucket is deleted when nothing is left.
void unindex_cell(Record* r, uint32_t index) {
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

}  // namespace

// ---- hash functions ---------------------------------------------------------------------------

uint32_t murmur3(const void* data, std::size_t length, uint32_t with_seed) {
    return murmur<same_byte>(data, length, with_seed);
}
uint32_t murmur3_lower(const void* data, std::size_t length) { return murmur<lower_byte>(data, length, seed); }

uint32_t mix32(uint32_t h) {
    h ^= h >> 16;
    h *= 0x85ebca6bu;
    h ^= h >> 13;
    h *= 0xc2b2ae35u;
    h ^= h >> 16;
    return h;
}

uint32_t round_pow2(uint32_t n) {
    if (n <= 1) return 1;
    --n;
    n |= n >> 1;
    n |= n >> 2;
    n |= n >> 4;
    n |= n >> 8;
    n |= n >> 16;
    return n + 1;
}

uint32_t hash_string(const Cell& s, bool case_sensitive) {
    Buffer* b = buffer(s.w2);
    uint32_t unit = b->unit();
    if (unit != 1 && unit != 2 && unit != 4) runtime::no_switch_matched();
    uint32_t total = b->used() / unit;
    uint32_t index = static_cast<int32_t>(s.w1) < 0 ? 0 : s.w1;
    uint32_t count = index < total ? total - index : 0;
    if (cell::type(s) == string::partial_type && static_cast<int32_t>(s.w3) >= 0 && s.w3 < count) count = s.w3;
    const uint8_t* p = b->head_ptr() + uint64_t(index) * unit;
    uint32_t h = seed;
    for (uint32_t i = 0; i < count; ++i, p += unit) {
        uint32_t c = unicode::char_at(p, unit);
        // The same folding as the comparison of strings, so that equal strings hash alike.
        if (!case_sensitive) c = unicode::case_map(c, true);
        h = block_step(h, c);
    }
    h ^= count * 4;
    return mix32(h);
}

uint32_t hash_value(const Cell& v, bool case_sensitive) {
    uint32_t t = cell::type(v);
    switch (t) {
    case T_unset: return static_cast<uint32_t>(-2);
    case T_none: return static_cast<uint32_t>(-1);
    case T_datatype: case T_logic: return mix32(v.w1);
    case T_char_: case T_integer: case T_map: case T_handle: case T_event: return mix32(v.w2);
    case T_native: case T_action: return mix32(v.w3);
    case T_object: case T_error: case T_port: return mix32(v.w1);
    case T_word: case T_set_word: case T_lit_word: case T_get_word: case T_refinement: case T_issue:
        return mix32(symbol::resolve(v.w2));
    case T_symbol: {
        Buffer* b = buffer(v.w3);
        return murmur3_lower(b->head_ptr(), b->used());
    }
    case T_string: case T_file: case T_url: case T_tag: case T_email: case T_ref: case string::partial_type:
        return hash_string(v, case_sensitive);
    case T_block: case T_paren: case T_path: case T_lit_path: case T_set_path: case T_get_path: case T_hash:
    case T_image: {
        uint32_t w[2] = {v.w1, v.w2};
        return murmur3(w, sizeof w);
    }
    case T_float_: case T_percent: case T_time: {
        // -0.0 equals +0.0: both hash as +0.0.
        uint32_t w[2] = {v.w2, v.w3};
        if (cell::get_double(v) == 0.0) w[0] = w[1] = 0;
        return murmur3(w, sizeof w);
    }
    case T_pair: {
        uint32_t w[2] = {v.w2, v.w3};
        return murmur3(w, sizeof w);
    }
    case T_binary: {
        Buffer* b = buffer(v.w2);
        uint32_t index = v.w1 < b->used() ? v.w1 : b->used();
        return murmur3(b->head_ptr() + index, b->used() - index);
    }
    default:
        // Datatypes without a hash of their own share one probe sequence (correct, only slower).
        return 0;
    }
}

// ---- node identity ----------------------------------------------------------------------------

void note_evacuation() { ++evacuation_count; }
uint32_t evacuations() { return evacuation_count; }

void check_stamp(Node table) {
    Record* r = record(table);
    if (r->stamp == 0 || r->stamp == 1 + evacuation_count || collector::active_q()) return;
    if (r->kind >= integer) rehash_int(table);
    else if (r->kind == hash_index) resize(table, key_count(r));
}

// ---- making and rebuilding ----------------------------------------------------------------------

Node make(uint64_t n, Node source, uint32_t kind, uint32_t values_per_key) {
    if (kind == symbols && n >= 4000) n *= 2;
    if (n < 4) n = 4;
    uint32_t nb = pow2_for(static_cast<double>(n) / load_factor);
    uint32_t upper = static_cast<uint32_t>(nb * load_factor);

    Node table = memory::alloc_units(sizeof(Record) / 4, 4);
    Buffer* tb = buffer(table);
    std::memset(tb->data(), 0, sizeof(Record));
    tb->tail = sizeof(Record);
    record(table)->kind = kind;
    Root keep(table);
    fresh_arrays(table, nb, upper);
    if (kind == hash_index) {
        Node index = memory::alloc_bytes_filled(n * 4, 0xFF);
        buffer(index)->flags = (buffer(index)->flags & ~memory::unit_mask) | 4;
        buffer(index)->tail = static_cast<uint32_t>(n * 4);
        record(table)->aux = index;
        Node store = array::make(4, 4);
        record(table)->dups = store;
    }
    if (kind >= integer) {
        uint64_t cells = 1 + uint64_t(values_per_key);
        record(table)->aux = static_cast<uint32_t>(cells * sizeof(Cell));
        record(table)->stamp = 1 + evacuation_count;
        Node keys = memory::alloc_cells(n * cells);
        record(table)->keys = keys;
        return table;
    }
    if (!source) {
        Node keys = memory::alloc_cells(n);
        record(table)->keys = keys;
        return table;
    }
    record(table)->keys = source;
    put_key(table, 0, kind == map ? 2 : 1);
    return table;
}

void rebuild(Node table, uint64_t n) {
    Record* r = record(table);
    if (r->kind >= integer) {
        rebuild_int(table, n);
        return;
    }
    uint32_t count = key_count(r);
    if (r->kind == map) count /= 2;
    if (n < count) n = count;
    uint32_t nb = pow2_for(static_cast<double>(n) * rebuild_factor);
    uint32_t upper = static_cast<uint32_t>(nb * load_factor);
    if (r->kind == hash_index) {
        reindex_block(table, nb, upper);
        return;
    }
    fresh_arrays(table, nb, upper);
    rehash_keys(table);
}

void resize(Node table, uint64_t n) {
    // Node-frame evacuation never runs inside an allocation here, so nothing is switched off.
    if (record(table)->kind >= integer) rebuild_int(table, n);
    else rebuild(table, n);
}

void grow(Node table, uint64_t new_buckets) {
    uint32_t nb = pow2_for(static_cast<double>(new_buckets < 4 ? 4 : new_buckets));
    uint32_t upper = static_cast<uint32_t>(nb * load_factor + 0.5);
    Record* r = record(table);
    if (r->size >= upper || nb <= r->bucket_count) return;
    if (r->kind == hash_index) {
        rehash_index(table, nb, upper);
        return;
    }
    fresh_arrays(table, nb, upper);
    rehash_keys(table);
    if (record(table)->kind >= integer) record(table)->stamp = 1 + evacuation_count;
}

Node copy(Node table, Node keys) {
    Root keep_source(table);
    collector::RootNode keep_keys(keys);
    Node copy = memory::copy_series(table);
    Root keep(copy);
    Node f = memory::copy_series(record(table)->flags);
    record(copy)->flags = f;
    Node b = memory::copy_series(record(table)->buckets);
    record(copy)->buckets = b;
    if (record(table)->kind == hash_index) {
        Node index = memory::copy_series(record(table)->aux);
        record(copy)->aux = index;
        Node store = memory::copy_series(record(table)->dups);
        record(copy)->dups = store;
        uint32_t n = array::length(store);
        for (uint32_t k = 1; k <= n; ++k) {
            uint32_t v = static_cast<uint32_t>(array::pick_int(record(copy)->dups, k));
            if (v & free_slot) continue;
            Node list = memory::copy_series(v);
            array::poke_int(record(copy)->dups, k, static_cast<int32_t>(list));
        }
    }
    if (!keys && record(table)->kind >= integer) keys = memory::copy_series(record(table)->keys);
    record(copy)->keys = keys;
    return copy;
}

void clear(Node table) {
    Record* r = record(table);
    r->size = 0;
    r->occupied = 0;
    Buffer* f = buffer(r->flags);
    std::memset(f->head_ptr(), 0xAA, f->used());
    Buffer* k = buffer(r->keys);
    k->tail = k->head;
    if (r->kind == hash_index) {
        buffer(r->aux)->tail = buffer(r->aux)->head;
        array::clear(r->dups);
        r->free_list = 0;
        r->stamp = 0;
    }
}

// ---- cell-keyed kinds -----------------------------------------------------------------------------

int32_t get(Node table, uint32_t index, int32_t* out) {
    if (record(table)->kind == hash_index) return get_index(table, index, out);
    return get_cell(table, index);
}

void put_key(Node table, uint32_t first, uint32_t step) {
    if (step == 0) step = 1;
    uint32_t kind = record(table)->kind;
    for (uint32_t i = first; i < key_count(record(table));) {
        if (kind == hash_index) {
            int32_t out = 0;
            get(table, i, &out);
            if (out == 2) return;  // the rebuild indexed the whole block
            i += step;
            continue;
        }
        if (kind == map && i + 1 >= key_count(record(table))) return;  // a key without value
        int32_t at = get(table, i, nullptr);
        if (kind == map && at >= 0 && uint32_t(at) != i) {
            // A later pair with a key already present: its value wins, the pair leaves.
            Record* r = record(table);
            Cell* existing = key_at(r, static_cast<uint32_t>(at)) + 1;
            if (existing->header == 0) ++r->size;
            *existing = *key_at(r, i + 1);
            Buffer* b = buffer(r->keys);
            uint8_t* pair = b->head_ptr() + uint64_t(i) * sizeof(Cell);
            std::memmove(pair, pair + 2 * sizeof(Cell), b->tail_ptr() - pair - 2 * sizeof(Cell));
            b->tail -= 2 * sizeof(Cell);
            continue;
        }
        i += step;
    }
}

int32_t search(Node table, const Cell& key_in, int32_t start, int32_t skip, int32_t op, bool reverse, bool last) {
    Cell key = key_in;  // the key may lie in a buffer that a re-hash moves
    check_stamp(table);
    Record* r = record(table);
    uint32_t kind = r->kind;
    if (kind >= integer) return -1;
    bool as_set_word = kind == map && cell::type(key) >= T_word && cell::type(key) <= T_get_word && cell::type(key) != T_set_word;
    if (as_set_word) cell::set_type(key, T_set_word);
    if (kind != hash_index && cell::type(key) == T_integer && value_equality(op)) {
        uint32_t slot;
        return probe_integer(r, key.w2, slot);
    }
    uint32_t hash = hash_value(key, false);
    if (kind != hash_index) {
        int32_t found = -1;
        probe(table, hash, [&](uint32_t i, uint32_t s) {
            if (s == empty) return true;
            if (s == deleted) return false;
            Record* rr = record(table);
            int32_t v = buckets_of(rr)[i];
            if (v < 0 || uint32_t(v) >= key_count(rr)) return false;
            Cell c = *key_at(rr, static_cast<uint32_t>(v));
            if (cell::type(c) != cell::type(key) || !actions::compare(c, key, op)) return false;
            found = v;
            return true;
        });
        return found;
    }
    if (skip < 1) skip = 1;
    if (start < 0) start = 0;
    bool backwards = reverse || last;
    int64_t best = -1;
    std::vector<uint32_t> cells;
    probe(table, hash, [&](uint32_t i, uint32_t s) {
        if (s == empty) return true;
        if (s == deleted) return false;
        Record* rr = record(table);
        int32_t v = buckets_of(rr)[i];
        uint32_t rep = representative(rr, v);
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

int32_t find_next(Node table, const Cell& key_in, Probe& st) {
    Cell key = key_in;
    Record* r = record(table);
    if (r->kind >= integer || st.finished) return -1;
    uint32_t mask = r->bucket_count - 1;
    uint32_t start = hash_value(key, false) & mask;
    auto advance = [&] {
        st.index = (st.index + ++st.step) & mask;
        if (st.index == start) st.finished = true;
    };
    if (!st.started) {
        st.started = true;
        st.index = start;
        st.step = 0;
    } else {
        advance();
    }
    while (!st.finished) {
        r = record(table);
        if (r->bucket_count != mask + 1) break;  // the table was re-made: the walk is over
        uint32_t s = state(flags_of(r), st.index);
        if (s == empty) break;
        if (s == live) {
            int32_t v = buckets_of(r)[st.index];
            uint32_t rep = r->kind == hash_index ? representative(r, v) : static_cast<uint32_t>(v);
            if (rep != no_cell && rep < key_count(r)) {
                Cell c = *key_at(r, rep);
                if (cell::type(c) == cell::type(key) && actions::compare(c, key, actions::equal))
                    return static_cast<int32_t>(rep);
            }
        }
        advance();
    }
    st.finished = true;
    return -1;
}

void remove_cell(Node table, uint32_t index) {
    Record* r = record(table);
    if (r->kind == hash_index) {
        unindex_cell(r, index);
    } else if (r->kind == map) {
        if (index + 1 >= key_count(r)) return;
        Cell* value = key_at(r, index + 1);
        if (value->header != 0) {
            value->header = 0;
            if (r->size) --r->size;
        }
    }
}

void remove_range(Node table, uint32_t index, uint32_t count) {
    Record* r = record(table);
    uint32_t n = key_count(r);
    if (index >= n) return;
    if (count > n - index) count = n - index;
    if (index == 0 && count == n && r->kind == hash_index) {
        // Everything goes: back to empty, same size.
        r->size = 0;
        r->occupied = 0;
        Buffer* f = buffer(r->flags);
        std::memset(f->head_ptr(), 0xAA, f->used());
        std::memset(index_of(r), 0xFF, uint64_t(index_length(r)) * 4);
        array::clear(r->dups);
        r->free_list = 0;
        return;
    }
    for (uint32_t i = index; i < index + count; ++i)
        if (r->kind != map || (i & 1) == 0) remove_cell(table, i);
}

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
        for (int64_t i = lo + d; i < lo; ++i) unindex_cell(r, static_cast<uint32_t>(i));

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

// ---- integer kinds --------------------------------------------------------------------------------

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
            if (c->header == T_unset && c->w1 == key) return i;
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

}  // namespace

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
    r->stamp = 1 + evacuation_count;
    for (uint32_t off = 0; off + step <= to->used(); off += step) raw_insert(table, entry_hash(r, off), static_cast<int32_t>(off));
}

void rehash_int(Node table) {
    Record* r = record(table);
    Buffer* f = buffer(r->flags);
    std::memset(f->head_ptr(), 0xAA, f->used());
    r->size = 0;
    r->occupied = 0;
    rehash_keys(table);
    record(table)->stamp = 1 + evacuation_count;
}

// ---- symbols and context word lists ----------------------------------------------------------------

namespace {

// Interning copies the spelling here (and its lowered form after it) before anything is
// allocated: the caller's bytes may lie in a series buffer that an allocation moves.
uint8_t* scratch = nullptr;
uint64_t scratch_size = 0;

uint8_t* scratch_for(uint64_t n) {
    if (n > scratch_size) {
        uint64_t size = n < 256 ? 256 : n;
        scratch = static_cast<uint8_t*>(heap::resize(scratch, size));
        if (!scratch) runtime::quit(94, 0);
        scratch_size = size;
    }
    return scratch;
}

bool ascii_equal_nocase(const uint8_t* a, const uint8_t* b, uint32_t n) {
    for (uint32_t i = 0; i < n; ++i)
        if (lower_byte(a[i]) != lower_byte(b[i])) return false;
    return true;
}

// Probes for a spelling; gives the 0-based position of the match or -1, and the empty bucket
// that ended the probe.
int64_t probe_symbol(Node table, const uint8_t* text, uint32_t length, uint32_t hash, bool nocase, uint32_t& free_at) {
    int64_t found = -1;
    free_at = no_cell;
    uint32_t at = probe(table, hash, [&](uint32_t i, uint32_t s) {
        if (s != live) return s == empty;
        Record* r = record(table);
        int32_t v = buckets_of(r)[i];
        if (v < 0 || uint32_t(v) >= key_count(r)) return false;
        Buffer* b = buffer(key_at(r, static_cast<uint32_t>(v))->w3);
        if (b->used() != length) return false;
        bool same = nocase ? ascii_equal_nocase(b->head_ptr(), text, length)
                           : std::memcmp(b->head_ptr(), text, length) == 0;
        if (same) found = v;
        return same;
    });
    if (found < 0) free_at = at;
    return found;
}

}  // namespace

uint32_t find_symbol(Node table, const uint8_t* bytes, uint32_t length, SymbolMode mode) {
    uint8_t* text = scratch_for(uint64_t(length) + 1);
    if (length) std::memcpy(text, bytes, length);
    uint32_t hash = murmur3_lower(text, length);
    if (mode != find_exact) {
        Record* r = record(table);
        if (r->occupied >= r->upper) rebuild(table, r->bucket_count);
    }
    uint32_t free_at = no_cell;
    int32_t alias = -1;
    if (mode == any_case) {
        int64_t at = probe_symbol(table, text, length, hash, true, free_at);
        if (at >= 0) return static_cast<uint32_t>(at + 1);
    } else {
        int64_t at = probe_symbol(table, text, length, hash, false, free_at);
        if (at >= 0) return static_cast<uint32_t>(at + 1);
        if (mode == find_exact) return 0;
        uint32_t unused;
        int64_t variant = probe_symbol(table, text, length, hash, true, unused);
        if (variant >= 0) alias = static_cast<int32_t>(symbol::resolve(static_cast<uint32_t>(variant + 1)));
    }
    if (free_at == no_cell) runtime::no_switch_matched();  // the table always keeps an empty bucket

    Node spelling = memory::alloc_bytes(uint64_t(length) + 1);
    Buffer* sb = buffer(spelling);
    text = scratch;  // unchanged by allocations: it lives on the tracked heap
    if (length) std::memcpy(sb->data(), text, length);
    sb->data()[length] = 0;
    sb->tail = length;
    collector::RootNode keep(spelling);
    Cell* c = series::append_cell(record(table)->keys);
    *c = Cell{T_symbol, static_cast<uint32_t>(alias), 0, spelling};
    Record* r = record(table);
    uint32_t position = key_count(r) - 1;
    occupy(r, free_at, static_cast<int32_t>(position));
    return position + 1;
}

int32_t put_symbol(Node table, uint32_t sym, bool case_insensitive, Node context, int32_t* result, int32_t* position) {
    if (position) *position = -1;
    if (context) {
        Record* r = record(table);
        if (r->occupied >= r->upper) rebuild(table, r->bucket_count);
    }
    uint32_t folded = symbol::resolve(sym);
    int32_t found = -1;
    uint32_t first_deleted = no_cell;
    uint32_t at = probe(table, mix32(folded), [&](uint32_t i, uint32_t s) {
        if (s == empty) return true;
        if (s == deleted) {
            if (first_deleted == no_cell) first_deleted = i;
            return false;
        }
        Record* r = record(table);
        int32_t v = buckets_of(r)[i];
        if (v < 0 || uint32_t(v) >= key_count(r)) return false;
        const Cell* e = key_at(r, static_cast<uint32_t>(v));
        bool same = case_insensitive ? symbol::resolve(e->w2) == folded : e->w2 == sym;
        if (same) {
            found = static_cast<int32_t>(e->w3);
            if (position) *position = v;
        }
        return same;
    });
    if (found >= 0 || !context) {
        if (found >= 0 && result) *result = found;
        return found;
    }
    if (first_deleted != no_cell) at = first_deleted;
    if (at == no_cell) runtime::no_switch_matched();
    Cell* c = series::append_cell(record(table)->keys);
    Record* r = record(table);
    uint32_t added = key_count(r) - 1;
    *c = Cell{T_word, context, sym, added};
    occupy(r, at, static_cast<int32_t>(added));
    if (result) *result = static_cast<int32_t>(added);
    if (position) *position = static_cast<int32_t>(added);
    return -1;
}

// ---- collector ----------------------------------------------------------------------------------

void mark(Node table) {
    if (!memory::valid_node(table) || buffer(table)->used() != sizeof(Record)) return;
    if (!collector::mark_series(table)) return;
    Record r = *record(table);
    collector::mark_series(r.flags);
    collector::mark_series(r.buckets);
    if (r.kind == hash_index) {
        collector::mark_series(r.aux);
        if (collector::mark_series(r.dups)) {
            uint32_t n = array::length(r.dups);
            for (uint32_t k = 1; k <= n; ++k) {
                uint32_t v = static_cast<uint32_t>(array::pick_int(r.dups, k));
                if (!(v & free_slot)) collector::mark_series(v);
            }
        }
    }
    if (r.kind <= symbols) {
        if (memory::valid_node(r.keys) && buffer(r.keys)->unit() == sizeof(Cell)) collector::mark_block(r.keys);
        return;
    }
    if (!collector::mark_series(r.keys) || r.kind == ownership) return;
    Buffer* b = buffer(r.keys);
    uint32_t step = r.aux;
    for (uint32_t off = 0; off + step <= b->used(); off += step) {
        auto key = reinterpret_cast<const Cell*>(b->head_ptr() + off);
        if (key->header == T_unset) collector::mark_cells(key + 1, reinterpret_cast<const Cell*>(b->head_ptr() + off + step));
    }
}

void sweep_owners(Node table) {
    if (!memory::valid_node(table)) return;
    std::vector<uint32_t> dead;
    for_each_int(table, [&](uint32_t key, Cell* values) {
        bool series_alive = collector::marked_q(key);
        bool owner_alive = collector::marked_q(values[1].w1);
        if (series_alive && owner_alive) return;
        if (series_alive) buffer(key)->flags &= ~memory::owned;
        dead.push_back(key);
    });
    for (uint32_t key : dead) remove_int_key(table, key);
}

namespace {
std::vector<Node>& guarded() {
    static std::vector<Node> tables;
    return tables;
}
void mark_guarded() {
    for (Node t : guarded()) mark(t);
}
}  // namespace

Root::Root(Node table) {
    static bool registered = false;
    if (!registered) {
        collector::push_root(mark_guarded);
        registered = true;
    }
    guarded().push_back(table);
}
Root::~Root() { guarded().pop_back(); }

// ---- heap integer map -----------------------------------------------------------------------------

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
