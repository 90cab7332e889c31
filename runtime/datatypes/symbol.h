// symbol!: every distinct spelling of a word, interned once. Word cells, context word lists
// and errors carry symbol ids, never text.
//
// The symbol series is a block of symbol records; a symbol's id is the 1-based position of
// its record. It lives for the whole run (appended to the root block), and symbols are never
// removed. Its hash table (kind `symbols`) hashes the UTF-8 spelling with A-Z taken as a-z,
// so all case variants share one probe sequence. Spellings that differ only in ASCII letter
// case are distinct symbols; every later variant records the id of the first one as its
// alias, so a case-insensitive comparison of words compares `resolve`d ids. Folding is ASCII
// only and never depends on a locale.
//
// Record (a symbol! cell): w1 the alias (-1 when none, else the id of the first variant), w2
// the node of a string! holding the decoded text (0 until first asked for), w3 the node of a
// byte series holding the UTF-8 spelling and a NUL (its tail stops before the NUL).
//
// Moving memory: interning and `get` (which may make the text cache) allocate; `resolve`,
// `get_alias_id` and `spelling` do not.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kov::symbol {

using memory::Node;

constexpr uint32_t initial_capacity = 4000;

// ---- cell helpers -------------------------------------------------------------------------------
inline int32_t alias_of(const Cell& record) { return static_cast<int32_t>(record.w1); }
// The node of the byte series holding the UTF-8 spelling.
inline Node spelling_node_of(const Cell& record) {
    cell::expect(cell::is(record, T_symbol) && memory::valid_node(record.w3));
    return record.w3;
}

// ---- the table ----------------------------------------------------------------------------------
// Makes the symbol series and its table; the series goes into the root block.
void init_table();
Node table();
Node series();
uint32_t count();

// ---- interning ----------------------------------------------------------------------------------
// The id of a NUL-terminated UTF-8 spelling, interned when new (alias: the first variant).
uint32_t make(const char* text);
// The same for a byte range.
uint32_t search(const uint8_t* bytes, uint32_t length);
// The id of the characters of a string from its index (at most limit of them; -1 = all).
uint32_t find_string(const Cell& s, int32_t limit);
// A spelling in whatever case it was first seen: an existing variant's id, else a new symbol.
uint32_t make_alt(const char* text);
// The id of an exact spelling, or 0 when it was never interned (nothing is added).
uint32_t find(const uint8_t* bytes, uint32_t length);

// ---- records ------------------------------------------------------------------------------------
// The record of an id (a copy), its text cache made first when missing. 0 or an unknown id
// raises script/invalid-arg.
Cell get(uint32_t id);
// The record in the series, or null for an unknown id; valid until the next allocation.
Cell* record(uint32_t id);
// The alias id shared by all case variants (the id itself when it has none); unknown ids
// come back unchanged.
uint32_t resolve(uint32_t id);
int32_t get_alias_id(uint32_t id);
// The UTF-8 spelling; valid until the next allocation.
struct Spelling {
    const uint8_t* bytes;
    uint32_t length;
};
Spelling spelling(uint32_t id);
// The cached text of a symbol cell as a string! cell at index 0 (made when missing).
Cell c_string(const Cell& symbol_cell);

// ---- actions ------------------------------------------------------------------------------------
// Two symbols compared as their texts, under a comparison code.
int32_t compare(Cell* a, Cell* b, int32_t op);

void mark(const Cell& record);
void init();

}  // namespace kov::symbol
