// string!: the text engine through which every form, mold and conversion appends, inserts,
// overwrites, reads and compares characters (string.cpp), and the string! actions, which the
// any-string types and binary! share (string_actions.cpp).
//
// A string cell: w1 the head index in characters (signed), w2 the node of the buffer, w3 0 or
// the node of its conversion cache. The buffer's unit is 1 (Latin-1), 2 (UCS-2) or 4 (UCS-4);
// character k of a value lies at head + ((index + k) << shift). Buffers only ever widen, the
// whole buffer at once; appending widens from code point 128 on, storing at a position only
// from 256 on.
//
// Moving memory: every routine that may grow or widen a buffer takes the node (or a cell that
// does not itself live in a movable buffer), and gives the buffer as it then stands; any
// address into the old buffer is void afterwards. Positions are character indexes.
#pragma once
#include <cstdint>

#include "runtime/cell.h"
#include "runtime/datatypes/registry.h"
#include "runtime/families.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"

namespace kov::string {

using memory::Buffer;
using memory::Node;

// An internal type byte for a string cell that stands for only part of its text: with a
// non-negative w3, only that many characters count (hashing and comparison use it). It lies
// past every datatype id, so no registered type can take it.
constexpr uint32_t partial_type = actions::partial_string_type;

inline uint32_t shift_of(uint32_t unit) { return unit >> 1; }
// The node of the conversion cache, 0 when there is none.
inline Node cache_of(const Cell& s) {
    cell::expect(in(cell::type(s), ANY_STRING) || cell::is(s, T_binary));
    return s.w3;
}
// The stored cache word itself (0: none), for the collector's marking (see series::node_ref).
inline const Node& cache_ref(const Cell& s) {
    cell::expect(in(cell::type(s), ANY_STRING) || cell::is(s, T_binary));
    return s.w3;
}
// A cell copied for another holder gives up its cache (0): the cache belongs to the cell it
// was made for.
inline void set_cache(Cell& s, Node cache) {
    cell::expect(in(cell::type(s), ANY_STRING) || cell::is(s, T_binary));
    s.w3 = cache;
}
// For the routines that also take a partial cell (hashing, comparison): the node and the
// index of the text, and a partial cell's character limit (negative: none).
inline Node text_node_of(const Cell& s) {
    cell::expect((in(cell::type(s), SERIES) || cell::is(s, partial_type)) && memory::valid_node(s.w2));
    return s.w2;
}
inline int32_t text_index_of(const Cell& s) { return static_cast<int32_t>(s.w1); }
inline int32_t partial_limit_of(const Cell& s) {
    cell::expect(cell::is(s, partial_type));
    return static_cast<int32_t>(s.w3);
}

// ---- cells and constructors ---------------------------------------------------------------------
inline Cell cell_of(Node node, int32_t index = 0, uint32_t type = T_string) {
    return Cell{type, static_cast<uint32_t>(index), node, 0};
}
// An empty string with room for n characters of the unit; the cell is unset! while its
// buffer is allocated.
Cell& make_at(Cell& c, uint32_t n, uint32_t unit);
Cell* make_in(Node block, uint32_t n, uint32_t unit);
Cell* push(uint32_t n, uint32_t unit);
Cell* push(const Cell& s);

// External text into a string: encoding 0 UTF-8, -1 UTF-16LE; any other raises
// script/invalid-arg. The target is the given cell, or a new value-stack cell.
Cell* load(const uint8_t* bytes, uint64_t count, Cell* target, int32_t encoding);
Cell* load_in(Node block, const uint8_t* bytes, uint64_t count, int32_t encoding);
Cell* load_at(const uint8_t* bytes, uint64_t count, int32_t encoding);
// UTF-8 that must be valid: an invalid or cut sequence raises access/invalid-utf8 with the
// bytes from that position. The bytes may lie in a series (they are fetched again after
// every allocation).
Cell* load_utf8_strict(unicode::ByteSource bytes, uint64_t count);

// ---- cursor routines ----------------------------------------------------------------------------
int32_t rs_length_q(const Cell& s);        // characters from the cursor to the tail, >= 0
int32_t rs_full_length_q(const Cell& s);   // characters from the buffer head
uint8_t* rs_head(Cell& s);                 // clips the index to the tail (written back)
uint8_t* rs_tail(const Cell& s);
bool rs_tail_q(const Cell& s);
int32_t rs_abs_char(const Cell& s, int32_t index);
int32_t rs_find_char(const Cell& s, int32_t cp);
bool starts_with_literal_q(const Cell& s, const char* literal);

// ---- character access ---------------------------------------------------------------------------
int32_t get_char(const uint8_t* p, uint32_t unit);
void put_char(uint8_t* p, uint32_t unit, int32_t cp);
Buffer* append_char(Node node, int32_t cp);
// Stores at a character index counted from the buffer head.
Buffer* set_char_at(Node node, uint32_t index, int32_t cp);
Buffer* write_char_at(Node node, uint32_t index, int32_t cp);
Buffer* insert_char(Node node, uint32_t index, int32_t cp);
void remove_char(const Cell& s, uint32_t index);
void remove_chars(const Cell& s, uint32_t index, uint32_t count);
void truncate_at(Node node, uint32_t count);
Buffer* widen_to(Node node, uint32_t unit, uint32_t wanted);
// Moves the characters of the source's first `bytes` bytes from its cursor into the target
// at the target's cursor.
void move_chars(Cell& source, uint32_t bytes, Cell& target);

// ---- text building ------------------------------------------------------------------------------
enum Mode { append_mode = 0, insert_mode = 1, overwrite_mode = 2 };
// Puts the source's characters (from its cursor; at most `part` when 0 <= part < available)
// into the target: appended, inserted or written over at `offset` characters past the
// target's cursor. Target and source cells must not live in a buffer that may move.
Buffer* concatenate(Cell& target, const Cell& source, int32_t part, int32_t offset, bool keep_unit, Mode mode);
Buffer* concatenate_part(Cell& target, const Cell& source, int32_t part, int32_t offset, bool keep_unit, Mode mode);
void concatenate_literal(Cell& s, const char* literal);
// Appends ASCII text to an output string and gives the part limit lowered by its length: the
// step every form and mold is made of.
int32_t emit(Cell& out, const char* text, int32_t part);
void concatenate_literal_part(Cell& s, const char* bytes, uint32_t count);
// Two upper-case hex digits into out[0..1].
void byte_to_hex(uint8_t byte, char* out);
// Eight upper-case hex digits (two's complement); with `shorten` the leading sign-fill digits
// are dropped ("00" for 0). Writes a NUL-terminated text into out (9 bytes) and gives it.
const char* to_hex(int32_t value, bool shorten, char* out);
double to_float(const char* text, uint32_t length, int32_t* left);

// ---- comparison ---------------------------------------------------------------------------------
int32_t compare_values(const Cell& a, const Cell& b, int32_t op, bool match);
bool tag_delimited_q(const Cell& s, const Cell& tag);
// Bitset membership of a code point (bit n under the mask 128 >> (n & 7) of byte n >> 3); a
// code point beyond the stored bytes answers the bitset's complement flag.
bool bitset_has_q(Node bits, int32_t cp);
// Code points 1-32, 0x85, 0xA0 and the Unicode spaces: what trim removes.
bool whitespace_q(int32_t cp);

// ---- molding ------------------------------------------------------------------------------------
// Appends one character as molded text writes it: control characters, the caret and the
// double quote as caret escapes, 30 and 128-159 (every character above 127 with `all`) as
// "^(hex)", anything else as itself. Shared by char!, string! and vector!. May move memory;
// `out` must not live in a buffer that may move.
void mold_char(Cell& out, int32_t cp, bool all);

// ---- actions (string_actions.cpp) -----------------------------------------------------------------
// Shared by the any-string types and binary! (make, find, select, sort, swap, take and the
// path step take binary! values too: their units are bytes, read as code points 0-255).
// Each may allocate; the changing ones report to the owner and so may run Kov code.
Cell* make(Cell* proto, Cell* spec, uint32_t type);
Cell* to(Cell* proto, Cell* spec, uint32_t type);
int32_t form(Cell* value, Cell* out, Cell* arg, int32_t part);
int32_t mold(Cell* value, Cell* out, const MoldArgs& how, int32_t part);
Cell* eval_path(Cell* parent, const PathStep& step);
int32_t compare(Cell* value1, Cell* value2, int32_t op);
// append and insert in one routine, told apart by the flag.
Cell* append(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append);
Cell* change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup);
Cell* find(Cell* series, Cell* value, const FindArgs& args);
Cell* select(Cell* series, Cell* value, const FindArgs& args);
Cell* sort(Cell* series, const SortArgs& args);
Cell* swap(Cell* series1, Cell* series2);
Cell* take(Cell* series, Cell* part, bool deep, bool last);
Cell* trim(Cell* series, const TrimArgs& args);

// unique 8, union 9, intersect 10, exclude 11, difference 12 of two texts (set2 unused by
// unique), in records of /skip characters judged by their first character, folding case
// unless case_. Gives a new value-stack value of set1's datatype: each first character occurs
// once, in the order first met.
enum SetOp : int32_t { op_unique = 8, op_union = 9, op_intersect = 10, op_exclude = 11, op_difference = 12 };
Cell* do_set_op(Cell* set1, Cell* set2, bool case_, Cell* skip, int32_t op);

// ---- registration -------------------------------------------------------------------------------
void init();

}  // namespace kov::string
