// series!: the abstract parent of every positional datatype. A series value is a cursor
// into a shared buffer: w1 the head index in units (signed; it may lie past the tail, which
// is clipped where it is used and never an error), w2 the buffer's node, w3 an extra word
// (vector! element type, hash! table, image! size; 0 for the others). The buffer's unit is 16
// for cell series, 1/2/4 for text and binary, up to 8 for vectors; every routine here scales
// positions by it, so one implementation serves every width.
//
// The positional actions here are inherited by block!, paren!, the path types, hash!, the
// text types, binary!, vector! and image! unless they override them.
//
// Moving memory: the changing actions report to the series' owner before and after the
// change (`report`), which may run Kov code that changes, grows, widens or moves the series.
// After every report the buffer is fetched again and index, count and unit are clipped anew.
// No routine here keeps a buffer address across a report or an allocation.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/datatypes/registry.h"
#include "runtime/families.h"
#include "runtime/memory.h"

namespace kov::series {

// log2 of a unit: 1 → 0, 2 → 1, 4 → 2, 8 → 3, 16 → 4.
inline uint32_t unit_shift(uint32_t unit) { return 31u - static_cast<uint32_t>(__builtin_clz(unit | 1u)); }
// The cursor: w1 the index, w2 the buffer's node, w3 the extra word.
inline int32_t index_of(const Cell& s) { return static_cast<int32_t>(s.w1); }
// The index as the unsigned word it is stored in, for callers that have clipped it or
// compare it with a tail.
inline uint32_t position_of(const Cell& s) {
    cell::expect(in(cell::type(s), SERIES));
    return s.w1;
}
inline memory::Node node_of(const Cell& s) {
    cell::expect(in(cell::type(s), SERIES) && memory::valid_node(s.w2));
    return s.w2;
}
// The node word as it is stored, unchecked for liveness: for callers that test it with
// memory::valid_node before they use it (a cell kept from an earlier evaluation).
inline memory::Node stored_node_of(const Cell& s) {
    cell::expect(in(cell::type(s), SERIES));
    return s.w2;
}
// The stored node word itself, for the collector's marking: evacuation rewrites the id in
// place where it is stored, so marking is given the cell's own word, never a copy. Bitsets
// keep their node in the same word. No liveness check: the word may be 0 (an image without
// pixels), and marking tests it.
inline const memory::Node& node_ref(const Cell& s) {
    cell::expect(in(cell::type(s), SERIES) || cell::is(s, T_bitset));
    return s.w2;
}
inline void set_index(Cell& s, int64_t i) { s.w1 = static_cast<uint32_t>(static_cast<int32_t>(i)); }

// ---- cursor routines ----------------------------------------------------------------------------
// True when the index is at or past the tail.
bool rs_tail_q(const Cell& s);
// Units of the whole buffer, from its first unit (the index is ignored).
int32_t rs_length_q(const Cell& s);
// Adds n to the index when the new position is at or before the tail; gives whether the new
// position is at or past the tail.
bool rs_skip(Cell& s, int32_t n);
// The index `at` (at = true) or `skip` gives for the offset, clipped to 0 .. length. The
// offset must be an integer!, else script/invalid-arg.
int32_t move_head(const Cell& s, const Cell& offset, bool at);
// Units from the index (from 0 with `absolute`; a negative index counts as 0) to the tail.
// An index past the tail is set to the length in the cell, and 0 is given.
int32_t clip_index(Cell& s, bool absolute);

// The count a /part argument gives: an integer! as it is, or a position in the same series
// (same datatype and node) as its index minus the series' index. Anything else raises
// script/invalid-refine-arg with the word `part`.
int32_t part_count(const Cell& s, const Cell& part);

// A word! of the spelling, for error arguments (`part`, `skip`, ...).
Cell word_arg(const char* spelling);

// What sort's refinements ask of `count` elements, checked in one order for every series type:
// /skip an integer! record size that divides the count (else script/invalid-refine-arg), /all
// only with /skip (else script/bad-refines); /compare an integer! offset into the record, only
// with /skip and without /all (script/bad-refines; out of 1 .. size, script/out-of-range), or
// a function! (anything else script/invalid-refine-arg).
struct SortRefinements {
    int64_t size = 1;          // elements per record
    int32_t offset = 0;        // the /compare offset, 0-based
    Cell* compare_fn = nullptr;  // the /compare function, or null
};
SortRefinements sort_refinements(const SortArgs& a, int64_t count);

// ---- change reports -----------------------------------------------------------------------------
// The words passed to an owner's on-deep-change*: each changing action reports its word
// before the change and the past form after it.
enum class Change : uint8_t {
    random, randomized, clear, cleared, poke, poked, remove, removed, reverse, reversed, take, taken,
    move, moved, insert, inserted, append, appended, change, changed, swap, swaped, trim, trimmed,
    sort, sorted, put, put_ed,
};
// The word! of the change (a global word made at start-up).
const Cell& change_word(Change c);
// Tells the series' owner about an in-place change (value: the value concerned, or none;
// index: 0-based; part: units). Gives true when the series has an owner that was told. Kov
// code may run: afterwards the series may have any length, unit or buffer.
bool report(const Cell& series, Change word, const Cell& value, int32_t index, int32_t part);

// ---- shared actions -----------------------------------------------------------------------------
// Exposed for the series types that extend them; arguments as the action slots define.
Cell* at(Cell* series, Cell* offset);
Cell* skip(Cell* series, Cell* offset);
Cell* back(Cell* series);
Cell* next(Cell* series);
Cell* head(Cell* series);
Cell* tail(Cell* series);
Cell* head_q(Cell* series);
Cell* tail_q(Cell* series);
Cell* index_q(Cell* series);
Cell* length_q(Cell* series);
Cell* pick(Cell* series, int32_t index, Cell* boxed);
Cell* poke(Cell* series, int32_t index, Cell* data, Cell* boxed);
// The path steps every series of units takes alike: an integer picks, or pokes the value to
// set; a word is no path into such a series (invalid-path). Null for any other element.
Cell* index_step(Cell* parent, const PathStep& step);
Cell* clear(Cell* series);
Cell* copy(Cell* series, Cell* result, Cell* part, bool deep, Cell* types);
Cell* remove(Cell* series, Cell* part, Cell* key);
Cell* reverse(Cell* series, Cell* part, Cell* skip);
Cell* take(Cell* series, Cell* part, bool deep, bool last);
Cell* move(Cell* origin, Cell* target, Cell* part);
Cell* random(Cell* series, const RandomArgs& how);
Cell* reflect(Cell* series, uint32_t field);
Cell* modify(Cell* series, Cell* field, Cell* value, bool case_);

// `take` gives, without /part, the single unit as a value (the cell, a byte as integer!, a
// character as char!) and with /part a new series of the units.
// The shared work of `take` without its closing report: leaves the taken units as a new
// value-stack cell (none when nothing could be taken) and gives it; `owned` tells whether the
// first report found an owner. Without /part the units sit in a scratch buffer shared by
// every take, valid only until the next take: a type's own take copies them out at once, then
// reports `taken` itself (`finish_take`).
Cell* take_units(Cell* series, Cell* part, bool last, bool& owned);
void finish_take(Cell* series, bool owned);

void init();

}  // namespace kov::series
