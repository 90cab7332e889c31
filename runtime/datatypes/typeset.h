// typeset!: a set of datatypes held in one cell. The 96 bits of words 1-3, read as 12 bytes in
// memory order: datatype id i is bit 128 >> (i & 7) of byte i >> 3.
#pragma once
#include <cstdint>
#include <cstring>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kov::typeset {

inline bool contains(const Cell& ts, uint32_t type) {
    if (type >= 96) return false;
    // Bytes in memory order, the highest bit of each first: read from the word that holds
    // the byte rather than through memory (a byte read of a cell just written stalls).
    uint32_t word = type < 32 ? ts.w1 : (type < 64 ? ts.w2 : ts.w3);
    uint32_t bit = ((type >> 3) & 3) * 8 + (7 - (type & 7));
    return (word >> bit) & 1;
}

inline void add(Cell& ts, uint32_t type) {
    if (type >= 96) return;
    uint8_t bytes[12];
    std::memcpy(bytes, &ts.w1, 12);
    bytes[type >> 3] |= static_cast<uint8_t>(128u >> (type & 7));
    std::memcpy(&ts.w1, bytes, 12);
}

inline void merge(Cell& ts, const Cell& other) {
    ts.w1 |= other.w1;
    ts.w2 |= other.w2;
    ts.w3 |= other.w3;
}

// The three 32-bit words of the set (k 0 to 2), as compiled specs keep them.
inline uint32_t bits(const Cell& ts, uint32_t k) {
    cell::expect(cell::is(ts, T_typeset) && k < 3);
    return k == 0 ? ts.w1 : (k == 1 ? ts.w2 : ts.w3);
}

inline Cell empty() { return Cell{T_typeset, 0, 0, 0}; }

// Every type but unset!: what an argument without a type block accepts.
inline Cell any_but_unset() {
    Cell ts{T_typeset, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu};
    uint8_t bytes[12];
    std::memcpy(bytes, &ts.w1, 12);
    bytes[T_unset >> 3] &= static_cast<uint8_t>(~(128u >> (T_unset & 7)));
    std::memcpy(&ts.w1, bytes, 12);
    return ts;
}

// The number of member datatypes among the registered ids.
uint32_t bit_count(const Cell& ts);
// Adds a datatype or a whole typeset (a word is replaced by its value); anything else raises
// script/invalid-arg.
void add_type(Cell& ts, const Cell& value);
// Sets a typeset from the values of a spec type block (words looked up; nested blocks skipped;
// a word naming a word adds object!); other values raise script/invalid-type-spec.
Cell from_block(const Cell& block);
// The worker of the set natives on typesets: operation codes 8 (unique) to 12.
Cell* set_op(Cell* a, Cell* b, int32_t op);
void init();

}  // namespace kov::typeset
