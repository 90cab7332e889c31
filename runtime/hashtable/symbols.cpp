// Kind 2: symbol tables. A bucket holds a cell index in the key block, which is either the
// symbol series (symbol! records: alias, spelling node) or a context's word list (word cells
// keyed by their symbol). Spellings hash lower-cased in ASCII and words by the alias of their
// symbol, so every case variant of a name shares one probe; the first variant interned is
// met first on it and becomes the alias of the later ones.
//
// Invariants: a spelling is in the symbol series once, exactly as written; a word list names
// a symbol once. Entries are appended, and never removed one by one (remove_cell leaves these
// tables as they are).
//
// Moving memory: interning copies the spelling to a scratch buffer on the tracked heap before
// it allocates, since the caller's bytes may lie in a series buffer that the allocation
// moves; appending an entry allocates, so the record is fetched again after it.
#include <cstring>

#include "runtime/collector.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/families.h"
#include "runtime/heap.h"
#include "runtime/hashtable/core.h"
#include "runtime/series_buffer.h"

namespace kov::hashtable {

namespace {

// The spelling being interned (and its lowered form after it); see the header.
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

inline uint8_t lower_byte(uint8_t b) { return b >= 'A' && b <= 'Z' ? static_cast<uint8_t>(b + 32) : b; }

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
        Buffer* b = buffer(symbol::spelling_node_of(*key_at(r, static_cast<uint32_t>(v))));
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

// The same symbol for word keys, the same spelling for symbols.
bool SymbolKeys::same(const Cell& stored, const Cell& key) {
    if (cell::type(stored) != cell::type(key)) return false;
    if (in(cell::type(key), ALL_WORD)) return word::symbol_of(stored) == word::symbol_of(key);
    if (cell::is(key, T_symbol)) {
        Buffer* a = buffer(symbol::spelling_node_of(stored));
        Buffer* b = buffer(symbol::spelling_node_of(key));
        return a->used() == b->used() && std::memcmp(a->head_ptr(), b->head_ptr(), a->used()) == 0;
    }
    return actions::compare(stored, key, actions::strict_equal);
}

Node make_symbols(uint64_t n, Node source) {
    // Symbol tables grow with every name a program uses: a large one starts with room to spare.
    if (n >= 4000) n *= 2;
    if (n < 4) n = 4;
    Node table = new_table(n, symbols);
    Root keep(table);
    attach_keys(table, n, source, SymbolKeys::step);
    return table;
}

int32_t symbols_get(Node table, uint32_t index) { return get_cell<SymbolKeys>(table, index); }

void symbols_put_key(Node table, uint32_t first, uint32_t step) {
    for (uint32_t i = first; i < key_count(record(table)); i += step) symbols_get(table, i);
}

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
        bool same = case_insensitive ? symbol::resolve(word::symbol_of(*e)) == folded : word::symbol_of(*e) == sym;
        if (same) {
            found = word::index_of(*e);
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

}  // namespace kov::hashtable
