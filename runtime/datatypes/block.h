// block!: the series of 16-byte value cells at the heart of the language (code and data).
// This module holds the routines the whole runtime uses to build, walk, search, copy, compare
// and mold blocks without the action table, and the block! actions, which paren!, the path
// types and hash! inherit.
//
// A block value is a series value (series.h) of type block! with w3 0; hash! keeps its table
// in w3, and the routines that change cells keep that table in step through the `index_*`
// hooks below. A cell inside a block may carry the new-line flag (cell::new_line): mold then
// starts it on a line of its own.
//
// Moving memory: appending, inserting, copying, molding and the actions may allocate and so
// move every buffer; the actions that report changes may run Kov code. Nothing here keeps a
// cell address across either: positions are node + index, fetched again after each step. The
// routines that give a Cell* into a buffer give an address valid only until the next
// allocation.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/datatypes/registry.h"
#include "runtime/memory.h"
#include "runtime/sort.h"

namespace kov::block {

using memory::Node;

inline Cell cell_of(Node node, int32_t index = 0, uint32_t type = T_block) {
    return Cell{type, static_cast<uint32_t>(index), node, 0};
}

// ---- cursor routines (none raises) --------------------------------------------------------------
int32_t rs_length_q(const Cell& b);          // cells from the index to the tail; negative past it
Cell* rs_head(Cell& b);                      // the cell at the index (clipped to the tail, written back)
Cell* rs_tail(const Cell& b);
bool rs_tail_q(const Cell& b);               // the index is exactly at the tail
Cell* rs_abs_at(const Cell& b, uint32_t n);  // the cell at absolute index n
void rs_clear(const Cell& b);                // cuts the buffer at the index
void set_tail(const Cell& b, uint32_t n);    // cuts the buffer at absolute index n

// ---- constructors -------------------------------------------------------------------------------
// An empty block with room for n cells (n < 0 counts as 1); the cell is unset! while its buffer
// is allocated.
Cell& make_at(Cell& c, int32_t n);
// A new cell appended to the parent block (or a process-wide scratch cell when parent is null)
// made an empty block of n cells with a fixed buffer.
Cell* make_in(Cell* parent, int32_t n);
Cell* push(const Cell& b);
Cell* push_new(int32_t n);

// ---- appending and inserting (the value is always copied) ---------------------------------------
// The value may live anywhere, the block's own buffer included.
Cell* rs_append(const Cell& b, const Cell& value);           // gives the new cell
Cell& insert_value(Cell& b, const Cell& value, bool advance, bool at_head);

// ---- searching ----------------------------------------------------------------------------------
// The cell after the first word (any word type) whose symbol matches; null when there is no
// match or the match is the last cell. Case-insensitive unless `case_`.
const Cell* find_word(const Cell& b, const Cell& word, bool case_);

// ---- copying, molding, comparing ----------------------------------------------------------------
// A new value-stack block of the source's type holding copies of its cells from the index;
// `deep`: nested blocks (with `any_block` parens and paths too) are cloned as well.
// Raises internal/no-cycle for a block that contains itself.
Cell* clone(const Cell& b, bool deep, bool any_block);
// Replaces, in place, the series among cells [first, end) of the block (stepping by `step`)
// whose type `types` names (a typeset! or datatype!) by their copies.
void copy_nested(Node node, uint32_t first, uint32_t end, uint32_t step, bool deep, const Cell& types);
int32_t mold_each(const Cell& b, Cell& out, const MoldArgs& how, int32_t part);
int32_t compare_each(const Cell& a, const Cell& b, int32_t op);

// ---- hash! index upkeep -------------------------------------------------------------------------
// Each does nothing unless the value is a hash! with a table.
void index_enter(const Cell& b, uint32_t cell_index);
void index_remove(const Cell& b, uint32_t cell_index);
void index_remove_range(const Cell& b, uint32_t index, uint32_t count);
// The count cells that were at first .. first + count - 1 moved by `shift` places: -shift
// cells before them were removed (shift < 0) or cells were inserted before them.
void index_shift(const Cell& b, int32_t shift, uint32_t first, uint32_t count);
// `added` new cells now stand at `at`, and the `moved` cells after them moved up to make room.
void index_insert(const Cell& b, uint32_t at, uint32_t added, uint32_t moved);
void index_move(const Cell& b, uint32_t from, uint32_t to, uint32_t count);
void index_rebuild(const Cell& b);
// Gives a new hash! value a table of its own.
void index_make(Cell& b);

// ---- actions shared with paren!, the path types and hash! ---------------------------------------
Cell* make(Cell* proto, Cell* spec, uint32_t type);
Cell* to(Cell* proto, Cell* spec, uint32_t type);
int32_t form(Cell* b, Cell* out, Cell* arg, int32_t part);
int32_t mold(Cell* b, Cell* out, const MoldArgs& how, int32_t part);
int32_t compare(Cell* a, Cell* b, int32_t op);
Cell* eval_path(Cell* parent, const PathStep& step);
Cell* find(Cell* series, Cell* value, const FindArgs& args);
Cell* select(Cell* series, Cell* value, const FindArgs& args);
Cell* put(Cell* series, Cell* key, Cell* value, bool case_);
Cell* append(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append);
Cell* change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup);
Cell* take(Cell* series, Cell* part, bool deep, bool last);
Cell* swap(Cell* series1, Cell* series2);
Cell* trim(Cell* series, const TrimArgs& args);
Cell* copy(Cell* series, Cell* result, Cell* part, bool deep, Cell* types);
Cell* sort(Cell* series, const SortArgs& args);

// ---- sorting ------------------------------------------------------------------------------------
// Flags word of the record comparators: bit 0 reverse, bit 1 whole records, bits 2 and up the
// record size (whole records) or the 0-based offset of the compared cell.
constexpr uintptr_t sort_reverse = 1;
constexpr uintptr_t sort_whole = 2;
// Sorts `records` records of `size` cells from the block's index with the given comparator
// (records are passed as Cell addresses). The records are sorted in a rooted copy that is
// written back however the sort ends, so a comparator that allocates, raises or changes the
// block leaves it a permutation of its cells; an error is raised on afterwards.
void sort_records(const Cell& b, uint32_t records, uint32_t size, bool stable, uintptr_t flags, uintptr_t option,
                  sort::Compare compare);
// The comparator of sorts without a function: option is the comparison code (7, or 8 with /case).
int32_t compare_records(const void* a, const void* b, uintptr_t flags, uintptr_t op);

// ---- set operations -----------------------------------------------------------------------------
// unique 8, union 9, intersect 10, exclude 11, difference 12 of the two sets (set2 unused by
// unique); only the first cell of each record of /skip size is compared. Gives a new
// value-stack block (a hash! when either set is one).
enum SetOp : int32_t { op_unique = 8, op_union = 9, op_intersect = 10, op_exclude = 11, op_difference = 12 };
Cell* do_set_op(Cell* set1, Cell* set2, bool case_, Cell* skip, int32_t op);

void init();

}  // namespace kov::block
