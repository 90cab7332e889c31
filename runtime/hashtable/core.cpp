// The hash functions, the shared probing core, and the operations every table kind has; each
// hands its kind's own work to the kind's file (core.h lists them).
#include "runtime/hashtable/core.h"

#include <cstring>
#include <vector>

#include "runtime/collector.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/unit_types.h"
#include "runtime/error.h"
#include "runtime/unicode.h"

namespace kov::hashtable {

namespace {

uint32_t evacuation_count = 0;

// ---- MurmurHash3 --------------------------------------------------------------------------------

constexpr uint32_t c1 = 0xcc9e2d51u;
constexpr uint32_t c2 = 0x1b873593u;

inline uint32_t rotl(uint32_t x, int r) { return (x << r) | (x >> (32 - r)); }

// The block step in two halves: the block's own scrambling, and its mixing into the hash.
inline uint32_t scramble(uint32_t k) {
    k *= c1;
    k = rotl(k, 15);
    return k * c2;
}
inline uint32_t mix_scrambled(uint32_t h, uint32_t k) {
    h ^= k;
    h = rotl(h, 13);
    return h * 5 + 0xe6546b64u;
}
inline uint32_t block_step(uint32_t h, uint32_t k) { return mix_scrambled(h, scramble(k)); }

// The scrambled block of every one-byte character, as it is and folded: one-byte text, the
// commonest key, then costs a load a character where the step would fold and multiply.
struct ByteBlocks {
    uint32_t same[256];
    uint32_t folded[256];
};
const ByteBlocks& byte_blocks() {
    static const ByteBlocks blocks = [] {
        ByteBlocks b;
        const uint32_t* fold = unicode::latin1_upper();
        for (uint32_t c = 0; c < 256; ++c) {
            b.same[c] = scramble(c);
            b.folded[c] = scramble(fold[c]);
        }
        return b;
    }();
    return blocks;
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

}  // namespace

[[noreturn]] void no_memory() { error::fire(err::internal_no_memory); }

// ---- hash functions ---------------------------------------------------------------------------

uint32_t murmur3(const void* data, std::size_t length, uint32_t with_seed) {
    return murmur<same_byte>(data, length, with_seed);
}
uint32_t murmur3_lower(const void* data, std::size_t length) { return murmur<lower_byte>(data, length, seed); }

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
    Buffer* b = buffer(string::text_node_of(s));
    uint32_t unit = b->unit();
    if (unit != 1 && unit != 2 && unit != 4) runtime::no_switch_matched();
    uint32_t total = b->used() / unit;
    int32_t at = string::text_index_of(s);
    uint32_t index = at < 0 ? 0 : static_cast<uint32_t>(at);
    uint32_t count = index < total ? total - index : 0;
    if (cell::type(s) == string::partial_type) {
        int32_t limit = string::partial_limit_of(s);
        if (limit >= 0 && static_cast<uint32_t>(limit) < count) count = static_cast<uint32_t>(limit);
    }
    const uint8_t* p = b->head_ptr() + uint64_t(index) * unit;
    uint32_t h = seed;
    if (unit == 1) {
        // One-byte text, the commonest: each character's block scrambled already.
        const ByteBlocks& scrambled = byte_blocks();
        const uint32_t* blocks = case_sensitive ? scrambled.same : scrambled.folded;
        for (uint32_t i = 0; i < count; ++i) h = mix_scrambled(h, blocks[p[i]]);
        h ^= count * 4;
        return mix32(h);
    }
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
    if (t < actions::max_types) {
        if (datatype::HashFn f = datatype::types[t].hash) return f(v, case_sensitive);
    }
    // A partial text is no datatype of its own: it hashes as the characters it stands for.
    if (t == string::partial_type) return hash_string(v, case_sensitive);
    return 0;
}

// ---- the shared core ------------------------------------------------------------------------------

void empty_flags(Record* r) {
    Buffer* f = buffer(r->flags);
    std::memset(f->head_ptr(), 0xAA, f->used());
}

uint32_t pow2_for(double n) {
    if (!(n < double(max_buckets))) no_memory();
    uint32_t b = round_pow2(static_cast<uint32_t>(n));
    return b < 4 ? 4 : b;
}

Sizing rebuild_sizing(uint64_t n, uint32_t count) {
    if (n < count) n = count;
    uint32_t nb = pow2_for(static_cast<double>(n) * rebuild_factor);
    return {nb, static_cast<uint32_t>(nb * load_factor)};
}

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

Node new_table(uint64_t n, uint32_t kind) {
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
    return table;
}

void attach_keys(Node table, uint64_t n, Node source, uint32_t step) {
    if (!source) {
        Node keys = memory::alloc_cells(n);
        record(table)->keys = keys;
        return;
    }
    record(table)->keys = source;
    put_key(table, 0, step);
}

int32_t search_cells(Node table, const Cell& key, int32_t op) {
    if (cell::type(key) == T_integer && value_equality(op)) {
        uint32_t slot;
        return probe_integer(record(table), static_cast<uint32_t>(integer::get(key)), slot);
    }
    uint32_t slot;
    return probe_cells(table, key, op, slot);
}

int32_t probe_cells(Node table, const Cell& key, int32_t op, uint32_t& slot) {
    int32_t found = -1;
    uint32_t first_deleted = no_cell;
    uint32_t at = probe(table, hash_value(key, false), [&](uint32_t i, uint32_t s) {
        if (s == empty) return true;
        if (s == deleted) {
            if (first_deleted == no_cell) first_deleted = i;
            return false;
        }
        Record* rr = record(table);
        int32_t v = buckets_of(rr)[i];
        if (v < 0 || uint32_t(v) >= key_count(rr)) return false;
        Cell c = *key_at(rr, static_cast<uint32_t>(v));
        bool equal;
        if ((op == actions::equal || op == actions::strict_equal) && quick_text_equal(c, key, op == actions::strict_equal, equal)) {
            if (!equal) return false;
        } else if (cell::type(c) != cell::type(key) || !actions::compare(c, key, op)) {
            return false;
        }
        found = v;
        return true;
    });
    slot = first_deleted != no_cell ? first_deleted : at;
    return found;
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
    switch (kind) {
    case hash_index: return make_index(n, source);
    case map: return make_map(n, source);
    case symbols: return make_symbols(n, source);
    default: return make_integer(n, kind, values_per_key);
    }
}

void rebuild(Node table, uint64_t n) {
    switch (record(table)->kind) {
    case hash_index: index_rebuild(table, n); return;
    case map: rebuild_cells<MapKeys>(table, n); return;
    case symbols: rebuild_cells<SymbolKeys>(table, n); return;
    default: rebuild_int(table, n); return;
    }
}

// Node-frame evacuation never runs inside an allocation here, so nothing is switched off.
void resize(Node table, uint64_t n) { rebuild(table, n); }

void grow(Node table, uint64_t new_buckets) {
    uint32_t nb = pow2_for(static_cast<double>(new_buckets < 4 ? 4 : new_buckets));
    uint32_t upper = static_cast<uint32_t>(nb * load_factor + 0.5);
    Record* r = record(table);
    if (r->size >= upper || nb <= r->bucket_count) return;
    switch (r->kind) {
    case hash_index: index_grow(table, nb, upper); return;
    case map:
        fresh_arrays(table, nb, upper);
        place_cells<MapKeys>(table);
        return;
    case symbols:
        fresh_arrays(table, nb, upper);
        place_cells<SymbolKeys>(table);
        return;
    default: integer_grow(table, nb, upper); return;
    }
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
    uint32_t kind = record(table)->kind;
    if (kind == hash_index) index_copy(copy);
    if (!keys && kind >= integer) keys = memory::copy_series(record(table)->keys);
    record(copy)->keys = keys;
    return copy;
}

void clear(Node table) {
    Record* r = record(table);
    r->size = 0;
    r->occupied = 0;
    empty_flags(r);
    Buffer* k = buffer(r->keys);
    k->tail = k->head;
    if (r->kind == hash_index) index_clear(r);
}

// ---- cell-keyed kinds -----------------------------------------------------------------------------

int32_t get(Node table, uint32_t index, int32_t* out) {
    switch (record(table)->kind) {
    case hash_index: return index_get(table, index, out);
    case map: return map_get(table, index);
    default: return symbols_get(table, index);
    }
}

void put_key(Node table, uint32_t first, uint32_t step) {
    if (step == 0) step = 1;
    switch (record(table)->kind) {
    case hash_index: index_put_key(table, first, step); return;
    case map: map_put_key(table, first, step); return;
    default: symbols_put_key(table, first, step); return;
    }
}

int32_t search(Node table, const Cell& key_in, int32_t start, int32_t skip, int32_t op, bool reverse, bool last) {
    Cell key = key_in;  // the key may lie in a buffer that a re-hash moves
    check_stamp(table);
    switch (record(table)->kind) {
    case hash_index: return index_search(table, key, start, skip, op, reverse || last);
    case map: return map_search(table, key, op);
    case symbols: return search_cells(table, key, op);
    default: return -1;
    }
}

int32_t find_next(Node table, const Cell& key_in, Probe& st) {
    Cell key = key_in;
    Record* r = record(table);
    if (r->kind >= integer || st.finished) return -1;
    bool lists = r->kind == hash_index;
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
            uint32_t rep = lists ? index_representative(r, v) : static_cast<uint32_t>(v);
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
    if (r->kind == hash_index) index_remove_cell(r, index);
    else if (r->kind == map) map_remove_cell(r, index);
}

void remove_range(Node table, uint32_t index, uint32_t count) {
    Record* r = record(table);
    uint32_t n = key_count(r);
    if (index >= n) return;
    if (count > n - index) count = n - index;
    switch (r->kind) {
    case hash_index:
        if (index == 0 && count == n) {
            index_remove_all(r);  // everything goes: back to empty, same size
            return;
        }
        for (uint32_t i = index; i < index + count; ++i) index_remove_cell(r, i);
        return;
    case map:
        for (uint32_t i = index; i < index + count; ++i)
            if ((i & 1) == 0) map_remove_cell(r, i);
        return;
    default: return;  // nothing else removes single cells
    }
}

// ---- collector ----------------------------------------------------------------------------------

void mark(Node table) {
    if (!memory::valid_node(table) || buffer(table)->used() != sizeof(Record)) return;
    if (!collector::mark_series(table)) return;
    Record r = *record(table);
    collector::mark_series(r.flags);
    collector::mark_series(r.buckets);
    if (r.kind == hash_index) index_mark(r);
    if (r.kind <= symbols) {
        if (memory::valid_node(r.keys) && buffer(r.keys)->unit() == sizeof(Cell)) collector::mark_block(r.keys);
        return;
    }
    integer_mark(r);
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

}  // namespace kov::hashtable
