// string! internals: the text engine through which every form, mold and conversion appends,
// inserts, overwrites, reads and compares characters.
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
#include "runtime/memory.h"

namespace kov::string {

using memory::Buffer;
using memory::Node;

// An internal type byte for a string cell that stands for only part of its text: with a
// non-negative w3, only that many characters count (hashing and comparison use it).
constexpr uint32_t partial_type = 56;

inline uint32_t shift_of(uint32_t unit) { return unit >> 1; }
inline bool is_string_type(uint32_t t) {
    return t == T_string || t == T_file || t == T_url || t == T_tag || t == T_email || t == T_ref;
}

// ---- cells and constructors ---------------------------------------------------------------------
inline Cell cell_of(Node node, int32_t index = 0, uint32_t type = T_string) {
    return Cell{type, static_cast<uint32_t>(index), node, 0};
}
// An empty string with room for n characters of the unit; the cell is unset! while its
// buffer is allocated.
Cell& make_at(Cell& c, uint32_t n, uint32_t unit);
Cell& make_at_narrow(Cell& c, uint32_t n);
Cell* make_in(Node block, uint32_t n, uint32_t unit);
Cell* push(uint32_t n, uint32_t unit);
Cell* push(const Cell& s);

// External text into a string: encoding 0 UTF-8, -1 UTF-16LE; any other raises
// script/invalid-arg. The target is the given cell, or a new value-stack cell.
Cell* load(const uint8_t* bytes, uint64_t count, Cell* target, int32_t encoding);
Cell* load_in(Node block, const uint8_t* bytes, uint64_t count, int32_t encoding);
Cell* load_at(const uint8_t* bytes, uint64_t count, int32_t encoding);
// UTF-8 that must be valid: an invalid or cut sequence raises access/invalid-utf8 with the
// bytes from that position.
Cell* load_utf8_strict(const uint8_t* bytes, uint64_t count);

// ---- cursor routines ----------------------------------------------------------------------------
int32_t rs_length_q(const Cell& s);        // characters from the cursor to the tail, >= 0
int32_t rs_full_length_q(const Cell& s);   // characters from the buffer head
uint8_t* rs_head(Cell& s);                 // clips the index to the tail (written back)
uint8_t* rs_tail(const Cell& s);
bool rs_tail_q(const Cell& s);
int32_t rs_abs_char(const Cell& s, int32_t index);
Cell& rs_reset(Cell& s);
int32_t rs_find_char(const Cell& s, int32_t cp);
bool find_char_step_q(const Cell& s, int32_t cp, int32_t skip, bool case_sensitive);
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
// Exchanges range a (at start) and range b (at b) of one buffer: range b ends up at start and
// range a at start + b_length + offset. Allocates only on the tracked heap (no collection).
void rotate_bytes(uint8_t* start, uint32_t a_length, uint8_t* b, uint32_t b_length, uint32_t offset);

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
bool match_at_q(const Cell& s, const Cell& value, int32_t op);
bool tag_delimited_q(const Cell& s, const Cell& tag);

// ---- registration -------------------------------------------------------------------------------
void init();

}  // namespace kov::string
