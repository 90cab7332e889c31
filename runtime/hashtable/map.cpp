// Kind 1: the keys of a map. The key block is the map's key/value block, pairs of cells; a
// bucket holds the cell index of a pair's key cell. Keys are matched strictly on insertion
// (same datatype, strict-equal?); a search takes the comparison it is given, and looks for a
// word, lit-word or get-word key as a set-word.
//
// Invariants: a key is in the table once; a removed entry keeps its pair and its bucket, its
// value cell's header set to 0, and is not counted in size; the pair of an entry put again
// takes the new value in place.
//
// Moving memory: insertion compares keys through their comparison action and may grow the
// table, so both fetch the record again after every call that may allocate; removal writes
// the value cell in place and allocates nothing.
#include <cstring>

#include "runtime/hashtable/core.h"

namespace kov::hashtable {

bool MapKeys::same(const Cell& stored, const Cell& key) {
    bool equal;
    if (quick_text_equal(stored, key, true, equal)) return equal;
    return cell::type(stored) == cell::type(key) && actions::compare(stored, key, actions::strict_equal);
}

Node make_map(uint64_t n, Node source) {
    if (n < 4) n = 4;
    Node table = new_table(n, map);
    Root keep(table);
    attach_keys(table, n, source, MapKeys::step);
    return table;
}

int32_t map_get(Node table, uint32_t index) { return get_cell<MapKeys>(table, index); }

void map_put_key(Node table, uint32_t first, uint32_t step) {
    for (uint32_t i = first; i < key_count(record(table));) {
        if (i + 1 >= key_count(record(table))) return;  // a key without value
        int32_t at = map_get(table, i);
        if (at >= 0 && uint32_t(at) != i) {
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

int32_t map_search(Node table, const Cell& key_in, int32_t op) {
    Cell key = key_in;
    uint32_t t = cell::type(key);
    if (t >= T_word && t <= T_get_word && t != T_set_word) cell::set_type(key, T_set_word);
    return search_cells(table, key, op);
}

int32_t map_find_integer(Node table, int32_t value) {
    uint32_t slot;
    return probe_integer(record(table), static_cast<uint32_t>(value), slot);
}

namespace {
// A probe for a key that, when the key is absent from a full table, makes the growth
// `get_cell` makes before an insertion and probes again, so that its slot is the new entry's.
template <class Probe>
int32_t find_for_insertion(Node table, Probe probe) {
    int32_t at = probe();
    if (at >= 0) return at;
    Record* r = record(table);
    if (r->occupied >= r->upper) {
        resize(table, uint64_t(r->bucket_count) + 1);
        at = probe();
    }
    return at;
}
}  // namespace

int32_t map_find_integer(Node table, int32_t value, uint32_t& slot) {
    return find_for_insertion(table, [&] { return probe_integer(record(table), static_cast<uint32_t>(value), slot); });
}

int32_t map_find_text(Node table, const Cell& key, int32_t op, uint32_t& slot) {
    check_stamp(table);
    return find_for_insertion(table, [&] { return probe_cells(table, key, op, slot); });
}

bool map_enter_at(Node table, uint32_t slot, uint32_t index) {
    Record* r = record(table);
    if (slot == no_cell || slot >= r->bucket_count || state(flags_of(r), slot) == live || index + 1 >= key_count(r) ||
        r->occupied >= r->upper)
        return false;
    occupy(r, slot, static_cast<int32_t>(index));
    if (key_at(r, index + 1)->header == 0) --r->size;
    return true;
}

void map_remove_cell(Record* r, uint32_t index) {
    if (index + 1 >= key_count(r)) return;
    Cell* value = key_at(r, index + 1);
    if (value->header != 0) {
        value->header = 0;
        if (r->size) --r->size;
    }
}

}  // namespace kov::hashtable
