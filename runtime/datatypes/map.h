// map!: the associative container, key/value pairs written "#[" ... "]" and looked up by key
// in constant time.
//
// Cell: w1 the head index of the pair block (0, except for the cursor of a foreach), w2 the
// node of the pair block, w3 the node of the map's hash table (hashtable.h, kind 1). The pair
// block holds the entries in first-insertion order, two cells each: the key, then the value.
// The table indexes the key cells; its live count is the map's length.
//
// Invariants:
// - Every key is normalised when it is stored: a word of any kind is kept as a set-word!
//   (header exactly set-word!), a string-like key or binary is a copy of its own, the other
//   key types are kept as given. No two stored keys are strictly equal.
// - A removed entry keeps its key cell and its place in the table; its value cell has a zero
//   header word, the only removal mark. Every walk over the pairs skips such entries, and
//   storing a value under that key again revives the entry where it was.
// - The pair block never shrinks, except through clear.
//
// Moving memory: making, storing, copying, reflecting and molding allocate; lookups do not
// allocate, though they run the comparison action of the key's datatype.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/families.h"
#include "runtime/memory.h"

namespace kov::map {

using memory::Node;

// The datatypes accepted as keys: the texts, the words and the scalars, and binary!.
inline bool key_type_q(uint32_t type) { return in(type, ANY_STRING | ALL_WORD | SCALAR) || type == T_binary; }
// The cell's words: the head index of the pair block and the pair block's node.
inline uint32_t position_of(const Cell& m) {
    cell::expect(cell::is(m, T_map));
    return m.w1;
}
inline void set_position(Cell& m, uint32_t i) {
    cell::expect(cell::is(m, T_map));
    m.w1 = i;
}
inline Node pairs_of(const Cell& m) {
    cell::expect(cell::is(m, T_map) && memory::valid_node(m.w2));
    return m.w2;
}

// ---- constructors -------------------------------------------------------------------------------
// Makes the cell a map over the pair block (its keys normalised in place, a later pair whose
// key is strictly equal to an earlier one overwriting that entry's value and leaving the
// block), or over a new empty block with room for `hint` cells when `block` is 0.
Cell& make_at(Cell& c, Node block, uint32_t hint);
Cell* push(const Cell& m);

// ---- internal routines --------------------------------------------------------------------------
// The number of live entries.
uint32_t size(const Cell& m);
// Normalises a key in place (see above); a key of a refused type raises script/invalid-path
// with the path (none without one) and the key's datatype.
void normalise_key(Cell& key, const Cell* path);
// The body of `extend` for maps: the key/value pairs of a block (an even count from its index,
// else script/invalid-arg) or the live entries of a map are stored one by one, keys compared
// case-sensitively with `case_`. Pairs stored before an error stay.
Cell* extend(Cell* m, const Cell& spec, bool case_);
// The step of `foreach` over a map (the cursor's head index at a key): sets the n loop words
// to the key and value of the next live entry, skipping removed entries (the cursor's head
// index moves over them); a set-word key is given as a word!. Words left over get none.
// Gives true when a word was set. A loop word that is not a word raises script/invalid-arg.
bool copy_entries(const Cell& words, Cell& cursor, uint32_t n);
// A new value-stack block of the live entries, each key a set-word starting a new line: what
// reflect gives for `body`, and what a map converts to as a block.
Cell* body(const Cell& m);

void init();

}  // namespace kov::map
