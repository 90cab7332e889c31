// Hash tables: one open-addressing design behind every keyed lookup of the runtime.
//
// A table is a series holding one Record (below), reached through its node like every
// series; the arrays it uses are series of their own, named by node in the record. Buckets
// carry two state bits (16 buckets per 32-bit flag word: 10 empty, 01 deleted, 00 live; a
// fresh flag array is all 0xAA bytes). Probing is triangular over a power-of-two bucket
// array (i, i+1, i+3, i+6 ...), which visits every bucket before it comes back to its start.
// A table grows before an insertion once occupied (live plus deleted) buckets reach its upper
// bound, 0.77 of the bucket count, so an empty bucket always ends a probe.
//
// Kinds, by what a bucket holds:
//   0 hash_index  the index of a hash! block: the cell index of the key, or -k for the k-th
//                 list of the duplicates store (cells whose keys are equal); a cell-index array
//                 maps every cell back to its bucket + 1 (0xFFFFFFFF: not indexed).
//   1 map         the cell index of a key cell of a map's key/value block.
//   2 symbols     the cell index in the key block: the symbol series (symbol records), or a
//                 context's word list (word cells keyed by their symbol, case folded).
//   3+ integer    the byte offset of an entry in the entry block: a key cell (header 2 while
//                 live, 0 once deleted; the key in word 1) then the value cells. Kind 4 is the
//                 ownership table, whose entries are weak (see sweep_owners).
// The heap map at the bottom is the same design on the tracked heap, outside the collector.
// The shared probing core and each kind have a file of their own in runtime/hashtable/
// (core.h lists them, and each file states what its buckets hold and what it keeps true).
//
// Invariants: every live bucket names a key that is in the key block; size counts live keys
// (distinct keys for kind 0, entries whose value is not removed for kind 1); occupied <
// bucket count at all times.
//
// Moving memory: every operation that inserts, grows, copies or rebuilds allocates and may
// move any series buffer; pointers they give (Record*, Cell*) are valid until the next
// allocation. Searches and removals do not allocate, except through the comparison action
// of a key's datatype. The caller keeps the table reachable (through a cell whose datatype
// marks it, or a hashtable::Root guard) across every call that allocates.
//
// Tables keyed by node identity (integer kinds; hash! indexes holding series, functions or
// objects) carry a stamp: 1 + the number of node-frame evacuations when they were built. A
// collection that moves node records (collector.h) calls `note_evacuation`, and a table whose
// stamp is stale re-hashes itself before its next use. The raw node ids such tables store
// themselves pin their nodes, so only keys held in cells ever change.
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kov::hashtable {

using memory::Node;

// The MurmurHash3 seed: a constant of the build, so hashes (and the results of seeding from
// them) are the same on every run.
constexpr uint32_t seed = 0x4B6F7653u;

constexpr double load_factor = 0.77;
constexpr double rebuild_factor = 1.5;
// A refresh that would adjust more cells than this asks its caller to rebuild instead.
constexpr uint32_t refresh_limit = 30000;

enum Kind : uint32_t { hash_index = 0, map = 1, symbols = 2, integer = 3, ownership = 4 };

struct Record {
    uint32_t size;          // live keys
    uint32_t aux;           // kind 0: node of the cell-index array; kinds 3+: entry bytes
    Node dups;              // kind 0: the duplicates store (raw array of list nodes)
    Node flags;
    Node buckets;
    Node keys;              // the key block (hash! block, map pairs, symbols, entries)
    uint32_t occupied;      // live + deleted buckets
    uint32_t bucket_count;  // a power of two, at least 4
    uint32_t upper;         // occupied may not reach it
    uint32_t kind;
    uint32_t stamp;         // 0, or 1 + evacuations when last built (node-keyed tables)
    uint32_t free_list;     // kind 0: first free slot of the duplicates store, 0 for none
};

// The record of a table; valid until the next allocation.
inline Record* record(Node table) { return reinterpret_cast<Record*>(memory::buffer(table)->head_ptr()); }

// ---- hash functions ---------------------------------------------------------------------------
uint32_t murmur3(const void* data, std::size_t length, uint32_t with_seed = seed);
// MurmurHash3 of the bytes with A-Z taken as a-z (every other byte as it is).
uint32_t murmur3_lower(const void* data, std::size_t length);
// MurmurHash3's finaliser: the hash of one 32-bit word. Inline, since the hashing hooks of
// the types call it once per key through a pointer.
inline uint32_t mix32(uint32_t h) {
    h ^= h >> 16;
    h *= 0x85ebca6bu;
    h ^= h >> 13;
    h *= 0xc2b2ae35u;
    h ^= h >> 16;
    return h;
}
// The characters from the value's index to its tail, one 32-bit block each, folded to one
// case unless case_sensitive.
uint32_t hash_string(const Cell& s, bool case_sensitive);
// The hash of a value by its datatype's hook (datatype::HashFn): equal values of one datatype
// hash alike.
uint32_t hash_value(const Cell& v, bool case_sensitive);
// The smallest power of two >= n (1 for 0).
uint32_t round_pow2(uint32_t n);

// ---- node identity ----------------------------------------------------------------------------
// Called by the collector after it evacuated node frames (node ids changed).
void note_evacuation();
uint32_t evacuations();

// ---- making and rebuilding ----------------------------------------------------------------------
// A table for n keys. Kinds 0-2 with a source block index that block's cells from its head
// (every cell; every second one for a map) and keep it as their key block; otherwise a new
// key block is made (n entries of 1 + values_per_key cells for the integer kinds).
Node make(uint64_t n, Node source, uint32_t kind, uint32_t values_per_key);
// New arrays for n keys (buckets: the next power of two of 1.5 n), every key re-inserted.
void rebuild(Node table, uint64_t n);
// Integer kinds compact their entry block for round_pow2(n) buckets; the others rebuild.
void resize(Node table, uint64_t n);
// Re-hashes into a larger bucket array; nothing unless the size stays below the new bound.
void grow(Node table, uint64_t new_buckets);
// A copy of the table (its arrays and, for kind 0, its lists) over another key block.
Node copy(Node table, Node keys);
// Empties the table and its key block (kinds 0-2) or entry block.
void clear(Node table);

// ---- cell-keyed kinds (0, 1, 2) ----------------------------------------------------------------
// Indexes cell `index` of the key block. Answers the cell index of the entry's key: the new
// cell's, or the one already present (kind 1: strictly equal key; kind 2: same symbol or same
// spelling). Kind 0 joins an equal key's duplicates list. When a kind-0 table is full it is
// rebuilt over the whole block instead (which indexes this cell too) and *out is set to 2.
int32_t get(Node table, uint32_t index, int32_t* out);
inline int32_t enter(Node table, uint32_t index) { return get(table, index, nullptr); }
// Indexes the cells from `first`, every `step` cells; cells after `first` must not be indexed
// yet. A map's key already present takes the new value and the later pair leaves the block.
void put_key(Node table, uint32_t first, uint32_t step);
// The search of find and select, with a comparison code (actions::Compare). Kinds 1 and 2: the
// first key on the probe of the same datatype comparing true (word keys of a map are looked up
// as set-words). Kind 0: among the cells whose key is equal to the value, those comparing true
// whose distance from start is a multiple of skip: forwards the smallest index >= start;
// with reverse or last the largest index < start (distance start - 1 - index). -1 when none.
int32_t search(Node table, const Cell& key, int32_t start, int32_t skip, int32_t op, bool reverse, bool last);
// A resumable search: each call gives the next key cell on the probe of the same datatype
// and equal to the key (code 0), then -1.
struct Probe {
    uint32_t index = 0;
    uint32_t step = 0;
    bool started = false;
    bool finished = false;
};
int32_t find_next(Node table, const Cell& key, Probe& state);
// Kind 1 with an integer key, under any comparison code that matches integers by their value
// (equal, strict, same: every code a map's pick, select and put use): what `search` answers,
// without its dispatch. With `slot`, when the key is absent, the bucket its new pair takes,
// the table grown first when full, as `enter` would grow it.
int32_t map_find_integer(Node table, int32_t value);
int32_t map_find_integer(Node table, int32_t value, uint32_t& slot);
// Kind 1 with a string or binary key: what `search` answers under op, and, when the key is
// absent, the bucket its new pair takes (the table grown first when full), as for an integer.
// A copy of the key from its position hashes and probes alike, so the slot holds for the copy
// that a new pair stores.
int32_t map_find_text(Node table, const Cell& key, int32_t op, uint32_t& slot);
// Indexes the key cell `index` (a key absent from the table, its pair written at the end of
// the key block) at the bucket map_find_integer or map_find_text gave. False, changing
// nothing, when the table is no longer as it was then; the caller then uses `enter`.
bool map_enter_at(Node table, uint32_t slot, uint32_t index);
// Kind 0: the cell leaves its key's list, or its bucket is deleted when alone. Kind 1: the
// value cell after the key gets header 0 (a removed entry); the bucket stays live.
void remove_cell(Node table, uint32_t index);
// remove_cell for count cells from index (clipped to the block); the whole block resets the
// table to empty without shrinking it.
void remove_range(Node table, uint32_t index, uint32_t count);
// After `count` cells that were at first .. first + count - 1 moved by `shift` positions
// (shift > 0: cells were inserted before them; shift < 0: -shift cells before them were
// removed): the buckets and lists naming them are adjusted. With update_cells the
// cell-index array follows too, and for shift < 0 the removed cells are un-indexed. Answers
// 1 and changes nothing when more than refresh_limit cells moved (the caller rebuilds).
int32_t refresh(Node table, int32_t shift, uint32_t first, uint32_t count, bool update_cells);
// After the count cells at from .. from + count - 1 were moved to start at `to` (the cells in
// between closing the gap): re-indexes them. Nothing when `to` lies inside the moved range.
void move_range(Node table, uint32_t from, uint32_t to, uint32_t count);

// ---- integer kinds (3+) -------------------------------------------------------------------------
// The first value cell of the key's entry, made when missing; its value cells are all reset
// to unset!. Valid until the next allocation.
Cell* put_int_key(Node table, uint32_t key);
Cell* get_int_key(Node table, uint32_t key);
// Deletes the entry; gives its first value cell (left as it was), or null.
Cell* remove_int_key(Node table, uint32_t key);
// Copies the live entries into a new entry block for round_pow2(n) buckets.
void rebuild_int(Node table, uint64_t n);
// Re-computes every live entry's bucket in place (node ids changed).
void rehash_int(Node table);
// Re-hashes a node-keyed table built before the last evacuation (never during a collection).
void check_stamp(Node table);
// Visits every live entry: fn(key, first value cell). fn must not allocate.
template <class Fn>
void for_each_int(Node table, Fn&& fn);

// ---- symbols and context word lists (kind 2) ----------------------------------------------------
enum SymbolMode : uint32_t {
    make_mode = 0,   // exact match, else a new symbol (alias: the first case variant)
    any_case = 1,    // a match in any case, else a new symbol
    find_exact = 2,  // exact match only; 0 when absent (nothing is added)
};
// The symbol id (1-based position in the table's key block) of the UTF-8 spelling. Grows the
// table first when it is full. The bytes are copied before anything is allocated.
uint32_t find_symbol(Node table, const uint8_t* bytes, uint32_t length, SymbolMode mode);
// A context word list: the index (word 3 of the entry) of the word with that symbol, compared
// after case folding when case_insensitive, or -1. With a context node, a missing symbol is
// appended as a word! entry {context, symbol, its position}, the position written to
// *result, and -1 is answered; when found, *result gets the index. *position gets the
// entry's position in the word list (found or added), -1 when none.
int32_t put_symbol(Node table, uint32_t symbol, bool case_insensitive, Node context, int32_t* result,
                   int32_t* position = nullptr);

// ---- collector ----------------------------------------------------------------------------------
// Marks the table's series and its keys: kinds 0-2 the whole key block, kind 3 the values of
// every live entry. Ownership entries (kind 4) are weak: only the table's own series.
void mark(Node table);
// After marking: drops the ownership entries whose series or owner context is not marked,
// and clears the owned flag of a series that outlived its owner.
void sweep_owners(Node table);

// Keeps a table (and everything it marks) alive while the guard lives; guards nest.
class Root {
public:
    explicit Root(Node table);
    ~Root();
    Root(const Root&) = delete;
    Root& operator=(const Root&) = delete;
};

// ---- heap integer map ---------------------------------------------------------------------------
// 32-bit keys to 32-bit values on the tracked heap, hashed with mix32; never collected.
struct HeapMap {
    uint32_t size;
    uint32_t* flags;
    uint32_t* pairs;  // key, value per bucket
    uint32_t occupied;
    uint32_t bucket_count;
    uint32_t upper;
};
HeapMap* heap_make(uint32_t n);
void heap_put(HeapMap* map, uint32_t key, uint32_t value);
bool heap_get(const HeapMap* map, uint32_t key, uint32_t& value);
// The address of the value stored for the key, or null; valid until the next put.
uint32_t* find_int_value(HeapMap* map, uint32_t key);
bool heap_remove(HeapMap* map, uint32_t key);
void heap_resize(HeapMap* map, uint32_t buckets);
void heap_clear(HeapMap* map);
void heap_free(HeapMap* map);

// ---- implementation of the template ---------------------------------------------------------------
template <class Fn>
void for_each_int(Node table, Fn&& fn) {
    Record* r = record(table);
    memory::Buffer* b = memory::buffer(r->keys);
    uint32_t step = r->aux;
    for (uint32_t off = 0; off + step <= b->used(); off += step) {
        auto key = reinterpret_cast<Cell*>(b->head_ptr() + off);
        if (key->header == T_unset) fn(cell::word<1>(*key), key + 1);
    }
}

}  // namespace kov::hashtable
